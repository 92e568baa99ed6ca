#include "engine/analysis/token_passes.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/testing/text_analysis_testing.h"

namespace vorlane::engine {
namespace {

using testing_text::english;
using testing_text::tokens_of;
using V = std::vector<std::string>;

TEST(TokenPasses, Table) {
  struct Case {
    const char* text;
    V tokens;
  } cases[] = {
      {"", {" :"}},
      // Names joined by a stop word are glued.
      {"U.S.A. and e.g. foo", {"S:U.S.A.", "-: ", "s:and", "-: ", "S:e.g.", " : ", "w:foo", " :"}},
      {"A. Smith", {"C:A", "-:. ", "C:Smith", " :"}},
      {"U.S. Army", {"S:U.S.", "-: ", "C:Army", " :"}},
      {"3rd", {"n:3", "-:", "w:rd", " :"}},
      {"1,234,567", {"n:1,234,567", " :"}},
      {"12,3456", {"n:12", "-:,", "n:3456", " :"}},
      {"Title\nBody text", {"C:Title", "|:\n", "C:Body", " : ", "w:text", " :"}},
      {"Long heading\nBody", {"C:Long", " : ", "w:heading", "|:\n", "C:Body", " :"}},     // 12 bytes
      {"Long headings\nBody", {"C:Long", " : ", "w:headings", " :\n", "C:Body", " :"}},  // 13 bytes
      {"the end. Next", {"s:the", " : ", "w:end", "|:. ", "C:Next", " :"}},
      {"Mr. Smith", {"C:Mr", "-:. ", "C:Smith", " :"}},
      {"in New York", {"s:in", " : ", "C:New", "-: ", "C:York", " :"}},
      {"AT&T", {"S:AT", "-:&", "C:T", " :"}},
      {"OS/2", {"S:OS", " :/", "n:2", " :"}},
      {"e-mail and/or", {"w:e", "-:-", "w:mail", " : ", "s:and", "-:/", "w:or", " :"}},
      {"10:30 3.14", {"n:10", "-::", "n:30", "-: ", "n:3", "-:.", "n:14", " :"}},
      {"Bank of America", {"C:Bank", "-: ", "s:of", "-: ", "C:America", " :"}},
      {"Queen of the Night", {"C:Queen", "-: ", "s:of", "-: ", "s:the", "-: ", "C:Night", " :"}},
      {"Bank of the river", {"C:Bank", " : ", "s:of", " : ", "s:the", " : ", "w:river", " :"}},
      {"John's car", {"C:John", "-:'", "w:s", " : ", "w:car", " :"}},
      {"The cat", {"C:The", " : ", "w:cat", " :"}},  // "The" is not in the list
      {"abc--def", {"w:abc", "|:--", "w:def", " :"}},
      {"one; two", {"w:one", "|:; ", "w:two", " :"}},
      {"ab  cd", {"w:ab", "|:  ", "w:cd", " :"}},
      {"xyzxyzxyzxyzxyz\no item", {"w:xyzxyzxyzxyzxyz", "|:\no ", "w:item", " :"}},
      // Bytes 0x80-0xFF are word bytes of no class.
      {"McDonald x2 X11 ABC \xe9t\xe9", {"S:McDonald", "-: ", "S:x2", "-: ", "S:X11", "-: ", "S:ABC", " : ",
                                         "w:\xe9t\xe9", " :"}},
      {"3\xe9", {"n:3", "S:\xe9", " :"}},
  };
  for (const Case& c : cases) EXPECT_EQ(tokens_of(c.text), c.tokens) << c.text;
}

TEST(TokenPasses, ShortLinesEndWithHardStops) {
  // The distance from the line start to the line end decides: 2 to 12.
  for (int n = 1; n <= 14; ++n) {
    std::string text = std::string(n, 'a') + "\nz";
    V want = {"w:" + std::string(n, 'a'), std::string(n >= 2 && n <= 12 ? "|" : " ") + ":\n", "w:z", " :"};
    if (n == 1) want[0] = "s:a";
    EXPECT_EQ(tokens_of(text.c_str()), want) << n;
  }
}

TEST(TokenPasses, WithoutStopWordsNothingIsStopOrHard) {
  for (const char* text : {"abc--def", "one; two", "the end. Next", "Title\nBody", "a\n\nb", "of the"}) {
    for (const std::string& t : tokens_of(text, 0)) {
      EXPECT_NE(t[0], '|') << text;
      EXPECT_NE(t[0], 's') << text;
    }
  }
}

TEST(TokenPasses, FixedStateStopsWhenFullAndAppends) {
  ParseToken slots[3];
  ParseState given{"alpha beta gamma", slots, 3, 0, 0, nullptr};
  ParseState s = TokenizeText(nullptr, &given, 1, english());
  EXPECT_EQ(s.count, 3u);  // alpha, blank, beta; no room for the end token
  EXPECT_EQ(testing_text::describe(s), (V{"w:alpha", " : ", "w:beta"}));
  EXPECT_EQ(given.count, 3u);
}

TEST(TokenPasses, TextGivenWithALengthIsCopied) {
  // No NUL after the given bytes: the copy stops scanning at its own end.
  char text[6] = {'a', 'b', ' ', 'c', 'd', '!'};
  ParseState s = TokenizeTextCopy(text, 5, 1, english());
  EXPECT_EQ(testing_text::describe(s), (V{"w:ab", " : ", "w:cd", " :"}));
  EXPECT_NE(s.text, text);
  FreeParseState(s);
  // A NUL inside ends the text.
  ParseState t = TokenizeTextCopy("ab\0cd", 5, 1, english());
  EXPECT_EQ(testing_text::describe(t), (V{"w:ab", " :"}));
  FreeParseState(t);
}

TEST(TokenPasses, SameTokensUnderEveryLocale) {
  std::mt19937 rng(7);
  std::vector<std::string> texts = {"\xc9t\xe9 \xe0 Z\xfcrich, 3\xbd. \xa0x\xa0y \xd7\xf7"};
  for (int i = 0; i < 200; ++i) {
    std::string t;
    int n = rng() % 80;
    for (int k = 0; k < n; ++k) t += static_cast<char>(1 + rng() % 255);
    texts.push_back(t);
  }
  auto all = [&] {
    std::vector<V> v;
    for (const auto& t : texts) v.push_back(tokens_of(t.c_str()));
    return v;
  };
  ASSERT_NE(setlocale(LC_ALL, "C"), nullptr);
  std::vector<V> in_c = all();
  int tried = 0;
  for (const char* name : {"C.UTF-8", "en_US.UTF-8", "de_DE.ISO-8859-1", "en_US.ISO-8859-1"}) {
    if (!setlocale(LC_ALL, name)) continue;
    ++tried;
    EXPECT_EQ(all(), in_c) << name;
  }
  setlocale(LC_ALL, "C");
  EXPECT_GT(tried, 0);
}

TEST(TokenText, HelpersAndFormat) {
  const char* text = "U.S.A.";
  ParseToken t{'S', text, 6};
  char out[16];
  EXPECT_EQ(CopyTokenText(t, out, 1), out + 3);
  EXPECT_STREQ(out, "usa");
  TokenText(t, out);
  EXPECT_STREQ(out, "USA");
  TokenText(ParseToken{0, text, 0}, out);
  EXPECT_STREQ(out, "?");
  TokenText(ParseToken{'|', text + 1, 1}, out);
  EXPECT_STREQ(out, "|");
  char buffer[kFormatTokenSize];
  EXPECT_STREQ(FormatToken(nullptr, buffer), "*NULL*");
  EXPECT_STREQ(FormatToken(&t, buffer), "\"U.S.A.\" (S)");
  std::string longword(80, 'x');
  ParseToken l{'w', longword.c_str(), 80};
  EXPECT_EQ(std::string(FormatToken(&l, buffer)), "\"" + std::string(50, 'x') + "\" (w)");
}

TEST(WordTokens, WordsAndTheListEnd) {
  ParseState s = TokenizeText("The U.S.A. and 3rd e-mail", nullptr, 1, english());
  char out[64];
  memset(out, 'x', sizeof out);
  EXPECT_EQ(WordTokens(s, out, sizeof out, 1), 7);
  EXPECT_EQ(testing_text::strings_of(out, sizeof out), (V{"the", "usa", "and", "3", "rd", "e", "mail"}));
  EXPECT_EQ(std::string(out + 22, 4), std::string("l\0\0\0", 4));
  WordTokens(s, out, sizeof out, 0);
  EXPECT_EQ(testing_text::strings_of(out, sizeof out)[1], "USA");
  FreeParseState(s);
}

TEST(WordTokens, NeverWritesPastSmallAreas) {
  ParseState s = TokenizeText("ab cde f", nullptr, 1, english());
  for (size_t size = 0; size <= 16; ++size) {
    std::vector<char> area(size + 8, 'x');
    int n = WordTokens(s, area.data(), size, 1);
    for (size_t k = size; k < area.size(); ++k) ASSERT_EQ(area[k], 'x') << "size " << size;
    V words = testing_text::strings_of(area.data(), size);
    EXPECT_EQ(static_cast<int>(words.size()), n) << size;
    // Words that fit are written whole, in order; a longer word that no
    // longer fits is passed over for a shorter one after it.
    V want;
    for (const char* w : {"ab", "cde", "f"}) {
      size_t used = 0;
      for (const auto& x : want) used += x.size() + 1;
      if (size - used > 2 && size - used > std::strlen(w) + 4) want.push_back(w);
    }
    EXPECT_EQ(words, want) << size;
    // The list is ended by an empty string inside the area.
    size_t used = 0;
    for (const auto& x : words) used += x.size() + 1;
    if (size > 0) {
      ASSERT_LT(used, size);
      EXPECT_EQ(area[used], '\0');
    }
  }
  FreeParseState(s);
}

}  // namespace
}  // namespace vorlane::engine
