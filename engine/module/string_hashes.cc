#include "engine/module/string_hashes.h"

namespace vorlane::engine {

uint64_t hash2_string(const void* bytes, size_t length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  uint32_t h1 = 0;
  uint32_t h2 = 0;
  for (size_t i = 0; i < length; ++i) {
    h1 = h1 * 129u + p[i] + 987654321u;
    h2 = h2 * 65599u + p[i];
  }
  h1 &= 0x7FFFFFFFu;
  h2 &= 0x7FFFFFFFu;
  if (h1 == 0) h1 = 1;
  if (h2 == 0) h2 = 1;
  return uint64_t{h1} | (uint64_t{h2} << 32);
}

int dir_depth(const char* url) {
  int slashes = 0;
  for (const char* p = url; *p && *p != '?'; ++p)
    if (*p == '/') ++slashes;
  return slashes - 2;
}

}  // namespace vorlane::engine
