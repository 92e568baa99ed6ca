// The bsddb database object: a mapping from byte strings to byte strings over
// one open hash database, with the methods close, keys, has_key,
// set_location, next, previous, first, last and sync.
//
// Every database call runs with the interpreter lock released and the
// object's own lock held; the handle is checked again under that lock, and
// close detaches it under the same lock, so a call waiting for the lock never
// uses a closed handle. Records the call hands out are copied into memory of
// the call before the lock is released. Keys and values are taken as bytes or
// Latin-1 str and always returned as bytes.
//
// The object's lock is a plain mutex rather than the interpreter's lock
// type: this interpreter reads the clock on every wait for one of its own
// locks, which costs more than a cached get's lookup. The mutex serialises
// the object's calls in the same way, always with the interpreter lock
// released while it is awaited.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <mutex>

#include "hashdb/hdb_table.h"

namespace vorlane::hashdb {

struct BsddbObject {
  PyObject_HEAD
  hdb_handle* handle;   // none once closed
  Py_ssize_t size;      // cached number of pairs; -1 = not counted
  std::mutex* lock;     // none when it could not be made
};

extern PyTypeObject bsddb_type;
extern PyObject* bsddb_error;

// Raises bsddb.error (code, text) for a database failure with errno `code`,
// unless an interrupted call's signal handler already raised.
PyObject* raise_db_error(int code);

}  // namespace vorlane::hashdb
