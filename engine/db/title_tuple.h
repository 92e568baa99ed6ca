// The title tuple scripts get for a document: title ("" when the record has
// none: its title is its url), summary, url, publisher, index terms, extra,
// date, download date, flags, doctype.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorlane::engine {

inline constexpr int kTitleTupleItems = 10;

// A new tuple from a 448-byte title record (interpreter lock held).
PyObject* title_tuple(const unsigned char* record);

}  // namespace vorlane::engine
