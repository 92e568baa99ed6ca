// The script type wstring: a string of 16-bit character cells.
//
// Object layout, one block from the interpreter's object allocator:
//   PyVarObject header  reference count, type, and ob_size = n, the number
//                       of cells (at most kMaxCells: the count is 32-bit)
//   wcell[n]            the cells (UTF-16 code units, see wide_codecs.h)
//   wcell               one zero cell after them
// A wstring is never changed after it has been filled.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "linguistics/wstrop/wide_codecs.h"

namespace vorlane::linguistics {

constexpr size_t kMaxCells = 0x7FFFFFFF;

extern PyTypeObject wstring_type;

inline bool wstring_check(PyObject* object) { return Py_IS_TYPE(object, &wstring_type); }

inline wcell* wstring_cells(PyObject* w) {
  return reinterpret_cast<wcell*>(reinterpret_cast<char*>(w) + sizeof(PyVarObject));
}

inline size_t wstring_length(PyObject* w) { return static_cast<size_t>(Py_SIZE(w)); }

// A new wstring of n cells, left for the caller to fill (the zero cell after
// them is set). MemoryError when n exceeds kMaxCells or memory runs out.
PyObject* wstring_new(size_t n);

// A new wstring holding a copy of n cells.
PyObject* wstring_from_cells(const wcell* cells, size_t n);

// The hash: x = first cell << 7, then x = x * 1000003 ^ cell for every cell,
// then x ^ n, all in 32 bits; the result is sign-extended and -1 becomes -2.
int32_t wstring_hash_cells(const wcell* cells, size_t n);

// The cell count of a + b or of a repeated k times, or -1 when it would
// exceed kMaxCells.
int64_t concat_cell_count(size_t a, size_t b);
int64_t repeat_cell_count(size_t n, int64_t k);

// Completes the type (once per process); -1 with an exception on failure.
int wstring_type_ready();

// The type's methods (defined with the conversions).
extern PyMethodDef wstring_methods[];

}  // namespace vorlane::linguistics
