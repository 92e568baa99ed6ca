// The database methods of sorn: open_db, quit_db, save_db, delete, list,
// numdocs and close_journal, thin layers over the index store that manage the
// open-database table (engine/db/open_dbs.h).
#include <algorithm>
#include <cstdint>

#include "engine/module/lock_release.h"
#include "engine/db/open_dbs.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "engine/db/title_cache.h"
#include "store/catalog.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/journal.h"
#include "store/mapfile.h"
#include "store/script/script_text.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"

namespace vorlane::engine {

namespace {

// The catalog open_db loaded for an entry and its handle took (an incremental
// open keeps it as the handle's catalog); quit_db releases it with the entry.
idbm_db* owned_catalogs[kMaxOpenDbs];

// The term cache of a query handle: room for four times the slots of every
// arena (the store raises it to its floor). Figured in 64 bits.
uint32_t query_cache_size() {
  const uint64_t n = uint64_t{4} * cache_total_slots();
  return static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
}

enum class open_result { ok, bad_catalog, cannot_open };

// The engine work of open_db, without the interpreter lock.
open_result open_database(int id, const script::PathArg& path, const script::PathArg& catalog_path, int score,
                          int capacity, idbm_db** db_out, idbm_db** catalog_out) {
  idbm_db* catalog = nullptr;
  if (!catalog_path.empty()) {
    catalog = idbm_load(catalog_path.c_str());
    if (!catalog) return open_result::bad_catalog;
  }
  // A capacity matters only to a database with a journal; a negative one
  // is no room at all (the store refuses a journal that does not fit).
  const uint32_t count = capacity < 0 ? 0 : static_cast<uint32_t>(capacity);
  idbm_db* db =
      idbm_open(path.c_str(), static_cast<int32_t>(max_hits), count, score, catalog, static_cast<uint32_t>(id));
  // A query handle has no cache yet: without arenas (no cache_init) there is
  // none to be had, and such a handle could not serve a lookup.
  if (db && !db->cache_table && !idbm_cache(db, query_cache_size())) {
    idbm_close(db);
    db = nullptr;
  }
  if (!db) {
    idbm_close(catalog);
    return open_result::cannot_open;
  }
  // Only an incremental open takes the catalog; a query open leaves it.
  if (catalog && db->catalog != catalog) {
    idbm_close(catalog);
    catalog = nullptr;
  }
  // Titles cached under this path belong to whatever database was there.
  title_cache_purge(the_title_cache.load(), db->name);
  *db_out = db;
  *catalog_out = catalog;
  return open_result::ok;
}

}  // namespace

PyObject* sorn_open_db(PyObject*, PyObject* args) {
  script::PathArg path, catalog_path;
  int score, capacity;
  if (!PyArg_ParseTuple(args, "O&O&ii:open_db", script::path_converter, &path, script::path_converter, &catalog_path,
                        &score, &capacity))
    return nullptr;
  int id = 1;
  while (id < kMaxOpenDbs && open_dbs[id]) ++id;
  if (id == kMaxOpenDbs) return raise_error("Too many open dbs");
  open_dbs[id] = kReservedDb;
  idbm_db* db = nullptr;
  idbm_db* catalog = nullptr;
  open_result result;
  clear_file_failure();
  {
    InterpreterRelease unlocked;
    result = open_database(id, path, catalog_path, score, capacity, &db, &catalog);
  }
  if (result != open_result::ok) {
    open_dbs[id] = nullptr;
    return raise_store_error(result == open_result::bad_catalog ? "Invalid catalog" : "Cannot open database");
  }
  open_dbs[id] = db;
  owned_catalogs[id] = catalog;
  return PyLong_FromLong(id);
}

PyObject* sorn_quit_db(PyObject*, PyObject* args) {
  int id;
  if (!PyArg_ParseTuple(args, "i:quit_db", &id)) return nullptr;
  if (!db_id_in_range(id)) return raise_bad_db_id(id);
  idbm_db* db = open_dbs[id];
  if (!db || db == kReservedDb) Py_RETURN_NONE;
  // The entry stays reserved while the handle is closed without the lock
  // (closing takes arena mutexes, under which a log hook must not wait for
  // the lock), so no open_db is handed the identifier meanwhile.
  open_dbs[id] = kReservedDb;
  idbm_db* catalog = owned_catalogs[id];
  owned_catalogs[id] = nullptr;
  int closed;
  clear_file_failure();
  {
    InterpreterRelease unlocked;
    // The handle goes first: an incremental one points at its catalog.
    title_cache_purge(the_title_cache.load(), db->name);
    closed = idbm_close(db);
    idbm_close(catalog);
  }
  open_dbs[id] = nullptr;
  if (!closed) return raise_store_error("Failed: idbm_close");
  Py_RETURN_NONE;
}

PyObject* sorn_save_db(PyObject*, PyObject* args) {
  int id;
  if (!PyArg_ParseTuple(args, "i:save_db", &id)) return nullptr;
  idbm_db* db = checked_db(id);
  if (!db) return nullptr;
  int written;
  clear_file_failure();
  {
    InterpreterRelease unlocked;
    written = idbm_write(db, db->score_incr);
  }
  if (!written) return raise_store_error("Failed: idbm_write");
  Py_RETURN_NONE;
}

PyObject* sorn_delete(PyObject*, PyObject* args) {
  int id, docid;
  if (!PyArg_ParseTuple(args, "ii:delete", &id, &docid)) return nullptr;
  idbm_db* db = checked_db(id);
  if (!db) return nullptr;
  if (docid < 0 || static_cast<uint32_t>(docid) >= db->ndocs) return raise_error("Invalid docid");
  clear_file_failure();
  if (!idbm_delete(db, static_cast<uint32_t>(docid))) return raise_store_error("Failed: idbm_delete");
  Py_RETURN_NONE;
}

PyObject* sorn_list(PyObject*, PyObject*) {
  PyObject* list = PyList_New(0);
  if (!list) return nullptr;
  for (int id = 1; id < kMaxOpenDbs; ++id) {
    idbm_db* db = open_dbs[id];
    if (!db || db == kReservedDb) continue;
    PyObject* item = Py_BuildValue("(iN)", id, script::path_result(db->name));
    if (!item || PyList_Append(list, item) != 0) {
      Py_XDECREF(item);
      Py_DECREF(list);
      return nullptr;
    }
    Py_DECREF(item);
  }
  return list;
}

PyObject* sorn_numdocs(PyObject*, PyObject* args) {
  int id;
  if (!PyArg_ParseTuple(args, "i:numdocs", &id)) return nullptr;
  idbm_db* db = checked_db(id);
  if (!db) return nullptr;
  return PyLong_FromUnsignedLong(db->ndocs);
}

PyObject* sorn_close_journal(PyObject*, PyObject* args) {
  int id;
  if (!PyArg_ParseTuple(args, "i:close_journal", &id)) return nullptr;
  idbm_db* db = checked_db(id);
  if (!db) return nullptr;
  // The "jnl" file stays; the handle refuses further documents (they would
  // have no journal record), and a later save leaves the file in place.
  idbm_close_journal(db);
  Py_RETURN_NONE;
}

}  // namespace vorlane::engine
