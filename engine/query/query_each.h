// Per-database query execution: one request (engine/query/query_format.h)
// run against one open database, answered by one self-contained response.
//
// query_each checks the request, prepares the parse areas, runs ProcessQuery
// (engine/query/process_query.h), applies paging, turns evaluation scores
// into percentages, sorts, and lays the response out. A response meant for
// merging carries the whole top list from hit 1 (whatever page was asked),
// the documents' quality values instead of percentages, and per-term blocks
// of the top hits that contain each term. Type 2 requests demote, in the
// deletion map, every document matching the text except the listed ones.
//
// The response area is cleared first, so a response that failed on the way
// still reads as one of no hits (its size word stays 0). Nothing is written
// past response_size. The parse areas and the text copies belong to the call
// (QueryEachArea, given by the caller or allocated for the call); the hit heap
// and the list area are the caller's. Term records looked up by the query are
// released when query_each returns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/query/hit_heap.h"
#include "engine/query/query_format.h"
#include "engine/query/query_term.h"
#include "linguistics/zop_handle.h"

namespace vorlane {
struct idbm_db;
}

namespace vorlane::engine {

// The largest query text evaluated, in bytes; longer texts are cut.
inline constexpr size_t kMaxQueryText = 2033;
// No response goes past this hit.
inline constexpr int64_t kMaxResponseEnd = 500;
// Hits kept from a demotion request's list.
inline constexpr uint32_t kMaxDemotedHits = 100;

// The parse areas of one query_each call, and the copies of the text it
// evaluates and echoes. Needs no clearing: query_each clears what it reads.
struct QueryEachArea {
  ParseAreaBlock parse;
  char query[kMaxQueryText + 1];  // the text as evaluated and echoed
  char work[kMaxQueryText + 1];   // the copy ProcessQuery cuts at its separators
  uint32_t words[kQueryTermSlots];
  const QueryTerm* terms_shown[kQueryTermSlots];
};

// Runs one request. work_areas: the caller fills heap and heap_left (at
// least (M x 2 + 2) x 3 entries) and list_base and list_size (words); the
// rest is filled here. merge non-zero asks for a response meant for merging
// (types 0, 2 and 6). area: the call's parse areas, used by nothing else
// until it returns; null allocates them for the call. 1 when the response is
// complete (also for a response of no hits), 0 after a failure (logged).
int query_each(idbm_db* db, const uint8_t* request, size_t request_length, uint8_t* response, size_t response_size,
               QueryBuffers* work_areas, int merge, const zop_handle& language, QueryEachArea* area = nullptr);

// Demotes every hit of list whose (id, docid) is not among the request's
// excepted pairs: idbm_demote(db, docid, value). Returns the number of
// documents whose deletion byte changed.
int demote_hits(idbm_db* db, const HitHeap* list, const QueryRequest& request, uint32_t id, uint8_t value);

}  // namespace vorlane::engine
