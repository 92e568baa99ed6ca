#include "store/icube.h"

#include <cstring>

#include "store/alloc.h"
#include "store/db_handle.h"
#include "store/mapfile.h"
#include "store/sized_pool.h"

namespace vorlane {

namespace {

// The icube of a closed handle, kept for the next one opened for indexing
// (an indexer opens one after the other). Larger ones, of capacities above
// a few thousand documents, are released.
sized_pool& icube_pool() {
  static sized_pool& pool = *new sized_pool(1, size_t{64} << 20, true);
  return pool;
}

}  // namespace

int idbm_icube(idbm_db* db, uint32_t words) {
  void* block = words ? sized_pool_take(&icube_pool(), uint64_t{words} * 4) : nullptr;
  if (!block) return report_error("idbm_icube: can't allocate static buffer", db->name ? db->name : "");
  db->icube = static_cast<uint32_t*>(block);
  db->icube_words = words;
  db->icube_limit = words;
  db->icube_used = 0;
  return 1;
}

uint32_t* icube_alloc(idbm_db* db, uint32_t k) {
  if (!db->icube) return nullptr;
  const uint64_t need = uint64_t{db->icube_used} + k + 5;
  if (need >= db->icube_words) return nullptr;
  uint32_t* record = db->icube + db->icube_used;
  // A pooled icube holds the records of its last handle: the record is
  // cleared here, and nothing past icube_used is read.
  memset(record, 0, (uint64_t{k} + 5) * 4);
  db->icube_used = static_cast<uint32_t>(need);
  return record;
}

void icube_release(idbm_db* db) {
  if (!db->icube) return;
  sized_pool_give(&icube_pool(), db->icube);
  db->icube = nullptr;
  db->icube_words = db->icube_limit = db->icube_used = 0;
}

}  // namespace vorlane
