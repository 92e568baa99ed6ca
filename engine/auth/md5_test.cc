#include "engine/auth/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace vorlane::engine {
namespace {

std::string hex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

std::string md5_hex(const std::string& text, size_t piece) {
  md5_context c;
  md5_init(&c);
  for (size_t i = 0; i < text.size(); i += piece) md5_update(&c, text.data() + i, std::min(piece, text.size() - i));
  uint8_t digest[16];
  md5_final(digest, &c);
  return hex(digest, 16);
}

TEST(Md5, Rfc1321TestSuiteInOneAndInManyPieces) {
  std::string eighty;
  for (int i = 0; i < 8; ++i) eighty += "1234567890";
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {eighty, "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    // Whole, byte by byte, and in pieces that straddle the 64-byte blocks.
    for (size_t piece : {size_t{1000}, size_t{1}, size_t{7}, size_t{63}}) {
      EXPECT_EQ(md5_hex(c.input, piece), c.digest) << '"' << c.input << "\" in pieces of " << piece;
    }
  }
}

TEST(Md5, PaddingBoundaries) {
  // Lengths around 56 and 64 bytes take the second padding block; a million
  // "a" is the classic long vector.
  EXPECT_EQ(md5_hex(std::string(55, 'a'), 1000), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(md5_hex(std::string(56, 'a'), 1000), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(md5_hex(std::string(64, 'a'), 1000), "014842d480b571495a4a0363793f7367");
  EXPECT_EQ(md5_hex(std::string(1000000, 'a'), 4096), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, FinalClearsTheContext) {
  md5_context c;
  md5_init(&c);
  md5_update(&c, "secret", 6);
  uint8_t digest[16];
  md5_final(digest, &c);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&c);
  for (size_t i = 0; i < sizeof c; ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
}

TEST(Md5, EncodeAndDecodeAreLittleEndian) {
  const uint32_t words[2] = {0x04030201, 0xddccbbaa};
  uint8_t bytes[8];
  md5_encode(bytes, words, 8);
  EXPECT_EQ(hex(bytes, 8), "01020304aabbccdd");
  uint32_t back[2];
  md5_decode(back, bytes, 8);
  EXPECT_EQ(back[0], words[0]);
  EXPECT_EQ(back[1], words[1]);
}

}  // namespace
}  // namespace vorlane::engine
