#include "store/sthread.h"

#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

namespace vorlane {
namespace {

TEST(SthreadMutex, ResultsAndRecursion) {
  sthread_mutex m;
  EXPECT_EQ(sthread_mutex_init(&m, nullptr), 0);
  EXPECT_EQ(sthread_mutex_lock(&m), 0);
  EXPECT_EQ(sthread_mutex_lock(&m), 0);  // recursive
  EXPECT_EQ(sthread_mutex_unlock(&m), 0);
  EXPECT_EQ(sthread_mutex_unlock(&m), 0);
  EXPECT_EQ(sthread_mutex_destroy(&m), 0);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(sthread_mutex_lock(&m), 22);
  EXPECT_EQ(sthread_mutex_unlock(&m), 22);
}

// ThreadSanitizer reports the misuse these cases make on purpose.
#if !defined(__SANITIZE_THREAD__)
TEST(SthreadMutex, UnlockByOtherThreadOrWhenFreeIs22) {
  sthread_mutex m;
  sthread_mutex_init(&m, nullptr);
  EXPECT_EQ(sthread_mutex_lock(&m), 0);
  int other = -1;
  std::thread([&] { other = sthread_mutex_unlock(&m); }).join();
  EXPECT_EQ(other, 22);
  EXPECT_EQ(sthread_mutex_unlock(&m), 0);
  EXPECT_EQ(sthread_mutex_unlock(&m), 22);
  sthread_mutex_destroy(&m);
}
#endif

TEST(SthreadMutex, OwnerThatDiedIsRecovered) {
  sthread_mutex m;
  sthread_mutex_init(&m, nullptr);
  std::thread([&] { EXPECT_EQ(sthread_mutex_lock(&m), 0); }).join();  // ends holding it
  EXPECT_EQ(sthread_mutex_lock(&m), 0);
  EXPECT_EQ(sthread_mutex_unlock(&m), 0);
  EXPECT_EQ(sthread_mutex_lock(&m), 0);  // consistent again
  EXPECT_EQ(sthread_mutex_unlock(&m), 0);
  sthread_mutex_destroy(&m);
}

TEST(SthreadMutex, Excludes) {
  sthread_mutex m;
  sthread_mutex_init(&m, nullptr);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        sthread_mutex_lock(&m);
        ++counter;
        sthread_mutex_unlock(&m);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 80000);
  sthread_mutex_destroy(&m);
}

TEST(SthreadKey, PerThreadValues) {
  sthread_key key;
  ASSERT_EQ(sthread_key_create(&key, nullptr), 0);
  EXPECT_EQ(sthread_getspecific(key), nullptr);
  int a = 1, b = 2;
  EXPECT_EQ(sthread_setspecific(key, &a), 0);
  std::thread([&] {
    EXPECT_EQ(sthread_getspecific(key), nullptr);
    sthread_setspecific(key, &b);
    EXPECT_EQ(sthread_getspecific(key), &b);
  }).join();
  EXPECT_EQ(sthread_getspecific(key), &a);
  EXPECT_EQ(sthread_key_delete(key), 0);
  EXPECT_EQ(sthread_setspecific(-1, &a), 22);
}

TEST(SthreadKey, ExhaustionGives11AndMinusOne) {
  std::vector<sthread_key> keys;
  sthread_key key = 0;
  int result = 0;
  for (int i = 0; i < 100000; ++i) {
    result = sthread_key_create(&key, nullptr);
    if (result != 0) break;
    keys.push_back(key);
  }
  EXPECT_EQ(result, 11);
  EXPECT_EQ(key, -1);
  for (sthread_key k : keys) sthread_key_delete(k);
}

TEST(SthreadKeyDeathTest, DestructorIsRefused) {
  sthread_key key;
  EXPECT_DEATH(sthread_key_create(&key, +[](void*) {}), "destructor == NULL");
}

std::vector<int> order;
void record(void* arg) { order.push_back(static_cast<int>(reinterpret_cast<intptr_t>(arg))); }

TEST(SthreadCleanup, PopOrderAndExecuteFlag) {
  order.clear();
  sthread_cleanup_push(record, reinterpret_cast<void*>(1));
  sthread_cleanup_push(record, reinterpret_cast<void*>(2));
  sthread_cleanup_push(record, reinterpret_cast<void*>(3));
  EXPECT_EQ(sthread_stack_depth(), 3);
  sthread_cleanup_pop(0);  // removed without a call
  sthread_cleanup_pop(1);
  sthread_cleanup_pop(1);
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
  EXPECT_EQ(sthread_owned_slot(), -1);  // the slot is free again
}

TEST(SthreadCleanupDeathTest, PopWithoutEntryIsRefused) {
  EXPECT_DEATH(
      {
        sthread_cleanup_push(record, nullptr);
        sthread_cleanup_pop(0);
        sthread_cleanup_pop(0);
      },
      "_sttm\\[i\\].tid == tid");
}

TEST(SthreadCleanup, UnlocksMutexes) {
  sthread_mutex m;
  sthread_mutex_init(&m, nullptr);
  sthread_mutex_lock(&m);
  sthread_cleanup_push(sthread_unlock_cleanup, &m);
  sthread_cleanup_pop(1);
  int r = -1;
  std::thread([&] {
    r = sthread_mutex_lock(&m);
    sthread_mutex_unlock(&m);
  }).join();
  EXPECT_EQ(r, 0);
  sthread_mutex_destroy(&m);
}

TEST(SthreadCleanup, SlotIsReusedByAnotherThread) {
  sthread_cleanup_push(record, nullptr);
  int first = sthread_owned_slot();
  sthread_cleanup_pop(0);
  std::atomic<int> stage{0};
  int other = -2;
  std::thread t([&] {
    sthread_cleanup_push(record, nullptr);
    other = sthread_owned_slot();
    stage = 1;
    while (stage != 2) std::this_thread::yield();
    sthread_cleanup_pop(0);
  });
  while (stage != 1) std::this_thread::yield();
  EXPECT_EQ(other, first);  // the freed slot went to the other thread
  sthread_cleanup_push(record, nullptr);
  EXPECT_GE(sthread_owned_slot(), 0);
  EXPECT_NE(sthread_owned_slot(), first);  // so this push claimed a fresh one
  stage = 2;
  t.join();
  sthread_cleanup_pop(0);
}

TEST(SthreadCleanup, ManyThreadsClaimDistinctSlots) {
  constexpr int kThreads = 64;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<int> slots(kThreads, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        sthread_cleanup_push(record, nullptr);
        sthread_cleanup_push(record, nullptr);
        EXPECT_EQ(sthread_stack_depth(), 2);
        if (round == 0) {
          slots[t] = sthread_owned_slot();
          ++ready;
          while (!go) std::this_thread::yield();
        }
        sthread_cleanup_pop(0);
        sthread_cleanup_pop(0);
        EXPECT_EQ(sthread_owned_slot(), -1);
      }
    });
  while (ready < kThreads) std::this_thread::yield();
  std::set<int> distinct(slots.begin(), slots.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads));
  EXPECT_EQ(distinct.count(-1), 0u);
  go = true;
  for (auto& th : threads) th.join();
}

TEST(SthreadCleanupDeathTest, SixtyFifthEntryIsRefused) {
  EXPECT_DEATH(
      {
        for (int i = 0; i < 65; ++i) sthread_cleanup_push(record, nullptr);
      },
      "_sttm\\[i\\].top <= 64");
}

TEST(SthreadPriority, LevelsMapToThreeClasses) {
  std::thread([] {
    struct Case {
      int level, prio;
    } cases[] = {{4, -2}, {5, 0}, {14, 0}, {15, 2}, {-10, -2}, {100, 2}};
    for (const Case& c : cases) {
      EXPECT_EQ(sthread_setprio(sthread_self(), c.level), 0);
      EXPECT_EQ(sthread_getprio(sthread_self()), c.prio) << c.level;
    }
  }).join();
}

}  // namespace
}  // namespace vorlane
