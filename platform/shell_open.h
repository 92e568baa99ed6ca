// Shell-open stand-in: opening a file with the program associated with it.
// The opener is $VORLANE_OPENER when set, else xdg-open, found on PATH unless
// the name holds a "/". It runs detached (standard streams on /dev/null, a
// session of its own) with the file as its one argument; it is not waited
// for, and is reaped on a thread of its own when it ends.
#pragma once

namespace vorlane::platform {

// 0 when the opener was started; error_file_not_found (2) when there is no
// such program; otherwise the error of the spawn.
int shell_open(const char* file);

}  // namespace vorlane::platform
