// vorlane-server-testing: vorlane-server's child mode with the test module
// _engine_testing added to the built-in modules.
//
//   vorlane-server-testing -child [-serverNum N] SCRIPT [ARGS...]
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>
#include <cstring>

#include "server/child.h"

namespace vorlane::engine::testing {
PyObject* PyInit__engine_testing();
}

int main(int argc, char** argv) {
  if (argc < 2 || strcmp(argv[1], "-child") != 0) {
    fprintf(stderr, "usage: vorlane-server-testing -child [-serverNum N] SCRIPT [ARGS...]\n");
    return 2;
  }
  if (PyImport_AppendInittab("_engine_testing", vorlane::engine::testing::PyInit__engine_testing) != 0) return 1;
  return vorlane::server::run_child(argc - 2, argv + 2);
}
