#include "engine/auth/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vorlane::engine {
namespace {

const struct {
  const char* plain;
  const char* encoded;
} kRfc4648[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},     {"foo", "Zm9v"},
                {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};

TEST(Base64, Rfc4648VectorsBothWays) {
  for (const auto& v : kRfc4648) {
    char text[64];
    size_t n = strlen(v.plain);
    EXPECT_EQ(base64_encode(reinterpret_cast<const uint8_t*>(v.plain), n, text, sizeof text),
              static_cast<long>(strlen(v.encoded)));
    EXPECT_STREQ(text, v.encoded);
    uint8_t out[64];
    memset(out, 0xEE, sizeof out);
    EXPECT_EQ(base64_decode(v.encoded, out, sizeof out), static_cast<long>(n)) << v.encoded;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), v.plain);
    EXPECT_EQ(out[n], 0) << "NUL after the data";
  }
}

TEST(Base64, DecodeSkipsLeadingBlanksAndStopsAtTheFirstOtherCharacter) {
  uint8_t out[64];
  EXPECT_EQ(base64_decode(" \t Zm9vYmFy\r\nZm9v", out, sizeof out), 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), "foobar");
  EXPECT_EQ(base64_decode("Zm8", out, sizeof out), 2);  // unpadded final group
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), "fo");
  EXPECT_EQ(base64_decode("Zg==Zm9v", out, sizeof out), 1);  // data ends at "="
  EXPECT_EQ(base64_decode("\n Zm9v", out, sizeof out), 0);   // only blanks and tabs are skipped
  uint8_t all[256], back[300];
  char text[400];
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(base64_encode(all, 256, text, sizeof text), 344);
  ASSERT_EQ(base64_decode(text, back, sizeof back), 256);
  EXPECT_EQ(memcmp(all, back, 256), 0);
}

TEST(Base64, BufferLimits) {
  uint8_t out[16];
  // "Zm9vYmFy" decodes to 6 bytes: needs 6 + 4 = 10 bytes of room.
  EXPECT_EQ(base64_decode("Zm9vYmFy", out, 10), 6);
  EXPECT_EQ(base64_decode("Zm9vYmFy", out, 9), -1);
  // A buffer as long as the text (how the NTLM step decodes) refuses
  // texts shorter than 16 characters.
  EXPECT_EQ(base64_decode("Zm9vYmFy", out, 8), -1);
  EXPECT_EQ(base64_decode("Zm9vYmFyZm9vYmFy", out, 16), 12);

  char text[16];
  const uint8_t six[6] = {1, 2, 3, 4, 5, 6};
  // 6 bytes need 6 + 3 + 4 = 13 bytes of room.
  EXPECT_EQ(base64_encode(six, 6, text, 13), 8);
  EXPECT_EQ(base64_encode(six, 6, text, 12), -1);
  EXPECT_EQ(base64_encode(six, 0, text, 4), -1);  // 0 + 1 + 4 bytes of room needed
  EXPECT_EQ(base64_encode(six, 0, text, 5), 0);
  EXPECT_STREQ(text, "");
}

}  // namespace
}  // namespace vorlane::engine
