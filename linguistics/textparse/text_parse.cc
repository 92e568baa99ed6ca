#include "linguistics/textparse/text_parse.h"

#include <cstdint>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool is_white(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

enum class Kind { character, decimal, hexadecimal, octal };

Kind token_kind(const char* token) {
  const char* p = token;
  if (*p == '-') ++p;
  if (!is_digit(*p)) return Kind::character;
  if (*p != '0') return Kind::decimal;
  char next = p[1];
  if (next == 'x' || next == 'X') return Kind::hexadecimal;
  if (is_digit(next)) return Kind::octal;
  if (next == '\0' || is_white(next)) return Kind::decimal;
  return Kind::character;
}

// Accumulates digits of the given base over [p, end); false on a bad digit.
bool accumulate(const char* p, const char* end, unsigned base, uint32_t* value) {
  uint32_t v = 0;
  for (; p < end; ++p) {
    int d = base == 16 ? hex_value(*p) : (is_digit(*p) ? *p - '0' : -1);
    if (d < 0 || static_cast<unsigned>(d) >= base) return false;
    v = v * base + static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

extern "C" {

char* cvdir(char* path) {
  for (char* p = path; *p; ++p)
    if (*p == '/') *p = '\\';
  return path;
}

char* eat_spaces(char* text) {
  while (is_blank(*text)) ++text;
  return text;
}

char* find_and_eat_spaces(char* text) {
  char* space = vorlane::find_space(text);
  return space ? eat_spaces(space) : nullptr;
}

int readnumber(char* text, long* value) {
  const char* p = text;
  while (is_white(*p)) ++p;
  if (*p == '\0') return -1;
  const char* token = p;
  const char* end = token;
  while (*end && !is_white(*end)) ++end;

  bool negative = *token == '-';
  const char* digits = negative ? token + 1 : token;
  uint32_t v = 0;
  switch (token_kind(token)) {
    case Kind::character:
      if (end - token != 1) return -1;
      *value = static_cast<signed char>(*token);
      return static_cast<int>(end - text);
    case Kind::decimal:
      if (!accumulate(digits, end, 10, &v)) return -1;
      break;
    case Kind::hexadecimal:
      if (!accumulate(digits + 2, end, 16, &v)) return -1;
      break;
    case Kind::octal:
      if (!accumulate(digits + 1, end, 8, &v)) return -1;
      break;
  }
  if (negative) v = 0u - v;
  *value = static_cast<int32_t>(v);
  return static_cast<int>(end - text);
}

int readnumbers(char* text, long* values) {
  int count = 0;
  for (;;) {
    int used = readnumber(text, &values[count]);
    if (used < 0) return count;
    text += used;
    ++count;
  }
}

}  // extern "C"

namespace vorlane {

char* find_space(char* text) {
  for (char* p = text; *p; ++p)
    if (is_blank(*p)) return p;
  return nullptr;
}

int readtwonumbers(char* text, long* first, long* second) {
  int used = readnumber(text, first);
  if (used < 0 || text[used] == '\0') return -1;
  return readnumber(text + used, second) < 0 ? -1 : 0;
}

}  // namespace vorlane
