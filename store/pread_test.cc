#include "store/pread.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/testing/test_root.h"
#include "store/testing/log_capture.h"

namespace vorlane {
namespace {

class PreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream out(root_.file("data"), std::ios::binary);
    for (int i = 0; i < 100000; ++i) out.put(static_cast<char>(i * 7 + i / 256));
    out.close();
    fd_ = open(root_.file("data").c_str(), O_RDONLY);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override { close(fd_); }
  static char byte_at(int i) { return static_cast<char>(i * 7 + i / 256); }

  platform::TestRoot root_;
  int fd_ = -1;
};

TEST_F(PreadTest, ReadsAndCrossesTheEnd) {
  char buf[448];
  ASSERT_EQ(vorlane::pread(fd_, buf, sizeof buf, 1000), 448);
  for (int i = 0; i < 448; ++i) ASSERT_EQ(buf[i], byte_at(1000 + i));
  EXPECT_EQ(vorlane::pread(fd_, buf, sizeof buf, 100000 - 48), 48);
  EXPECT_EQ(buf[0], byte_at(100000 - 48));
}

TEST_F(PreadTest, StartAtOrPastEndFails) {
  LogCapture log;
  char buf[448];
  EXPECT_EQ(vorlane::pread(fd_, buf, sizeof buf, 100000), -1);
  EXPECT_EQ(vorlane::pread(fd_, buf, sizeof buf, 5000000000ull), -1);
  auto lines = log.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, LOG_WARNING);
  char expect[128];
  snprintf(expect, sizeof expect, "pread fd=0x%8.8x offset=100000 count=448 ReadFile: ", fd_);
  EXPECT_EQ(lines[0].text.rfind(expect, 0), 0u) << lines[0].text;
  EXPECT_NE(lines[1].text.find("offset=5000000000"), std::string::npos);
}

TEST_F(PreadTest, BadDescriptorFails) {
  LogCapture log;
  char buf[4];
  EXPECT_EQ(vorlane::pread(-1, buf, 4, 0), -1);
  EXPECT_TRUE(log.contains("Bad file descriptor"));
}

TEST_F(PreadTest, EightThreadsShareOneDescriptor) {
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      char buf[1024];
      for (int i = 0; i < 500; ++i) {
        int offset = (t * 9973 + i * 131) % (100000 - 1024);
        if (vorlane::pread(fd_, buf, sizeof buf, offset) != 1024) ++bad;
        for (int j = 0; j < 1024; j += 61)
          if (buf[j] != byte_at(offset + j)) ++bad;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(lseek(fd_, 0, SEEK_CUR), 0);  // the file position is never used
}

}  // namespace
}  // namespace vorlane
