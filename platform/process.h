// Process stand-in: child processes started with posix_spawn, or with clone
// for one that is to end with its parent (never through a shell), and
// watched through a pidfd.
#pragma once

#include <sys/types.h>

namespace vorlane::platform {

struct SpawnRequest {
  const char* path = nullptr;          // the program; no search path
  char* const* argv = nullptr;         // null-terminated
  char* const* envp = nullptr;         // null-terminated; null: this process's environment
  const char* directory = nullptr;     // working directory; null: the current one
  bool detach = true;                  // standard streams on /dev/null
  // The child is ended (SIGKILL) when the thread that started it ends, and
  // so when this process ends, killed or not; one whose parent is gone
  // before that is arranged ends at once, before it runs the program.
  bool end_with_parent = false;
};

// A running (or ended, not yet released) child.
struct Process {
  pid_t pid = -1;
  int pidfd = -1;
  long long start_ms = 0;  // CLOCK_MONOTONIC just before the spawn, in milliseconds
  bool reaped = false;
  int exit_code = 0;
};

// Starts a child in a session of its own with an empty signal mask, every
// signal at its default action, and no descriptor above 2. Returns 0, or the
// error of the spawn (never 0 on failure): the child is then not running.
int process_spawn(const SpawnRequest& request, Process* out);

// Waits up to timeout_ms (negative: without limit) for the child to end.
// Returns 1 when it has ended (exit_code holds its code), 0 on time-out, -1
// when the wait failed. A child ended by a signal has the code 128 + signal,
// unless process_terminate gave it one.
int process_wait(Process* process, long long timeout_ms);

// Waits for the first of several children (and, when extra_fd >= 0, that
// descriptor becoming readable) without time-out. Returns count when extra_fd
// is readable (it comes first), else the lowest index of an ended child (its
// exit_code set), or -1 when the wait failed.
int process_wait_any(Process* const* processes, int count, int extra_fd);

// The child's user-mode CPU time in milliseconds; false when it cannot be
// read.
bool process_user_time_ms(const Process& process, long long* ms);

// Milliseconds since the child was started, counted from before the spawn,
// so never less than the child's CPU time (process_user_time_ms).
long long process_elapsed_ms(const Process& process);

// Ends the child with SIGKILL and reaps it; its exit code becomes code.
void process_terminate(Process* process, int code);

// Releases the child's descriptor (reaping it first if it has ended).
void process_close(Process* process);

long long monotonic_ms();

}  // namespace vorlane::platform
