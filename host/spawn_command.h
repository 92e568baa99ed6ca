// Running a command line with time limits (osdnt_native.spawn).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorlane::host {

// The program and its arguments must number fewer than MAX_ARGV, the child's
// environment must hold fewer than MAX_ENVP entries, and the command line
// (every argument from the program on, each followed by one blank) at most
// max_command_line characters.
constexpr int MAX_ARGV = 20;
constexpr int MAX_ENVP = 256;
constexpr int max_command_line = 1023;

// The exit code of a child ended for passing its limit.
constexpr int spawn_limit_exit_code = 42;

// Splits command with its quotes kept. Leading arguments holding "=" are
// assignments: each replaces the first entry of this process's environment
// with the same name (case-sensitive), or is added, for the child only. The
// first other argument is the program, started without a search path and
// without a shell; the child's argument vector is the program and the later
// arguments, each with its quotes removed when it has both (the opening one
// and a closing one).
//
// The child runs detached (standard streams on /dev/null, a session of its
// own). Every time a wait ends without its end, its user time U and elapsed
// time E (milliseconds) are compared with L = limit_seconds * 1000: U > L or
// E > 5 * L ends it with exit code 42. The first wait lasts L + 5000 ms, each
// later one L - U + 5000 ms.
//
// Returns the child's exit code (128 + signal for a child that some other
// process killed), or the error that kept it from starting: E2BIG for too
// many arguments or environment entries, a command line that is too long or
// a command with no program; the spawn's own error (ENOENT, EACCES...)
// otherwise. Nothing is started when an error is returned. nullopt when the
// command could not be copied.
std::optional<int> spawn_command(const char* command, int limit_seconds);

// spawn_command in two steps: prepare_spawn reads this process's
// environment (so a script caller keeps the interpreter lock for it) and
// returns 0, an errno value (nothing to run) or -1 (the command could not be
// copied); run_spawn starts and watches the child.
struct SpawnPlan {
  std::vector<std::string> args;  // the program and its arguments, unquoted
  std::vector<std::string> env;   // the child's environment
};
int prepare_spawn(const char* command, SpawnPlan* plan);
int run_spawn(SpawnPlan& plan, int limit_seconds);

}  // namespace vorlane::host
