#include "engine/auth/md5_crypt.h"

#include <gtest/gtest.h>

#include <string>

namespace vorlane::engine {
namespace {

TEST(Md5Crypt, PublishedResults) {
  const struct {
    const char* password;
    const char* salt;
    const char* result;
  } cases[] = {
      {"password", "saltsalt", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/"},
      {"", "", "$1$$qRPK7m23GJusamGpoGLby/"},
      // The salt stops at a "$" ...
      {"password", "abc$def", "$1$abc$BXBqpb9BZcZhXLgbee.0s/"},
      // ... after the magic, which is skipped when present ...
      {"password", "$1$saltsalt", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/"},
      {"password", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/"},
      // ... and after 8 characters.
      {"password", "saltsaltXYZ", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/"},
  };
  for (const auto& c : cases) EXPECT_STREQ(md5_crypt(c.password, c.salt), c.result) << c.password << " / " << c.salt;
}

TEST(Md5Crypt, LongPasswordsAndShapeOfTheResult) {
  // Passwords past 16 bytes add F in several pieces; each must still give
  // the "$1$" salt "$" + 22 characters form.
  for (size_t n : {15, 16, 17, 33, 64, 200}) {
    std::string password(n, 'p');
    std::string r = md5_crypt(password.c_str(), "ab");
    ASSERT_EQ(r.size(), 3 + 2 + 1 + 22u) << n;
    EXPECT_EQ(r.substr(0, 6), "$1$ab$");
    EXPECT_EQ(r.find_first_not_of("./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 6),
              std::string::npos);
  }
  // The result lives in one static buffer: copy it before the next call.
  // Different lengths of one character give different hashes.
  std::string four = md5_crypt("pppp", "ab");
  std::string five = md5_crypt("ppppp", "ab");
  EXPECT_NE(four, five);
}

TEST(Md5Crypt, CryptTo64TakesSixBitsPerCharacterLowestFirst) {
  char out[5] = {};
  crypt_to64(out, 0, 4);
  EXPECT_STREQ(out, "....");
  crypt_to64(out, 63 | 1 << 6 | 12 << 12 | 38 << 18, 4);
  EXPECT_STREQ(out, "z/Aa");
  char two[3] = {};
  crypt_to64(two, 0xFFF, 2);
  EXPECT_STREQ(two, "zz");
}

}  // namespace
}  // namespace vorlane::engine
