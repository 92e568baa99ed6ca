#include "linguistics/textparse/path_open.h"

#include <cstring>
#include <string>

namespace vorlane {

FILE* open_config_path(const char* path, const char* mode) {
  FILE* f = std::fopen(path, mode);
  if (f || !std::strchr(path, '\\')) return f;
  std::string slashed = path;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  return std::fopen(slashed.c_str(), mode);
}

}  // namespace vorlane
