// sorn.init_title_cache, title_cache_stat, map_titles and titles.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/db/get_titles.h"
#include "engine/module/lock_release.h"
#include "engine/db/open_dbs.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "engine/db/title_tuple.h"
#include "engine/db/title_cache.h"
#include "store/db_files.h"
#include "store/title_fetch.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

bool set_title_items(const title_host& host, PyObject* tuple, Py_ssize_t at) {
  const char* title = host.title == host.url ? "" : host.title;
  PyObject* items[kTitleTupleItems] = {
      script::latin1_str(title),
      script::latin1_str(host.summary),
      script::latin1_str(host.url),
      script::latin1_str(host.publisher),
      script::latin1_str(host.index_terms),
      PyLong_FromUnsignedLong(host.extra),
      PyLong_FromUnsignedLong(host.date),
      PyLong_FromUnsignedLong(host.download_date),
      PyLong_FromLong(static_cast<int>(host.flags)),
      PyLong_FromLong(static_cast<int>(host.doctype)),
  };
  bool ok = true;
  for (int i = 0; i < kTitleTupleItems; ++i) {
    ok = ok && items[i] != nullptr;
    if (items[i]) PyTuple_SET_ITEM(tuple, at + i, items[i]);
  }
  return ok;
}

PyObject* title_tuple(const unsigned char* record) {
  title_host host;
  title_unpack(record, &host);
  PyObject* t = PyTuple_New(kTitleTupleItems);
  if (t && !set_title_items(host, t, 0)) Py_CLEAR(t);
  return t;
}

PyObject* sorn_init_title_cache(PyObject*, PyObject* args) {
  int bytes;
  if (!PyArg_ParseTuple(args, "i:init_title_cache", &bytes)) return nullptr;
  if (!the_title_cache.load()) {
    if (title_cache* cache = title_cache_create(static_cast<uint32_t>(bytes)))
      the_title_cache.store(cache, std::memory_order_release);
  }
  return PyLong_FromLong(the_title_cache.load() ? 1 : 0);
}

PyObject* sorn_title_cache_stat(PyObject*, PyObject*) {
  title_cache* cache = the_title_cache.load();
  if (!cache) return Py_BuildValue("(iii)", 0, 0, 0);
  return Py_BuildValue("(iii)", cache->nslots, cache->hits.load(), cache->lookups.load());
}

PyObject* sorn_map_titles(PyObject*, PyObject* args) {
  int id;
  if (!PyArg_ParseTuple(args, "i:map_titles", &id)) return nullptr;
  idbm_db* db = checked_db(id);
  if (!db) return nullptr;
  int error = 0;
  {
    InterpreterRelease unlocked;
    // A first title file already mapped (by an earlier call, or read-write by
    // an incremental open) stays as it is.
    if (!idbm_map_titles(db)) error = errno;
  }
  if (error) {
    char buf[256];
    const char* text = strerror_r(error, buf, sizeof buf);
    if (text && *text) PyErr_Format(sorn_error, "ti0 fmap: %s", text);
    else PyErr_Format(sorn_error, "ti0 fmap: %d", error);
    return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* sorn_titles(PyObject*, PyObject* args) {
  PyObject* pairs;
  if (!PyArg_ParseTuple(args, "O!:titles", &PyList_Type, &pairs)) return nullptr;
  if (PyList_GET_SIZE(pairs) >= kMaxTitlesPerCall) return raise_error("Too many docs");
  // A snapshot of the items: converting one may run script code (__index__)
  // that changes the list under the loop.
  PyObject* items = PyList_AsTuple(pairs);
  if (!items) return nullptr;
  const Py_ssize_t n = PyTuple_GET_SIZE(items);
  std::vector<int> ids(static_cast<size_t>(n));
  std::vector<int32_t> docids(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PyTuple_GET_ITEM(items, i);
    if (!PyTuple_Check(item)) {
      PyErr_Format(PyExc_TypeError, "titles: item %zd must be an (identifier, docid) tuple, not %.100s", i,
                   Py_TYPE(item)->tp_name);
      Py_DECREF(items);
      return nullptr;
    }
    int id = 0, docid = 0;
    if (!PyArg_ParseTuple(item, "ii:titles", &id, &docid)) {
      Py_DECREF(items);
      return nullptr;
    }
    ids[static_cast<size_t>(i)] = id;
    docids[static_cast<size_t>(i)] = docid;
  }
  Py_DECREF(items);
  // Identifiers are checked once every item has been converted: script code
  // run by a conversion could have closed a database checked before it.
  std::vector<idbm_db*> dbs(static_cast<size_t>(n));
  for (size_t i = 0; i < dbs.size(); ++i)
    if (!(dbs[i] = checked_db(ids[i]))) return nullptr;
  std::vector<unsigned char> records(static_cast<size_t>(n) * kTitleRecordSize);
  {
    InterpreterRelease unlocked;
    get_titles(dbs.data(), docids.data(), reinterpret_cast<unsigned char (*)[kTitleRecordSize]>(records.data()),
               static_cast<int>(n));
  }
  PyObject* list = PyList_New(n);
  if (!list) return nullptr;
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* t = title_tuple(&records[static_cast<size_t>(i) * kTitleRecordSize]);
    if (!t) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, i, t);
  }
  return list;
}

}  // namespace vorlane::engine
