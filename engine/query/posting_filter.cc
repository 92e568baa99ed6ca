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

uint32_t documents_passing(uint32_t documents, DeletionMap delmap, uint32_t mode, DateMap datemap,
                           uint64_t window) {
  const DayWindow w = day_window(window);
  uint64_t n = documents;
  if (delmap.bytes && delmap.length > n) n = delmap.length;
  uint32_t passing = 0;
  for (uint64_t d = 0; d < n && d < kEndMark >> 7; ++d) {
    const uint32_t doc = static_cast<uint32_t>(d);
    if (document_passes(doc, document_flag(delmap, doc), mode, datemap, w)) ++passing;
  }
  return passing;
}

}  // namespace vorlane::engine
