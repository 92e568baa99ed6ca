#include "store/icube.h"

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

}  // namespace vorlane
