// The icube: the one page-granular buffer that holds the term records of a
// database opened for incremental indexing. Records are handed out from its
// start and never given back; idbm_close releases the whole block, which is
// kept for the next handle (store/sized_pool.h).
#pragma once

#include <cstdint>

namespace vorlane {

struct idbm_db;

// Allocates an icube of words 32-bit words (icube_words = icube_limit =
// words, icube_used = 0). 1, or 0 after "idbm_icube: can't allocate static
// buffer".
int idbm_icube(idbm_db* db, uint32_t words);

// A zeroed record of room k postings (k + 5 words: header, k postings, end
// mark) from the handle's icube, or null when icube_used + k + 5 would reach
// its size.
uint32_t* icube_alloc(idbm_db* db, uint32_t k);

// Gives the handle's icube back (icube null, its figures 0).
void icube_release(idbm_db* db);

}  // namespace vorlane
