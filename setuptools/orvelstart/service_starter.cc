#include "setuptools/orvelstart/service_starter.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

#include "host/server_registry.h"
#include "platform/errors.h"
#include "platform/service_manager.h"
#include "platform/shell_open.h"

namespace vorlane::orvelstart {

namespace {

void pause_between(const Tries& tries, int attempt) {
  if (attempt + 1 < tries.count && tries.pause_ms > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(tries.pause_ms));
}

}  // namespace

int errorExit(int code) {
  fprintf(stderr, "Error exit: %d\n", code);
  char line[81];
  if (!fgets(line, sizeof line, stdin)) clearerr(stdin);
  return code;
}

int errorMessageExit(const char* message) {
  fprintf(stderr, "%s\n", message);
  return errorExit(1);
}

int startServerService() {
  if (platform::service_manager_open() != platform::error_success) return errorMessageExit("OpenSCManager failed.");
  std::string program;
  if (platform::service_query_config(service_name, &program) != platform::error_success) return 10;
  int rc = platform::service_start(service_name);
  if (rc != platform::error_success && rc != platform::error_service_already_running) return 11;
  return 0;
}

bool writeAdminShortcut(char* path, size_t size, const Tries& tries) {
  const size_t name_length = strlen(shortcut_name) + 1;  // "/" and the name
  uint32_t port = 0;
  char hostname[256] = "";
  bool found = false;
  for (int attempt = 0; attempt < tries.count && !found; ++attempt) {
    // A data directory too long for the shortcut's path counts as missing.
    found = orvelRegistryGetNum(0, "port", &port) &&
            host::orvelRegistryGetString(0, "hostname", hostname, sizeof hostname) &&
            host::orvelRegistryGetString(0, "data_dir", path, size) && strlen(path) + name_length < size;
    if (!found) pause_between(tries, attempt);
  }
  if (!found) return false;
  strcat(path, "/");
  strcat(path, shortcut_name);

  FILE* file = nullptr;
  for (int attempt = 0; attempt < tries.count && !file; ++attempt) {
    file = fopen(path, "w");
    if (!file) pause_between(tries, attempt);
  }
  if (!file) return false;
  fprintf(file, "[InternetShortcut]\n");
  fprintf(file, "url=http://%s:%d/admin\n", hostname, static_cast<int>(port));
  bool written = !ferror(file);
  return fclose(file) == 0 && written;
}

int WinMain() {
  // Where the program runs from matters only for a relative data directory;
  // a failure here is not fatal.
  [[maybe_unused]] int moved = chdir("../..");
  int rc = startServerService();
  if (rc != 0) return rc;
  char path[1024];
  if (!writeAdminShortcut(path, sizeof path)) return 1;
  int opened = platform::shell_open(path);
  if (opened == platform::error_success) return 0;
  // A failed open is never reported as success.
  return opened > 0 && opened < 256 ? opened : 1;
}

}  // namespace vorlane::orvelstart
