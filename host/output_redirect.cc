#include "host/output_redirect.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vorlane::host {

bool redirect_output(const char* path) {
  if (!path) return false;
  int fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  fflush(stdout);
  fflush(stderr);
  bool ok = dup2(fd, 1) == 1;
  ok = dup2(fd, 2) == 2 && ok;
  close(fd);
  setvbuf(stdout, nullptr, _IONBF, 0);
  setvbuf(stderr, nullptr, _IONBF, 0);
  return ok;
}

}  // namespace vorlane::host

extern "C" void _output_to_logfile(const char* path) { vorlane::host::redirect_output(path); }
