#include "engine/auth/md5_crypt.h"

#include <cstring>

#include "engine/auth/md5.h"

namespace vorlane::engine {

namespace {

constexpr char kMagic[] = "$1$";
constexpr size_t kMagicLength = 3;
constexpr size_t kMaxSalt = 8;
constexpr char kAlphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

char result[120];

void wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  for (size_t i = 0; i < n; ++i) v[i] = 0;
}

}  // namespace

void crypt_to64(char* destination, uint32_t value, int n) {
  while (n-- > 0) {
    *destination++ = kAlphabet[value & 0x3F];
    value >>= 6;
  }
}

const char* md5_crypt(const char* password, const char* salt) {
  if (strncmp(salt, kMagic, kMagicLength) == 0) salt += kMagicLength;
  size_t salt_length = 0;
  while (salt_length < kMaxSalt && salt[salt_length] && salt[salt_length] != '$') ++salt_length;
  size_t password_length = strlen(password);

  md5_context a, b;
  uint8_t f[16];

  md5_init(&a);
  md5_update(&a, password, password_length);
  md5_update(&a, kMagic, kMagicLength);
  md5_update(&a, salt, salt_length);

  md5_init(&b);
  md5_update(&b, password, password_length);
  md5_update(&b, salt, salt_length);
  md5_update(&b, password, password_length);
  md5_final(f, &b);

  for (size_t left = password_length; left > 0; left -= left > 16 ? 16 : left)
    md5_update(&a, f, left > 16 ? 16 : left);
  wipe(f, sizeof f);

  // One byte per bit of the length, lowest bit first: a 1 bit adds a zero
  // byte (F's first byte, just cleared), a 0 bit the password's first byte.
  for (size_t bits = password_length; bits; bits >>= 1)
    md5_update(&a, (bits & 1) ? reinterpret_cast<const char*>(f) : password, 1);

  char* out = result;
  memcpy(out, kMagic, kMagicLength);
  out += kMagicLength;
  memcpy(out, salt, salt_length);
  out += salt_length;
  *out++ = '$';

  md5_final(f, &a);

  // Rounds that make the hash slow to compute.
  for (int i = 0; i < 1000; ++i) {
    md5_context c;
    md5_init(&c);
    if (i & 1)
      md5_update(&c, password, password_length);
    else
      md5_update(&c, f, 16);
    if (i % 3) md5_update(&c, salt, salt_length);
    if (i % 7) md5_update(&c, password, password_length);
    if (i & 1)
      md5_update(&c, f, 16);
    else
      md5_update(&c, password, password_length);
    md5_final(f, &c);
  }

  static const int groups[5][3] = {{0, 6, 12}, {1, 7, 13}, {2, 8, 14}, {3, 9, 15}, {4, 10, 5}};
  for (const auto& g : groups) {
    crypt_to64(out, static_cast<uint32_t>(f[g[0]]) << 16 | static_cast<uint32_t>(f[g[1]]) << 8 | f[g[2]], 4);
    out += 4;
  }
  crypt_to64(out, f[11], 2);
  out += 2;
  *out = '\0';

  wipe(f, sizeof f);
  return result;
}

}  // namespace vorlane::engine
