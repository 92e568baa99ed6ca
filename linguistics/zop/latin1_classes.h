// Character classes of Windows Latin-1 (cp1252) used by the tokenizer and
// the tagger. Fixed tables: nothing here depends on the process locale.
#pragma once

#include <cstdint>

namespace vorlane::zop {

inline bool is_space(uint8_t c) { return c <= 32; }
inline bool is_line_break(uint8_t c) { return c == 10 || c == 13; }

// Letters and digits: '0'-'9', 'A'-'Z', 'a'-'z', 192-255 except 215 and 247.
inline bool is_word_char(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= 192 && c != 215 && c != 247);
}

inline bool is_opening_mark(uint8_t c) {
  return c == '(' || c == '"' || c == '[' || c == '{' || c == 161 || c == 171 || c == 191;
}

inline bool is_trailing_mark(uint8_t c) {
  switch (c) {
    case ',': case ';': case ':': case '"': case ')': case ']': case '?': case '!': case '}':
    case 169: case 174: case 178: case 179: case 185: case 187:
      return true;
    default:
      return false;
  }
}

// Record type of a single punctuation character.
inline int32_t punct_type(uint8_t c) {
  int32_t type = (c == '.' || c == '?' || c == '!' || c == 133) ? 16 : 0;
  bool opening = is_opening_mark(c) || c == '`' || c == 130 || c == 132 || c == 133 || c == 139 || c == 145 ||
                 c == 147;
  type += opening ? 10 : 2;
  bool closing = is_trailing_mark(c) || c == '\'' || c == '.' || c == 133 || c == 134 || c == 135 || c == 137 ||
                 c == 148 || c == 153;
  if (closing) type += 4;
  return type;
}

// Letters of transducer tokens: the word characters and 131, 138, 140, 154,
// 156, 159.
inline bool is_token_letter(uint8_t c) {
  return is_word_char(c) || c == 131 || c == 138 || c == 140 || c == 154 || c == 156 || c == 159;
}

inline bool is_token_punct(uint8_t c) {
  return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) || (c >= 123 && c <= 126) ||
         c == 130 || (c >= 132 && c <= 137) || c == 139 || (c >= 145 && c <= 153) || c == 155 ||
         (c >= 161 && c <= 191) || c == 215 || c == 247;
}

// Case of the tagger: lower case is 'a'-'z', 224-255 except 247, 154, 156;
// upper case 'A'-'Z', 192-222 except 215, 138, 140, 159.
inline bool is_lower(uint8_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 224 && c != 247) || c == 154 || c == 156;
}
inline bool is_upper(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 192 && c <= 222 && c != 215) || c == 138 || c == 140 || c == 159;
}
inline uint8_t to_lower(uint8_t c) {
  if (!is_upper(c)) return c;
  if (c == 138 || c == 140) return static_cast<uint8_t>(c + 16);
  if (c == 159) return 255;
  return static_cast<uint8_t>(c + 32);
}
inline uint8_t to_upper(uint8_t c) {
  if (!is_lower(c)) return c;
  if (c == 154 || c == 156) return static_cast<uint8_t>(c - 16);
  if (c == 255) return 159;
  return static_cast<uint8_t>(c - 32);
}

}  // namespace vorlane::zop
