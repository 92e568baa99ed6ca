#include "engine/quoting.h"

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

// Entity-style quoting shared by html_quote and xml_quote.
char* entity_quote(const char* text, char* out, size_t size, int* overflow, bool xml) {
  if (overflow) *overflow = 0;
  if (size == 0) return out;
  size_t last = size - 1;
  size_t at = 0;
  bool cut = false;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text ? text : "");
       *c && at < last; ++c) {
    char reference[8];
    const char* replacement = nullptr;
    switch (*c) {
      case '"': replacement = "&quot;"; break;
      case '&': replacement = "&amp;"; break;
      case '<': replacement = "&lt;"; break;
      case '>': replacement = "&gt;"; break;
      case '\'':
        if (xml) replacement = "&apos;";
        break;
      default:
        if (xml && *c >= 127) {
          snprintf(reference, sizeof reference, "&#%d;", *c);
          replacement = reference;
        }
    }
    if (!replacement) {
      out[at++] = static_cast<char>(*c);
      continue;
    }
    size_t n = strlen(replacement);
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

}  // namespace

char* url_quote(const char* text, int mode, char* out, size_t size, int* overflow) {
  if (overflow) *overflow = 0;
  if (size == 0) return out;
  size_t last = size - 1;
  size_t at = 0;
  bool cut = false;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text ? text : "");
       *c && at < last; ++c) {
    if (mode && *c == ' ') {
      out[at++] = '+';
    } else if (*c < 128 && UrlSafeTable[*c]) {
      out[at++] = static_cast<char>(*c);
    } else {
      if (at + 2 >= last) {
        cut = true;
        break;
      }
      out[at++] = '%';
      out[at++] = kHexDigits[*c >> 4];
      out[at++] = kHexDigits[*c & 15];
    }
  }
  if (overflow) *overflow = cut || at >= last;
  out[at] = 0;
  return out;
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
