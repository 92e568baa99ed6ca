#include "engine/text/quoting.h"

#include <cstdio>
#include <cstring>

namespace vorlane::engine {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// '0'-'9', 'A'-'F' and 'a'-'f' give their value, every other character 0.
struct HexValues {
  signed char v[128];
  constexpr HexValues() : v() {
    for (int i = 0; i < 128; ++i)
      v[i] = static_cast<signed char>(i >= '0' && i <= '9'   ? i - '0'
                                      : i >= 'A' && i <= 'F' ? i - 'A' + 10
                                      : i >= 'a' && i <= 'f' ? i - 'a' + 10
                                                             : 0);
  }
};
constexpr HexValues kHexValue{};

// Copies text into out (size bytes, the last kept for the NUL), each byte
// either as it is or as the replacement that `replace` writes into its 8-byte
// buffer (returning its length; 0 keeps the byte). A replacement that does
// not fit before the last byte ends the output there.
template <typename Replace>
char* quote_bytes(const char* text, char* out, size_t size, int* overflow, Replace replace) {
  if (overflow) *overflow = 0;
  if (size == 0) return out;
  size_t last = size - 1;
  size_t at = 0;
  bool cut = false;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text ? text : "");
       *c && at < last; ++c) {
    char replacement[8];
    size_t n = replace(*c, replacement);
    if (n == 0) {
      out[at++] = static_cast<char>(*c);
      continue;
    }
    if (at + n > last) {  // does not fit: the output ends here
      cut = true;
      break;
    }
    memcpy(out + at, replacement, n);
    at += n;
  }
  if (overflow) *overflow = cut || at >= last;
  out[at] = 0;
  return out;
}

// Entity-style quoting shared by html_quote and xml_quote.
char* entity_quote(const char* text, char* out, size_t size, int* overflow, bool xml) {
  return quote_bytes(text, out, size, overflow, [xml](unsigned char c, char* replacement) -> size_t {
    const char* fixed = nullptr;
    switch (c) {
      case '"': fixed = "&quot;"; break;
      case '&': fixed = "&amp;"; break;
      case '<': fixed = "&lt;"; break;
      case '>': fixed = "&gt;"; break;
      case '\'':
        if (xml) fixed = "&apos;";
        break;
      default:
        if (xml && c >= 127) return static_cast<size_t>(snprintf(replacement, 8, "&#%d;", c));
    }
    if (!fixed) return 0;
    size_t n = strlen(fixed);
    memcpy(replacement, fixed, n);
    return n;
  });
}

}  // namespace

char* url_quote(const char* text, int mode, char* out, size_t size, int* overflow) {
  return quote_bytes(text, out, size, overflow, [mode](unsigned char c, char* replacement) -> size_t {
    if (mode && c == ' ') {
      replacement[0] = '+';
      return 1;
    }
    if (c < 128 && UrlSafeTable[c]) return 0;
    replacement[0] = '%';
    replacement[1] = kHexDigits[c >> 4];
    replacement[2] = kHexDigits[c & 15];
    return 3;
  });
}

size_t url_unquote(const char* text, int mode, char* out, size_t size, int* overflow) {
  if (overflow) *overflow = 0;
  if (size == 0) return 0;
  size_t last = size - 1;
  size_t at = 0;
  const unsigned char* c = reinterpret_cast<const unsigned char*>(text ? text : "");
  while (*c && at < last) {
    if (*c == '%' && c[1] && c[2]) {
      out[at++] = static_cast<char>((kHexValue.v[c[1] & 0x7F] << 4) | kHexValue.v[c[2] & 0x7F]);
      c += 3;
    } else {
      out[at++] = static_cast<char>(mode && *c == '+' ? ' ' : *c);
      ++c;
    }
  }
  if (overflow) *overflow = at >= last;
  out[at] = 0;
  return at;
}

char* html_quote(const char* text, char* out, size_t size, int* overflow) {
  return entity_quote(text, out, size, overflow, false);
}

char* xml_quote(const char* text, char* out, size_t size, int* overflow) {
  return entity_quote(text, out, size, overflow, true);
}

}  // namespace vorlane::engine
