#include "host/output_redirect.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/testing/test_root.h"

namespace vorlane::host {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs body in a forked child whose standard output goes to a pipe; returns
// what the pipe received.
template <typename Body>
std::string in_child(Body body) {
  int fds[2];
  if (pipe(fds) != 0) return "<pipe>";
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    close(fds[1]);
    body();
    fflush(nullptr);
    _exit(0);
  }
  close(fds[1]);
  std::string got;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return got;
}

TEST(OutputRedirect, BothStreamsGoToTheFileAppended) {
  platform::TestRoot root;
  std::string log = root.file("server.log");
  {
    std::ofstream(log) << "earlier\n";
  }
  std::string piped = in_child([&] {
    printf("before ");
    _output_to_logfile(log.c_str());
    printf("out ");
    fprintf(stderr, "err ");
    printf("out2\n");
    _exit(0);  // no flush at exit: unbuffered streams have written already
  });
  EXPECT_EQ(piped, "before ");
  EXPECT_EQ(slurp(log), "earlier\nout err out2\n");
}

TEST(OutputRedirect, AFileThatCannotBeOpenedChangesNothing) {
  platform::TestRoot root;
  std::string piped = in_child([&] {
    bool ok = redirect_output((root.path() + "/missing/dir/log").c_str());
    printf("%s\n", ok ? "redirected" : "still here");
  });
  EXPECT_EQ(piped, "still here\n");
}

}  // namespace
}  // namespace vorlane::host
