// What the programs that embed the interpreter (vorlane-server's child mode,
// kepsey) do when the interpreter cannot be configured or started.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>

namespace vorlane::host {

// Clears the configuration and gives the program's exit code: the one the
// interpreter asked for when it asked to exit, else 1 after
// "<program>: <the interpreter's message, or `fallback`>" on standard error.
inline int interpreter_start_failed(PyConfig* config, PyStatus status, const char* program,
                                    const char* fallback) {
  PyConfig_Clear(config);
  if (PyStatus_IsExit(status)) return status.exitcode;
  fprintf(stderr, "%s: %s\n", program, status.err_msg ? status.err_msg : fallback);
  return 1;
}

}  // namespace vorlane::host
