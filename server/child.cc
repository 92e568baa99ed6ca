#include "server/child.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "host/interpreter_start.h"
#include "host/module_table.h"
#include "host/server_globals.h"

namespace vorlane::server {

namespace {

std::string program_path() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string default_main_script() {
  const char* env = getenv("VORLANE_MAIN");
  if (env && *env) return env;
  std::string path = program_path();
  for (int i = 0; i < 2; ++i) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "lib/server.py";
    path.erase(slash);
  }
  return path + "/lib/server.py";
}

int fail_status(PyConfig* config, PyStatus status) {
  return host::interpreter_start_failed(config, status, "vorlane-server", "interpreter start failed");
}

}  // namespace

int run_child(int argc, char** argv) {
  int i = 0;
  if (i < argc && strcmp(argv[i], "-serverNum") == 0) {
    if (i + 1 >= argc) {
      fprintf(stderr, "vorlane-server: -serverNum needs a number\n");
      return 2;
    }
    char* end = nullptr;
    long n = strtol(argv[i + 1], &end, 10);
    if (!end || *end || n < 0 || n > 9) {
      fprintf(stderr, "vorlane-server: bad server number: %s\n", argv[i + 1]);
      return 2;
    }
    serverNum = static_cast<int>(n);
    i += 2;
  }
  std::string script = i < argc ? argv[i++] : default_main_script();

  if (vorlane_register_modules() != 0) {
    fprintf(stderr, "vorlane-server: cannot extend the built-in module table\n");
    return 1;
  }

  // A write past a file size limit (RLIMIT_FSIZE) fails with EFBIG, which
  // the engine reports as the error of the call, instead of ending the
  // server with SIGXFSZ. The host program decides this, not the library,
  // which leaves the signals of whatever program loads it alone.
  signal(SIGXFSZ, SIG_IGN);

  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  config.parse_argv = 0;
  std::vector<char*> args;
  args.push_back(script.data());
  for (; i < argc; ++i) args.push_back(argv[i]);
  PyStatus status = PyConfig_SetBytesArgv(&config, static_cast<Py_ssize_t>(args.size()), args.data());
  if (PyStatus_Exception(status)) return fail_status(&config, status);
  status = PyConfig_SetBytesString(&config, &config.run_filename, script.c_str());
  if (PyStatus_Exception(status)) return fail_status(&config, status);
  status = Py_InitializeFromConfig(&config);
  if (PyStatus_Exception(status)) return fail_status(&config, status);
  PyConfig_Clear(&config);
  return Py_RunMain();
}

}  // namespace vorlane::server
