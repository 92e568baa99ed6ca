// The table of a page's hits by (database identifier, docid), through which
// the term details of the second merge find the hit tuples they belong to.
//
// 750 slots; a slot is free while its identifier is 0 (identifiers are
// 1..127). A key's probe starts at (identifier + docid) mod 750 and steps by
// one, wrapping; an insert takes the first free slot, a lookup stops at the
// key's slot or at a free one. A page holds at most 500 hits, so an insert
// always finds a free slot; every probe is bounded by the slot count.
#pragma once

#include <cstdint>

namespace vorlane::engine {

inline constexpr int kHitTableSlots = 750;

struct HitSlot {
  uint32_t id;          // 0 while free
  uint32_t docid;
  int page_index;       // the hit's position on the page
  int32_t term_count;   // term details counted for the hit
  int32_t quality;      // the quality value the second merge reported
};

struct HitTable {
  HitSlot slots[kHitTableSlots];
};

// Clears every slot.
void hit_table_clear(HitTable* t);
// The free slot the key goes into (filled with the key and page index), or
// null when the table is full.
HitSlot* hit_table_insert(HitTable* t, uint32_t id, uint32_t docid, int page_index);
// The key's slot, or null.
HitSlot* hit_table_find(HitTable* t, uint32_t id, uint32_t docid);

}  // namespace vorlane::engine
