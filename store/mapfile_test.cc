#include "store/mapfile.h"

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/testing/test_root.h"
#include "store/testing/log_capture.h"

namespace vorlane {
namespace {

void write_file(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

TEST(Fmap, MapsWholeFileReadOnly) {
  platform::TestRoot root;
  write_file(root.file("a"), "hello world");
  mapped_file m;
  ASSERT_EQ(fmap(root.file("a").c_str(), &m), 1);
  EXPECT_EQ(m.size, 11u);
  EXPECT_EQ(memcmp(m.address, "hello world", 11), 0);
  EXPECT_GE(m.fd, 0);
  EXPECT_EQ(fsize(m.fd), 11);
  EXPECT_EQ(vorlane::munmap(m.address, 0), 0);
  close(m.fd);
}

TEST(Fmap, EmptyFileFailsAtMapHandle) {
  platform::TestRoot root;
  write_file(root.file("empty"), "");
  LogCapture log;
  mapped_file m;
  m.address = &m;
  m.size = 99;
  EXPECT_EQ(fmap(root.file("empty").c_str(), &m), 0);
  EXPECT_EQ(m.address, nullptr);
  EXPECT_EQ(m.size, 0u);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].level, LOG_WARNING);
  EXPECT_TRUE(log.contains("exception "));
  EXPECT_TRUE(log.contains(" at fmap: map handle " + root.file("empty"))) << log.all();
}

TEST(Fmap, MissingFileFailsAtOpening) {
  platform::TestRoot root;
  LogCapture log;
  mapped_file m;
  EXPECT_EQ(fmap(root.file("none").c_str(), &m), 0);
  EXPECT_TRUE(log.contains("exception No such file or directory at fmap: opening " + root.file("none"))) << log.all();
}

TEST(Fmapwrite, WritesReachTheFile) {
  platform::TestRoot root;
  write_file(root.file("w"), "abcd");
  mapped_file m;
  ASSERT_EQ(fmapwrite(root.file("w").c_str(), &m), 1);
  static_cast<char*>(m.address)[1] = 'X';
  EXPECT_EQ(vorlane::msync(static_cast<char*>(m.address) + 1, 1, 0), 0);
  EXPECT_EQ(funmap(&m), 1);
  EXPECT_EQ(m.address, nullptr);
  close(m.fd);
  std::ifstream in(root.file("w"));
  std::string back;
  in >> back;
  EXPECT_EQ(back, "aXcd");
}

TEST(FmapwriteDeathTest, ReadOnlyFileFailsAtOpening) {
  platform::TestRoot root;
  chmod(root.path().c_str(), 0755);
  write_file(root.file("ro"), "data");
  chmod(root.file("ro").c_str(), 0444);
  // Root may write any file, so the check runs as an ordinary user.
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        LogCapture log;
        mapped_file m;
        int r = fmapwrite(root.file("ro").c_str(), &m);
        _exit(r == 0 && m.address == nullptr && log.contains("at fmapwrite: opening") ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(Munmap, UnknownOrNullFails) {
  errno = 0;
  EXPECT_EQ(vorlane::munmap(nullptr, 0), -1);
  EXPECT_EQ(errno, 22);
  EXPECT_EQ(vorlane::msync(nullptr, 0, 0), -1);
}

TEST(Fmaplock, CreatesExtendsAndRefusesReadOnlyModes) {
  platform::TestRoot root;
  LogCapture log;
  int fd = -1;
  void* view = fmaplock(root.file("lock").c_str(), 8192, &fd, nullptr, 0x100 | 2);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(fsize(fd), 8192);
  vorlane::munmap(view, 0);
  close(fd);
  EXPECT_EQ(fmaplock(root.file("lock").c_str(), 0, &fd, nullptr, 0), nullptr);
  EXPECT_EQ(fmaplock(root.file("lock").c_str(), 100000, &fd, nullptr, 3), nullptr);
  EXPECT_TRUE(log.contains("fmaplock: fsize"));
  EXPECT_EQ(fmaplock(root.file("missing").c_str(), 10, &fd, nullptr, 2), nullptr);
  EXPECT_TRUE(log.contains("fmaplock: opening"));
}

const uint64_t kPage = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));

// The pages of a file that have blocks (written or only allocated), by the
// file system's extent map; false when it cannot tell.
bool allocated_pages(int fd, std::set<uint64_t>* pages) {
  pages->clear();
  constexpr uint32_t kExtents = 600;
  std::vector<uint64_t> buffer((sizeof(fiemap) + kExtents * sizeof(fiemap_extent)) / 8 + 1);
  auto* map = reinterpret_cast<fiemap*>(buffer.data());
  map->fm_length = FIEMAP_MAX_OFFSET;
  map->fm_flags = FIEMAP_FLAG_SYNC;
  map->fm_extent_count = kExtents;
  if (ioctl(fd, FS_IOC_FIEMAP, map) != 0) return false;
  for (uint32_t i = 0; i < map->fm_mapped_extents; ++i) {
    const fiemap_extent& e = map->fm_extents[i];
    for (uint64_t at = e.fe_logical / kPage * kPage; at < e.fe_logical + e.fe_length; at += kPage)
      pages->insert(at / kPage);
  }
  return true;
}

// A sparse file of pages pages mapped read-write.
mapped_file sparse_view(const std::string& path, uint64_t pages) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  EXPECT_EQ(ftruncate(fd, static_cast<off_t>(pages * kPage)), 0);
  close(fd);
  mapped_file m;
  EXPECT_EQ(fmapwrite(path.c_str(), &m), 1);
  return m;
}

// The blocks of the whole pages a reservation's range lies in are
// allocated, within the file: (offset, length, pages allocated after it).
TEST(FmapReserve, AllocatesTheWholePagesOfTheRange) {
  platform::TestRoot root;
  mapped_file m = sparse_view(root.file("f"), 16);
  std::set<uint64_t> pages;
  if (!allocated_pages(m.fd, &pages)) GTEST_SKIP() << "no extent map here";
  EXPECT_TRUE(pages.empty());
  const struct {
    uint64_t offset, length;
    std::set<uint64_t> after;
  } cases[] = {
      {kPage + 100, 1, {1}},
      {kPage + 10, kPage - 10, {1}},
      {3 * kPage - 1, 2, {1, 2, 3}},
      {10 * kPage, 1, {1, 2, 3, 10}},
      {9 * kPage + 5, 1, {1, 2, 3, 9, 10}},
      {15 * kPage + 10, 100 * kPage, {1, 2, 3, 9, 10, 15}},
      {16 * kPage, 1, {1, 2, 3, 9, 10, 15}},
      {5 * kPage, 0, {1, 2, 3, 9, 10, 15}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fmap_reserve(m, c.offset, c.length), 1) << c.offset;
    ASSERT_TRUE(allocated_pages(m.fd, &pages));
    EXPECT_EQ(pages, c.after) << c.offset << "+" << c.length;
  }
  EXPECT_EQ(fsize(m.fd), static_cast<long long>(16 * kPage)) << "the size stays";
  EXPECT_EQ(funmap(&m), 1);
  close(m.fd);
}

// Pages a view has reserved are not asked for again through it (a page whose
// blocks were taken away behind its back stays a hole), while a new view of
// the file knows nothing and asks.
TEST(FmapReserve, AViewAsksOnceForEachPage) {
  platform::TestRoot root;
  mapped_file m = sparse_view(root.file("f"), 8);
  std::set<uint64_t> pages;
  if (!allocated_pages(m.fd, &pages)) GTEST_SKIP() << "no extent map here";
  ASSERT_EQ(fmap_reserve(m, 2 * kPage, 3 * kPage), 1);
  ASSERT_TRUE(allocated_pages(m.fd, &pages));
  ASSERT_EQ(pages, (std::set<uint64_t>{2, 3, 4}));
  if (fallocate(m.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(3 * kPage),
                static_cast<off_t>(kPage)) != 0)
    GTEST_SKIP() << "no hole punching here";
  EXPECT_EQ(fmap_reserve(m, 3 * kPage + 8, 8), 1);
  ASSERT_TRUE(allocated_pages(m.fd, &pages));
  EXPECT_EQ(pages, (std::set<uint64_t>{2, 4}));

  mapped_file again;
  ASSERT_EQ(fmapwrite(root.file("f").c_str(), &again), 1);
  EXPECT_EQ(fmap_reserve(again, 3 * kPage + 8, 8), 1);
  ASSERT_TRUE(allocated_pages(m.fd, &pages));
  EXPECT_EQ(pages, (std::set<uint64_t>{2, 3, 4}));
  for (mapped_file* v : {&m, &again}) {
    EXPECT_EQ(funmap(v), 1);
    close(v->fd);
  }
}

// Threads reserve pages of one view at once, each page once, in an order
// that makes the known run grow, jump and join: every page is allocated
// when its reservation returns.
TEST(FmapReserve, ThreadsReservingThroughOneViewEachGetTheirPages) {
  platform::TestRoot root;
  constexpr uint64_t kPages = 512;
  constexpr int kThreads = 8;
  mapped_file m = sparse_view(root.file("f"), kPages);
  std::set<uint64_t> pages;
  if (!allocated_pages(m.fd, &pages)) GTEST_SKIP() << "no extent map here";
  std::vector<int> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (uint64_t i = 0; i < kPages / kThreads; ++i) {
        const uint64_t page = (i * kThreads + t) * 37 % kPages;  // 37 is prime to 512
        if (fmap_reserve(m, page * kPage + 3, 1) != 1) ++failures[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << t;
  ASSERT_TRUE(allocated_pages(m.fd, &pages));
  EXPECT_EQ(pages.size(), kPages);
  EXPECT_EQ(funmap(&m), 1);
  close(m.fd);
}

int waits = 0;
void count_wait() { ++waits; }

TEST(FopenRetry, TenTriesThenNull) {
  auto old = fopen_retry_wait;
  fopen_retry_wait = count_wait;
  waits = 0;
  EXPECT_EQ(fopen_retry("/nonexistent-dir/x", "r"), nullptr);
  EXPECT_EQ(waits, 10);
  EXPECT_EQ(fopen_retry(nullptr, "r"), nullptr);
  FILE* f = fopen_retry("/proc/self/status", "r");
  EXPECT_NE(f, nullptr);
  if (f) fclose(f);
  fopen_retry_wait = old;
}

}  // namespace
}  // namespace vorlane
