// Query evaluation: the parsed terms of one query part turned into a scored
// hit list.
//
// evalquery reads the QueryTerm array at the term position of its buffers
// (engine/query/query_term.h). Phrase terms are evaluated first, as queries of
// their own elements, and become derived term records (heap2rec) in the list
// area; then the required terms are intersected (each later one joined with a
// +kBonus and the hits it did not reach dropped), the excluded ones removed
// (joined with -kBonus), and the optional ones add their scores; without
// required terms the optional lists (the 40 of smallest document frequency)
// are merged. The best hits are selected into the result.
//
// Heap area of the buffers (HitHeap entries), from its position: the work
// list (2M + 2 entries, M = max_hits), then the work list of a phrase being
// evaluated (another 2M + 2). The result list is the caller's.
//
// Term records here are in the full form of the term cache (store/term_cache.h),
// read and written through the rec_full_* readers and rec_set_header of
// store/db_files.h.
#pragma once

#include <cstdint>

#include "engine/query/hit_heap.h"
#include "engine/query/postings.h"
#include "engine/query/query_term.h"
#include "store/db_files.h"

namespace vorlane::engine {

// The statistics of one evaluation, shared by the caller and evalquery.
struct EvalStats {
  uint32_t documents;    // documents of the collection (input)
  int32_t total;         // matching documents (output)
  int32_t estimated;     // 1 when total is an estimate
  int32_t denominator;   // sum of the norms of the term lists used
};

// Words a derived record of n postings takes.
inline constexpr uint64_t derived_record_words(uint32_t n) { return uint64_t{n} + 5; }

// Evaluates the terms at buffers->term_position into result (an area of 2M +
// 2 entries; its size on return is the number of hits). top: 1 for a query
// part, 0 for a phrase's elements; sorted: 1 for the result in document order
// (a refinement or a phrase), 0 for the best first; restrict: 1 to start from
// the hits already in result (a refinement). wanted: hits to keep (at most
// M). Returns the number of hits in result, 0 for none (result size, total
// and denominator then 0).
int evalquery(QueryBuffers* buffers, int top, int sorted, int restrict, int32_t wanted, DeletionMap delmap,
              uint32_t mode, DateMap datemap, uint64_t window, EvalStats* stats, HitHeap* result);

// Writes the derived record of a hit list (document order) at record: hash
// pair (1, 1), docf and norm = idf_scale(docf, documents), the hits' postings
// with their scores scaled so that the best is near the norm (each at most
// 100; a score at or below 0 counts as 0), the end mark. It takes size + 5
// words. Returns record.
uint32_t* heap2rec(const HitHeap* hits, uint32_t* record, uint32_t docf, uint32_t documents);

}  // namespace vorlane::engine
