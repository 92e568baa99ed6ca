#include "engine/query/hit_percent.h"

#include "store/score_tables.h"

namespace vorlane::engine {

int32_t hit_percent(int32_t a, int32_t b, int32_t c) {
  const int64_t d = int64_t{b} + c;
  if (d == 0) return 0;
  return static_cast<int32_t>((int64_t{a} * 100 + d / 2) / d);
}

int32_t blended_percent(int32_t s, int32_t d) {
  const int64_t column = int64_t{d} + 12;
  if (s >= 0 && s < kBlendSize && column >= 0 && column < kBlendSize) {
    return blend_table[s][column];
  }
  return hit_percent(s, 12, d);
}

void sort_hits_stable(HitHeap* list, uint32_t first, uint32_t last) {
  for (uint32_t i = first + 1; i <= last; ++i) {
    const HitHeap h = list[i];
    uint32_t j = i;
    while (j > first && list[j - 1].score < h.score) {
      list[j] = list[j - 1];
      --j;
    }
    list[j] = h;
  }
}

}  // namespace vorlane::engine
