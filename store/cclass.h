// Character classes and case mapping of the C locale, as one fixed table.
//
// Checksums, hashes and tokens must not depend on the process locale (the
// embedded interpreter sets LC_CTYPE from the environment), so engine code
// never calls <ctype.h> on text. Bytes 0x80-0xFF belong to no class here.
// Always pass bytes as unsigned char values (0..255).
#pragma once

#include <cstdint>

namespace vorlane {

enum CClass : uint8_t {
  CC_UPPER = 0x01,
  CC_LOWER = 0x02,
  CC_DIGIT = 0x04,
  CC_SPACE = 0x08,   // ' ', \t, \n, \v, \f, \r
  CC_PUNCT = 0x10,
  CC_CNTRL = 0x20,
  CC_XDIGIT = 0x40,
  CC_BLANK = 0x80,   // ' ', \t
};

namespace cclass_detail {
constexpr uint8_t class_of(int c) {
  uint8_t k = 0;
  if (c >= 'A' && c <= 'Z') k |= CC_UPPER;
  if (c >= 'a' && c <= 'z') k |= CC_LOWER;
  if (c >= '0' && c <= '9') k |= CC_DIGIT | CC_XDIGIT;
  if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) k |= CC_XDIGIT;
  if (c == ' ' || (c >= '\t' && c <= '\r')) k |= CC_SPACE;
  if (c == ' ' || c == '\t') k |= CC_BLANK;
  if ((c >= 0 && c < 0x20) || c == 0x7F) k |= CC_CNTRL;
  if (c > 0x20 && c < 0x7F && !(k & (CC_UPPER | CC_LOWER | CC_DIGIT))) k |= CC_PUNCT;
  return k;
}
struct Table {
  uint8_t v[256];
  constexpr Table() : v() {
    for (int i = 0; i < 256; ++i) v[i] = class_of(i);
  }
};
inline constexpr Table table{};
}  // namespace cclass_detail

constexpr uint8_t c_class(unsigned char c) { return cclass_detail::table.v[c]; }
constexpr bool c_isupper(unsigned char c) { return c_class(c) & CC_UPPER; }
constexpr bool c_islower(unsigned char c) { return c_class(c) & CC_LOWER; }
constexpr bool c_isalpha(unsigned char c) { return c_class(c) & (CC_UPPER | CC_LOWER); }
constexpr bool c_isdigit(unsigned char c) { return c_class(c) & CC_DIGIT; }
constexpr bool c_isalnum(unsigned char c) { return c_class(c) & (CC_UPPER | CC_LOWER | CC_DIGIT); }
constexpr bool c_isxdigit(unsigned char c) { return c_class(c) & CC_XDIGIT; }
constexpr bool c_isspace(unsigned char c) { return c_class(c) & CC_SPACE; }
constexpr bool c_isblank(unsigned char c) { return c_class(c) & CC_BLANK; }
constexpr bool c_ispunct(unsigned char c) { return c_class(c) & CC_PUNCT; }
constexpr bool c_iscntrl(unsigned char c) { return c_class(c) & CC_CNTRL; }
constexpr bool c_isprint(unsigned char c) { return c >= 0x20 && c < 0x7F; }
constexpr unsigned char c_tolower(unsigned char c) { return c_isupper(c) ? c + 32 : c; }
constexpr unsigned char c_toupper(unsigned char c) { return c_islower(c) ? c - 32 : c; }

}  // namespace vorlane
