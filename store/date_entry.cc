#include "store/date_entry.h"

#include <cstring>
#include <string>

#include "store/term_hash.h"

namespace vorlane {

uint32_t url_host_hash(const char* url, size_t length) {
  const char* end = url + length;
  const char* slashes = nullptr;
  for (const char* p = url; p + 1 < end; ++p) {
    if (p[0] == '/' && p[1] == '/') {
      slashes = p;
      break;
    }
  }
  if (slashes == nullptr) return 0;
  const char* host = slashes + 2;
  const char* slash = static_cast<const char*>(std::memchr(host, '/', static_cast<size_t>(end - host)));
  if (slash == nullptr) return 0;
  size_t host_length = static_cast<size_t>(slash - host);
  if (host_length >= 256) return 0;
  std::string text(host, host_length);
  return term_hash1(text.c_str());
}

din_entry make_date_entry(const char* url, size_t length, time_t date) {
  din_entry e;
  e.host_hash = url_host_hash(url, length);
  e.day = (local_day_number(date) & 0xFFFFu) << 16;
  return e;
}

}  // namespace vorlane
