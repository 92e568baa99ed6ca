#include "store/mapfile.h"

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
