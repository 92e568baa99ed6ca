#include "platform/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/testing/test_root.h"

namespace vorlane::platform {
namespace {

int run_shell(const std::string& script, const char* directory = nullptr, char* const* envp = nullptr) {
  std::string s = script;
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), s.data(), nullptr};
  SpawnRequest r;
  r.path = "/bin/sh";
  r.argv = argv;
  r.envp = envp;
  r.directory = directory;
  Process p;
  if (process_spawn(r, &p) != 0) return -1;
  int rc = process_wait(&p, 10000);
  if (rc != 1) process_terminate(&p, 99);
  process_close(&p);
  return p.exit_code;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(Process, ExitCodesAndSpawnErrors) {
  EXPECT_EQ(run_shell("exit 3"), 3);
  EXPECT_EQ(run_shell("exit 0"), 0);
  EXPECT_EQ(run_shell("kill -TERM $$"), 128 + SIGTERM);

  char* argv[] = {const_cast<char*>("nothing"), nullptr};
  SpawnRequest r;
  r.path = "/nonexistent/program";
  r.argv = argv;
  Process p;
  EXPECT_EQ(process_spawn(r, &p), ENOENT);
  EXPECT_EQ(p.pid, -1);
  r.path = "sh";  // no search path
  EXPECT_EQ(process_spawn(r, &p), ENOENT);
}

TEST(Process, ChildStartsClean) {
  TestRoot root;
  // Whatever this process has blocked, ignored or left open, the child
  // starts with nothing of it.
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  auto old_pipe = signal(SIGPIPE, SIG_IGN);
  int leaked = dup2(open("/dev/null", O_RDONLY), 57);
  std::string out = root.file("out");
  char env0[] = "ONLY=this";
  char* envp[] = {env0, nullptr};
  int rc = run_shell(
      "{ grep -E '^Sig(Blk|Ign)' /proc/self/status; test -e /proc/self/fd/57 && echo leaked;"
      " readlink /proc/self/fd/0 /proc/self/fd/2; pwd; echo \"$ONLY\"; } > " + out,
      "/tmp", envp);
  signal(SIGPIPE, old_pipe);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(leaked);
  EXPECT_EQ(rc, 0);
  // sh adds PWD (and perhaps a few of its own) to the one entry given.
  std::string text = slurp(out);
  EXPECT_EQ(text.find("leaked"), std::string::npos) << text;
  EXPECT_NE(text.find("SigBlk:\t0000000000000000\n"), std::string::npos) << text;
  // The C library keeps two real-time signals of its own (32 and 33) out of
  // reach; signals 1..31 are all at their default action.
  size_t ign = text.find("SigIgn:\t");
  ASSERT_NE(ign, std::string::npos) << text;
  EXPECT_EQ(std::stoull(text.substr(ign + 8, 16), nullptr, 16) & 0x7FFFFFFFull, 0u) << text;
  EXPECT_NE(text.find("/dev/null\n/dev/null\n/tmp\nthis\n"), std::string::npos) << text;
}

TEST(Process, NewSessionTimeOutAndTermination) {
  char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
  SpawnRequest r;
  r.path = "/bin/sleep";
  r.argv = argv;
  Process p;
  ASSERT_EQ(process_spawn(r, &p), 0);
  EXPECT_EQ(getsid(p.pid), p.pid);
  long long before = monotonic_ms();
  EXPECT_EQ(process_wait(&p, 150), 0);
  EXPECT_GE(monotonic_ms() - before, 150);
  long long user = -1;
  EXPECT_TRUE(process_user_time_ms(p, &user));
  EXPECT_LT(user, 100);
  EXPECT_GE(process_elapsed_ms(p), 150);
  process_terminate(&p, 42);
  EXPECT_TRUE(p.reaped);
  EXPECT_EQ(p.exit_code, 42);
  EXPECT_EQ(process_wait(&p, 0), 1);
  process_close(&p);
  EXPECT_EQ(kill(p.pid, 0), -1);  // gone, and reaped
}

TEST(Process, UserTimeOfABusyChild) {
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>("while :; do :; done"),
                  nullptr};
  SpawnRequest r;
  r.path = "/bin/sh";
  r.argv = argv;
  Process p;
  ASSERT_EQ(process_spawn(r, &p), 0);
  // On a loaded machine the child gets only a share of a processor: watch
  // until it has run for a while (bounded), then check the figure against
  // the time that has passed (milliseconds, not clock ticks).
  long long user = 0;
  for (int i = 0; i < 100 && user <= 100; ++i) {
    EXPECT_EQ(process_wait(&p, 100), 0);
    ASSERT_TRUE(process_user_time_ms(p, &user));
  }
  EXPECT_GT(user, 100);
  EXPECT_LE(user, process_elapsed_ms(p) + 20);
  process_terminate(&p, 1);
  process_close(&p);
  EXPECT_FALSE(process_user_time_ms(p, &user));
}

TEST(Process, WaitAnyReportsTheChildThatEndedOrTheExtraDescriptor) {
  char* sleeper[] = {const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
  char* quick[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>("exit 5"), nullptr};
  SpawnRequest r;
  r.path = "/bin/sleep";
  r.argv = sleeper;
  Process a, b;
  ASSERT_EQ(process_spawn(r, &a), 0);
  r.path = "/bin/sh";
  r.argv = quick;
  ASSERT_EQ(process_spawn(r, &b), 0);
  int stop = eventfd(0, EFD_CLOEXEC);
  Process* both[] = {&a, &b};
  EXPECT_EQ(process_wait_any(both, 2, stop), 1);
  EXPECT_EQ(b.exit_code, 5);
  uint64_t one = 1;
  ASSERT_EQ(write(stop, &one, sizeof one), 8);
  Process* first[] = {&a};
  EXPECT_EQ(process_wait_any(first, 1, stop), 1);
  process_terminate(&a, 1);
  process_close(&a);
  process_close(&b);
  close(stop);
}

}  // namespace
}  // namespace vorlane::platform
