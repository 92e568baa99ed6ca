#include "store/sthread.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vorlane {

struct sthread_mutex_impl {
  pthread_mutex_t m;
};

namespace {

[[noreturn]] void assertion_failed(const char* condition) {
  fprintf(stderr, "Assertion failed: %s\n", condition);
  fflush(stderr);
  abort();
}

struct CleanupSlot {
  int top = 0;
  sthread_mutex mutex = nullptr;
  // Read without the slot mutex by threads looking for a free slot.
  std::atomic<uint32_t> tid{0};
  sthread_cleanup_fn fn[kSthreadStackDepth] = {};
  void* arg[kSthreadStackDepth] = {};
};

CleanupSlot sttm[kSthreadSlots];
pthread_key_t layer_key;
std::once_flag init_once;

// The kernel thread id, asked once per thread: the cleanup stack compares it
// on every push and pop. A forked child's only thread is the forking one, so
// the child handler drops its cached (parent's) id.
thread_local uint32_t cached_tid = 0;

void forget_cached_tid() { cached_tid = 0; }

uint32_t current_tid() {
  if (cached_tid == 0) {
    static std::once_flag atfork_once;
    std::call_once(atfork_once, [] { pthread_atfork(nullptr, nullptr, forget_cached_tid); });
    cached_tid = static_cast<uint32_t>(syscall(SYS_gettid));
  }
  return cached_tid;
}

// The logical priority level per thread: -2 lowest, 0 normal, 2 highest.
thread_local int thread_priority = 0;

}  // namespace

void sthread_init() {
  std::call_once(init_once, [] {
    if (pthread_key_create(&layer_key, nullptr) != 0) assertion_failed("layer key");
    for (CleanupSlot& s : sttm) sthread_mutex_init(&s.mutex, nullptr);
  });
}

sthread_t sthread_self() { return pthread_self(); }

int sthread_setprio(sthread_t thread, int level) {
  int prio = level < 5 ? -2 : level < 15 ? 0 : 2;
  // Only the calling thread's handle is meaningful; others are ignored.
  if (pthread_equal(thread, pthread_self())) {
    thread_priority = prio;
    int nice_value = prio == -2 ? 10 : prio == 2 ? -5 : 0;
    setpriority(PRIO_PROCESS, static_cast<id_t>(current_tid()), nice_value);  // best effort
  }
  return 0;
}

int sthread_getprio(sthread_t thread) {
  if (pthread_equal(thread, pthread_self())) return thread_priority;
  return 0;
}

int sthread_key_create(sthread_key* key, void (*destructor)(void*)) {
  if (destructor != nullptr) assertion_failed("destructor == NULL");
  pthread_key_t k;
  if (pthread_key_create(&k, nullptr) != 0) {
    *key = -1;
    return 11;
  }
  *key = static_cast<sthread_key>(k);
  return 0;
}

int sthread_key_delete(sthread_key key) {
  if (key < 0) return 22;
  return pthread_key_delete(static_cast<pthread_key_t>(key)) == 0 ? 0 : 22;
}

int sthread_setspecific(sthread_key key, const void* value) {
  if (key < 0) return 22;
  return pthread_setspecific(static_cast<pthread_key_t>(key), value) == 0 ? 0 : 22;
}

void* sthread_getspecific(sthread_key key) {
  if (key < 0) return nullptr;
  return pthread_getspecific(static_cast<pthread_key_t>(key));
}

int sthread_mutex_init(sthread_mutex* mutex, const void*) {
  auto* impl = new (std::nothrow) sthread_mutex_impl;
  *mutex = nullptr;
  if (!impl) return 0;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  if (pthread_mutex_init(&impl->m, &attr) != 0) {
    delete impl;
    impl = nullptr;
  }
  pthread_mutexattr_destroy(&attr);
  *mutex = impl;
  return 0;  // a failed creation shows as 22 from later waits
}

int sthread_mutex_lock(sthread_mutex* mutex) {
  if (!mutex || !*mutex) return 22;
  int r = pthread_mutex_lock(&(*mutex)->m);
  if (r == EOWNERDEAD) {
    pthread_mutex_consistent(&(*mutex)->m);
    return 0;
  }
  return r == 0 ? 0 : 22;
}

int sthread_mutex_unlock(sthread_mutex* mutex) {
  if (!mutex || !*mutex) return 22;
  return pthread_mutex_unlock(&(*mutex)->m) == 0 ? 0 : 22;
}

int sthread_mutex_destroy(sthread_mutex* mutex) {
  if (mutex && *mutex) {
    pthread_mutex_destroy(&(*mutex)->m);
    delete *mutex;
    *mutex = nullptr;
  }
  return 0;
}

void sthread_unlock_cleanup(void* mutex) {
  sthread_mutex_unlock(static_cast<sthread_mutex*>(mutex));
}

void sthread_cleanup_push(sthread_cleanup_fn fn, void* arg) {
  sthread_init();
  uint32_t tid = current_tid();
  uintptr_t v = reinterpret_cast<uintptr_t>(pthread_getspecific(layer_key));
  if (v >= 1 && sttm[v - 1].tid.load(std::memory_order_acquire) == tid) {
    CleanupSlot& s = sttm[v - 1];
    if (s.top >= kSthreadStackDepth) assertion_failed("_sttm[i].top <= 64");
    s.fn[s.top] = fn;
    s.arg[s.top] = arg;
    ++s.top;
    return;
  }
  for (;;) {
    for (int i = 0; i < kSthreadSlots; ++i) {
      CleanupSlot& s = sttm[i];
      if (s.tid.load(std::memory_order_acquire) != 0) continue;
      sthread_mutex_lock(&s.mutex);
      bool claimed = false;
      if (s.tid.load(std::memory_order_acquire) == 0) {
        s.fn[0] = fn;
        s.arg[0] = arg;
        s.top = 1;
        s.tid.store(tid, std::memory_order_release);
        if (pthread_setspecific(layer_key, reinterpret_cast<void*>(static_cast<uintptr_t>(i) + 1)) != 0)
          assertion_failed("sthread_setspecific");
        claimed = true;
      }
      sthread_mutex_unlock(&s.mutex);
      if (claimed) return;
    }
    // Every slot is held by another thread: wait for one to free.
    sched_yield();
  }
}

void sthread_cleanup_pop(int execute) {
  sthread_init();
  uintptr_t v = reinterpret_cast<uintptr_t>(pthread_getspecific(layer_key));
  if (v == 0) return;
  CleanupSlot& s = sttm[v - 1];
  if (s.tid.load(std::memory_order_acquire) != current_tid()) assertion_failed("_sttm[i].tid == tid");
  if (s.top <= 0) assertion_failed("top > 0");
  if (execute) s.fn[s.top - 1](s.arg[s.top - 1]);
  --s.top;
  if (s.top == 0) s.tid.store(0, std::memory_order_release);
}

int sthread_owned_slot() {
  sthread_init();
  uintptr_t v = reinterpret_cast<uintptr_t>(pthread_getspecific(layer_key));
  if (v == 0 || sttm[v - 1].tid.load() != current_tid()) return -1;
  return static_cast<int>(v - 1);
}

int sthread_stack_depth() {
  int slot = sthread_owned_slot();
  return slot < 0 ? 0 : sttm[slot].top;
}

}  // namespace vorlane
