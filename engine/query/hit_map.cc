#include "engine/query/hit_map.h"

#include <cstring>

#include "store/log.h"

namespace vorlane::engine {

namespace {

// The key of an empty entry: no identifier and docid make it.
constexpr uint64_t kEmptyKey = ~uint64_t{0};

uint64_t key_of(uint32_t id, uint32_t docid) { return (uint64_t{id} << 32) | docid; }

// Where the probe of a key starts, 1..slots. The databases of one query
// number their documents from 0 alike, so the identifier is mixed into the
// docid (and the result spread over the whole map) to keep the hits of
// different databases from piling up in the same slots.
uint32_t first_slot(uint32_t id, uint32_t docid, uint32_t slots) {
  uint32_t h = (docid ^ (id * 0x9E3779B9u)) * 0x85EBCA6Bu;
  h ^= h >> 16;
  return static_cast<uint32_t>((uint64_t{h} * slots) >> 32) + 1;
}

size_t keys_bytes(uint32_t slots) { return (size_t{slots} + 1) * sizeof(uint64_t); }
size_t entries_bytes(uint32_t slots) { return (size_t{slots} + 1) * sizeof(HitMapEntry); }

}  // namespace

size_t hit_map_bytes(uint32_t maplen, uint32_t slots) {
  if (slots < maplen) slots = maplen;
  return keys_bytes(slots) + entries_bytes(slots) + (size_t{maplen} + 1) * sizeof(uint32_t);
}

size_t hit_map_bytes(uint32_t maplen) { return hit_map_bytes(maplen, maplen); }

HitMap hit_map_init(void* memory, uint32_t maplen, uint32_t slots) {
  if (slots < maplen) slots = maplen;
  HitMap m;
  m.keys = static_cast<uint64_t*>(memory);
  m.entries = reinterpret_cast<HitMapEntry*>(static_cast<uint8_t*>(memory) + keys_bytes(slots));
  m.order = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(m.entries) + entries_bytes(slots));
  m.maplen = maplen;
  m.slots = slots;
  // Only the keys and the order say what is in use; an entry is written
  // whole when it is filled.
  memset(m.keys, 0xFF, keys_bytes(slots));
  memset(m.order, 0, (size_t{maplen} + 1) * sizeof(uint32_t));
  m.entries[0] = HitMapEntry{};
  m.entries[0].ordinal = static_cast<int32_t>(maplen);
  return m;
}

HitMap hit_map_init(void* memory, uint32_t maplen) { return hit_map_init(memory, maplen, maplen); }

int32_t map_dbdocid(HitMap* map, int32_t score, int32_t ordinal, uint32_t id, uint32_t posting,
                    const din_entry* date) {
  const uint32_t docid = posting >> 7;
  const uint32_t maplen = map->maplen;
  const uint32_t slots = map->slots;
  const uint64_t key = key_of(id, docid);
  uint32_t empty = 0;
  if (slots > 0) {
    uint32_t slot = first_slot(id, docid, slots);
    for (uint32_t probes = 0; probes < slots; ++probes) {
      const uint64_t k = map->keys[slot];
      if (k == kEmptyKey) {
        empty = slot;
        break;
      }
      if (k == key) {
        HitMapEntry* e = &map->entries[slot];
        e->sum += score;
        return e->ordinal;
      }
      slot = slot == slots ? 1 : slot + 1;
    }
  }
  if (ordinal < 1 || static_cast<uint32_t>(ordinal) > maplen || empty == 0) {
    log_msg(LOG_ERROR, "map_dbdocid(ord=%d,score=%d,dbid=%d,docid=%d)", ordinal, score, static_cast<int>(id),
            static_cast<int>(docid));
    return 0;
  }
  map->keys[empty] = key;
  HitMapEntry* e = &map->entries[empty];
  e->db = id;
  e->docid = docid;
  e->sum = score;
  e->first = score;
  e->ordinal = ordinal;
  e->date = date ? *date : din_entry{0, 0};
  map->order[ordinal] = empty;
  return ordinal;
}

const HitMapEntry* hit_map_ordinal(const HitMap& map, int32_t ordinal) {
  if (ordinal < 1 || static_cast<uint32_t>(ordinal) > map.maplen) return nullptr;
  const uint32_t slot = map.order[ordinal];
  return slot == 0 ? nullptr : &map.entries[slot];
}

}  // namespace vorlane::engine
