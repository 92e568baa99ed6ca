// The icube: the one page-granular buffer that holds the term records of a
// database opened for incremental indexing. Records are handed out from its
// start and never given back; idbm_close releases the whole block.
#pragma once

#include <cstdint>

namespace vorlane {

struct idbm_db;

// Allocates an icube of words 32-bit words (icube_words = icube_limit =
// words, icube_used = 0). 1, or 0 after "idbm_icube: can't allocate static
// buffer".
int idbm_icube(idbm_db* db, uint32_t words);

}  // namespace vorlane
