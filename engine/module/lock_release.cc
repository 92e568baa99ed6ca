#include "engine/module/lock_release.h"

#include "engine/module/sorn_module.h"

namespace vorlane::engine {

InterpreterRelease::InterpreterRelease() : previous_(sthread_getspecific(saved_thread_key)) {
  state_ = PyEval_SaveThread();
  sthread_setspecific(saved_thread_key, state_);
}

InterpreterRelease::~InterpreterRelease() {
  sthread_setspecific(saved_thread_key, previous_);
  PyEval_RestoreThread(state_);
}

PyThreadState* parked_thread_state() {
  return static_cast<PyThreadState*>(sthread_getspecific(saved_thread_key));
}

}  // namespace vorlane::engine
