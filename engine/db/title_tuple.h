// The title tuple scripts get for a document: title ("" when the record has
// none: its title is its url), summary, url, publisher, index terms, extra,
// date, download date, flags, doctype.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "store/title_record.h"

namespace vorlane::engine {

inline constexpr int kTitleTupleItems = 10;

// A new tuple from a 448-byte title record (interpreter lock held).
PyObject* title_tuple(const unsigned char* record);

// Sets the title tuple's items of an unpacked record as items at ..
// at + kTitleTupleItems - 1 of a new tuple (interpreter lock held). False
// with an exception set when an item cannot be made (the tuple then holds
// what was set; releasing it releases them).
bool set_title_items(const title_host& host, PyObject* tuple, Py_ssize_t at);

}  // namespace vorlane::engine
