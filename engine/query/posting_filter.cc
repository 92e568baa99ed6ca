#include "engine/query/posting_filter.h"

#include "engine/module/sorn_module.h"

namespace vorlane::engine {

void filter_postings(const uint32_t* postings, uint32_t count, int32_t base, HitHeap* dst, DeletionMap delmap,
                     uint32_t mode, DateMap datemap, uint64_t window) {
  const DayWindow w = day_window(window);
  if (count > hit_size(dst)) count = hit_size(dst);
  uint32_t kept = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t p = postings[i];
    if (is_end_posting(p)) break;
    const uint32_t d = posting_doc(p);
    const int32_t flag = document_flag(delmap, d);
    if (!document_passes(d, flag, mode, datemap, w)) continue;
    ++kept;
    dst[kept].posting = posting_key(p);
    dst[kept].score = score_with_offset(posting_score(p), quality_offset(quality_offsets, flag));
  }
  hit_size(dst) = kept;
  hit_base(dst) = base;
}

}  // namespace vorlane::engine
