#include "engine/module/log_hook.h"

#include <cerrno>
#include <cstdio>

#include "engine/module/lock_release.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "store/log.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

namespace {

// Written with the interpreter lock held; read by logging threads, which
// take a reference only once they hold the lock.
std::atomic<PyObject*> script_log_handler{nullptr};

// Passes an already formatted text to the default handler.
void log_text(uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogMessage(level, format, args);
  va_end(args);
}

// Calls the function with (level, text); the lock is held.
void deliver(uint32_t level, const char* text) {
  PyObject* function = script_log_handler.load();
  if (!function) {
    log_text(level, "%s", text);
    return;
  }
  Py_INCREF(function);
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyObject* result = nullptr;
  if (PyObject* message = script::latin1_str(text)) {
    result = PyObject_CallFunction(function, "(iN)", static_cast<int>(level), message);
  }
  if (!result) PyErr_WriteUnraisable(function);
  Py_XDECREF(result);
  Py_DECREF(function);
  PyErr_Restore(type, value, traceback);
}

// Hands a message to the script function, taking the lock as the thread
// needs; the default handler when there is none or the interpreter ends.
void deliver_message(uint32_t level, const char* format, va_list args) {
  PyThreadState* saved = parked_thread_state();
  if (!script_log_handler.load() || !Py_IsInitialized() || _Py_IsFinalizing()) {
    LogMessage(level, format, args);
    return;
  }
  char text[kLogHookBufferSize];
  vsnprintf(text, sizeof text, format, args);

  if (saved) {
    // Cleared while the lock is held here: a message logged during the call
    // must not try to take the lock a second time.
    PyEval_RestoreThread(saved);
    sthread_setspecific(saved_thread_key, nullptr);
    deliver(level, text);
    sthread_setspecific(saved_thread_key, saved);
    PyEval_SaveThread();
  } else if (PyGILState_Check()) {
    deliver(level, text);
  } else {
    PyGILState_STATE state = PyGILState_Ensure();
    deliver(level, text);
    PyGILState_Release(state);
  }
}

}  // namespace

PyObject* script_log_function() { return script_log_handler.load(); }

void log_hook(uint32_t level, const char* format, va_list args) {
  // Callers report errno after logging; the script must not change it.
  const int saved_errno = errno;
  deliver_message(level, format, args);
  errno = saved_errno;
}

PyObject* sorn_set_log_handler(PyObject*, PyObject* args) {
  int mask;
  PyObject* function;
  if (!PyArg_ParseTuple(args, "iO!:set_log_handler", &mask, &PyFunction_Type, &function)) return nullptr;
  Py_INCREF(function);
  PyObject* previous = script_log_handler.exchange(function);
  log_mask.store(static_cast<uint32_t>(mask));
  log_handler.store(&log_hook);
  Py_XDECREF(previous);
  Py_RETURN_NONE;
}

}  // namespace vorlane::engine
