#include "engine/query/hit_table.h"

#include <cstring>

namespace vorlane::engine {

namespace {
uint32_t first_slot(uint32_t id, uint32_t docid) {
  return static_cast<uint32_t>((uint64_t{id} + docid) % kHitTableSlots);
}
}  // namespace

void hit_table_clear(HitTable* t) { memset(t, 0, sizeof *t); }

HitSlot* hit_table_insert(HitTable* t, uint32_t id, uint32_t docid, int page_index) {
  uint32_t k = first_slot(id, docid);
  for (int probes = 0; probes < kHitTableSlots; ++probes) {
    HitSlot* s = &t->slots[k];
    if (s->id == 0) {
      *s = HitSlot{id, docid, page_index, 0, 0};
      return s;
    }
    k = k + 1 == kHitTableSlots ? 0 : k + 1;
  }
  return nullptr;
}

HitSlot* hit_table_find(HitTable* t, uint32_t id, uint32_t docid) {
  if (id == 0) return nullptr;
  uint32_t k = first_slot(id, docid);
  for (int probes = 0; probes < kHitTableSlots; ++probes) {
    HitSlot* s = &t->slots[k];
    if (s->id == 0) return nullptr;
    if (s->id == id && s->docid == docid) return s;
    k = k + 1 == kHitTableSlots ? 0 : k + 1;
  }
  return nullptr;
}

}  // namespace vorlane::engine
