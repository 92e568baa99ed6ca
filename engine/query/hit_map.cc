#include "engine/query/hit_map.h"

#include <cstring>

#include "store/log.h"

namespace vorlane::engine {

size_t hit_map_bytes(uint32_t maplen) {
  const size_t entries = (size_t{maplen} + 1) * sizeof(HitMapEntry);
  return entries + (size_t{maplen} + 1) * sizeof(uint32_t);
}

HitMap hit_map_init(void* memory, uint32_t maplen) {
  memset(memory, 0, hit_map_bytes(maplen));
  HitMap m;
  m.entries = static_cast<HitMapEntry*>(memory);
  m.order = reinterpret_cast<uint32_t*>(m.entries + size_t{maplen} + 1);
  m.maplen = maplen;
  m.entries[0].ordinal = static_cast<int32_t>(maplen);
  return m;
}

int32_t map_dbdocid(HitMap* map, int32_t score, int32_t ordinal, uint32_t id, uint32_t posting,
                    const din_entry* date) {
  const uint32_t docid = posting >> 7;
  const uint32_t maplen = map->maplen;
  HitMapEntry* empty = nullptr;
  if (maplen > 0) {
    uint32_t slot = docid % maplen + 1;
    for (uint32_t probes = 0; probes < maplen; ++probes) {
      HitMapEntry* e = &map->entries[slot];
      if (e->ordinal == 0) {
        empty = e;
        break;
      }
      if (e->db == id && e->docid == docid) {
        e->sum += score;
        return e->ordinal;
      }
      slot = slot == maplen ? 1 : slot + 1;
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
