// The log hook: every message that passes the engine's log filter goes to a
// script function installed with sorn.set_log_handler.
//
// The hook may run on any thread. A thread that holds the interpreter lock
// calls the function directly; a thread inside a lock-releasing method (its
// state parked under saved_thread_key) takes the lock back only for the call;
// any other thread takes it through the interpreter's own thread states.
// While the function runs, the calling thread's key is cleared, so that a
// message logged by the function itself (or by a method it calls) is
// delivered on the lock it already holds; the key gets its value back
// afterwards.
//
// An exception raised by the function is reported as unraisable and cleared;
// an exception pending when the message was logged is kept across the call.
// errno is kept across the call, since callers report it after logging.
// While the interpreter finalises, messages go to LogMessage instead.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdarg>
#include <cstdint>

namespace vorlane::engine {

// The installed script function (the module's reference), or null.
PyObject* script_log_function();

// The log handler installed by set_log_handler.
void log_hook(uint32_t level, const char* format, va_list args);

// Texts given to the script function are cut to fit this buffer.
inline constexpr size_t kLogHookBufferSize = 4096;

}  // namespace vorlane::engine
