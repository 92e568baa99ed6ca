#include "engine/db/open_dbs.h"

#include <cstdint>

#include "engine/module/sorn_module.h"

namespace vorlane::engine {

idbm_db* open_dbs[kMaxOpenDbs];

idbm_db* const kReservedDb = reinterpret_cast<idbm_db*>(uintptr_t{1});

idbm_db* checked_db(int id) {
  if (!db_id_in_range(id)) {
    raise_bad_db_id(id);
    return nullptr;
  }
  idbm_db* db = open_dbs[id];
  if (!db || db == kReservedDb) {
    raise_db_not_open(id);
    return nullptr;
  }
  return db;
}

}  // namespace vorlane::engine
