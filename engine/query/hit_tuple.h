// The hit tuple of sorn.query, one per hit of a page, 16 items:
//   0 score (the hit's percent, 1..100), 1..10 the title tuple's items
//   (engine/db/title_tuple.h: title, summary, url, publisher, index terms,
//   extra, date, download date, flags, doctype), 11 the four classification
//   words as a list of ints (zeros for records that store none), 12 database
//   identifier, 13 docid, 14 term details (a list of (term, fraction)
//   pairs), 15 quality value.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace vorlane::engine {

inline constexpr int kHitTupleItems = 16;

// A new hit tuple (interpreter lock held); details is stolen (a new list),
// quality set as given. Null with an exception set on failure (details is
// then released).
PyObject* hit_tuple(int32_t score, const unsigned char* record, uint32_t id, uint32_t docid, PyObject* details,
                    int32_t quality);

}  // namespace vorlane::engine
