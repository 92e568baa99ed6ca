// The bsddb module: hashopen (the only opener that can succeed), btopen and
// rnopen (which always fail: there are only hash tables), and bsddb.error,
// raised with (code, text) for database failures.
#include <cerrno>
#include <mutex>
#include <new>

#include "hashdb/bsddb_object.h"
#include "store/script/script_text.h"

namespace vorlane::hashdb {

namespace {

constexpr int kPreset = 1000000;

// The open flags of a flag string (no flag: read-only); -1 with bsddb.error set.
int open_flags(const char* flag, bool record_file) {
  if (!flag) return kOpenReadOnly;
  int flags;
  switch (flag[0]) {
    case 'r': flags = kOpenReadOnly; break;
    case 'w': flags = kOpenReadWrite; break;
    case 'c': flags = kOpenReadWrite | kOpenCreate; break;
    case 'n': flags = kOpenReadWrite | kOpenCreate | kOpenTruncate; break;
    default:
      PyErr_SetString(bsddb_error, "Flag should begin with 'r', 'w', 'c' or 'n'");
      return -1;
  }
  if (flag[1] == 'l') {
    PyErr_SetString(bsddb_error, "locking not supported on this platform");
    return -1;
  }
  if (record_file && flag[1] != '\0') {
    PyErr_SetString(bsddb_error, "Flag char 2 should be 'l' or absent");
    return -1;
  }
  return flags;
}

PyObject* hashopen(PyObject*, PyObject* args) {
  script::PathArg file;
  const char* flag = nullptr;
  int mode = 0666, bucket_size = 0, fill_factor = 0, expected = 0, cache_size = 0, hash = 0, byte_order = 0;
  if (!PyArg_ParseTuple(args, "O&|ziiiiiii:hashopen", script::path_converter, &file, &flag, &mode, &bucket_size,
                        &fill_factor, &expected, &cache_size, &hash, &byte_order))
    return nullptr;
  int flags = open_flags(flag, false);
  if (flags < 0) return nullptr;
  BsddbObject* self = PyObject_New(BsddbObject, &bsddb_type);
  if (!self) return nullptr;
  self->handle = nullptr;
  self->size = -1;
  self->lock = nullptr;
  hdb_params params{};
  params.bucket_size = static_cast<unsigned>(bucket_size);
  params.fill_factor = static_cast<unsigned>(fill_factor);
  params.expected_elements = static_cast<unsigned>(expected);
  params.cache_size = static_cast<unsigned>(cache_size);
  params.hash = nullptr;  // the default hash; the argument is ignored
  params.byte_order = byte_order;
  const char* path = file.c_str();
  hdb_handle* handle;
  int code;
  Py_BEGIN_ALLOW_THREADS
  errno = kPreset;
  handle = hdb_open(path, flags | kOpenBinary, mode, kTypeHash, &params);
  code = errno;
  Py_END_ALLOW_THREADS
  if (!handle) {
    raise_db_error(code);
    Py_DECREF(self);
    return nullptr;
  }
  self->handle = handle;
  self->lock = new (std::nothrow) std::mutex;
  if (!self->lock) {
    PyErr_SetString(bsddb_error, "can't allocate lock");
    Py_DECREF(self);
    return nullptr;
  }
  return reinterpret_cast<PyObject*>(self);
}

// btopen and rnopen reach the database with a type it does not have.
PyObject* refused_open(const script::PathArg& file, int flags, int mode, int type) {
  hdb_handle* handle;
  int code;
  Py_BEGIN_ALLOW_THREADS
  handle = hdb_open(file.c_str(), flags | kOpenBinary, mode, type, nullptr);
  code = errno;
  Py_END_ALLOW_THREADS
  if (handle) handle->close(handle);
  return raise_db_error(code);
}

PyObject* btopen(PyObject*, PyObject* args) {
  script::PathArg file;
  const char* flag = nullptr;
  int mode = 0666, btflags = 0, cache_size = 0, max_keys = 0, min_keys = 0, page_size = 0, byte_order = 0;
  if (!PyArg_ParseTuple(args, "O&|ziiiiiii:btopen", script::path_converter, &file, &flag, &mode, &btflags,
                        &cache_size, &max_keys, &min_keys, &page_size, &byte_order))
    return nullptr;
  int flags = open_flags(flag, false);
  if (flags < 0) return nullptr;
  return refused_open(file, flags, mode, 0);
}

PyObject* rnopen(PyObject*, PyObject* args) {
  script::PathArg file;
  const char* flag = nullptr;
  const char* pad = nullptr;
  const char* record_file = nullptr;
  int mode = 0666, rnflags = 0, cache_size = 0, page_size = 0, byte_order = 0, record_length = 0;
  if (!PyArg_ParseTuple(args, "O&|ziiiiiizz:rnopen", script::path_converter, &file, &flag, &mode, &rnflags,
                        &cache_size, &page_size, &byte_order, &record_length, &pad, &record_file))
    return nullptr;
  int flags = open_flags(flag, true);
  if (flags < 0) return nullptr;
  return refused_open(file, flags, mode, 2);
}

PyMethodDef module_methods[] = {
    {"hashopen", hashopen, METH_VARARGS,
     "hashopen(file, flag=None, mode=0o666, bsize=0, ffactor=0, nelem=0, cachesize=0, hash=0, lorder=0)\n"
     "-> a hash database object. flag: 'r' (default), 'w', 'c' (create) or 'n' (new, truncated)."},
    {"btopen", btopen, METH_VARARGS, "btopen(file, ...): B-tree files are not available; always raises error."},
    {"rnopen", rnopen, METH_VARARGS, "rnopen(file, ...): record files are not available; always raises error."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef bsddb_module = {
    PyModuleDef_HEAD_INIT,
    "bsddb",
    "Hash database files as mappings of bytes to bytes. Keys and values are bytes\n"
    "(or str holding only Latin-1 characters) and come back as bytes. Database\n"
    "failures raise bsddb.error with (code, text).",
    -1,
    module_methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyObject* PyInit_bsddb() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    bsddb_error = PyErr_NewException("bsddb.error", nullptr, nullptr);
    ready = bsddb_error && PyType_Ready(&bsddb_type) == 0;
  });
  if (!ready) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "bsddb: cannot make its type or exception");
    return nullptr;
  }
  PyObject* module = PyModule_Create(&bsddb_module);
  if (!module) return nullptr;
  if (PyModule_AddObjectRef(module, "error", bsddb_error) != 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}

}  // namespace vorlane::hashdb
