// URL, HTML and XML quoting of byte strings.
//
// Each function writes into `out` of `size` bytes, keeping one byte for the
// terminating NUL, and when `overflow` is given sets it to 1 when the output
// reached the area's last byte (the output is then cut). A null text gives an
// empty output. The input is read up to its first NUL.
//
// Areas that always fit: url_quote 3n + 1, url_unquote n + 1, html_quote and
// xml_quote 6n + 1 for an input of n bytes.
#pragma once

#include <array>
#include <cstddef>

namespace vorlane::engine {

// The 82 characters url_quote copies unchanged: letters, digits and
// ! $ ' ( ) * , - . / [ \ ] ^ _ ` { | } ~ (one flag per 7-bit character).
constexpr std::array<bool, 128> make_url_safe_table() {
  std::array<bool, 128> t{};
  for (int c = 0; c < 128; ++c) {
    bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    for (const char* s = "!$'()*,-./[\\]^_`{|}~"; *s; ++s)
      if (c == *s) safe = true;
    t[c] = safe;
  }
  return t;
}
inline constexpr std::array<bool, 128> UrlSafeTable = make_url_safe_table();

// Mode non-zero turns a blank into '+'. Every other byte outside the safe
// set becomes '%' and two upper-case hex digits.
char* url_quote(const char* text, int mode, char* out, size_t size, int* overflow);

// '%' and the next two characters give one byte (a character that is no hex
// digit counts as 0, so "%zz" gives a NUL byte); a '%' with fewer than two
// characters after it is copied as it stands. Mode non-zero turns '+' into a
// blank. Returns the number of bytes written, NUL bytes among them.
size_t url_unquote(const char* text, int mode, char* out, size_t size, int* overflow);

// '"' "&quot;", '&' "&amp;", '<' "&lt;", '>' "&gt;".
char* html_quote(const char* text, char* out, size_t size, int* overflow);

// As html_quote, and '\'' "&apos;", bytes 127..255 "&#N;".
char* xml_quote(const char* text, char* out, size_t size, int* overflow);

}  // namespace vorlane::engine
