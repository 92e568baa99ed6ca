// Holds a thread-layer mutex for a scope, with its release pushed on the
// calling thread's cleanup stack (so a thread cancelled inside the scope
// releases it too).
#pragma once

#include "store/sthread.h"

namespace vorlane {

class CleanupLock {
 public:
  explicit CleanupLock(sthread_mutex* mutex) : mutex_(mutex) {
    sthread_mutex_lock(mutex_);
    sthread_cleanup_push(&sthread_unlock_cleanup, mutex_);
  }
  ~CleanupLock() { sthread_cleanup_pop(1); }
  CleanupLock(const CleanupLock&) = delete;
  CleanupLock& operator=(const CleanupLock&) = delete;

 private:
  sthread_mutex* mutex_;
};

}  // namespace vorlane
