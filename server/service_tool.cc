// vorlane-service: installs, starts, stops and queries a service through
// the service manager stand-in.
//
//   vorlane-service [-n NAME] install PROGRAM
//   vorlane-service [-n NAME] start | stop | status
//
// NAME defaults to "Vorlane Server". "status" prints the service's pid,
// state, check point, wait hint and exit code, one "key=value" a line.
// Exit code 0 on success, else 1 with the error on standard error.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/service_manager.h"

using namespace vorlane::platform;

namespace {

int usage() {
  fprintf(stderr, "usage: vorlane-service [-n NAME] install PROGRAM | start | stop | status\n");
  return 2;
}

int fail(const char* what, int rc) {
  fprintf(stderr, "vorlane-service: %s failed: error %d\n", what, rc);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* name = "Vorlane Server";
  int i = 1;
  if (i + 1 < argc && strcmp(argv[i], "-n") == 0) {
    name = argv[i + 1];
    i += 2;
  }
  if (i >= argc) return usage();
  std::string command = argv[i++];
  if (command == "install") {
    if (i + 1 != argc) return usage();
    int rc = service_install(name, argv[i]);
    return rc ? fail("install", rc) : 0;
  }
  if (i != argc) return usage();
  if (command == "start") {
    pid_t pid = 0;
    int rc = service_start(name, &pid);
    if (rc) return fail("start", rc);
    printf("pid=%d\n", static_cast<int>(pid));
    return 0;
  }
  if (command == "stop") {
    int rc = service_stop(name);
    return rc ? fail("stop", rc) : 0;
  }
  if (command == "status") {
    ServiceStatus s;
    pid_t pid = 0;
    int rc = service_query_status(name, &s, &pid);
    if (rc) return fail("status", rc);
    printf("pid=%d\nstate=%u\ncheck_point=%u\nwait_hint=%u\nexit_code=%u\n", static_cast<int>(pid), s.current_state,
           s.check_point, s.wait_hint, s.win32_exit_code);
    return 0;
  }
  return usage();
}
