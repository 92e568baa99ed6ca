#include "store/journal.h"

#include <string>

#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/log.h"
#include "store/mapfile.h"

namespace vorlane {

int idbm_recover_log(idbm_db* db, int) {
  const std::string path = db_file_path(db->name, kJnlFile);
  FILE* f = fopen(path.c_str(), "r+b");
  if (!f) f = fopen(path.c_str(), "w+b");
  if (!f) {
    log_msg(LOG_ERROR, "idbm_recover_log: open of %s failed", path.c_str());
    return 0;
  }
  if (jnl_count_records(path.c_str()) > 0) {
    fclose(f);
    report_error("idbm_recover_log: journal replay is not available", path.c_str());
    return 0;
  }
  db->jnl_stream = f;
  return 1;
}

}  // namespace vorlane
