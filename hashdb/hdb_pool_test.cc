#include "hashdb/hdb_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "hashdb/hdb_slab.h"
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

// The pool's links, whole: each buffer on the chain of its page, with its
// back link pointing at the link that points at it; every cached buffer on
// a chain and on the list of use order, each once; spare buffers on no
// chain. Returns "" when all holds, else what is wrong.
std::string check_links(hdb_pool* pool) {
  uint64_t on_chains = 0;
  for (uint32_t i = 0; i < pool->chain_count; ++i) {
    hdb_buffer** link = &pool->chains[i];
    for (hdb_buffer* b = *link; b; link = &b->hash_next, b = b->hash_next) {
      std::string at = "chain " + std::to_string(i) + ", page " + std::to_string(b->page_number) + ": ";
      if (b->hash_pprev != link) return at + "its back link points elsewhere";
      if (hdb_pool_chain_of(pool, b->page_number) != i) return at + "on another page's chain";
      if (++on_chains > pool->buffer_count) return at + "more buffers on chains than the pool holds";
    }
  }
  uint64_t on_list = 0;
  for (hdb_buffer* b = pool->lru.lru_next; b != &pool->lru; b = b->lru_next) {
    if (b->lru_next->lru_prev != b) return "the list of use order is broken";
    if (!b->hash_pprev) return "page " + std::to_string(b->page_number) + " is cached on no chain";
    if (++on_list > pool->buffer_count) return "more buffers on the list than the pool holds";
  }
  if (on_chains != pool->buffer_count || on_list != pool->buffer_count)
    return std::to_string(on_chains) + " on chains, " + std::to_string(on_list) + " listed, " +
           std::to_string(pool->buffer_count) + " held";
  uint64_t spares = 0;
  for (hdb_buffer* b = pool->spare; b; b = b->hash_next) {
    if (b->hash_pprev) return "a spare buffer is still on a chain";
    if (++spares > (uint64_t{1} << 24)) return "the spare list loops";
  }
  return "";
}

// Page contents that tell pages and versions apart in every byte.
uint8_t pattern(uint32_t page_number, uint32_t version, uint32_t i) {
  return static_cast<uint8_t>(page_number * 131 + version * 71 + i * 7 + (i >> 8));
}
void fill(uint8_t* page, uint32_t page_size, uint32_t page_number, uint32_t version) {
  for (uint32_t i = 0; i < page_size; ++i) page[i] = pattern(page_number, version, i);
}
// The first byte that differs, or -1.
int64_t differs(const uint8_t* page, uint32_t page_size, uint32_t page_number, uint32_t version) {
  for (uint32_t i = 0; i < page_size; ++i)
    if (page[i] != pattern(page_number, version, i)) return i;
  return -1;
}
void write_pages(int fd, uint32_t page_size, uint32_t pages) {
  std::vector<uint8_t> page(page_size);
  for (uint32_t p = 0; p < pages; ++p) {
    fill(page.data(), page_size, p, 0);
    ASSERT_EQ(::pwrite(fd, page.data(), page_size, static_cast<off_t>(p) * page_size),
              static_cast<ssize_t>(page_size));
  }
}

// The process's mapped bytes (VmSize).
uint64_t mapped_bytes() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
  return 0;
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

// A pool grows by slabs of buffers doubling from one to 64, then by large
// slabs (a multiple of 2 MB on a mapping of its own, aligned for large
// pages) once it holds as many buffers as one and while the room left below
// its limit holds a whole one, else by 64-buffer slabs. With pages of 4 KB and of 64 KB, every page keeps its own
// bytes through writes to all of them, reuse of the oldest, deletions and
// the reuse of the deleted buffers; closing unmaps the large slabs.
TEST_F(PoolTest, SlabsHoldEveryPageThroughReuseAndDelete) {
  struct Case {
    uint32_t page_size, limit;
    std::vector<uint32_t> slabs;  // buffers of each slab as the pool fills
  };
  const Case cases[] = {
      // 2 MB holds 489 buffers of 4 KB, taken once the pool holds 511;
      // 22 buffers left is too few for one.
      {4096, 2000, {1, 2, 4, 8, 16, 32, 64, 64, 64, 64, 64, 64, 64, 489, 489, 489, 64}},
      // A limit that never has room for a large slab.
      {4096, 300, {1, 2, 4, 8, 16, 32, 64, 64, 64, 64}},
      // 64 buffers of 64 KB need 6 MB, which holds 95, taken at 127.
      {65536, 300, {1, 2, 4, 8, 16, 32, 64, 95, 64, 64}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.page_size) + "-byte pages, limit " + std::to_string(c.limit));
    const uint32_t ps = c.page_size, limit = c.limit, pages = limit + limit / 4;
    ASSERT_EQ(::ftruncate(fd_, 0), 0);
    write_pages(fd_, ps, pages);
    const size_t each = (sizeof(hdb_buffer) + ps + 7) / 8 * 8;
    const size_t large_bytes = (64 + kPoolSlabMax * each + kHugeSlabBytes - 1) / kHugeSlabBytes * kHugeSlabBytes;
    hdb_pool* pool = hdb_pool_open(fd_, ps, limit);
    ASSERT_NE(pool, nullptr);

    std::vector<uint32_t> slabs;
    uint64_t large_slabs = 0;
    void* last = nullptr;
    std::vector<uint32_t> version(pages, 0);
    auto get_and_check = [&](uint32_t p) -> uint8_t* {
      uint8_t* page = hdb_pool_get(pool, p, 0);
      if (!page) {
        ADD_FAILURE() << "page " << p << ": errno " << errno;
        return nullptr;
      }
      if (pool->slabs != last) {
        last = pool->slabs;
        slabs.push_back(pool->slab_buffers);
        if (pool->slab_buffers > kPoolSlabMax) {
          ++large_slabs;
          EXPECT_EQ(reinterpret_cast<uintptr_t>(pool->slabs) % kHugeSlabBytes, 0u) << "large slab " << large_slabs;
        }
      }
      EXPECT_EQ(differs(page, ps, p, version[p]), -1) << "page " << p << ", version " << version[p];
      return page;
    };

    // Filled to its limit, then every page rewritten whole: no two pages
    // share a byte, and the last buffer of each slab lies inside it.
    for (uint32_t p = 0; p < limit; ++p) {
      uint8_t* page = get_and_check(p);
      ASSERT_NE(page, nullptr);
      hdb_pool_put(pool, page, 0);
    }
    EXPECT_EQ(slabs, c.slabs);
    EXPECT_EQ(pool->buffer_count, limit);
    for (uint32_t p = 0; p < limit; ++p) {
      uint8_t* page = hdb_pool_get(pool, p, 0);
      ASSERT_NE(page, nullptr);
      fill(page, ps, p, 1);
      version[p] = 1;
      hdb_pool_put(pool, page, kPoolDirty);
    }
    for (uint32_t p = 0; p < limit; ++p) {
      hdb_buffer* b = hdb_pool_find(pool, p);
      ASSERT_NE(b, nullptr) << p;
      ASSERT_EQ(differs(b->page, ps, p, 1), -1) << "page " << p;
    }
    EXPECT_EQ(check_links(pool), "");

    // Pages past the limit take the oldest buffers, each written first;
    // then every page, in a scattered order, reads as last written.
    for (uint32_t p = limit; p < pages; ++p) {
      uint8_t* page = get_and_check(p);
      ASSERT_NE(page, nullptr);
      hdb_pool_put(pool, page, 0);
    }
    EXPECT_EQ(pool->writes, pages - limit);
    for (uint32_t i = 0; i < pages; ++i) {
      uint8_t* page = get_and_check(static_cast<uint32_t>(uint64_t{i} * 7919 % pages));
      ASSERT_NE(page, nullptr);
      hdb_pool_put(pool, page, 0);
    }
    EXPECT_EQ(pool->buffer_count, limit);
    EXPECT_EQ(slabs, c.slabs) << "no slab beyond the limit";
    EXPECT_EQ(check_links(pool), "");

    // Deleted buffers wait on the spare list and are taken before any new
    // slab is made.
    ASSERT_EQ(hdb_pool_sync(pool), 0);
    std::vector<uint32_t> deleted;
    for (uint32_t p = 0; p < pages; ++p)
      if (hdb_pool_find(pool, p) && p % 3 == 0) deleted.push_back(p);
    ASSERT_GT(deleted.size(), 10u);
    for (uint32_t p : deleted) {
      uint8_t* page = hdb_pool_get(pool, p, 0);
      ASSERT_NE(page, nullptr);
      ASSERT_EQ(hdb_pool_delete(pool, page), 0);
    }
    EXPECT_EQ(pool->buffer_count, limit - deleted.size());
    EXPECT_EQ(check_links(pool), "");
    for (uint32_t p : deleted) EXPECT_EQ(hdb_pool_find(pool, p), nullptr) << p;
    void* slabs_before = pool->slabs;
    for (uint32_t p : deleted) {
      uint8_t* page = get_and_check(p);
      ASSERT_NE(page, nullptr);
      fill(page, ps, p, 2);
      version[p] = 2;
      hdb_pool_put(pool, page, kPoolDirty);
    }
    EXPECT_EQ(pool->slabs, slabs_before);
    EXPECT_EQ(pool->buffer_count, limit);
    EXPECT_EQ(check_links(pool), "");
    for (uint32_t p = 0; p < pages; ++p)
      if (hdb_buffer* b = hdb_pool_find(pool, p)) {
        EXPECT_EQ(differs(b->page, ps, p, version[p]), -1) << p;
      }

    // LeakSanitizer sees the heap; the large slabs must leave the mappings
    // (within a megabyte, for what reading the figure may map itself).
    mapped_bytes();
    const int64_t before = static_cast<int64_t>(mapped_bytes());
    EXPECT_EQ(hdb_pool_close(pool), 0);
    const int64_t after = static_cast<int64_t>(mapped_bytes());
    EXPECT_GE(before - after + (int64_t{1} << 20), static_cast<int64_t>(large_slabs * large_bytes));
  }
}

// Memos up to kPoolMemoInline bytes live in the buffer's record, larger ones
// on the heap. A memo reads as set whichever way its size moves, one that
// fills the record leaves the page and the record's fields alone, and a
// buffer reused for another page, or deleted and taken again, starts with no
// memo. LeakSanitizer checks that no heap memo outlives the pool.
TEST_F(PoolTest, MemosReadAsSetWhicheverWayTheirSizeMoves) {
  // Room for page 1 and the five below: the pool is full after them.
  hdb_pool* pool = hdb_pool_open(fd_, kPage, 6);
  ASSERT_NE(pool, nullptr);
  auto set = [](uint8_t* page, uint32_t n, uint8_t salt) {
    uint8_t* memo = hdb_pool_memo_area(page, n);
    ASSERT_NE(memo, nullptr) << n;
    for (uint32_t i = 0; i < n; ++i) memo[i] = static_cast<uint8_t>(i * 13 + salt);
    hdb_pool_set_memo(page, n);
  };
  auto memo_is = [](const uint8_t* page, uint32_t n, uint8_t salt) -> std::string {
    uint32_t size = 12345;
    const uint8_t* memo = hdb_pool_memo(page, &size);
    if (!memo) return "no memo";
    if (size != n) return "size " + std::to_string(size);
    for (uint32_t i = 0; i < n; ++i)
      if (memo[i] != static_cast<uint8_t>(i * 13 + salt)) return "byte " + std::to_string(i);
    return "";
  };
  uint8_t* a = hdb_pool_get(pool, 1, 0);
  ASSERT_NE(a, nullptr);
  fill(a, kPage, 1, 5);
  hdb_buffer* b = hdb_pool_find(pool, 1);
  uint8_t salt = 0;
  for (uint32_t n : {50u, 200u, 50u, kPoolMemoInline, kPoolMemoInline + 1, 0u, 4000u, 10u, 300u, 1u}) {
    SCOPED_TRACE(n);
    set(a, n, ++salt);
    EXPECT_EQ(memo_is(a, n, salt), "");
    // Kept over a clean release and a get.
    hdb_pool_put(pool, a, 0);
    ASSERT_EQ(hdb_pool_get(pool, 1, 0), a);
    EXPECT_EQ(memo_is(a, n, salt), "");
    EXPECT_EQ(differs(a, kPage, 1, 5), -1);
    EXPECT_EQ(b->page_number, 1u);
    EXPECT_EQ(b->pins, 1u);
  }
  // On buffers new to memos: sizes about the record's room leave the page
  // and the record's fields alone, and the small ones lie in the record.
  const uint32_t first_sizes[] = {kPoolMemoInline - 1, kPoolMemoInline, kPoolMemoInline + 1, kPoolMemoInline + 8, 192};
  for (uint32_t i = 0; i < std::size(first_sizes); ++i) {
    const uint32_t n = first_sizes[i], number = 2 + i;
    uint8_t* c = hdb_pool_get(pool, number, 0);
    ASSERT_NE(c, nullptr);
    fill(c, kPage, number, 6);
    set(c, n, 1);
    EXPECT_EQ(memo_is(c, n, 1), "") << n;
    EXPECT_EQ(differs(c, kPage, number, 6), -1) << n;
    EXPECT_EQ(hdb_pool_page_number(c), number);
    EXPECT_EQ(hdb_pool_pins(c), 1u);
    uint32_t size = 0;
    const uint8_t* memo = hdb_pool_memo(c, &size);
    const uint8_t* record = reinterpret_cast<const uint8_t*>(hdb_pool_find(pool, number));
    if (n <= kPoolMemoInline) {
      EXPECT_TRUE(memo >= record && memo + n <= c) << n << " bytes on the heap";
    }
    hdb_pool_put(pool, c, 0);
  }

  // A buffer reused for another page, and one deleted and taken again.
  hdb_pool_put(pool, a, 0);
  uint8_t* d = hdb_pool_get(pool, 0, 0);  // takes page 1's buffer, the oldest (heap memo)
  ASSERT_EQ(d, a);
  EXPECT_EQ(memo_is(d, 0, 0), "no memo");
  set(d, 40, 9);
  EXPECT_EQ(memo_is(d, 40, 9), "");
  set(d, 500, 10);
  EXPECT_EQ(memo_is(d, 500, 10), "");
  ASSERT_EQ(hdb_pool_delete(pool, d), 0);
  uint8_t* e = hdb_pool_get(pool, 1, 0);  // the deleted buffer again
  ASSERT_EQ(e, a);
  EXPECT_EQ(memo_is(e, 0, 0), "no memo");
  set(e, 30, 11);
  EXPECT_EQ(memo_is(e, 30, 11), "");
  set(e, 130, 12);
  hdb_pool_put(pool, e, 0);
  EXPECT_EQ(check_links(pool), "");
  hdb_pool_close(pool);
}

// Many pages on one chain (a pool of up to 128 buffers has 128 chains, so
// pages 128 apart share one): a lookup walks the chain from its head, a
// page found moves to the head, and removals at the head, in the middle and
// at the tail, by deletion or by reuse of the oldest buffer, leave every
// other page found with its own contents.
TEST_F(PoolTest, PagesSharingAChain) {
  constexpr uint32_t kOnChain = 40;
  auto page_of = [](uint32_t k) { return 5 + 128 * k; };
  std::vector<uint8_t> bytes(size_t{page_of(kOnChain)} * kPage);
  for (uint32_t p = 0; p < page_of(kOnChain); ++p) fill(bytes.data() + size_t{p} * kPage, kPage, p, 0);
  testing::write_file(path_, bytes);

  hdb_pool* pool = hdb_pool_open(fd_, kPage, 64);
  ASSERT_NE(pool, nullptr);
  ASSERT_EQ(pool->chain_count, 128u);
  for (uint32_t k = 0; k < kOnChain; ++k) {
    uint8_t* page = hdb_pool_get(pool, page_of(k), 0);
    ASSERT_NE(page, nullptr);
    hdb_pool_put(pool, page, 0);
  }
  ASSERT_EQ(check_links(pool), "");
  // The first page read is at the tail: found after the whole chain, then
  // at once when a get has moved it to the head.
  auto steps_to_find = [&](uint32_t p) {
    uint64_t steps = pool->lookup_steps;
    hdb_buffer* b = hdb_pool_find(pool, p);
    EXPECT_TRUE(b == nullptr || b->page_number == p);
    return b ? pool->lookup_steps - steps : ~uint64_t{0};
  };
  EXPECT_EQ(steps_to_find(page_of(0)), kOnChain);
  uint8_t* page = hdb_pool_get(pool, page_of(0), 0);
  ASSERT_NE(page, nullptr);
  hdb_pool_put(pool, page, 0);
  EXPECT_EQ(steps_to_find(page_of(0)), 1u);
  EXPECT_EQ(steps_to_find(page_of(1)), kOnChain);  // now the tail
  uint64_t steps = pool->lookup_steps;
  EXPECT_EQ(hdb_pool_find(pool, page_of(kOnChain)), nullptr);  // not cached: the whole chain
  EXPECT_EQ(pool->lookup_steps - steps, kOnChain);
  steps = pool->lookup_steps;
  EXPECT_EQ(hdb_pool_find(pool, 6), nullptr);  // an empty chain: no step
  EXPECT_EQ(pool->lookup_steps - steps, 0u);

  // Deleted (found without moving) at the head, in the middle and at the
  // tail: the chain is now page_of(0), page_of(39) ... page_of(1).
  std::vector<uint32_t> gone = {page_of(0), page_of(20), page_of(1)};
  EXPECT_EQ(steps_to_find(page_of(20)), kOnChain - 19);
  for (uint32_t p : gone) {
    ASSERT_EQ(hdb_pool_delete(pool, hdb_pool_find(pool, p)->page), 0);
    EXPECT_EQ(check_links(pool), "") << p;
    EXPECT_EQ(hdb_pool_find(pool, p), nullptr);
  }
  auto all_found = [&](uint32_t version) {
    for (uint32_t k = 0; k < kOnChain; ++k) {
      hdb_buffer* b = hdb_pool_find(pool, page_of(k));
      if (std::find(gone.begin(), gone.end(), page_of(k)) != gone.end()) continue;
      ASSERT_NE(b, nullptr) << page_of(k);
      EXPECT_EQ(differs(b->page, kPage, page_of(k), version), -1) << page_of(k);
    }
  };
  all_found(0);
  // Taken again: the spare buffers, back on the chain.
  void* slabs = pool->slabs;
  for (uint32_t p : gone) {
    uint8_t* again = hdb_pool_get(pool, p, 0);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(differs(again, kPage, p, 0), -1);
    hdb_pool_put(pool, again, 0);
  }
  gone.clear();
  EXPECT_EQ(pool->slabs, slabs);
  EXPECT_EQ(pool->buffer_count, kOnChain);
  EXPECT_EQ(check_links(pool), "");
  all_found(0);
  hdb_pool_close(pool);

  // A pool of 8 buffers cycling through 20 pages of one chain: each reuse
  // unlinks the oldest from wherever it is on the chain; dirty pages are
  // written first and read back as written.
  pool = hdb_pool_open(fd_, kPage, 8);
  ASSERT_NE(pool, nullptr);
  std::vector<uint32_t> version(20, 0);
  for (uint32_t round = 0; round < 3; ++round) {
    for (uint32_t i = 0; i < 20; ++i) {
      uint32_t k = (i * 7 + round * 3) % 20;
      uint8_t* p = hdb_pool_get(pool, page_of(k), 0);
      ASSERT_NE(p, nullptr);
      ASSERT_EQ(differs(p, kPage, page_of(k), version[k]), -1) << "page " << page_of(k) << " round " << round;
      fill(p, kPage, page_of(k), ++version[k]);
      hdb_pool_put(pool, p, kPoolDirty);
      ASSERT_EQ(check_links(pool), "") << "round " << round << ", page " << page_of(k);
    }
  }
  EXPECT_LE(pool->buffer_count, 8u);
  EXPECT_LE(pool->lookup_steps, pool->lookups * 8);
  hdb_pool_close(pool);
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
