#include "engine/query/hit_map.h"

#include <cstring>

#include "store/log.h"

namespace vorlane::engine {

namespace {

// Where the probe of a key starts, 1..maplen. The databases of one query
// number their documents from 0 alike, so the identifier is mixed into the
// docid (and the result spread over the whole map) to keep the hits of
// different databases from piling up in the same slots.
uint32_t first_slot(uint32_t id, uint32_t docid, uint32_t slots) {
  uint32_t h = (docid ^ (id * 0x9E3779B9u)) * 0x85EBCA6Bu;
  h ^= h >> 16;
  return static_cast<uint32_t>((uint64_t{h} * slots) >> 32) + 1;
}

}  // namespace

size_t hit_map_bytes(uint32_t maplen, uint32_t slots) {
  if (slots < maplen) slots = maplen;
  const size_t entries = (size_t{slots} + 1) * sizeof(HitMapEntry);
  return entries + (size_t{maplen} + 1) * sizeof(uint32_t);
}

size_t hit_map_bytes(uint32_t maplen) { return hit_map_bytes(maplen, maplen); }

HitMap hit_map_init(void* memory, uint32_t maplen, uint32_t slots) {
  if (slots < maplen) slots = maplen;
  memset(memory, 0, hit_map_bytes(maplen, slots));
  HitMap m;
  m.entries = static_cast<HitMapEntry*>(memory);
  m.order = reinterpret_cast<uint32_t*>(m.entries + size_t{slots} + 1);
  m.maplen = maplen;
  m.slots = slots;
  m.entries[0].ordinal = static_cast<int32_t>(maplen);
  return m;
}

HitMap hit_map_init(void* memory, uint32_t maplen) { return hit_map_init(memory, maplen, maplen); }

int32_t map_dbdocid(HitMap* map, int32_t score, int32_t ordinal, uint32_t id, uint32_t posting,
                    const din_entry* date) {
  const uint32_t docid = posting >> 7;
  const uint32_t maplen = map->maplen;
  const uint32_t slots = map->slots;
  HitMapEntry* empty = nullptr;
  if (slots > 0) {
    uint32_t slot = first_slot(id, docid, slots);
    for (uint32_t probes = 0; probes < slots; ++probes) {
      HitMapEntry* e = &map->entries[slot];
      if (e->ordinal == 0) {
        empty = e;
        break;
      }
      if (e->db == id && e->docid == docid) {
        e->sum += score;
        return e->ordinal;
      }
      slot = slot == slots ? 1 : slot + 1;
    }
  }
  if (ordinal < 1 || static_cast<uint32_t>(ordinal) > maplen || empty == nullptr) {
    log_msg(LOG_ERROR, "map_dbdocid(ord=%d,score=%d,dbid=%d,docid=%d)", ordinal, score, static_cast<int>(id),
            static_cast<int>(docid));
    return 0;
  }
  empty->db = id;
  empty->docid = docid;
  empty->sum = score;
  empty->first = score;
  empty->ordinal = ordinal;
  empty->date = date ? *date : din_entry{0, 0};
  map->order[ordinal] = static_cast<uint32_t>(empty - map->entries);
  return ordinal;
}

const HitMapEntry* hit_map_ordinal(const HitMap& map, int32_t ordinal) {
  if (ordinal < 1 || static_cast<uint32_t>(ordinal) > map.maplen) return nullptr;
  const uint32_t slot = map.order[ordinal];
  return slot == 0 ? nullptr : &map.entries[slot];
}

}  // namespace vorlane::engine
