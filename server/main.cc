// vorlane-server: the host program of the search server.
//
//   vorlane-server [ARGS...]                 console supervisor (wrapper_startup)
//   vorlane-server, started as the service   service supervisor (service_startup)
//   vorlane-server -child [-serverNum N] [SCRIPT [ARGS...]]
//                                            one server process: the interpreter
//                                            with the system's modules runs SCRIPT
//
// The service manager names the service it starts in VORLANE_SERVICE. The
// supervisors exit with 0 once they have stopped.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

#include "host/server_globals.h"
#include "server/child.h"

extern "C" {
void wrapper_startup(int argc, char** argv) __attribute__((weak));
void service_startup(void) __attribute__((weak));
}

int main(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "-child") == 0) return vorlane::server::run_child(argc - 2, argv + 2);

  const char* service = getenv("VORLANE_SERVICE");
  if (service && *service && service_startup) {
    service_startup();
    return 0;
  }
  HInstance = dlopen(nullptr, RTLD_NOW);
  if (!wrapper_startup) {
    fprintf(stderr, "vorlane-server: this build has no supervisor; use -child SCRIPT\n");
    return 2;
  }
  wrapper_startup(argc, argv);
  return 0;
}
