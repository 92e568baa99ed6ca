// All-hits evaluation: every document that satisfies a query, in docid
// order, without scores.
//
// ProcessQuery2 parses the query part before the first '|' and walks the
// terms' posting lists with document cursors (engine/query/doc_cursor.h):
// the required terms and phrases (or, without any, the optional terms and
// phrases) in the main group, the excluded terms and phrases in the excluded
// group. Marks mean what they mean to the ranked evaluation: an optional
// term or phrase beside required ones adds nothing to the documents found.
// Documents marked deleted (byte 255) in the deletion map, and docids past
// the map, are left out.
#pragma once

#include <cstdint>

#include "engine/query/query_term.h"
#include "linguistics/zop_handle.h"

namespace vorlane {
struct idbm_db;
}

namespace vorlane::engine {

// Statistics of one evaluation, four words: documents (input; 0 makes it the
// database's count), the rest cleared.
struct AllHitsStats {
  uint32_t documents;
  uint32_t unused[3];
};

// The docids of every match, ascending, in a new array (free with free())
// stored in *docids when the result is above 0. The number of docids; -1
// when the evaluation failed (an empty query, an allocation failure, term
// records that could not be had); 0 when nothing matched or nothing parsed.
int ProcessQuery2(idbm_db* db, char* text, const zop_handle& handle, QueryBuffers buffers, AllHitsStats* stats,
                  uint32_t** docids);

// Prepares the parse areas (and a pin log released before returning) in
// buffers, whose heap area the caller gives, and runs ProcessQuery2 on the
// text (changed in place). Results as ProcessQuery2; 0 after a report for a
// null database or a heap area smaller than (M x 2 + 2) x 3 entries.
int query_each2(idbm_db* db, char* text, QueryBuffers* buffers, const zop_handle& handle, uint32_t** docids);

}  // namespace vorlane::engine
