#include "store/checksum.h"

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/testing/test_root.h"
#include "store/term_hash.h"

namespace vorlane {
namespace {

uint32_t first(uint64_t v) { return static_cast<uint32_t>(v); }
uint32_t second(uint64_t v) { return static_cast<uint32_t>(v >> 32); }

uint64_t checksum(const std::string& s) { return text_checksum(s.data(), s.size()); }

// The bytes the checksum counts, written out without the character table:
// ASCII letters and digits and every byte from 0x80 up.
std::string counted_bytes(const std::string& s) {
  std::string out;
  for (unsigned char c : s)
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80)
      out.push_back(static_cast<char>(c));
  return out;
}

TEST(TextChecksum, Vectors) {
  struct Case {
    std::string text;
    uint32_t first, second;
  };
  const Case cases[] = {
      {"", 1, 1},
      {"   \t\r\n ,.;!?", 1, 1},
      {std::string("\0\0\0", 3), 1, 1},
      {"hello", 0x4462cc09u, 0x28d19932u},             // the term hashes of "hello"
      {"  Hel-lo,\n wor ld!", 0, 0},                     // filled below
      {"caf\xe9 \xa0\xa1\xbf", 0, 0},                    // high bytes count
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    uint64_t sum = checksum(c.text);
    if (c.first) {
      EXPECT_EQ(first(sum), c.first);
      EXPECT_EQ(second(sum), c.second);
    }
    // The same rules as the term hashes, over the counted bytes only.
    EXPECT_EQ(sum, term_hash_pair(counted_bytes(c.text).c_str()));
  }
  EXPECT_EQ(checksum("  Hel-lo,\n wor ld!"), term_hash_pair("Helloworld"));
  EXPECT_EQ(checksum("caf\xe9 \xa0\xa1\xbf"), term_hash_pair("caf\xe9\xa0\xa1\xbf"));
}

TEST(TextChecksum, UnchangedWhenBlanksPunctuationAndLineEndsAreRemoved) {
  const std::string text =
      "The quick, brown fox -- jumps over the lazy dog.\r\n"
      "\"Quoted\" (parenthesised) [bracketed]; a:b/c\\d\tend!\x7f\x01";
  std::string stripped;
  for (char c : text)
    if (std::string(" ,.-\r\n\"()[];:/\\\t!\x7f\x01").find(c) == std::string::npos) stripped += c;
  EXPECT_EQ(stripped, "ThequickbrownfoxjumpsoverthelazydogQuotedparenthesisedbracketedabcdend");
  EXPECT_EQ(checksum(text), checksum(stripped));
  EXPECT_NE(checksum(text), checksum(stripped + "x"));
}

TEST(TextChecksum, RandomBytesMatchTheModel) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255), len(0, 300);
  for (int n = 0; n < 2000; ++n) {
    std::string s(len(rng), '\0');
    for (char& c : s) c = static_cast<char>(byte(rng));
    ASSERT_EQ(checksum(s), term_hash_pair(counted_bytes(s).c_str()));
  }
}

TEST(TextChecksum, SameUnderTheCLocaleAndALatin1Locale) {
  // A text full of the bytes glibc classes differently under Latin-1: 0x80-0x9F
  // are control characters there, 0xA1-0xBF punctuation.
  std::string text = "abc ";
  for (int c = 0x80; c <= 0xFF; ++c) text.push_back(static_cast<char>(c));
  text += " xyz 123";

  const char* old = setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  ASSERT_NE(setlocale(LC_ALL, "C"), nullptr);
  const uint64_t in_c = checksum(text);
  const uint64_t parsed_c = parse_checksum("0123456789abcdef");

  platform::TestRoot dir;
  std::string cmd = "localedef -i en_US -f ISO-8859-1 " + dir.path() + "/en_US.ISO-8859-1 >/dev/null 2>&1";
  if (system(cmd.c_str()) != 0 || !std::filesystem::exists(dir.path() + "/en_US.ISO-8859-1/LC_CTYPE"))
    GTEST_SKIP() << "localedef could not build a Latin-1 locale (package locales)";
  const char* old_locpath = getenv("LOCPATH");
  std::string saved_locpath = old_locpath ? old_locpath : "";
  setenv("LOCPATH", dir.path().c_str(), 1);
  const char* set = setlocale(LC_ALL, "en_US.ISO-8859-1");
  if (set) {
    // The locale really classes these bytes differently from the C table.
    EXPECT_TRUE(ispunct(0xA1));
    EXPECT_TRUE(iscntrl(0x85));
    EXPECT_TRUE(isalpha(0xE9));
    EXPECT_EQ(checksum(text), in_c);
    EXPECT_EQ(parse_checksum("0123456789abcdef"), parsed_c);
  }
  setlocale(LC_ALL, saved.c_str());
  if (old_locpath) setenv("LOCPATH", saved_locpath.c_str(), 1); else unsetenv("LOCPATH");
  ASSERT_NE(set, nullptr) << "setlocale refused the built locale";
}

TEST(ParseChecksum, Vectors) {
  struct Case {
    const char* text;
    uint32_t first, second;
  };
  const Case cases[] = {
      {"0000000a0000000b", 10, 11},
      {"0123456789abcdef", 0x01234567u, 0x89abcdefu},
      {"7fffffff00000001", 0x7fffffffu, 1},
      {"ffffffffffffffff", 0xffffffffu, 0xffffffffu},  // not validated: callers check bit 31
      {"ABCDEF0000000000", 0x89abcf00u, 0},             // 'A' - 87 = -22, taken modulo 2^32
      {"00000010", 0x10, 0},                            // short text: read up to its NUL
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint64_t v = parse_checksum(c.text);
    EXPECT_EQ(first(v), c.first);
    EXPECT_EQ(second(v), c.second);
  }
}

TEST(FormatChecksum, VectorsZeroRuleAndRoundTrip) {
  struct Case {
    uint32_t first, second;
    const char* text;
  };
  const Case cases[] = {
      {10, 11, "0000000a0000000b"},
      {0x01234567u, 0x89abcdefu, "0123456789abcdef"},
      {0x7fffffffu, 1, "7fffffff00000001"},
      {0, 0x12345678u, "0000000000000000"},  // first word 0: both written as 0
      {0, 0, "0000000000000000"},
      {1, 0, "0000000100000000"},
  };
  for (const Case& c : cases) {
    char out[17];
    memset(out, 'X', sizeof out);
    format_checksum(static_cast<uint64_t>(c.first) | static_cast<uint64_t>(c.second) << 32, out);
    EXPECT_STREQ(out, c.text);
    if (c.first) {
      EXPECT_EQ(parse_checksum(out), static_cast<uint64_t>(c.first) | static_cast<uint64_t>(c.second) << 32);
    }
  }
  for (int n = 0; n < 1000; ++n) {
    std::string s(1 + n % 50, 'a' + n % 26);
    uint64_t sum = checksum(s);
    char out[17];
    format_checksum(sum, out);
    ASSERT_EQ(parse_checksum(out), sum);
  }
}

}  // namespace
}  // namespace vorlane
