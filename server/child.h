// The "-child" mode of the host program: one server process.
#pragma once

namespace vorlane::server {

// argv holds the arguments after "-child": ["-serverNum" N] [SCRIPT [ARGS...]].
// Without SCRIPT it runs $VORLANE_MAIN, else lib/server.py under the
// installation directory (the program's path less its last two components).
// Returns the process exit code: 0 on a normal end, n for SystemExit(n), 1
// for an uncaught exception, 2 for a bad command line.
int run_child(int argc, char** argv);

}  // namespace vorlane::server
