// One query text on one database: its parts, each parsed and evaluated.
//
// The text is split at '|': the first part is the query, every later part a
// refinement that works only on the hits of the part before. After a single
// "|" the refinement's terms add to the ranking and to the term statistics
// ('a | b' ranks the hits of a that match b by the scores of both); after
// "||" every hit's score is set to 0 and the parse areas are written again
// from where the previous part began, so only the refinement's terms rank the
// hits and remain in the statistics. A part followed by a refinement is
// evaluated in document order with room for M hits; the last part gives the
// caller's number of best hits. A refinement that finds no room left in the
// parse areas stops the loop with an error naming the whole query, as given,
// and the refinement; the result so far stands.
#pragma once

#include <cstdint>

#include "engine/query/evalquery.h"
#include "linguistics/zop_handle.h"

namespace vorlane {
struct idbm_db;
}

namespace vorlane::engine {

// Evaluates text (cut in place at its separators) on db. The result list
// takes the first 2M + 2 entries of the buffers' heap area; evaluation uses
// the next 2 x (2M + 2). Returns the result, best first with base 1 (at most
// wanted hits), or null when there is no result. stats->documents is set
// from the database when 0. With use_transforms a part found in the
// transformation table (engine/query/query_transform.h) is replaced by its
// replacement, copied into the buffers' text area, and the mode by the
// entry's. A lookup that could not get a term record leaves
// buffers.pins->shortage set (the caller treats the run as failed).
HitHeap* ProcessQuery(idbm_db* db, char* text, int32_t wanted, uint32_t mode, uint32_t window_low,
                      uint32_t window_high, const zop_handle& handle, QueryBuffers buffers, EvalStats* stats,
                      int use_transforms);

}  // namespace vorlane::engine
