// The open-database table: scripts name databases by small identifiers
// 1..127 that index open_dbs; entry 0 is never used.
//
// An entry is free (null), reserved (kReservedDb: an open_db or quit_db is
// working on it without the interpreter lock) or open (the handle, whose id
// field holds the identifier). The table owns the handles: open_db creates
// them, quit_db releases them. The table is read and written only while the
// interpreter lock is held.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "store/db_handle.h"

namespace vorlane::engine {

inline constexpr int kMaxOpenDbs = 128;

extern idbm_db* open_dbs[kMaxOpenDbs];

// The marker of a reserved entry; never a valid handle.
extern idbm_db* const kReservedDb;

inline bool db_id_in_range(int id) { return id >= 1 && id < kMaxOpenDbs; }

// The open handle of an identifier, or null with sorn.error set: "Invalid
// database identifier: %d" outside 1..127, "Database not open: %d" for a free
// or reserved entry. Every method that takes an identifier checks it here.
idbm_db* checked_db(int id);

}  // namespace vorlane::engine
