#include "store/catalog.h"

#include <new>
#include <string>

#include "store/alloc.h"
#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/mapfile.h"
#include "store/strings.h"

namespace vorlane {

idbm_db* idbm_load(const char* path) {
  if (!path) {
    report_error("idbm_load:", "null catalog name");
    return nullptr;
  }
  idbm_db* db = new (std::nothrow) idbm_db;
  if (!db) {
    report_error("idbm_load: can't allocate db structure", path);
    return nullptr;
  }
  // The "cat" of a database directory whose commit was cut short is the
  // committed one once the commit is finished.
  const std::string file(path);
  const size_t slash = file.find_last_of('/');
  if (slash != std::string::npos && file.compare(slash + 1, std::string::npos, kCatFile) == 0) {
    const std::string dir = file.substr(0, slash);
    db_dir_lock lock(dir.c_str());
    if (lock.held()) db_finish_commit(dir.c_str());
  }
  if (!fmap(path, &db->ti0)) {
    report_error("idbm_load: can't map catalog", path);
    delete db;
    return nullptr;
  }
  db->name = str_dup(path);
  const uint64_t n = db->ti0.size / sizeof(cat_entry);
  const uint64_t size = n + n / 2;
  void* table = size > 0xFFFFFFFu ? nullptr : valloc((size + 2) * sizeof(uint32_t*));
  if (!table) {
    report_error("idbm_load: can't allocate mem.cache", path);
    idbm_close(db);
    return nullptr;
  }
  db->cat_table = static_cast<const uint32_t**>(table);
  db->cat_size = static_cast<uint32_t>(size);
  const auto* entries = static_cast<const cat_entry*>(db->ti0.address);
  for (uint64_t i = 0; i < n; ++i) {
    const cat_entry& e = entries[i];
    if (cat_docf(e) > db->ndocs) db->ndocs = cat_docf(e);
    const uint32_t h1 = e.hash1 & kHashMask;
    if (h1 == 0 || (e.hash2 & kHashMask) == 0) continue;
    uint32_t cell = probe_first(h1, db->cat_size);
    while (db->cat_table[cell]) cell = probe_next(cell, db->cat_size);
    db->cat_table[cell] = reinterpret_cast<const uint32_t*>(&e);
  }
  idbm_score_map(db);
  return db;
}

const cat_entry* idbm_cat_find(const idbm_db* catalog, uint32_t hash1, uint32_t hash2) {
  if (!catalog || !catalog->cat_table || catalog->cat_size == 0) return nullptr;
  uint32_t cell = probe_first(hash1, catalog->cat_size);
  for (uint32_t steps = 0; steps < catalog->cat_size; ++steps) {
    const uint32_t* e = catalog->cat_table[cell];
    if (!e) return nullptr;
    if (pair_cmp(e[0], e[1], hash1, hash2) == 0) return reinterpret_cast<const cat_entry*>(e);
    cell = probe_next(cell, catalog->cat_size);
  }
  return nullptr;
}

}  // namespace vorlane
