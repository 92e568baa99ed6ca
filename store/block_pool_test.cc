#include "store/block_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace vorlane {
namespace {

TEST(BlockPool, KeepsAtMostItsFigureAndHandsOutTheLatestFirst) {
  block_pool pool(10000, 2);
  bool fresh = false;
  auto* a = static_cast<unsigned char*>(block_pool_take(&pool, &fresh));
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(fresh);
  for (size_t i = 0; i < pool.bytes; i += 331) EXPECT_EQ(a[i], 0) << "a fresh block is zero-filled";
  void* b = block_pool_take(&pool);
  void* c = block_pool_take(&pool);
  memset(a, 0x5A, pool.bytes);
  block_pool_give(&pool, a);
  block_pool_give(&pool, b);
  block_pool_give(&pool, c);  // the pool is full: released
  EXPECT_EQ(block_pool_count(&pool), 2);

  EXPECT_EQ(block_pool_take(&pool, &fresh), b);
  EXPECT_FALSE(fresh);
  auto* again = static_cast<unsigned char*>(block_pool_take(&pool, &fresh));
  EXPECT_EQ(again, a);
  EXPECT_FALSE(fresh);
  EXPECT_EQ(again[pool.bytes - 1], 0x5A) << "a pooled block keeps what its last user left";
  EXPECT_EQ(block_pool_count(&pool), 0);
  void* d = block_pool_take(&pool, &fresh);
  EXPECT_TRUE(fresh);
  block_pool_give(&pool, nullptr);
  EXPECT_EQ(block_pool_count(&pool), 0);
  for (void* p : {again, static_cast<unsigned char*>(b), static_cast<unsigned char*>(d)})
    block_pool_give(&pool, p);
  EXPECT_EQ(block_pool_count(&pool), 2);

  block_pool none(4096, 0);
  void* e = block_pool_take(&none);
  block_pool_give(&none, e);
  EXPECT_EQ(block_pool_count(&none), 0);
  block_pool capped(4096, kBlockPoolMax + 5);
  EXPECT_EQ(capped.keep, kBlockPoolMax);
}

// Threads take and give blocks of one pool at once: no block is held by two
// threads at a time (each marks the block it holds and finds its mark when
// it gives it back), and the pool never holds more than its figure.
TEST(BlockPool, ThreadsShareOnePool) {
  block_pool pool(64 * 1024, 3);
  constexpr int kThreads = 8, kRounds = 300;
  std::atomic<int> clashes{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        auto* p = static_cast<uint32_t*>(block_pool_take(&pool));
        if (!p) {
          clashes++;
          return;
        }
        const uint32_t mark = static_cast<uint32_t>(t * kRounds + r + 1);
        const size_t words = pool.bytes / 4;
        for (size_t i = 0; i < words; i += 1024) p[i] = mark;
        std::this_thread::yield();
        for (size_t i = 0; i < words; i += 1024)
          if (p[i] != mark) clashes++;
        block_pool_give(&pool, p);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(clashes.load(), 0);
  EXPECT_LE(block_pool_count(&pool), 3);
}

}  // namespace
}  // namespace vorlane
