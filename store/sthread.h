// Thread layer: recursive mutexes, thread keys, per-thread cleanup stacks and
// thread priorities, in the manner of POSIX threads.
//
// Results are errno values: 0 success, 11 (EAGAIN) resource exhausted, 22
// (EINVAL) the system call failed. Mutexes are recursive and robust: a mutex
// whose owner ended while holding it is acquired by the next locker (0).
#pragma once

#include <cstdint>
#include <pthread.h>

namespace vorlane {

struct sthread_mutex_impl;
using sthread_mutex = sthread_mutex_impl*;   // null after destroy
using sthread_key = long;                    // -1 when creation failed
using sthread_t = pthread_t;
using sthread_cleanup_fn = void (*)(void*);

inline constexpr int kSthreadSlots = 256;
inline constexpr int kSthreadStackDepth = 64;

void sthread_init();
sthread_t sthread_self();
int sthread_setprio(sthread_t thread, int level);
int sthread_getprio(sthread_t thread);

int sthread_key_create(sthread_key* key, void (*destructor)(void*));
int sthread_key_delete(sthread_key key);
int sthread_setspecific(sthread_key key, const void* value);
void* sthread_getspecific(sthread_key key);

int sthread_mutex_init(sthread_mutex* mutex, const void* attributes);
int sthread_mutex_lock(sthread_mutex* mutex);
int sthread_mutex_unlock(sthread_mutex* mutex);
int sthread_mutex_destroy(sthread_mutex* mutex);

// Cleanup stacks: at most 64 entries per thread, 256 threads at a time. A push
// while all 256 slots are held by other threads waits for a slot to free.
void sthread_cleanup_push(sthread_cleanup_fn fn, void* arg);
void sthread_cleanup_pop(int execute);

// Unlocks the mutex an entry was pushed with (the usual cleanup function).
void sthread_unlock_cleanup(void* mutex);

// Observers for tests: the slot the calling thread owns (-1 when none) and
// that slot's depth.
int sthread_owned_slot();
int sthread_stack_depth();

}  // namespace vorlane
