// The wstring type: allocation, the sequence protocol (length,
// concatenation, repetition, items and slices), comparison, hash and
// representation.
#include "linguistics/wstrop/wstring_type.h"

#include <cstring>

namespace vorlane::linguistics {

PyObject* wstring_new(size_t n) {
  if (n > kMaxCells) return PyErr_NoMemory();
  PyVarObject* w = PyObject_NewVar(PyVarObject, &wstring_type, static_cast<Py_ssize_t>(n));
  if (!w) return nullptr;
  PyObject* object = reinterpret_cast<PyObject*>(w);
  wstring_cells(object)[n] = 0;
  return object;
}

PyObject* wstring_from_cells(const wcell* cells, size_t n) {
  PyObject* w = wstring_new(n);
  if (w && n) memcpy(wstring_cells(w), cells, n * sizeof(wcell));
  return w;
}

int32_t wstring_hash_cells(const wcell* cells, size_t n) {
  uint32_t x = n ? uint32_t{cells[0]} << 7 : 0;
  for (size_t i = 0; i < n; ++i) x = (x * 1000003u) ^ cells[i];
  x ^= static_cast<uint32_t>(n);
  int32_t h = static_cast<int32_t>(x);
  return h == -1 ? -2 : h;
}

int64_t concat_cell_count(size_t a, size_t b) {
  if (a > kMaxCells || b > kMaxCells - a) return -1;
  return static_cast<int64_t>(a + b);
}

int64_t repeat_cell_count(size_t n, int64_t k) {
  if (k <= 0 || n == 0) return 0;
  if (n > kMaxCells || static_cast<uint64_t>(k) > kMaxCells / n) return -1;
  return static_cast<int64_t>(n) * k;
}

namespace {

void wstring_dealloc(PyObject* self) { Py_TYPE(self)->tp_free(self); }

Py_ssize_t wstring_len(PyObject* self) { return Py_SIZE(self); }

PyObject* wstring_concat(PyObject* a, PyObject* b) {
  // Reached with a wstring on the left; a wstring on the right only.
  if (!wstring_check(a) || !wstring_check(b)) {
    PyErr_Format(PyExc_TypeError, "can only concatenate wstring (not \"%.200s\") to wstring",
                 Py_TYPE(wstring_check(a) ? b : a)->tp_name);
    return nullptr;
  }
  size_t na = wstring_length(a), nb = wstring_length(b);
  if (na == 0) return Py_NewRef(b);
  if (nb == 0) return Py_NewRef(a);
  if (concat_cell_count(na, nb) < 0) return PyErr_NoMemory();
  PyObject* w = wstring_new(na + nb);
  if (!w) return nullptr;
  memcpy(wstring_cells(w), wstring_cells(a), na * sizeof(wcell));
  memcpy(wstring_cells(w) + na, wstring_cells(b), nb * sizeof(wcell));
  return w;
}

PyObject* wstring_repeat(PyObject* self, Py_ssize_t k) {
  if (k == 1) return Py_NewRef(self);
  size_t n = wstring_length(self);
  int64_t total = repeat_cell_count(n, k);
  if (total < 0) return PyErr_NoMemory();
  PyObject* w = wstring_new(static_cast<size_t>(total));
  if (!w || total == 0) return w;
  const wcell* src = wstring_cells(self);
  wcell* dst = wstring_cells(w);
  if (n == 1) {
    for (int64_t i = 0; i < total; ++i) dst[i] = src[0];
    return w;
  }
  // Doubling copies: each round copies what is already there.
  size_t done = n;
  memcpy(dst, src, n * sizeof(wcell));
  size_t want = static_cast<size_t>(total);
  while (done < want) {
    size_t chunk = done < want - done ? done : want - done;
    memcpy(dst + done, dst, chunk * sizeof(wcell));
    done += chunk;
  }
  return w;
}

PyObject* index_error() {
  PyErr_SetString(PyExc_IndexError, "wstring index out of range");
  return nullptr;
}

// sq_item: the interpreter has already added n to a negative index.
PyObject* wstring_item(PyObject* self, Py_ssize_t i) {
  if (i < 0 || i >= Py_SIZE(self)) return index_error();
  return wstring_from_cells(wstring_cells(self) + i, 1);
}

bool slice_step_is_one(PyObject* slice) {
  PyObject* step = reinterpret_cast<PySliceObject*>(slice)->step;
  if (step == Py_None) return true;
  if (!PyLong_Check(step)) return false;
  int overflow = 0;
  return PyLong_AsLongAndOverflow(step, &overflow) == 1 && !overflow;
}

PyObject* wstring_subscript(PyObject* self, PyObject* key) {
  Py_ssize_t n = Py_SIZE(self);
  if (PyIndex_Check(key)) {
    Py_ssize_t i = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (i == -1 && PyErr_Occurred()) return nullptr;
    if (i < 0) i += n;
    return wstring_item(self, i);
  }
  if (PySlice_Check(key)) {
    if (!slice_step_is_one(key)) {
      PyErr_SetString(PyExc_TypeError, "wstring slices take no step");
      return nullptr;
    }
    Py_ssize_t start, stop, step;
    if (PySlice_Unpack(key, &start, &stop, &step) < 0) return nullptr;
    Py_ssize_t length = PySlice_AdjustIndices(n, &start, &stop, step);
    if (start == 0 && length == n) return Py_NewRef(self);
    return wstring_from_cells(wstring_cells(self) + start, static_cast<size_t>(length));
  }
  PyErr_Format(PyExc_TypeError, "wstring indices must be integers or slices, not %.200s",
               Py_TYPE(key)->tp_name);
  return nullptr;
}

// Cell by cell as unsigned values; a proper prefix sorts first.
int compare_cells(PyObject* a, PyObject* b) {
  size_t na = wstring_length(a), nb = wstring_length(b);
  const wcell* ca = wstring_cells(a);
  const wcell* cb = wstring_cells(b);
  size_t common = na < nb ? na : nb;
  for (size_t i = 0; i < common; ++i)
    if (ca[i] != cb[i]) return ca[i] < cb[i] ? -1 : 1;
  return na < nb ? -1 : na > nb ? 1 : 0;
}

PyObject* wstring_richcompare(PyObject* a, PyObject* b, int op) {
  if (!wstring_check(a) || !wstring_check(b)) Py_RETURN_NOTIMPLEMENTED;
  if ((op == Py_EQ || op == Py_NE) && Py_SIZE(a) != Py_SIZE(b)) return PyBool_FromLong(op == Py_NE);
  int c = compare_cells(a, b);
  Py_RETURN_RICHCOMPARE(c, 0, op);
}

Py_hash_t wstring_hash(PyObject* self) {
  return wstring_hash_cells(wstring_cells(self), wstring_length(self));
}

PyObject* wstring_repr(PyObject* self) {
  const wcell* cells = wstring_cells(self);
  size_t n = wstring_length(self);
  PyObject* utf8 = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(cells_to_utf8(cells, n, nullptr)));
  if (!utf8) return nullptr;
  cells_to_utf8(cells, n, reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(utf8)));
  PyObject* repr = PyUnicode_FromFormat("wstring.L(%R)", utf8);
  Py_DECREF(utf8);
  return repr;
}

PySequenceMethods wstring_as_sequence{};
PyMappingMethods wstring_as_mapping{};

constexpr char wstring_doc[] =
    "A string of 16-bit character cells (UTF-16 code units: characters above\n"
    "U+FFFF take two). Made by the functions of wstrop (L, decode, chr,\n"
    "from_ucs2, ...); converted back by its methods utf8, ucs2, ucs4, utf7,\n"
    "utf16 and encode.";

}  // namespace

// Filled in by wstring_type_ready: the compiler's aggregate rules would
// have every slot spelled out in order.
PyTypeObject wstring_type{};

int wstring_type_ready() {
  static bool ready = false;
  if (ready) return 0;
  PyTypeObject& t = wstring_type;
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&t), 1);  // a static type is never freed
  t.tp_name = "wstrop.wstring";
  t.tp_basicsize = static_cast<Py_ssize_t>(sizeof(PyVarObject) + sizeof(wcell));  // with the zero cell
  t.tp_itemsize = static_cast<Py_ssize_t>(sizeof(wcell));
  t.tp_dealloc = wstring_dealloc;
  t.tp_repr = wstring_repr;
  wstring_as_sequence.sq_length = wstring_len;
  wstring_as_sequence.sq_concat = wstring_concat;
  wstring_as_sequence.sq_repeat = wstring_repeat;
  wstring_as_sequence.sq_item = wstring_item;
  t.tp_as_sequence = &wstring_as_sequence;
  wstring_as_mapping.mp_length = wstring_len;
  wstring_as_mapping.mp_subscript = wstring_subscript;
  t.tp_as_mapping = &wstring_as_mapping;
  t.tp_hash = wstring_hash;
  t.tp_flags = Py_TPFLAGS_DEFAULT;
  t.tp_doc = wstring_doc;
  t.tp_richcompare = wstring_richcompare;
  t.tp_methods = wstring_methods;
  if (PyType_Ready(&t) != 0) return -1;
  ready = true;
  return 0;
}

}  // namespace vorlane::linguistics
