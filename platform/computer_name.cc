#include "platform/computer_name.h"

#include <unistd.h>

namespace vorlane::platform {

size_t computer_name(char* buffer, size_t size) {
  if (size == 0) return 0;
  buffer[0] = '\0';
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return 0;
  size_t n = 0;
  while (n < 15 && n + 1 < size && host[n] && host[n] != '.') {
    char c = host[n];
    buffer[n++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  buffer[n] = '\0';
  return n;
}

}  // namespace vorlane::platform
