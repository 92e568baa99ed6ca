// The hit map of the cross-database merge: one entry per (database
// identifier, docid) that the merged responses hold, with the document's
// summed score.
//
// An open-addressing table of maplen entries (or more, see hit_map_init):
// entry 0 is the header (its ordinal holds maplen; its scores are 0), the
// entries after it hold hits. A probe reads only a compact array of the
// entries' keys, where an empty entry has a key no hit has; an entry itself
// is written whole when it is filled. Ordinals are handed out in order of
// entry, counting down from maplen, and order[ordinal] is the slot of the
// entry that got it (0, the header, for an ordinal used up by a hit that was
// already in the map). A key's probe starts at a slot given by a hash of its
// identifier and docid and steps upward, wrapping from the last entry to 1;
// it stops at an empty entry, at the key's entry, or after every entry.
// Where an entry lies never shows: entries are reached through their
// ordinals.
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
  int32_t ordinal;   // 1..maplen
  din_entry date;    // the hit's date entry (type 7 responses), else zero
};

struct HitMap {
  uint64_t* keys = nullptr;        // slots + 1: identifier << 32 | docid of each entry, all ones when empty
  HitMapEntry* entries = nullptr;  // slots + 1
  uint32_t* order = nullptr;       // maplen + 1
  uint32_t maplen = 0;             // ordinals 1..maplen
  uint32_t slots = 0;              // entries 1..slots, at least maplen
};

// Lays an empty map of maplen ordinals and entries over memory of at least
// hit_map_bytes(maplen) bytes, aligned for 8-byte words. With slots (at least
// maplen) the map has that many entries: more room than hits keeps the
// probes short, while the ordinals stay 1..maplen.
size_t hit_map_bytes(uint32_t maplen);
size_t hit_map_bytes(uint32_t maplen, uint32_t slots);
HitMap hit_map_init(void* memory, uint32_t maplen);
HitMap hit_map_init(void* memory, uint32_t maplen, uint32_t slots);

// Enters a hit or adds to it. posting is docid << 7 (low bits ignored).
// Found: score is added to the entry's sum and its ordinal returned.
// Not found: with ordinal in 1..maplen and an empty entry on the probe, the
// entry is filled (sum and first = score) and order[ordinal] set; the
// ordinal is returned. Otherwise (ordinal out of range, or a full map) an
// error line "map_dbdocid(ord=%d,score=%d,dbid=%d,docid=%d)" and 0.
int32_t map_dbdocid(HitMap* map, int32_t score, int32_t ordinal, uint32_t id, uint32_t posting,
                    const din_entry* date);

// Adds score to the sum of the entry that holds an ordinal and returns the
// ordinal; 0 (nothing added) for an ordinal out of range or used up. What
// map_dbdocid gives for that entry's key, without a probe.
inline int32_t hit_map_add(HitMap* map, int32_t ordinal, int32_t score) {
  if (ordinal < 1 || static_cast<uint32_t>(ordinal) > map->maplen || map->order[ordinal] == 0) return 0;
  map->entries[map->order[ordinal]].sum += score;
  return ordinal;
}

// The entry that holds an ordinal, or null for an ordinal out of range or
// used up.
const HitMapEntry* hit_map_ordinal(const HitMap& map, int32_t ordinal);

}  // namespace vorlane::engine
