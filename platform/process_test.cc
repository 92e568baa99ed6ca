#include "platform/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/testing/test_root.h"

namespace vorlane::platform {
namespace {

int run_shell(const std::string& script, const char* directory = nullptr, char* const* envp = nullptr,
              bool tied = false) {
  std::string s = script;
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), s.data(), nullptr};
  SpawnRequest r;
  r.path = "/bin/sh";
  r.argv = argv;
  r.envp = envp;
  r.directory = directory;
  r.end_with_parent = tied;
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

// Children started to end with their parent (fork and exec) behave as the
// others (posix_spawn) in everything else.
class Spawn : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Process, Spawn, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "EndingWithParent" : "Free"; });

TEST_P(Spawn, ExitCodesAndSpawnErrors) {
  const bool tied = GetParam();
  EXPECT_EQ(run_shell("exit 3", nullptr, nullptr, tied), 3);
  EXPECT_EQ(run_shell("exit 0", nullptr, nullptr, tied), 0);
  EXPECT_EQ(run_shell("kill -TERM $$", nullptr, nullptr, tied), 128 + SIGTERM);

  char* argv[] = {const_cast<char*>("nothing"), nullptr};
  SpawnRequest r;
  r.path = "/nonexistent/program";
  r.argv = argv;
  r.end_with_parent = tied;
  Process p;
  EXPECT_EQ(process_spawn(r, &p), ENOENT);
  EXPECT_EQ(p.pid, -1);
  r.path = "sh";  // no search path
  EXPECT_EQ(process_spawn(r, &p), ENOENT);
  r.path = "/bin/sh";
  r.directory = "/nonexistent";
  EXPECT_EQ(process_spawn(r, &p), ENOENT);
  EXPECT_EQ(p.pid, -1);
}

TEST_P(Spawn, ChildStartsClean) {
  const bool tied = GetParam();
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
      "/tmp", envp, tied);
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

// Whether pid still runs (a zombie waiting for its new parent counts as
// ended).
bool running(pid_t pid) {
  std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// A child asked to end with its parent is gone soon after the parent is
// killed with SIGKILL; another one stays.
TEST(Process, AChildEndsWithItsParentWhenAsked) {
  for (const bool tied : {true, false}) {
    SCOPED_TRACE(tied ? "tied" : "free");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t parent = fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
      char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("60"), nullptr};
      SpawnRequest r;
      r.path = "/bin/sleep";
      r.argv = argv;
      r.end_with_parent = tied;
      Process p;
      pid_t pid = process_spawn(r, &p) == 0 ? p.pid : -1;
      if (write(fds[1], &pid, sizeof pid) < 0) {}
      pause();
      _exit(0);
    }
    close(fds[1]);
    pid_t child = -1;
    ASSERT_EQ(read(fds[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
    close(fds[0]);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(running(child));
    kill(parent, SIGKILL);
    waitpid(parent, nullptr, 0);
    // Bounded: a loaded machine may take a while to run the kill. The free
    // child is given a short while only.
    for (int i = 0; i < (tied ? 1000 : 30) && running(child); ++i) usleep(10000);
    EXPECT_EQ(running(child), !tied);
    kill(child, SIGKILL);
  }
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
