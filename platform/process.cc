#include "platform/process.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vorlane::platform {

namespace {

int pidfd_open(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

int status_to_code(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

// Records a started child and opens its pidfd. 0, or the error (the child is
// then ended and reaped).
int watch(pid_t pid, long long start_ms, Process* out) {
  out->pid = pid;
  out->start_ms = start_ms;
  out->pidfd = pidfd_open(pid);
  if (out->pidfd < 0) {
    int err = errno ? errno : ESRCH;
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    *out = Process();
    return err;
  }
  return 0;
}

// Collects the ended child's status; true once it is reaped.
bool reap(Process* p) {
  if (p->reaped) return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(p->pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r != p->pid) return false;
  p->exit_code = status_to_code(status);
  p->reaped = true;
  return true;
}

// poll with a 64-bit time-out (negative: none), restarted after signals.
int poll_for(pollfd* fds, nfds_t n, long long timeout_ms) {
  long long deadline = timeout_ms < 0 ? -1 : monotonic_ms() + timeout_ms;
  while (true) {
    int slice = -1;
    if (deadline >= 0) {
      long long left = deadline - monotonic_ms();
      if (left < 0) left = 0;
      slice = left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }
    int r = poll(fds, n, slice);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0 && deadline >= 0 && monotonic_ms() < deadline) continue;
    return r;
  }
}

// What spawn_tied hands its child, and the error the child leaves there
// when a step before the program fails.
struct tied_start {
  const SpawnRequest* request;
  char* const* envp;
  pid_t parent;
  int max_fd;
  int error;
};

// The child side of spawn_tied. It runs in the parent's memory, on a stack
// of its own, while the parent waits (as posix_spawn's child does): only
// system calls, and nothing of the parent's but the start record. Ends by
// running the program, or with 127 after leaving the failed step's errno.
int tied_child(void* arg) {
  auto* start = static_cast<tied_start*>(arg);
  const SpawnRequest& request = *start->request;
  auto fail = [start]() {
    start->error = errno ? errno : EINVAL;
    _exit(127);
  };
  if (setsid() < 0) fail();
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
  // Asked before the check, so that a parent that ends after the check is
  // seen as well.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail();
  if (getppid() != start->parent) {
    start->error = ESRCH;
    _exit(127);
  }
  if (request.detach) {
    const int flags[3] = {O_RDONLY, O_WRONLY, O_WRONLY};
    for (int fd = 0; fd < 3; ++fd) {
      const int n = open("/dev/null", flags[fd]);
      if (n < 0) fail();
      if (n != fd) {
        if (dup2(n, fd) < 0) fail();
        close(n);
      }
    }
  }
  if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0) {
    for (int fd = 3; fd < start->max_fd; ++fd) close(fd);
  }
  if (request.directory && chdir(request.directory) != 0) fail();
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(request.path, request.argv, start->envp);
  fail();
  return 127;
}

// process_spawn for a child that asks to end with its parent, which
// posix_spawn cannot arrange: the child is made with clone, sharing this
// process's memory until it runs the program, so that it sets its
// parent-death signal first. Uses no descriptor. The child's pid, or -1
// with the error in *error.
pid_t spawn_tied(const SpawnRequest& request, char* const* envp, int* error) {
  constexpr size_t kStackBytes = 256 * 1024;
  void* stack = mmap(nullptr, kStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (stack == MAP_FAILED) {
    *error = errno;
    return -1;
  }
  rlimit files{};
  tied_start start{&request, envp, getpid(),
                   getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 65536 ? static_cast<int>(files.rlim_cur)
                                                                                  : 65536,
                   0};
  // No handler of this process may run in the child before its signals are
  // reset.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  const pid_t pid = clone(tied_child, static_cast<char*>(stack) + kStackBytes, CLONE_VM | CLONE_VFORK | SIGCHLD,
                          &start);
  const int clone_error = errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  munmap(stack, kStackBytes);
  if (pid < 0) {
    *error = clone_error;
    return -1;
  }
  if (start.error) {
    // A step before the program failed: the child has ended.
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    *error = start.error;
    return -1;
  }
  return pid;
}

}  // namespace

long long monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int process_spawn(const SpawnRequest& request, Process* out) {
  *out = Process();
  if (!request.path || !request.argv || !request.argv[0]) return EINVAL;
  if (request.end_with_parent) {
    const long long start_ms = monotonic_ms();
    int error = 0;
    const pid_t pid = spawn_tied(request, request.envp ? request.envp : environ, &error);
    if (pid < 0) return error;
    return watch(pid, start_ms, out);
  }

  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  int rc = posix_spawnattr_init(&attr);
  if (rc) return rc;
  rc = posix_spawn_file_actions_init(&actions);
  if (rc) {
    posix_spawnattr_destroy(&attr);
    return rc;
  }
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (!rc) rc = posix_spawnattr_setsigmask(&attr, &none);
  if (!rc) rc = posix_spawnattr_setsigdefault(&attr, &all);
  if (!rc && request.detach) {
    rc = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!rc) rc = posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (!rc) rc = posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  if (!rc) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (!rc && request.directory) rc = posix_spawn_file_actions_addchdir_np(&actions, request.directory);

  // The clock is read before the spawn: the child may run for a while before
  // this thread is scheduled again, and its elapsed time must cover that.
  const long long start_ms = monotonic_ms();
  pid_t pid = -1;
  if (!rc) rc = posix_spawn(&pid, request.path, &actions, &attr, request.argv, request.envp ? request.envp : environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc) return rc;
  return watch(pid, start_ms, out);
}

int process_wait(Process* process, long long timeout_ms) {
  if (process->reaped) return 1;
  pollfd fd = {process->pidfd, POLLIN, 0};
  int r = poll_for(&fd, 1, timeout_ms);
  if (r < 0) return -1;
  if (r == 0) return 0;
  return reap(process) ? 1 : -1;
}

int process_wait_any(Process* const* processes, int count, int extra_fd) {
  std::vector<pollfd> fds;
  for (int i = 0; i < count; ++i) {
    if (processes[i]->reaped) return i;
    fds.push_back({processes[i]->pidfd, POLLIN, 0});
  }
  if (extra_fd >= 0) fds.push_back({extra_fd, POLLIN, 0});
  if (fds.empty()) return -1;
  if (poll_for(fds.data(), fds.size(), -1) <= 0) return -1;
  if (extra_fd >= 0 && fds.back().revents) return count;
  for (int i = 0; i < count; ++i) {
    if (fds[static_cast<size_t>(i)].revents) return reap(processes[i]) ? i : -1;
  }
  return -1;
}

bool process_user_time_ms(const Process& process, long long* ms) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(process.pid));
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[1024];
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  // The command name (field 2) is in parentheses and may hold anything; the
  // fields after the last ')' start with field 3; user time is field 14.
  char* p = strrchr(buf, ')');
  if (!p) return false;
  ++p;
  for (int field = 3; field < 14; ++field) {
    while (*p == ' ') ++p;
    while (*p && *p != ' ') ++p;
  }
  char* end = nullptr;
  unsigned long long ticks = strtoull(p, &end, 10);
  if (end == p) return false;
  long hz = sysconf(_SC_CLK_TCK);
  if (hz <= 0) hz = 100;
  *ms = static_cast<long long>(ticks * 1000 / static_cast<unsigned long long>(hz));
  return true;
}

long long process_elapsed_ms(const Process& process) { return monotonic_ms() - process.start_ms; }

void process_terminate(Process* process, int code) {
  if (process->pid <= 0 || process->reaped) return;
  kill(process->pid, SIGKILL);
  if (reap(process)) process->exit_code = code;
}

void process_close(Process* process) {
  if (process->pidfd >= 0) {
    // A child still running keeps running; only the descriptor goes.
    if (!process->reaped) process_wait(process, 0);
    close(process->pidfd);
  }
  process->pidfd = -1;
}

}  // namespace vorlane::platform
