#include "store/icube.h"

#include <cstring>

#include "store/alloc.h"
#include "store/db_handle.h"
#include "store/mapfile.h"

namespace vorlane {

int idbm_icube(idbm_db* db, uint32_t words) {
  void* block = words ? valloc(uint64_t{words} * 4) : nullptr;
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
  // Space is never given back, so it is still zero from the allocation; clear
  // it anyway, the cost is that of writing the record.
  memset(record, 0, (uint64_t{k} + 5) * 4);
  db->icube_used = static_cast<uint32_t>(need);
  return record;
}

}  // namespace vorlane
