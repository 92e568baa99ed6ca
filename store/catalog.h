// A loaded catalog: the mapped "cat" file of a merged database (format in
// store/db_files.h) with an open-addressing table of its entries by hash pair.
// Indexing with normalisation takes a term's document frequency and the
// catalog's document count from it.
#pragma once

#include <cstdint>

#include "store/db_files.h"

namespace vorlane {

struct idbm_db;

// Maps the catalog file at path and builds its table: n = size / 16 entries in
// n + n / 2 cells, each entry placed at the first empty cell from
// (hash1 mod size) + 1, stepping by one and wrapping. The handle's ndocs is
// the largest document count (word 2 >> 7) over all entries. Null after
// "idbm_load:" "null catalog name", "idbm_load: can't allocate db structure",
// "idbm_load: can't map catalog" or "idbm_load: can't allocate mem.cache".
idbm_db* idbm_load(const char* path);

// The catalog entry of a pair (bit 31 ignored), or null.
const cat_entry* idbm_cat_find(const idbm_db* catalog, uint32_t hash1, uint32_t hash2);

}  // namespace vorlane
