// Test helpers that put a handle into a state no caller reaches through the
// store's functions: a deletion map fallen back to read-only or shorter than
// the postings, a title descriptor that fails, an owner's identifier on an
// incremental handle, the score tables of a handle built by hand. Tests
// outside the store use these rather than set the handle's fields.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>

#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/mapfile.h"

namespace vorlane::testing {

// Maps the directory's deletion file again, read-only, as a read-only file
// system leaves it. False when the file cannot be mapped.
inline bool remap_del_read_only(idbm_db* db) {
  funmap(&db->del);
  close(db->del.fd);
  return fmap(db_file_path(db->name, kDelFile).c_str(), &db->del) == 1;
}

// Sets the size the deletion map is taken to have; gives the size it had.
inline uint64_t set_del_size(idbm_db* db, uint64_t size) {
  const uint64_t had = db->del.size;
  db->del.size = size;
  return had;
}

// Sets the read descriptor of title file n; gives the one it had.
inline int set_title_fd(idbm_db* db, uint32_t n, int fd) {
  const int had = db->title_files[n].fd;
  db->title_files[n].fd = fd;
  return had;
}

// Sets the size the mapping of the first title file is taken to have; gives
// the size it had.
inline uint64_t set_title_map_size(idbm_db* db, uint64_t size) {
  const uint64_t had = db->ti0.size;
  db->ti0.size = size;
  return had;
}

// Sets the owner's identifier (idbm_open takes it; idbm_open_incr does not).
inline void set_db_id(idbm_db* db, uint32_t id) { db->id = id; }

// Sets the score setting of "inf" and a score map taking score i to i x step.
inline void set_scores(idbm_db* db, int32_t score_incr, int32_t step) {
  for (int i = 0; i <= 100; ++i) db->score_map[i] = i * step;
  db->score_incr = score_incr;
}

}  // namespace vorlane::testing
