#include "engine/document/double_byte.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace vorlane::engine {

size_t ctp_mark_pairs(const char* text, size_t length, char* out, size_t size, char* pairs, size_t pairs_size,
                      size_t* pairs_length) {
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
  size_t n = 0, np = 0, i = 0;
  while (i < length) {
    if (t[i] & 0x80) {
      while (i < length && (t[i] & 0x80)) {
        if (i + 1 >= length) {  // a lead byte without its second byte
          ++i;
          break;
        }
        if (n + 2 < size) {
          out[n++] = static_cast<char>(t[i]);
          out[n++] = static_cast<char>(t[i + 1]);
          out[n++] = ' ';
        }
        if (np + 2 <= pairs_size) {
          pairs[np++] = static_cast<char>(t[i]);
          pairs[np++] = static_cast<char>(t[i + 1]);
        }
        i += 2;
      }
    } else {
      for (; i < length && !(t[i] & 0x80); ++i)
        if (n < size) out[n++] = static_cast<char>(t[i]);
      if (n > 0 && n < size && out[n - 1] != ' ') out[n++] = ' ';
    }
  }
  if (pairs_length) *pairs_length = np;
  return n;
}

size_t ctp_windows(const char* pairs, size_t pairs_length, size_t width, char* out, size_t size) {
  size_t n = 0;
  for (size_t s = 0; s + width < pairs_length && n + width + 3 < size; s += 2) {
    memcpy(out + n, pairs + s, width);
    n += width;
    memcpy(out + n, " ; ", 3);
    n += 3;
  }
  return n;
}

size_t ctp_expand(const char* text, size_t length, char* out, size_t size) {
  char* pairs = static_cast<char*>(malloc(kCtpPairsSize));
  if (!pairs) return 0;
  size_t np = 0;
  size_t n = ctp_mark_pairs(text, length, out, size, pairs, kCtpPairsSize, &np);
  for (size_t width : {size_t{6}, size_t{8}, size_t{10}})
    if (np >= width) n += ctp_windows(pairs, np, width, out + n, size - n);
  free(pairs);
  return n;
}

int ctp_file(FILE* in, FILE* out) {
  std::string text;
  try {
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, got);
  } catch (...) {
    return 0;
  }
  if (ferror(in)) return 0;
  // Each two-byte character gives itself, a blank and at most three windows
  // of 13 bytes or less: 18 bytes per input byte hold everything.
  const size_t size = text.size() * 18 + 16;
  char* area = static_cast<char*>(malloc(size));
  if (!area) return 0;
  const size_t n = ctp_expand(text.data(), text.size(), area, size);
  const bool ok = fwrite(area, 1, n, out) == n && fflush(out) == 0;
  free(area);
  return ok ? 1 : 0;
}

}  // namespace vorlane::engine
