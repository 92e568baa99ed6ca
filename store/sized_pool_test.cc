#include "store/sized_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

#include "store/alloc.h"

namespace vorlane {
namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

TEST(SizedPool, HandsOutTheSmallestKeptBlockLargeEnough) {
  sized_pool pool(3, 1 << 20, false);
  bool fresh = false;
  auto* small = static_cast<unsigned char*>(sized_pool_take(&pool, 3 * kPage - 100, &fresh));
  ASSERT_NE(small, nullptr);
  EXPECT_TRUE(fresh);
  EXPECT_EQ(valloc_size(small), 3 * kPage);
  for (size_t i = 0; i < 3 * kPage; i += 331) EXPECT_EQ(small[i], 0) << "a fresh block is zero-filled";
  void* large = sized_pool_take(&pool, 70 * kPage);
  void* middle = sized_pool_take(&pool, 20 * kPage);
  memset(small, 0x5A, 3 * kPage);
  for (void* b : {static_cast<void*>(small), large, middle}) sized_pool_give(&pool, b);
  EXPECT_EQ(sized_pool_count(&pool), 3);

  EXPECT_EQ(sized_pool_take(&pool, 10 * kPage, &fresh), middle);
  EXPECT_FALSE(fresh);
  auto* again = static_cast<unsigned char*>(sized_pool_take(&pool, 3 * kPage, &fresh));
  EXPECT_EQ(again, small);
  EXPECT_FALSE(fresh);
  EXPECT_EQ(again[3 * kPage - 1], 0x5A) << "a pooled block keeps what its last user left";
  void* larger = sized_pool_take(&pool, 90 * kPage + 1, &fresh);
  EXPECT_TRUE(fresh) << "no kept block is large enough";
  EXPECT_EQ(valloc_size(larger), 91 * kPage);
  EXPECT_EQ(sized_pool_count(&pool), 1);
  EXPECT_EQ(sized_pool_take(&pool, 1, &fresh), large);
  EXPECT_FALSE(fresh);
  EXPECT_EQ(sized_pool_count(&pool), 0);

  for (void* b : {static_cast<void*>(again), middle, large, larger}) sized_pool_give(&pool, b);
  sized_pool_give(&pool, nullptr);
  EXPECT_EQ(sized_pool_count(&pool), 3);
  EXPECT_EQ(valloc_size(again), 0u) << "the block kept longest was released for the last one";
  EXPECT_EQ(sized_pool_take(&pool, 1), middle);
  sized_pool_give(&pool, middle);
}

// An exact pool hands its kept block of 3 pages only to requests of 3 pages.
TEST(SizedPool, ExactPoolMatchesWholePages) {
  const struct {
    size_t bytes;
    bool pooled;
  } cases[] = {{3 * kPage, true}, {2 * kPage + 1, true}, {3 * kPage - 100, true},
               {2 * kPage, false}, {kPage, false},    {3 * kPage + 1, false}};
  for (const auto& c : cases) {
    sized_pool pool(2, 1 << 20, true);
    void* kept = sized_pool_take(&pool, 3 * kPage);
    sized_pool_give(&pool, kept);
    bool fresh = false;
    void* got = sized_pool_take(&pool, c.bytes, &fresh);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got == kept, c.pooled) << c.bytes;
    EXPECT_EQ(fresh, !c.pooled) << c.bytes;
    EXPECT_EQ(sized_pool_count(&pool), c.pooled ? 0 : 1) << c.bytes;
    sized_pool_give(&pool, got);
  }
}

TEST(SizedPool, ReleasesWhatItMayNotKeep) {
  sized_pool capped(1, 16 * kPage, false);
  void* big = sized_pool_take(&capped, 16 * kPage + 1);
  sized_pool_give(&capped, big);
  EXPECT_EQ(sized_pool_count(&capped), 0) << "larger than the pool keeps";
  EXPECT_EQ(valloc_size(big), 0u) << "released";
  void* fits = sized_pool_take(&capped, 16 * kPage);
  sized_pool_give(&capped, fits);
  EXPECT_EQ(sized_pool_count(&capped), 1);

  sized_pool none(0, 1 << 20, false);
  void* e = sized_pool_take(&none, kPage);
  sized_pool_give(&none, e);
  EXPECT_EQ(sized_pool_count(&none), 0);
  EXPECT_EQ(valloc_size(e), 0u);
  EXPECT_EQ(sized_pool(kBlockPoolMax + 5, kPage, false).keep, kBlockPoolMax);
}

// Threads take and give blocks of several sizes from one pool at once: no
// block is held by two threads at a time (each marks the block it holds and
// finds its mark when it gives it back), every block is at least the size
// asked for, and the pool never holds more than its figure.
TEST(SizedPool, ThreadsShareOnePool) {
  for (bool exact : {false, true}) {
    sized_pool pool(3, 1 << 20, exact);
    constexpr int kThreads = 8, kRounds = 300;
    std::atomic<int> clashes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int r = 0; r < kRounds; ++r) {
          const size_t bytes = size_t{16384} << ((t + r) % 4);
          auto* p = static_cast<uint32_t*>(sized_pool_take(&pool, bytes));
          if (!p || valloc_size(p) < bytes) {
            clashes++;
            return;
          }
          const uint32_t mark = static_cast<uint32_t>(t * kRounds + r + 1);
          const size_t words = bytes / 4;
          for (size_t i = 0; i < words; i += 1024) p[i] = mark;
          std::this_thread::yield();
          for (size_t i = 0; i < words; i += 1024)
            if (p[i] != mark) clashes++;
          sized_pool_give(&pool, p);
        }
      });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(clashes.load(), 0) << exact;
    EXPECT_LE(sized_pool_count(&pool), 3) << exact;
  }
}

}  // namespace
}  // namespace vorlane
