#include "hashdb/bsddb_object.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hashdb/hdb_errno.h"
#include "store/script/script_text.h"

namespace vorlane::hashdb {

PyObject* bsddb_error = nullptr;

namespace {

using script::TextArg;
using script::text_converter;

constexpr int kPreset = 1000000;
constexpr size_t kLocalRecord = 4096;

// A record copied out of the database's buffers, owned by one call (records
// up to 4096 bytes need no heap).
struct Copy {
  char local[kLocalRecord];
  char* heap = nullptr;
  const char* data = nullptr;
  size_t size = 0;
  Copy() = default;
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;
  ~Copy() { std::free(heap); }
  bool take(const hdb_bytes& b) {
    size = b.size;
    if (size <= kLocalRecord) {
      if (size) std::memcpy(local, b.data, size);
      data = local;
      return true;
    }
    heap = static_cast<char*>(std::malloc(size));
    if (!heap) return false;
    std::memcpy(heap, b.data, size);
    data = heap;
    return true;
  }
  PyObject* bytes() const { return PyBytes_FromStringAndSize(data, static_cast<Py_ssize_t>(size)); }
};

// The handle as another thread's close may just have left it (the early
// checks read it without the object's lock; the check under the lock decides).
hdb_handle* current(BsddbObject* self) { return __atomic_load_n(&self->handle, __ATOMIC_ACQUIRE); }
void detach(BsddbObject* self) { __atomic_store_n(&self->handle, nullptr, __ATOMIC_RELEASE); }

// Runs `call` on the handle with the interpreter lock released and the
// object's lock held. False (with bsddb.error set) when the object was closed.
template <class F>
bool locked_call(BsddbObject* self, F&& call) {
  bool open;
  Py_BEGIN_ALLOW_THREADS
  self->lock->lock();
  hdb_handle* h = current(self);
  open = h != nullptr;
  if (open) call(h);
  self->lock->unlock();
  Py_END_ALLOW_THREADS
  if (!open) PyErr_SetString(bsddb_error, "BSDDB object has already been closed");
  return open;
}

bool check_open(BsddbObject* self) {
  if (current(self)) return true;
  PyErr_SetString(bsddb_error, "BSDDB object has already been closed");
  return false;
}

bool is_text(PyObject* o) { return PyUnicode_Check(o) || PyObject_CheckBuffer(o); }

struct SeqResult {
  int result = 0;
  int code = 0;
  bool copied = true;
  Copy key, data;
};

// One step of the sequential walk with copies of what it handed out.
bool seq_step(BsddbObject* self, unsigned flags, SeqResult* out) {
  return locked_call(self, [&](hdb_handle* h) {
    hdb_bytes key{}, data{};
    errno = kPreset;
    out->result = h->seq(h, &key, &data, flags);
    out->code = errno;
    if (out->result == 0) out->copied = out->key.take(key) && out->data.take(data);
  });
}

PyObject* seq_method(BsddbObject* self, PyObject* args, unsigned flags, const char* format) {
  if (!PyArg_ParseTuple(args, format)) return nullptr;
  if (!check_open(self)) return nullptr;
  SeqResult r;
  if (!seq_step(self, flags, &r)) return nullptr;
  if (r.result < 0) return raise_db_error(r.code);
  if (r.result > 0) {
    PyErr_SetObject(PyExc_KeyError, args);
    return nullptr;
  }
  if (!r.copied) return PyErr_NoMemory();
  PyObject* k = r.key.bytes();
  PyObject* d = k ? r.data.bytes() : nullptr;
  PyObject* tuple = d ? PyTuple_Pack(2, k, d) : nullptr;
  Py_XDECREF(k);
  Py_XDECREF(d);
  return tuple;
}

PyObject* bsddb_close(BsddbObject* self, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":close")) return nullptr;
  if (!current(self)) Py_RETURN_NONE;
  int result = 0, code = 0;
  Py_BEGIN_ALLOW_THREADS
  self->lock->lock();
  hdb_handle* h = current(self);
  detach(self);
  self->lock->unlock();
  if (h) {
    result = h->close(h);
    code = errno;
  }
  Py_END_ALLOW_THREADS
  if (result != 0) return raise_db_error(code);
  Py_RETURN_NONE;
}

PyObject* bsddb_keys(BsddbObject* self, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":keys")) return nullptr;
  if (!check_open(self)) return nullptr;
  PyObject* list = PyList_New(0);
  if (!list) return nullptr;
  unsigned flags = kSeqFirst;
  for (;;) {
    SeqResult r;
    if (!seq_step(self, flags, &r)) break;
    flags = kSeqNext;
    if (r.result < 0) {
      raise_db_error(r.code);
      break;
    }
    if (r.result > 0) {
      if (self->size < 0) self->size = PyList_GET_SIZE(list);
      return list;
    }
    if (!r.copied) {
      PyErr_NoMemory();
      break;
    }
    PyObject* k = r.key.bytes();
    if (!k || PyList_Append(list, k) != 0) {
      Py_XDECREF(k);
      break;
    }
    Py_DECREF(k);
  }
  Py_DECREF(list);
  return nullptr;
}

// get: 0 found (value copied when wanted), 1 not found, -1 error.
bool get_call(BsddbObject* self, const TextArg& key, Copy* value, int* result, int* code, bool* copied) {
  return locked_call(self, [&](hdb_handle* h) {
    hdb_bytes k{key.data(), key.size()}, data{};
    errno = kPreset;
    *result = h->get(h, &k, &data, 0);
    *code = errno;
    if (*result == 0 && value) *copied = value->take(data);
  });
}

PyObject* bsddb_has_key(BsddbObject* self, PyObject* args) {
  TextArg key("key");
  if (!PyArg_ParseTuple(args, "O&:has_key", text_converter, &key)) return nullptr;
  if (!check_open(self)) return nullptr;
  int result = 0, code = 0;
  bool copied = true;
  if (!get_call(self, key, nullptr, &result, &code, &copied)) return nullptr;
  if (result < 0) return raise_db_error(code);
  return PyLong_FromLong(result == 0 ? 1 : 0);
}

PyObject* bsddb_set_location(BsddbObject* self, PyObject* args) {
  TextArg key("key");
  if (!PyArg_ParseTuple(args, "O&:set_location", text_converter, &key)) return nullptr;
  if (!check_open(self)) return nullptr;
  SeqResult r;
  // A hash table has no ordered positions: the walk refuses the flag.
  if (!seq_step(self, kSeqCursor, &r)) return nullptr;
  if (r.result < 0) return raise_db_error(r.code);
  if (r.result > 0) {
    PyErr_SetObject(PyExc_KeyError, key.original());
    return nullptr;
  }
  if (!r.copied) return PyErr_NoMemory();
  return Py_BuildValue("(NN)", r.key.bytes(), r.data.bytes());
}

PyObject* bsddb_next(BsddbObject* self, PyObject* args) { return seq_method(self, args, kSeqNext, ":next"); }
PyObject* bsddb_previous(BsddbObject* self, PyObject* args) { return seq_method(self, args, kSeqPrevious, ":previous"); }
PyObject* bsddb_first(BsddbObject* self, PyObject* args) { return seq_method(self, args, kSeqFirst, ":first"); }
PyObject* bsddb_last(BsddbObject* self, PyObject* args) { return seq_method(self, args, kSeqLast, ":last"); }

PyObject* bsddb_sync(BsddbObject* self, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":sync")) return nullptr;
  if (!check_open(self)) return nullptr;
  int result = 0, code = 0;
  if (!locked_call(self, [&](hdb_handle* h) {
        result = h->sync(h);
        code = errno;
      }))
    return nullptr;
  if (result != 0) return raise_db_error(code);
  return PyLong_FromLong(0);
}

Py_ssize_t bsddb_length(PyObject* o) {
  BsddbObject* self = reinterpret_cast<BsddbObject*>(o);
  if (!check_open(self)) return -1;
  if (self->size >= 0) return self->size;
  int result = 0, code = 0;
  Py_ssize_t count = 0;
  if (!locked_call(self, [&](hdb_handle* h) {
        hdb_bytes key{}, data{};
        unsigned flags = kSeqFirst;
        errno = kPreset;
        while ((result = h->seq(h, &key, &data, flags)) == 0) {
          ++count;
          flags = kSeqNext;
        }
        code = errno;
      }))
    return -1;
  if (result < 0) {
    raise_db_error(code);
    return -1;
  }
  self->size = count;
  return count;
}

PyObject* bsddb_subscript(PyObject* o, PyObject* key_object) {
  BsddbObject* self = reinterpret_cast<BsddbObject*>(o);
  TextArg key("key");
  if (!text_converter(key_object, &key)) return nullptr;
  if (!check_open(self)) return nullptr;
  Copy value;
  int result = 0, code = 0;
  bool copied = true;
  if (!get_call(self, key, &value, &result, &code, &copied)) return nullptr;
  if (result < 0) return raise_db_error(code);
  if (result > 0) {
    PyErr_SetObject(PyExc_KeyError, key_object);
    return nullptr;
  }
  if (!copied) return PyErr_NoMemory();
  return value.bytes();
}

int bsddb_ass_subscript(PyObject* o, PyObject* key_object, PyObject* value_object) {
  BsddbObject* self = reinterpret_cast<BsddbObject*>(o);
  if (!is_text(key_object)) {
    PyErr_SetString(PyExc_TypeError, "bsddb key type must be string");
    return -1;
  }
  TextArg key("key"), value("value");
  if (!text_converter(key_object, &key)) return -1;
  if (value_object) {
    if (!is_text(value_object)) {
      PyErr_SetString(PyExc_TypeError, "bsddb value type must be string");
      return -1;
    }
    if (!text_converter(value_object, &value)) return -1;
  }
  if (!check_open(self)) return -1;
  self->size = -1;
  int result = 0, code = 0;
  if (!locked_call(self, [&](hdb_handle* h) {
        hdb_bytes k{key.data(), key.size()};
        if (value_object) {
          hdb_bytes v{value.data(), value.size()};
          result = h->put(h, &k, &v, 0);
        } else {
          errno = kPreset;
          result = h->del(h, &k, 0);
        }
        code = errno;
      }))
    return -1;
  if (result > 0) {
    PyErr_SetObject(PyExc_KeyError, key_object);
    return -1;
  }
  if (result < 0) {
    raise_db_error(code);
    return -1;
  }
  return 0;
}

int bsddb_contains(PyObject* o, PyObject* key_object) {
  BsddbObject* self = reinterpret_cast<BsddbObject*>(o);
  TextArg key("key");
  if (!text_converter(key_object, &key)) return -1;
  if (!check_open(self)) return -1;
  int result = 0, code = 0;
  bool copied = true;
  if (!get_call(self, key, nullptr, &result, &code, &copied)) return -1;
  if (result < 0) {
    raise_db_error(code);
    return -1;
  }
  return result == 0 ? 1 : 0;
}

void bsddb_dealloc(PyObject* o) {
  BsddbObject* self = reinterpret_cast<BsddbObject*>(o);
  if (self->lock) {
    // Nobody else can hold it now; taking it without waiting only makes sure.
    if (self->lock->try_lock()) self->lock->unlock();
    delete self->lock;
    self->lock = nullptr;
  }
  if (hdb_handle* h = self->handle) {
    self->handle = nullptr;
    int result, code;
    Py_BEGIN_ALLOW_THREADS
    result = h->close(h);
    code = errno;
    Py_END_ALLOW_THREADS
    if (result != 0) std::fprintf(stderr, "Python bsddb: close errno %d in dealloc\n", code);
  }
  PyObject_Free(o);
}

PyMethodDef bsddb_methods[] = {
    {"close", reinterpret_cast<PyCFunction>(bsddb_close), METH_VARARGS, "close() -> None"},
    {"keys", reinterpret_cast<PyCFunction>(bsddb_keys), METH_VARARGS, "keys() -> list of every key"},
    {"has_key", reinterpret_cast<PyCFunction>(bsddb_has_key), METH_VARARGS, "has_key(key) -> 1 or 0"},
    {"set_location", reinterpret_cast<PyCFunction>(bsddb_set_location), METH_VARARGS,
     "set_location(key): not available on a hash table"},
    {"next", reinterpret_cast<PyCFunction>(bsddb_next), METH_VARARGS, "next() -> (key, value)"},
    {"previous", reinterpret_cast<PyCFunction>(bsddb_previous), METH_VARARGS,
     "previous(): not available on a hash table"},
    {"first", reinterpret_cast<PyCFunction>(bsddb_first), METH_VARARGS, "first() -> (key, value)"},
    {"last", reinterpret_cast<PyCFunction>(bsddb_last), METH_VARARGS, "last(): not available on a hash table"},
    {"sync", reinterpret_cast<PyCFunction>(bsddb_sync), METH_VARARGS, "sync() -> 0"},
    {nullptr, nullptr, 0, nullptr},
};

PyMappingMethods bsddb_as_mapping = {bsddb_length, bsddb_subscript, bsddb_ass_subscript};

PySequenceMethods bsddb_as_sequence = [] {
  PySequenceMethods s{};
  s.sq_contains = bsddb_contains;
  return s;
}();

}  // namespace

PyObject* raise_db_error(int code) {
  int low = code % 1000;
  if (low < 0) low = -low;
  // An interrupted call whose signal handler raised leaves that exception.
  // The system error sits in the low digits, under the failing site's code.
  if (low == EINTR && PyErr_CheckSignals() != 0) return nullptr;
  // A limit of the file format names the limit; other failures carry the
  // system's text for their low digits.
  const char* limit = hdb_limit_text(code);
  PyObject* value = Py_BuildValue("(is)", code, limit ? limit : std::strerror(low));
  if (value) {
    PyErr_SetObject(bsddb_error, value);
    Py_DECREF(value);
  }
  return nullptr;
}

PyTypeObject bsddb_type = [] {
  PyTypeObject t{};
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&t), 1);  // a static type is never freed
  t.tp_name = "bsddb";
  t.tp_basicsize = sizeof(BsddbObject);
  t.tp_dealloc = bsddb_dealloc;
  t.tp_as_sequence = &bsddb_as_sequence;
  t.tp_as_mapping = &bsddb_as_mapping;
  t.tp_flags = Py_TPFLAGS_DEFAULT;
  t.tp_doc = "A hash database file open as a mapping of bytes to bytes.";
  t.tp_methods = bsddb_methods;
  return t;
}();

}  // namespace vorlane::hashdb
