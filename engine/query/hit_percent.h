// Turning evaluation scores into the percentages a response shows, and the
// stable order of hits by percentage. Per-database execution and the
// cross-database merge use the same rule.
#pragma once

#include <cstdint>

#include "engine/query/hit_heap.h"

namespace vorlane::engine {

// (a x 100 + (b + c) / 2) / (b + c), in 64 bits; 0 when b + c is 0.
int32_t hit_percent(int32_t a, int32_t b, int32_t c);

// The percentage of a score s against the denominator d (the sum of the term
// norms used): blend_table[s][d + 12] when 0 <= s < 500 and d + 12 < 500,
// else hit_percent(s, 12, d). The table blends the ratio with min(s, 100);
// the formula beyond the table does not.
int32_t blended_percent(int32_t s, int32_t d);

// Sorts entries first..last (1-based, inclusive) of a list by score
// descending with an insertion sort: equal scores keep their order.
void sort_hits_stable(HitHeap* list, uint32_t first, uint32_t last);

}  // namespace vorlane::engine
