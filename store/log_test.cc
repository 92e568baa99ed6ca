#include "store/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/eventlog.h"
#include "platform/testing/test_root.h"

namespace vorlane {
namespace {

std::string read_all(FILE* f) {
  fflush(f);
  std::string out;
  char buf[4096];
  off_t pos = 0;
  ssize_t n;
  while ((n = ::pread(fileno(f), buf, sizeof buf, pos)) > 0) {
    out.append(buf, n);
    pos += n;
  }
  return out;
}

// Sends standard error to a temporary file while alive.
class CaptureStderr {
 public:
  CaptureStderr() : file_(tmpfile()), saved_(dup(2)) {
    fflush(stderr);
    dup2(fileno(file_), 2);
  }
  ~CaptureStderr() {
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    fclose(file_);
  }
  std::string text() { return read_all(file_); }

 private:
  FILE* file_;
  int saved_;
};

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stream_ = tmpfile();
    log_set_stream(stream_);
    log_mask.store(0);
    log_handler.store(&LogMessage);
  }
  void TearDown() override {
    log_set_stream(stderr);
    fclose(stream_);
    log_mask.store(0);
    log_handler.store(&LogMessage);
  }
  std::vector<platform::EventRecord> events() { return platform::read_eventlog(platform::eventlog_path()); }

  platform::TestRoot root_;
  FILE* stream_ = nullptr;
};

TEST(LogFilter, Table) {
  struct Case {
    uint32_t mask, level;
    bool passes;
  } cases[] = {
      {0, LOG_ERROR, true},      {0, LOG_NOTICE, true},     {0, LOG_WARNING, false},
      {0, 0x2020, false},        {0x20, 0x2020, true},      {0x2000, 0x2020, true},
      {0x4, 0x2020, false},      {0xFFFFFFFF, 0x8, true},   {0x2, LOG_WARNING, true},
      {0, LOG_ERROR | 0x8, true}, {0x8, 0, false},
  };
  for (const Case& c : cases) {
    log_mask.store(c.mask);
    EXPECT_EQ(log_passes(c.level), c.passes) << std::hex << c.mask << " " << c.level;
  }
  log_mask.store(0);
}

TEST_F(LogTest, MessagesThatDoNotPassAreNotFormatted) {
  static int calls = 0;
  log_handler.store(+[](uint32_t, const char*, va_list) { ++calls; });
  log_msg(LOG_INFO, "%s", "nothing");
  EXPECT_EQ(calls, 0);
  log_mask.store(LOG_INFO);
  log_msg(LOG_INFO, "%s", "something");
  EXPECT_EQ(calls, 1);
}

TEST_F(LogTest, ErrorToFileIsRepeatedOnStderrAndLogged) {
  CaptureStderr err;
  log_msg(LOG_ERROR, "idbm_find: cache %s", "FULL");
  std::string line = read_all(stream_);
  std::regex shape("<orvel><" + std::to_string(getpid()) +
                   "/-1>: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}  ERROR: idbm_find: cache FULL\n");
  EXPECT_TRUE(std::regex_match(line, shape)) << line;
  EXPECT_EQ(err.text(), line);

  auto ev = events();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].source, "Vorlane Server");
  EXPECT_EQ(ev[0].type, "error");
  EXPECT_EQ(ev[0].event_id, 0);
  ASSERT_EQ(ev[0].strings.size(), 1u);
  std::string time_field = line.substr(line.find(": ") + 2, 24);
  EXPECT_EQ(ev[0].strings[0], "Error at " + time_field + ". idbm_find: cache FULL");
}

TEST_F(LogTest, ErrorOnStderrStreamIsWrittenOnce) {
  CaptureStderr err;
  log_set_stream(stderr);
  log_msg(LOG_ERROR, "once");
  std::string text = err.text();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_NE(text.find("ERROR: once"), std::string::npos);
}

TEST_F(LogTest, WarningNoticeAndInformation) {
  CaptureStderr err;
  log_mask.store(LOG_WARNING | LOG_INFO);
  log_msg(LOG_WARNING, "w %d", 1);
  log_msg(LOG_NOTICE, "n %d", 2);
  log_msg(LOG_INFO, "i %d", 3);
  std::string text = read_all(stream_);
  EXPECT_NE(text.find("  WARNING: w 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  n 2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  i 3\n"), std::string::npos) << text;
  EXPECT_EQ(err.text(), "");  // only errors are repeated

  auto ev = events();
  ASSERT_EQ(ev.size(), 2u);  // information messages make no event
  EXPECT_EQ(ev[0].type, "error");
  EXPECT_TRUE(std::regex_match(ev[0].strings[0], std::regex("Warning at .{24}\\. w 1")));
  EXPECT_EQ(ev[1].type, "information");
  EXPECT_TRUE(std::regex_match(ev[1].strings[0], std::regex(".{24}\\. n 2")));
}

TEST_F(LogTest, MessageEndingInANewlineIsFollowedByNoEmptyLine) {
  CaptureStderr err;
  log_msg(LOG_NOTICE, "ends its line\n");
  log_msg(LOG_ERROR, "%s\n", "error line");
  log_msg(LOG_NOTICE, "two lines\nsecond\n");
  log_msg(LOG_NOTICE, "plain");
  std::string text = read_all(stream_);
  EXPECT_EQ(text.find("\n\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  ends its line\n<orvel>"), std::string::npos) << text;
  EXPECT_NE(text.find("  ERROR: error line\n<orvel>"), std::string::npos) << text;
  EXPECT_NE(text.find("  two lines\nsecond\n<orvel>"), std::string::npos) << text;
  EXPECT_EQ(text.size() - text.rfind("  plain\n"), 8u) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5) << text;
  std::string repeated = err.text();
  EXPECT_EQ(std::count(repeated.begin(), repeated.end(), '\n'), 1) << repeated;

  // The event text is the message as it was given.
  auto ev = events();
  ASSERT_EQ(ev.size(), 4u);
  EXPECT_EQ(ev[1].type, "error");
  EXPECT_NE(ev[1].strings[0].find(". error line"), std::string::npos) << ev[1].strings[0];
}

TEST_F(LogTest, LongMessageIsCutOnlyInTheEvent) {
  std::string big(5000, 'x');
  log_msg(LOG_NOTICE, "%s", big.c_str());
  std::string text = read_all(stream_);
  EXPECT_NE(text.find(big + "\n"), std::string::npos);
  auto ev = events();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0].type, "error");
  EXPECT_TRUE(std::regex_match(ev[0].strings[0], std::regex("LogMessage\\(.{24}\\): Overwrote local buffer!!!!")));
  EXPECT_EQ(ev[1].type, "information");
  // "<24-char time>. " followed by the first 4,095 bytes of the message.
  EXPECT_EQ(ev[1].strings[0].size(), 24u + 2u + 4095u);
}

TEST_F(LogTest, MessageOf4095BytesIsNotCut) {
  std::string fits(4095, 'y');
  log_msg(LOG_NOTICE, "%s", fits.c_str());
  EXPECT_EQ(events().size(), 1u);
}

TEST_F(LogTest, SyslogWritePriorities) {
  struct Case {
    int priority;
    const char* type;
  } cases[] = {{0, "information"}, {1, "error"}, {2, "error"}, {3, "error"}, {4, "warning"},
               {5, "information"}, {6, "information"}, {-1, "information"}, {99, "information"}};
  for (const Case& c : cases) syslog_write(c.priority, "p%d", c.priority);
  auto ev = events();
  ASSERT_EQ(ev.size(), std::size(cases));
  for (size_t i = 0; i < ev.size(); ++i) {
    EXPECT_EQ(ev[i].type, cases[i].type) << cases[i].priority;
    EXPECT_EQ(ev[i].strings[0], "p" + std::to_string(cases[i].priority));
  }
}

TEST_F(LogTest, SyslogWriteCutsAt10240) {
  std::string big(20000, 'q');
  syslog_write(5, "%s", big.c_str());
  auto ev = events();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].strings[0], big.substr(0, 10239));
}

TEST(SyslogFormat, PercentMRewrite) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"a%mb", "a%%b"}, {"%m%m", "%%%%"}, {"%%m", "%%m"}, {"100%", "100%"},
      {"%", "%"},       {"%s", "%s"},     {"m%", "m%"},   {"", ""},
  };
  for (const Case& c : cases) {
    char out[64];
    syslog_rewrite_format(c.in, out, sizeof out);
    EXPECT_STREQ(out, c.out) << c.in;
  }
}

TEST_F(LogTest, SyslogFormatWithPercentM) {
  syslog_write(4, "disk 90%m full");
  syslog_write(4, "%s", "text with %m kept");
  auto ev = events();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0].strings[0], "disk 90% full");
  EXPECT_EQ(ev[1].strings[0], "text with %m kept");
}

TEST_F(LogTest, ConcurrentLinesNeverInterleave) {
  log_mask.store(LOG_INFO);
  std::string body(2000, 'k');
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) log_msg(LOG_INFO, "t%d %s", t, body.c_str());
    });
  for (auto& th : threads) th.join();
  std::string text = read_all(stream_);
  size_t lines = 0, pos = 0;
  std::regex shape("<orvel><\\d+/-1>: .{24}  t\\d " + body);
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    ASSERT_NE(nl, std::string::npos);
    EXPECT_TRUE(std::regex_match(text.substr(pos, nl - pos), shape));
    ++lines;
    pos = nl + 1;
  }
  EXPECT_EQ(lines, 800u);
}

TEST(LogFatalDeathTest, EndsTheProcessAfterItsMessage) {
  platform::TestRoot root;
  EXPECT_EXIT(log_fatal("out of %s", "memory"), ::testing::ExitedWithCode(1), "ERROR: out of memory");
}

}  // namespace
}  // namespace vorlane
