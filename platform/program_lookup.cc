#include "platform/program_lookup.h"

#include <climits>
#include <unistd.h>

#include "platform/errors.h"

namespace vorlane::platform {

int find_executable(const char* file, std::string* program) {
  (void)file;
  program->clear();
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return error_file_not_found;
  program->assign(buf, static_cast<size_t>(n));
  return error_success;
}

}  // namespace vorlane::platform
