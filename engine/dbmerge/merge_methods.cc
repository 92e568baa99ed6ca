// The sorn methods merge_db and merge_delmap (engine/dbmerge/db_merge.h).
#include <climits>
#include <vector>

#include "engine/dbmerge/db_merge.h"
#include "engine/module/lock_release.h"
#include "engine/db/open_dbs.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "store/db_handle.h"
#include "store/mapfile.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

namespace {

// The open handles a list of identifiers names, in list order; false with
// the exception set for a bad item, an identifier that is not open, or more
// than kMaxMergeDbs items.
bool collect_sources(PyObject* list, std::vector<idbm_db*>* out) {
  const Py_ssize_t n = PyList_GET_SIZE(list);
  if (static_cast<size_t>(n) > kMaxMergeDbs) {
    PyErr_Format(sorn_error, "Too many databases: %zd (at most %zu)", n, kMaxMergeDbs);
    return false;
  }
  for (Py_ssize_t i = 0; i < n; ++i) {
    const long id = PyLong_AsLong(PyList_GET_ITEM(list, i));
    if (id == -1 && PyErr_Occurred()) return false;
    if (id < INT_MIN || id > INT_MAX) {
      raise_bad_db_id(id < 0 ? INT_MIN : INT_MAX);
      return false;
    }
    idbm_db* db = checked_db(static_cast<int>(id));
    if (!db) return false;
    out->push_back(db);
  }
  return true;
}

PyObject* outcome_result(const merge_outcome& outcome) {
  if (outcome.out_of_memory) return PyErr_NoMemory();
  if (!outcome.ok) return raise_store_error(outcome.message.c_str());
  Py_RETURN_NONE;
}

}  // namespace

PyObject* sorn_merge_db(PyObject*, PyObject* args) {
  script::PathArg path;
  PyObject* list;
  int write_adj, recompute_din;
  if (!PyArg_ParseTuple(args, "O&O!ii:merge_db", script::path_converter, &path, &PyList_Type, &list, &write_adj,
                        &recompute_din))
    return nullptr;
  std::vector<idbm_db*> sources;
  if (!collect_sources(list, &sources)) {
    return nullptr;
  }
  // Nothing to take the score setting from, and nothing to keep.
  if (sources.empty()) {
    return raise_error("empty merge result");
  }
  std::vector<idbm_db*> open;
  for (idbm_db* db : open_dbs)
    if (db && db != kReservedDb) open.push_back(db);
  const std::string refused = merge_precheck(path.c_str(), sources, open);
  if (!refused.empty()) {
    return raise_error(refused.c_str());
  }
  // The counts once, before the lock goes: the document map is sized by them.
  std::vector<uint32_t> counts;
  for (const idbm_db* db : sources) counts.push_back(db->ndocs);
  merge_outcome outcome;
  clear_file_failure();
  {
    InterpreterRelease unlocked;
    outcome = merge_databases(path.c_str(), sources, counts, max_hits, write_adj != 0, recompute_din != 0);
  }
  return outcome_result(outcome);
}

PyObject* sorn_merge_delmap(PyObject*, PyObject* args) {
  int merged_id;
  PyObject* list;
  if (!PyArg_ParseTuple(args, "iO!:merge_delmap", &merged_id, &PyList_Type, &list)) return nullptr;
  idbm_db* merged = checked_db(merged_id);
  if (!merged) return nullptr;
  std::vector<idbm_db*> sources;
  if (!collect_sources(list, &sources)) return nullptr;
  merge_outcome outcome;
  clear_file_failure();
  {
    InterpreterRelease unlocked;
    outcome = merge_deletion_map(merged, sources);
  }
  return outcome_result(outcome);
}

}  // namespace vorlane::engine
