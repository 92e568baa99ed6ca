#include "setuptools/wendal/settings_tool.h"

#include <cstdint>
#include <cstring>

#include "host/server_registry.h"

namespace vorlane::wendal {

namespace {

struct Options {
  int server = 0;
  const char* data_dir = nullptr;  // -setdir
  int port = 0;                    // 0: no change
  bool set_gpf = false;
  bool gpf_on = false;
};

// Reads the options; false on an unknown argument or a missing value.
bool parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    bool known = strcmp(arg, "-serverNum") == 0 || strcmp(arg, "-setdir") == 0 || strcmp(arg, "-port") == 0 ||
                 strcmp(arg, "-gpf") == 0;
    if (!known || i + 1 >= argc) return false;
    const char* value = argv[++i];
    // A number that does not parse leaves the earlier value, as "%d" does.
    if (strcmp(arg, "-serverNum") == 0) {
      sscanf(value, "%d", &options->server);
    } else if (strcmp(arg, "-setdir") == 0) {
      options->data_dir = value;
    } else if (strcmp(arg, "-port") == 0) {
      sscanf(value, "%d", &options->port);
    } else {
      options->set_gpf = true;
      options->gpf_on = strcmp(value, "on") == 0;
    }
  }
  return true;
}

void list_servers(FILE* out) {
  for (int server = 0; server <= 9; ++server) {
    char data_dir[1024];
    if (host::orvelRegistryGetString(server, "data_dir", data_dir, sizeof data_dir) && data_dir[0])
      fprintf(out, "data directory[%d] = %s\n", server, data_dir);
    uint32_t port = 0;
    if (orvelRegistryGetNum(server, "port", &port)) fprintf(out, "port number[%d]    = %d\n", server, static_cast<int>(port));
  }
}

}  // namespace

int run(int argc, char** argv, FILE* out, FILE* err) {
  Options options;
  if (!parse(argc, argv, &options)) {
    fprintf(err, "Usage: %s [-serverNum <num>] [-setdir <data-dir>] [-port <num>] [-gpf {on|off}] [-delete]\n",
            argc > 0 ? argv[0] : "wendal");
    return 1;
  }
  if (options.data_dir) {
    char data_dir[1024];
    host::orvelRegistryGetString(options.server, "data_dir", data_dir, sizeof data_dir);
    fprintf(out, "Old data dir[%d] is: %s\n", options.server, data_dir);
    host::orvelRegistrySetString(options.server, "data_dir", options.data_dir);
    host::orvelRegistryGetString(options.server, "data_dir", data_dir, sizeof data_dir);
    fprintf(out, "New data dir[%d] is: %s\n", options.server, data_dir);
  }
  if (options.port != 0) {
    host::orvelRegistrySetNum(options.server, "port", static_cast<uint32_t>(options.port));
    fprintf(out, "setting port[%d] to %d\n", options.server, options.port);
  }
  if (options.set_gpf) {
    host::orvelRegistrySetNum(options.server, "gpf", options.gpf_on ? 1 : 0);
    fprintf(out, "setting gpf flag to %s\n", options.gpf_on ? "on" : "off");
  }
  if (argc <= 1) list_servers(out);
  return 1;
}

}  // namespace vorlane::wendal
