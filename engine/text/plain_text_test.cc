#include "engine/text/plain_text.h"

#include <gtest/gtest.h>

#include <string>

namespace vorlane::engine {
namespace {

std::string plain(const std::string& text) {
  ParseResult r;
  EXPECT_TRUE(parse_plain_text(text.c_str(), &r));
  std::string out = r.body;
  EXPECT_EQ(r.title, nullptr);
  EXPECT_EQ(r.link_count, 0);
  r.release(&r);
  return out;
}

TEST(ParsePlainText, Normalises) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"  a \t\n b  ", "a b"},
      {"a....b", "a..b"},
      {"a - - - b", "a - - - b"},
      {"a\xA0\xA0" "b", "a b"},
      {"a\r\nb", "a b"},
      {"", ""},
      {" \t ", ""},
      {"x!!!!y", "x!!y"},
      {"\x01\x01\x01", "\x01\x01"},
      {"\xE9\xE9\xE9", "\xE9\xE9\xE9"},  // no class above 0x7F: kept
      {"word", "word"},
  };
  for (const Case& c : cases) EXPECT_EQ(plain(c.text), c.expected) << c.text;
}

TEST(ParsePlainText, NeverLongerThanTheText) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += static_cast<char>(1 + (i * 37) % 255);
  std::string out = plain(text);
  EXPECT_LE(out.size(), text.size());
}

}  // namespace
}  // namespace vorlane::engine
