// The hit map of the cross-database merge: one entry per (database
// identifier, docid) that the merged responses hold, with the document's
// summed score.
//
// An open-addressing table of maplen entries: entry 0 is the header (its
// ordinal holds maplen; its scores are 0), entries 1..maplen hold hits. An
// entry is empty while its ordinal is 0. Ordinals are handed out in order of
// entry, counting down from maplen, and order[ordinal] is the slot of the
// entry that got it (0, the header, for an ordinal used up by a hit that was
// already in the map). A key's probe starts at slot (docid mod maplen) + 1
// and steps upward, wrapping from maplen to 1; it stops at an empty entry,
// at the key's entry, or after maplen slots.
//
// The map lives in memory the caller provides (hit_map_bytes); nothing here
// allocates or locks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/db_files.h"

namespace vorlane::engine {

struct HitMapEntry {
  uint32_t db;       // database identifier (key)
  uint32_t docid;    // (key)
  int32_t sum;       // the first value plus every score added later
  int32_t first;     // the value the hit was entered with
  int32_t ordinal;   // 1..maplen; 0 while the entry is empty
  din_entry date;    // the hit's date entry (type 7 responses), else zero
};

struct HitMap {
  HitMapEntry* entries = nullptr;  // maplen + 1
  uint32_t* order = nullptr;       // maplen + 1
  uint32_t maplen = 0;
};

// Lays a cleared map of maplen entries over memory of at least
// hit_map_bytes(maplen) bytes, aligned for HitMapEntry.
size_t hit_map_bytes(uint32_t maplen);
HitMap hit_map_init(void* memory, uint32_t maplen);

// Enters a hit or adds to it. posting is docid << 7 (low bits ignored).
// Found: score is added to the entry's sum and its ordinal returned.
// Not found: with ordinal in 1..maplen and an empty entry on the probe, the
// entry is filled (sum and first = score) and order[ordinal] set; the
// ordinal is returned. Otherwise (ordinal out of range, or a full map) an
// error line "map_dbdocid(ord=%d,score=%d,dbid=%d,docid=%d)" and 0.
int32_t map_dbdocid(HitMap* map, int32_t score, int32_t ordinal, uint32_t id, uint32_t posting,
                    const din_entry* date);

// The entry that holds an ordinal, or null for an ordinal out of range or
// used up.
const HitMapEntry* hit_map_ordinal(const HitMap& map, int32_t ordinal);

}  // namespace vorlane::engine
