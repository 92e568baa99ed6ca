// conflate and its tables, checked against the folding rules written out
// independently here and against Python's Latin-1 lower-casing.
#include "engine/document/conflate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "engine/document/conflation_tables.h"

namespace vorlane::engine {
namespace {

// The folding rules as ranges: [first, last] -> replacement.
struct Fold {
  int first, last;
  const char* to;
};
const Fold kFolds[] = {
    {0xA3, 0xA3, "#"}, {0xA4, 0xA4, "o"}, {0xA5, 0xA5, "Y"}, {0xA6, 0xA6, "|"}, {0xA7, 0xA7, "S"},
    {0xAA, 0xAA, "a"}, {0xB2, 0xB2, "2"}, {0xB3, 0xB3, "3"}, {0xB5, 0xB5, "u"}, {0xB8, 0xB8, " "},
    {0xB9, 0xB9, "1"}, {0xBA, 0xBA, "o"}, {0xBF, 0xBF, "?"}, {0xC0, 0xC6, "A"}, {0xC7, 0xC7, "C"},
    {0xC8, 0xCB, "E"}, {0xCC, 0xCF, "I"}, {0xD0, 0xD0, "D"}, {0xD1, 0xD1, "N"}, {0xD2, 0xD6, "O"},
    {0xD7, 0xD7, "x"}, {0xD8, 0xD8, "O"}, {0xD9, 0xDC, "U"}, {0xDD, 0xDD, "Y"}, {0xDE, 0xDE, "Y"},
    {0xDF, 0xDF, "B"}, {0xE0, 0xE6, "a"}, {0xE7, 0xE7, "c"}, {0xE8, 0xEB, "e"}, {0xEC, 0xEF, "i"},
    {0xF0, 0xF0, "d"}, {0xF1, 0xF1, "n"}, {0xF2, 0xF6, "o"}, {0xF7, 0xF7, "/"}, {0xF8, 0xF8, "o"},
    {0xF9, 0xFC, "u"}, {0xFD, 0xFF, "y"},
};
const std::map<int, std::string> kExpansions = {{0xC4, "AE"}, {0xD6, "OE"}, {0xDC, "UE"},
                                                {0xDE, "TH"}, {0xDF, "ss"}, {0xE4, "ae"},
                                                {0xF6, "oe"}, {0xFC, "ue"}, {0xFE, "th"}};

std::string folded(int b) {
  for (const Fold& f : kFolds)
    if (b >= f.first && b <= f.last) return f.to;
  return std::string(1, static_cast<char>(b));
}

std::string run(const std::string& s, bool expansions, size_t skip = 0, size_t size = 256, int* changed = nullptr) {
  char out[256];
  int c = conflate(s.c_str(), out, size, skip, conflation_map, expansions ? conflation_expansions : nullptr);
  if (changed) *changed = c;
  return out;
}

TEST(Conflate, EveryByteFollowsTheFoldingRules) {
  for (int b = 1; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string in(1, static_cast<char>(b));
    auto e = kExpansions.find(b);
    const std::string with = e != kExpansions.end() ? e->second : folded(b);
    int changed;
    EXPECT_EQ(run(in, true, 0, 256, &changed), with);
    EXPECT_EQ(changed, with != in);
    EXPECT_EQ(run(in, false, 0, 256, &changed), folded(b));
    EXPECT_EQ(changed, folded(b) != in);
    EXPECT_EQ(conflation_expansions[b] != nullptr, e != kExpansions.end());
  }
}

TEST(Conflate, LowerCaseMapIsLatin1Lower) {
  // Python's str.lower over the 256 Latin-1 code points is the oracle.
  FILE* p = popen("/usr/bin/python3 -c \"import sys; "
                  "sys.stdout.buffer.write(bytes(ord(chr(i).lower()) for i in range(256)))\"",
                  "r");
  ASSERT_NE(p, nullptr);
  unsigned char want[256];
  const size_t got = fread(want, 1, sizeof want, p);
  ASSERT_EQ(pclose(p), 0);
  ASSERT_EQ(got, 256u);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(lower_case_map[b], want[b]) << b;
}

TEST(Conflate, Examples) {
  struct Case {
    const char* in;
    const char* out;
    int changed;
  } cases[] = {
      {"M\xFCller", "Mueller", 1}, {"\xD8rsted", "Orsted", 1}, {"\xD6l", "OEl", 1},
      {"\xDB" "ber", "Uber", 1},   {"plain", "plain", 0},     {"", "", 0},
      {"\xDEor", "THor", 1},       {"Stra\xDF" "e", "Strasse", 1},
  };
  for (const Case& c : cases) {
    int changed;
    EXPECT_EQ(run(c.in, true, 0, 256, &changed), c.out) << c.in;
    EXPECT_EQ(changed, c.changed) << c.in;
  }
  char out[64];
  EXPECT_EQ(lower_term("\xC9" "COLE", out, sizeof out, 0), 1);
  EXPECT_STREQ(out, "\xE9" "cole");
  EXPECT_EQ(lower_term("\xFD\xFF\xDF", out, sizeof out, 0), 0);
  EXPECT_STREQ(out, "\xFD\xFF\xDF");
}

TEST(Conflate, PrefixIsCopiedUnchanged) {
  int changed;
  // The prefix's own bytes are not folded, and do not count as changes.
  EXPECT_EQ(run("T\xEFtle:\xDC" "ber", true, 6, 256, &changed), "T\xEFtle:UEber");
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(run("\xC9t\xE9:x", true, 4, 256, &changed), "\xC9t\xE9:x");
  EXPECT_EQ(changed, 0);
  char out[64];
  EXPECT_EQ(lower_term("Title:ABC", out, sizeof out, 6), 1);
  EXPECT_STREQ(out, "Title:abc");
  EXPECT_EQ(conflate_term("ab", out, sizeof out, 10), 0);  // a prefix longer than the term
  EXPECT_STREQ(out, "ab");
}

TEST(Conflate, OutputIsCutAtItsArea) {
  struct Case {
    size_t size;
    bool expansions;
    const char* out;
  } cases[] = {
      {1, true, ""}, {2, true, "M"}, {3, true, "Mu"}, {4, true, "Mue"}, {8, true, "Mueller"},
      {1, false, ""}, {4, false, "Mul"}, {7, false, "Muller"},
  };
  for (const Case& c : cases) {
    char out[16];
    memset(out, 'Z', sizeof out);
    conflate("M\xFCller", out, c.size, 0, conflation_map, c.expansions ? conflation_expansions : nullptr);
    EXPECT_STREQ(out, c.out) << c.size;
    EXPECT_EQ(out[c.size], 'Z') << "wrote past the area of " << c.size;
  }
  char untouched = 'Z';
  EXPECT_EQ(conflate("abc", &untouched, 0, 0, conflation_map, nullptr), 0);
  EXPECT_EQ(untouched, 'Z');
  EXPECT_EQ(conflated_length("M\xFCller", 0, conflation_expansions), 7u);
  EXPECT_EQ(conflated_length("M\xFCller", 0, nullptr), 6u);
}

TEST(ConflateText, OutputAreaSizes) {
  EXPECT_EQ(conflate_text_output_size(0), 21u);
  EXPECT_EQ(conflate_text_output_size(9), 201u);
  EXPECT_EQ(conflate_text_output_size(81919), 20u * 81920 + 1);
  EXPECT_EQ(conflate_text_output_size(81920), 819201u);
  EXPECT_EQ(conflate_text_output_size(1u << 30), 819201u);
}

}  // namespace
}  // namespace vorlane::engine
