#include "hashdb/hdb_pool.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "hashdb/testing/hdb_test_support.h"
#include "platform/testing/test_root.h"

namespace vorlane::hashdb {
namespace {

constexpr uint32_t kPage = 64;

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = root_.file("pool.db");
    std::vector<uint8_t> bytes(3 * kPage);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / kPage + 1);
    testing::write_file(path_, bytes);
    fd_ = ::open(path_.c_str(), O_RDWR);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override { ::close(fd_); }

  platform::TestRoot root_;
  std::string path_;
  int fd_ = -1;
};

// A get through a descriptor open only for writing fails with 1105 and the
// system's errno, and leaves no buffer and no read behind.
void expect_failed_read(const std::string& path, uint32_t limit, uint32_t page_number) {
  int wo = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(wo, 0);
  hdb_pool* pool = hdb_pool_open(wo, kPage, limit);
  ASSERT_NE(pool, nullptr);
  errno = 1000000;
  EXPECT_EQ(hdb_pool_get(pool, page_number, 0), nullptr);
  EXPECT_EQ(errno, 1105000 + EBADF);
  EXPECT_EQ(pool->buffer_count, 0u);
  EXPECT_EQ(pool->reads, 0u);
  hdb_pool_close(pool);
  ::close(wo);
}

bool on_chain(hdb_pool* pool, uint32_t chain, uint32_t page_number) {
  for (hdb_buffer* b = pool->chains[chain]; b; b = b->hash_next)
    if (b->page_number == page_number) return true;
  return false;
}

TEST_F(PoolTest, ChainsAndZeroPagesPastTheEnd) {
  hdb_pool* pool = hdb_pool_open(fd_, kPage, 16);
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->page_count, 3u);
  uint8_t* p1 = hdb_pool_get(pool, 1, 0);
  uint8_t* p129 = hdb_pool_get(pool, 129, 0);
  uint8_t* p0 = hdb_pool_get(pool, 0, 0);
  ASSERT_TRUE(p1 && p129 && p0);
  EXPECT_TRUE(on_chain(pool, 0, 1));
  EXPECT_TRUE(on_chain(pool, 0, 129));
  EXPECT_TRUE(on_chain(pool, 127, 0));
  EXPECT_EQ(p1[0], 2);
  for (uint32_t i = 0; i < kPage; ++i) ASSERT_EQ(p129[i], 0);
  hdb_pool_close(pool);
}

// A lookup walks about one buffer whatever the pool's size: a pool filled to
// its limit and then read at random finds every page cached, with the chain
// steps per lookup bounded by a small constant. (With a fixed number of
// chains a 65536-buffer pool would walk hundreds per lookup.)
TEST_F(PoolTest, LookupStepsStayBoundedAsThePoolGrows) {
  for (uint32_t limit : {16u, 256u, 4096u, 65536u}) {
    hdb_pool* pool = hdb_pool_open(fd_, kPage, limit);
    ASSERT_NE(pool, nullptr);
    for (uint32_t p = 0; p < limit; ++p) {
      uint8_t* page = hdb_pool_get(pool, p, 0);
      ASSERT_NE(page, nullptr);
      hdb_pool_put(pool, page, 0);
    }
    uint64_t reads = pool->reads;
    pool->lookups = pool->lookup_steps = 0;
    uint32_t x = 12345;
    for (uint32_t i = 0; i < 4 * limit; ++i) {
      x = x * 1103515245u + 12345u;
      uint8_t* page = hdb_pool_get(pool, (x >> 8) % limit, 0);
      ASSERT_NE(page, nullptr);
      hdb_pool_put(pool, page, 0);
    }
    EXPECT_EQ(pool->reads, reads) << limit << " buffers: every page stays cached";
    EXPECT_LE(pool->lookup_steps, 2 * pool->lookups) << limit << " buffers";
    hdb_pool_close(pool);
  }
}

TEST_F(PoolTest, OneBufferPerPageAndPinsAreCounted) {
  hdb_pool* pool = hdb_pool_open(fd_, kPage, 1);
  uint8_t* a = hdb_pool_get(pool, 0, 0);
  // The only buffer is pinned: a second get allocates beyond the limit.
  uint8_t* b = hdb_pool_get(pool, 1, 0);
  EXPECT_EQ(pool->buffer_count, 2u);
  // A page released clean is found again without reading the file.
  hdb_pool_put(pool, b, 0);
  uint64_t reads = pool->reads;
  EXPECT_EQ(hdb_pool_get(pool, 1, 0), b);
  EXPECT_EQ(pool->reads, reads);
  // Two pins: one release leaves it pinned, so it is not reused.
  EXPECT_EQ(hdb_pool_get(pool, 0, 0), a);
  hdb_pool_put(pool, a, 0);
  hdb_pool_put(pool, b, 0);
  uint8_t* c = hdb_pool_get(pool, 2, 0);  // reuses b's buffer, never a's
  EXPECT_EQ(c, b);
  EXPECT_EQ(hdb_pool_find(pool, 0)->page, a);
  EXPECT_EQ(hdb_pool_find(pool, 1), nullptr);
  // Deleting a page someone else still pins keeps it.
  EXPECT_EQ(hdb_pool_get(pool, 0, 0), a);  // two pins now
  EXPECT_EQ(hdb_pool_delete(pool, a), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(hdb_pool_pins(a), 1u);
  EXPECT_EQ(hdb_pool_delete(pool, a), 0);
  hdb_pool_close(pool);
}

// What a user derived from a page (its checked mark, its memo) holds until
// the page may change: a clean release keeps it, a dirty release, a read from
// the file or a new page at that number drops it.
TEST_F(PoolTest, DerivedMarksLastUntilThePageChanges) {
  hdb_pool* pool = hdb_pool_open(fd_, kPage, 2);
  uint8_t* a = hdb_pool_get(pool, 1, 0);
  uint32_t size = 99;
  EXPECT_FALSE(hdb_pool_checked(a));
  EXPECT_EQ(hdb_pool_memo(a, &size), nullptr);
  auto derive = [&](uint8_t* page, uint32_t n) {
    hdb_pool_set_checked(page);
    uint8_t* memo = hdb_pool_memo_area(page, n);
    ASSERT_NE(memo, nullptr);
    std::memset(memo, 0xAB, n);
    hdb_pool_set_memo(page, n);
  };
  derive(a, 40);
  hdb_pool_put(pool, a, 0);
  ASSERT_EQ(hdb_pool_get(pool, 1, 0), a);
  EXPECT_TRUE(hdb_pool_checked(a));
  const uint8_t* memo = hdb_pool_memo(a, &size);
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(size, 40u);
  EXPECT_EQ(memo[39], 0xAB);
  hdb_pool_put(pool, a, kPoolDirty);
  EXPECT_FALSE(hdb_pool_checked(a));
  EXPECT_EQ(hdb_pool_memo(a, &size), nullptr);

  // A larger memo grows the area; a new page at the number drops the marks.
  ASSERT_EQ(hdb_pool_get(pool, 1, 0), a);
  derive(a, 300);
  ASSERT_NE(hdb_pool_memo(a, &size), nullptr);
  EXPECT_EQ(size, 300u);
  uint32_t number = 1;
  ASSERT_EQ(hdb_pool_new(pool, &number, kPoolRequest), a);
  EXPECT_FALSE(hdb_pool_checked(a));
  EXPECT_EQ(hdb_pool_memo(a, &size), nullptr);
  hdb_pool_put(pool, a, 0);
  hdb_pool_put(pool, a, 0);

  // A reused buffer holds another page: read from the file, nothing derived.
  uint8_t* b = hdb_pool_get(pool, 2, 0);
  derive(b, 8);
  hdb_pool_put(pool, b, 0);
  uint8_t* c = hdb_pool_get(pool, 0, kPoolNoPin);
  uint8_t* d = hdb_pool_get(pool, 3, kPoolNoPin);
  for (uint8_t* p : {c, d}) {
    EXPECT_FALSE(hdb_pool_checked(p));
    EXPECT_EQ(hdb_pool_memo(p, &size), nullptr);
  }
  hdb_pool_close(pool);
}

// A page used at every other get stays cached in a full pool however many
// other pages pass through it, and the pages that pass are reused oldest
// first: the pool reads the busy page once and each other page once.
TEST_F(PoolTest, ABusyPageIsNeverReused) {
  for (uint32_t limit : {2u, 3u, 8u, 64u}) {
    hdb_pool* pool = hdb_pool_open(fd_, kPage, limit);
    for (uint32_t p = 1; p <= 500; ++p) {
      ASSERT_NE(hdb_pool_get(pool, 0, kPoolNoPin), nullptr);
      ASSERT_NE(hdb_pool_get(pool, p, kPoolNoPin), nullptr);
    }
    EXPECT_EQ(pool->reads, 501u) << limit;
    EXPECT_NE(hdb_pool_find(pool, 0), nullptr) << limit;
    EXPECT_LE(pool->buffer_count, limit);
    // The most recent pages are still cached: none of the last limit/2.
    for (uint32_t p = 500; p > 500 - (limit - 1) / 2; --p) EXPECT_NE(hdb_pool_find(pool, p), nullptr) << p;
    hdb_pool_close(pool);
  }
}

TEST_F(PoolTest, NewPagesAreZeroedAndGrowTheCount) {
  hdb_pool* pool = hdb_pool_open(fd_, kPage, 4);
  uint32_t n = 9;
  uint8_t* p = hdb_pool_new(pool, &n, kPoolRequest);
  ASSERT_NE(p, nullptr);
  for (uint32_t i = 0; i < kPage; ++i) ASSERT_EQ(p[i], 0);
  EXPECT_EQ(pool->page_count, 10u);
  n = 4;
  ASSERT_NE(hdb_pool_new(pool, &n, kPoolRequest), nullptr);
  EXPECT_EQ(pool->page_count, 10u);  // max(count, p + 1)
  n = 0;
  ASSERT_NE(hdb_pool_new(pool, &n, 0), nullptr);
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(pool->page_count, 11u);
  // An existing page made new again comes back zeroed in the same buffer.
  uint8_t* one = hdb_pool_get(pool, 1, 0);
  n = 1;
  EXPECT_EQ(hdb_pool_new(pool, &n, kPoolRequest), one);
  EXPECT_EQ(one[0], 0);
  // Past the 2 GB limit.
  errno = 1000000;
  n = 0x7FFFFFFF / kPage;
  EXPECT_EQ(hdb_pool_new(pool, &n, kPoolRequest), nullptr);
  EXPECT_EQ(errno, 1103000);
  hdb_pool_close(pool);
}

TEST_F(PoolTest, DirtyPagesAreWrittenAtSyncAndLostAtClose) {
  hdb_pool* pool = hdb_pool_open(fd_, kPage, 4);
  uint8_t* p = hdb_pool_get(pool, 1, 0);
  std::memset(p, 0xAB, kPage);
  hdb_pool_put(pool, p, kPoolDirty);
  hdb_pool_close(pool);
  EXPECT_EQ(testing::read_file(path_)[kPage], 2);  // lost

  pool = hdb_pool_open(fd_, kPage, 4);
  p = hdb_pool_get(pool, 1, 0);
  std::memset(p, 0xAB, kPage);
  hdb_pool_put(pool, p, kPoolDirty);
  EXPECT_EQ(hdb_pool_find(pool, 1)->page, p);  // a dirty page is found
  EXPECT_EQ(hdb_pool_sync(pool), 0);
  hdb_pool_close(pool);
  EXPECT_EQ(testing::read_file(path_)[kPage], 0xAB);
}

void invert_hook(void*, uint32_t, uint8_t* page) {
  for (uint32_t i = 0; i < kPage; ++i) page[i] = static_cast<uint8_t>(~page[i]);
}

TEST_F(PoolTest, PageOutConvertsACopy) {
  hdb_pool* pool = hdb_pool_open(fd_, kPage, 4);
  hdb_pool_set_hooks(pool, nullptr, invert_hook, nullptr);
  uint8_t* p = hdb_pool_get(pool, 2, 0);
  p[0] = 0x11;
  hdb_pool_put(pool, p, kPoolDirty);
  ASSERT_EQ(hdb_pool_sync(pool), 0);
  EXPECT_EQ(p[0], 0x11);  // the cached buffer keeps the machine form
  EXPECT_EQ(testing::read_file(path_)[2 * kPage], 0xEE);
  hdb_pool_close(pool);
}

TEST_F(PoolTest, Failures) {
  // Not a regular file.
  int dir = ::open(root_.path().c_str(), O_RDONLY | O_DIRECTORY);
  errno = 1000000;
  EXPECT_EQ(hdb_pool_open(dir, kPage, 4), nullptr);
  EXPECT_EQ(errno, 1101029);
  ::close(dir);

  // A file ending inside a page: a partial read is an error, not zeros.
  testing::write_file(path_, std::vector<uint8_t>(kPage + 10, 7));
  hdb_pool* pool = hdb_pool_open(fd_, kPage, 4);
  errno = 1000000;
  EXPECT_EQ(hdb_pool_get(pool, 1, 0), nullptr);
  EXPECT_EQ(errno, 1105022);
  hdb_pool_close(pool);

  // A failed read is an error (1105 with the system's errno).
  expect_failed_read(path_, 4, 0);

  // A failed write.
  int ro = ::open(path_.c_str(), O_RDONLY);
  pool = hdb_pool_open(ro, kPage, 4);
  uint8_t* p = hdb_pool_get(pool, 0, 0);
  hdb_pool_put(pool, p, kPoolDirty);
  errno = 1000000;
  EXPECT_EQ(hdb_pool_sync(pool), -1);
  EXPECT_EQ(errno, 1108000 + EBADF);
  hdb_pool_close(pool);
  ::close(ro);
}

// A pool that holds the whole file reads a missing page together with the
// uncached pages after it, up to kPoolReadRun in one call: each comes in
// with its own contents, clean and unpinned, the run stops at a cached page
// and at the file's end, and a pool smaller than the file reads one page at
// a time. A failed read brings in nothing.
TEST_F(PoolTest, ReadsRunsOfPagesWhenTheFileFits) {
  constexpr uint32_t kPages = 20;
  std::vector<uint8_t> bytes(kPages * kPage);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / kPage + 1);
  testing::write_file(path_, bytes);
  auto holds_own_page = [](hdb_pool* pool, uint32_t p) {
    hdb_buffer* b = hdb_pool_find(pool, p);
    if (!b || b->pins != 0 || (b->flags & kBufferDirty)) return false;
    for (uint32_t i = 0; i < kPage; ++i)
      if (b->page[i] != p + 1) return false;
    return true;
  };

  hdb_pool* pool = hdb_pool_open(fd_, kPage, 64);
  ASSERT_NE(pool, nullptr);
  uint8_t* five = hdb_pool_get(pool, 5, 0);
  ASSERT_NE(five, nullptr);
  EXPECT_EQ(five[0], 6);
  EXPECT_EQ(hdb_pool_pins(five), 1u);
  EXPECT_EQ(pool->reads, kPoolReadRun);
  for (uint32_t p = 6; p < 5 + kPoolReadRun; ++p) EXPECT_TRUE(holds_own_page(pool, p)) << p;
  EXPECT_EQ(hdb_pool_find(pool, 5 + kPoolReadRun), nullptr);
  hdb_pool_put(pool, five, 0);
  // Page 4's run ends at page 5, which is cached.
  uint64_t reads = pool->reads;
  ASSERT_NE(hdb_pool_get(pool, 4, kPoolNoPin), nullptr);
  EXPECT_EQ(pool->reads, reads + 1);
  // The run of page 17 ends at the file's end.
  reads = pool->reads;
  ASSERT_NE(hdb_pool_get(pool, 17, kPoolNoPin), nullptr);
  EXPECT_EQ(pool->reads, reads + 3);
  EXPECT_TRUE(holds_own_page(pool, 19));
  // Pages past the end still read as zeros.
  uint8_t* past = hdb_pool_get(pool, kPages + 2, kPoolNoPin);
  ASSERT_NE(past, nullptr);
  EXPECT_EQ(past[0], 0);
  EXPECT_EQ(pool->buffer_count, 13u);
  hdb_pool_close(pool);

  // A pool smaller than the file reads only what it is asked for.
  pool = hdb_pool_open(fd_, kPage, kPages - 1);
  ASSERT_NE(hdb_pool_get(pool, 5, kPoolNoPin), nullptr);
  EXPECT_EQ(pool->reads, 1u);
  EXPECT_EQ(pool->buffer_count, 1u);
  hdb_pool_close(pool);

  // A failed read is reported and leaves no buffer behind.
  expect_failed_read(path_, 64, 2);
}

}  // namespace
}  // namespace vorlane::hashdb
