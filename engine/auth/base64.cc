#include "engine/auth/base64.h"

namespace vorlane::engine {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of an alphabet character, 64 for "=", -1 for others.
int value_of(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return 64;
  return -1;
}

}  // namespace

long base64_decode(const char* text, uint8_t* output, size_t size) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p == ' ' || *p == '\t') ++p;
  size_t data = 0;
  while (value_of(p[data]) >= 0 && value_of(p[data]) < 64) ++data;
  // A single character left over carries fewer than 8 bits: it is dropped.
  size_t length = data / 4 * 3 + (data % 4 == 2 ? 1 : data % 4 == 3 ? 2 : 0);
  if (length + 4 > size) return -1;

  uint8_t* out = output;
  uint32_t bits = 0;
  int have = 0;
  for (size_t i = 0; i < data; ++i) {
    bits = bits << 6 | static_cast<uint32_t>(value_of(p[i]));
    have += 6;
    if (have >= 8) {
      have -= 8;
      *out++ = static_cast<uint8_t>(bits >> have);
    }
  }
  *out = 0;
  return static_cast<long>(length);
}

long base64_encode(const uint8_t* data, size_t n, char* output, size_t size) {
  if (size < n + (n + 3) / 3 + 4) return -1;
  char* out = output;
  size_t i = 0;
  for (; i + 2 < n; i += 3) {
    uint32_t v = static_cast<uint32_t>(data[i]) << 16 | static_cast<uint32_t>(data[i + 1]) << 8 | data[i + 2];
    *out++ = kAlphabet[v >> 18];
    *out++ = kAlphabet[(v >> 12) & 63];
    *out++ = kAlphabet[(v >> 6) & 63];
    *out++ = kAlphabet[v & 63];
  }
  if (n - i == 1) {
    uint32_t v = static_cast<uint32_t>(data[i]) << 16;
    *out++ = kAlphabet[v >> 18];
    *out++ = kAlphabet[(v >> 12) & 63];
    *out++ = '=';
    *out++ = '=';
  } else if (n - i == 2) {
    uint32_t v = static_cast<uint32_t>(data[i]) << 16 | static_cast<uint32_t>(data[i + 1]) << 8;
    *out++ = kAlphabet[v >> 18];
    *out++ = kAlphabet[(v >> 12) & 63];
    *out++ = kAlphabet[(v >> 6) & 63];
    *out++ = '=';
  }
  *out = '\0';
  return static_cast<long>(out - output);
}

}  // namespace vorlane::engine
