#include "platform/root.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace vorlane::platform {

bool make_dirs(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t pos = 0;
  while ((pos = path.find('/', pos + 1)) != std::string::npos) {
    std::string prefix = path.substr(0, pos);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string root_dir() {
  const char* env = std::getenv("VORLANE_ROOT");
  std::string root = (env && *env) ? env : "/var/lib/vorlane";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  make_dirs(root);
  return root;
}

std::string root_path(const std::string& relative) {
  std::string full = root_dir() + "/" + relative;
  size_t slash = full.rfind('/');
  if (slash != std::string::npos && slash > 0) make_dirs(full.substr(0, slash));
  return full;
}

}  // namespace vorlane::platform
