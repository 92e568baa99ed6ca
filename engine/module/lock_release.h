// Releasing the interpreter lock around engine work.
//
// A lock-releasing sorn method parses its arguments and copies what it needs
// into plain memory with the lock held, then opens an InterpreterRelease
// scope for the engine work, which touches no interpreter object:
//
//   {
//     InterpreterRelease unlocked;
//     result = engine_work(...);
//   }
//   return build_result(result);
//
// While the scope is open the thread's interpreter state is parked under
// saved_thread_key, so that the log hook can take the lock back on this
// thread. On exit the key gets back its previous value, not 0: a log handler
// that itself calls a lock-releasing method must leave the outer method
// parked.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorlane::engine {

class InterpreterRelease {
 public:
  InterpreterRelease();
  ~InterpreterRelease();
  InterpreterRelease(const InterpreterRelease&) = delete;
  InterpreterRelease& operator=(const InterpreterRelease&) = delete;

 private:
  void* previous_;
  PyThreadState* state_;
};

// The interpreter state parked by the calling thread, or null.
PyThreadState* parked_thread_state();

}  // namespace vorlane::engine
