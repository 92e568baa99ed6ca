#include "engine/text/quoting.h"

#include <gtest/gtest.h>

#include <string>

namespace vorlane::engine {
namespace {

std::string uq(const std::string& text, int mode) {
  std::string out(3 * text.size() + 1, '\x7f');
  url_quote(text.c_str(), mode, out.data(), out.size(), nullptr);
  return out.c_str();
}

std::string uu(const std::string& text, int mode) {
  std::string out(text.size() + 1, '\x7f');
  size_t n = url_unquote(text.c_str(), mode, out.data(), out.size(), nullptr);
  return out.substr(0, n);
}

std::string hq(const std::string& text) {
  std::string out(6 * text.size() + 1, '\x7f');
  return html_quote(text.c_str(), out.data(), out.size(), nullptr);
}

std::string xq(const std::string& text) {
  std::string out(6 * text.size() + 1, '\x7f');
  return xml_quote(text.c_str(), out.data(), out.size(), nullptr);
}

TEST(UrlSafeTable, HoldsTheEightyTwoCopiedCharacters) {
  int count = 0;
  for (bool safe : UrlSafeTable) count += safe;
  EXPECT_EQ(count, 82);
  for (char c : std::string("\" #%&+:;<=>?@\x7f")) EXPECT_FALSE(UrlSafeTable[c & 0x7F]) << c;
}

TEST(Quoting, Cases) {
  EXPECT_EQ(uq("a b&c", 1), "a+b%26c");
  EXPECT_EQ(uq("a b", 0), "a%20b");
  EXPECT_EQ(uq("abc", 1), "abc");
  EXPECT_EQ(uq("\xE9", 1), "%E9");
  EXPECT_EQ(uq("~/[x]\\", 0), "~/[x]\\");
  EXPECT_EQ(uu("a+b%41", 1), "a bA");
  EXPECT_EQ(uu("a+b", 0), "a+b");
  EXPECT_EQ(uu("%zz", 1), std::string(1, '\0'));
  EXPECT_EQ(uu("%e9%C3", 1), "\xE9\xC3");
  EXPECT_EQ(uu("%\xC1\xB0", 1), "\xA0");  // low 7 bits of each character
  // A '%' with fewer than two characters after it stands as it is.
  EXPECT_EQ(uu("abc%", 1), "abc%");
  EXPECT_EQ(uu("%4", 1), "%4");
  EXPECT_EQ(uu("%", 1), "%");
  EXPECT_EQ(hq("<a href=\"x\">"), "&lt;a href=&quot;x&quot;&gt;");
  EXPECT_EQ(hq("it's & \xE9"), "it's &amp; \xE9");
  EXPECT_EQ(xq("it's"), "it&apos;s");
  EXPECT_EQ(xq("\xE9\x7f\xff"), "&#233;&#127;&#255;");
}

TEST(Quoting, NullTextGivesEmptyOutput) {
  char out[8] = "xxxxxxx";
  EXPECT_STREQ(url_quote(nullptr, 1, out, sizeof out, nullptr), "");
  EXPECT_EQ(url_unquote(nullptr, 1, out, sizeof out, nullptr), 0u);
  EXPECT_STREQ(html_quote(nullptr, out, sizeof out, nullptr), "");
  EXPECT_STREQ(xml_quote(nullptr, out, sizeof out, nullptr), "");
}

TEST(Quoting, SixBytesPerByteAlwaysFits) {
  std::string worst;
  for (int i = 0; i < 100; ++i) worst += "\"'\xff";
  std::string out(6 * worst.size() + 1, 0);
  xml_quote(worst.c_str(), out.data(), out.size(), nullptr);
  EXPECT_EQ(std::string(out.c_str()).size(), 6 * worst.size());
  EXPECT_EQ(std::string(out.c_str()).substr(0, 18), "&quot;&apos;&#255;");
}

TEST(Quoting, SmallAreasCutCleanly) {
  char out[6];
  int overflow = 0;
  // "a%20b" needs 6 bytes with the NUL: "%20" fits only before the last byte.
  EXPECT_STREQ(url_quote("a b c", 0, out, sizeof out, &overflow), "a%20b");
  EXPECT_EQ(overflow, 1);
  EXPECT_STREQ(url_quote("abc d", 0, out, sizeof out, &overflow), "abc");
  EXPECT_EQ(overflow, 1);
  EXPECT_STREQ(url_quote("ab", 0, out, sizeof out, &overflow), "ab");
  EXPECT_EQ(overflow, 0);
  EXPECT_STREQ(html_quote("a&b", out, sizeof out, &overflow), "a");
  EXPECT_EQ(overflow, 1);
  EXPECT_STREQ(html_quote("&", out, sizeof out, &overflow), "&amp;");
  EXPECT_EQ(overflow, 1);
  char four[4];
  EXPECT_EQ(url_unquote("abcdef", 1, four, sizeof four, &overflow), 3u);
  EXPECT_STREQ(four, "abc");
  EXPECT_EQ(overflow, 1);
}

}  // namespace
}  // namespace vorlane::engine
