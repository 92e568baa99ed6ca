// The script module sorn: its globals, its error routines and its init.
//
// The module globals live until the process ends. They are read and written
// with the interpreter lock held, except the language table, which engine
// work reads without the lock: lang_init publishes an entry's name (with
// release ordering) only after its handle is complete, and never changes a
// used entry.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "linguistics/zop_handle.h"
#include "store/sthread.h"

namespace vorlane::engine {

inline constexpr int kMaxLanguages = 32;

struct language_entry {
  std::atomic<const char*> name{nullptr};  // heap copy, null while free
  zop_handle handle;
};

extern language_entry language_table[kMaxLanguages];
extern int32_t quality_offsets[8];
extern uint32_t max_hits;             // M: 40,000 at load, set by cache_init
extern sthread_key saved_thread_key;  // the parked interpreter state per thread
extern PyObject* sorn_error;
extern PyObject* sorn_limit;

// Linux's value of the socket request that counts readable bytes, which
// scripts pass to fcntl.ioctl.
inline constexpr long kFionread = 0x541B;

// Error routines: set the exception and return null.
PyObject* raise_error(const char* message);
// raise_error for a store call that failed: when the call could not write a
// file (a full disk, say), ": <path>: <reason>" follows the message. The
// caller clears the store's record (clear_file_failure, store/mapfile.h)
// before the call.
PyObject* raise_store_error(const char* message);
PyObject* raise_limit(const char* message);
PyObject* raise_bad_db_id(int id);     // "Invalid database identifier: %d"
PyObject* raise_db_not_open(int id);   // "Database not open: %d"

// The handle of the first used entry named name (byte for byte); the empty
// handle (stemmer null) when there is none.
zop_handle find_language(const char* name);

// Stores a value in a module dictionary; failures are cleared, not reported.
void dict_add_int(PyObject* dict, const char* key, long value);
void dict_add_string(PyObject* dict, const char* key, const char* text);

// Runs the once-only engine init; false with a Python exception set when a
// step failed (the init can then be tried again).
bool sorn_engine_init();
// How many times the engine init has completed (1 after any number of
// imports); for tests.
int sorn_engine_init_count();

PyObject* PyInit_sorn();

}  // namespace vorlane::engine
