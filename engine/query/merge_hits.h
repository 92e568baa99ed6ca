// The cross-database merge: the responses that query_each wrote for the
// databases of one query become one response of the same format
// (engine/query/query_format.h) holding the requested page in one global
// ranking, the summed totals and the term statistics of all databases.
//
// Each database scored its documents against its own term statistics. The
// merge gives every term one global norm, from its document frequencies
// summed over all databases (idf_scale of the sum against the documents of
// the databases that have hits), rescales each database's block scores from
// the database's norm to the global one, sums them per document on top of
// the document's quality value and ranks the documents by the sums; the page
// then gets percentages blended with D, the sum of the global norms. Type 4
// responses (not meant for merging) keep the percentages their databases
// gave them.
//
// Ties: among equal summed scores the hit entered earlier comes first: the
// responses are read from the last to the first, so that is the hit of the
// database listed later in the query and, within one database, the one it
// ranked higher.
//
// With merge set the output is fit for term details: start 1, every hit up
// to the end of the page with the value its document was entered with (its
// quality value) in document-key order, and after the term words one block
// per global term listing the output's hits that contain the term, each with
// its rescaled term score bounded by the global norm.
//
// Terms: up to kMaxMergeTerms distinct term strings, in order of first
// appearance when the responses are read from the last to the first; a term
// string is matched byte for byte against the terms of responses read
// before (a string repeated within one response becomes two terms). The
// query string and the collection name are those of the first response.
//
// The merge rewrites the block hits of its input responses (each becomes
// ordinal << 7 | rescaled score), so a caller that needs the blocks a second
// time merges copies. It raises nothing: every failure is logged and gives 0,
// and the output is then cleared or incomplete (size word 0), which reads as
// no hits. A response that is truncated or malformed (its reader refuses it,
// or its size word is 4) stops the merge with "merge_hits: bad input result".
// Nothing is written beyond out_size. The working memory (hit map, term
// table, hit lists) is taken from the heap for the call; none is on the
// stack.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

inline constexpr int kMaxMergeTerms = 80;
inline constexpr int kMergeHitsPerResponse = 500;
inline constexpr int kMaxMergedHits = 500;

// 1 when the output is complete, 0 after a failure. The output's type word
// (a request type: 0, 2, 4 or 6) is set by the caller before the call.
int merge_hits(int n, uint8_t* const* responses, const size_t* sizes, uint8_t* out, size_t out_size,
               int32_t start, int32_t count, int merge);

// qsort comparator of two ints: their difference, for ordering block
// postings.
int compare_ints(const void* a, const void* b);

}  // namespace vorlane::engine
