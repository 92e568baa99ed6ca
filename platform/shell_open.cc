#include "platform/shell_open.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

#include "platform/errors.h"
#include "platform/process.h"

namespace vorlane::platform {

namespace {

std::string find_program(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : std::string();
  const char* path = getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (access(full.c_str(), X_OK) == 0) return full;
    start = end + 1;
  }
  return std::string();
}

}  // namespace

int shell_open(const char* file) {
  const char* opener = getenv("VORLANE_OPENER");
  std::string program = find_program(opener && *opener ? opener : "xdg-open");
  if (program.empty()) return error_file_not_found;
  std::string arg = file ? file : "";
  char* argv[] = {program.data(), arg.data(), nullptr};
  SpawnRequest request;
  request.path = program.c_str();
  request.argv = argv;
  Process child;
  int rc = process_spawn(request, &child);
  if (rc == ENOENT) return error_file_not_found;
  if (rc) return rc;
  std::thread([child]() mutable {
    process_wait(&child, -1);
    process_close(&child);
  }).detach();
  return error_success;
}

}  // namespace vorlane::platform
