#include "kepsey/frozen_runner.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

#include "host/interpreter_start.h"
#include "host/module_table.h"
#include "host/server_globals.h"

namespace vorlane::kepsey {

namespace {

bool env_flag(const char* name) {
  const char* value = getenv(name);
  return value && *value;
}

int start_failed(PyConfig* config, PyStatus status) {
  return host::interpreter_start_failed(config, status, "kepsey", "the interpreter cannot start");
}

}  // namespace

void set_frozen_table(const struct _frozen* table) { PyImport_FrozenModules = table; }

int WinMain(const struct _frozen* table, int argc, char** argv) {
  HInstance = dlopen(nullptr, RTLD_NOW);

  bool inspect = env_flag("PYTHONINSPECT");
  bool unbuffered = env_flag("PYTHONUNBUFFERED");
  if (unbuffered) {
    setvbuf(stdin, nullptr, _IONBF, 0);
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
  }

  set_frozen_table(table);
  if (vorlane_register_modules() != 0) {
    fprintf(stderr, "kepsey: cannot extend the built-in module table\n");
    return 1;
  }

  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  config.parse_argv = 0;
  config.buffered_stdio = unbuffered ? 0 : 1;
  config.inspect = 0;  // the interactive loop below is run here, not by the interpreter
  PyStatus status = PyConfig_SetBytesArgv(&config, argc, argv);
  if (PyStatus_Exception(status)) return start_failed(&config, status);
  status = Py_InitializeFromConfig(&config);
  if (PyStatus_Exception(status)) return start_failed(&config, status);
  PyConfig_Clear(&config);

  int code = 0;
  int found = PyImport_ImportFrozenModule("__main__");
  if (found == 0) Py_FatalError("__main__ not frozen");
  if (found < 0) {
    PyErr_Print();
    code = 1;
  }
  if (inspect && isatty(fileno(stdin))) {
    if (PyRun_AnyFile(stdin, "<stdin>") != 0) code = 1;
  }
  if (Py_FinalizeEx() < 0 && code == 0) code = 120;
  return code;
}

}  // namespace vorlane::kepsey
