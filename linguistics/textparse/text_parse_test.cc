#include "linguistics/textparse/text_parse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct NumberCase {
  const char* text;
  int result;
  long value;  // checked when result >= 0
};

TEST(ReadNumber, Table) {
  const NumberCase cases[] = {
      {"  42 more", 4, 42},
      {"-17", 3, -17},
      {"0x1F", 4, 31},
      {"0X1f", 4, 31},
      {"-0x10", 5, -16},
      {"017", 3, 15},
      {"09", -1, 0},
      {"a", 1, 97},
      {"ab", -1, 0},
      {"0", 1, 0},
      {"0 ", 1, 0},
      {"   ", -1, 0},
      {"", -1, 0},
      {"\t\r\n\v\f7", 6, 7},
      {"0x", 2, 0},
      {"0a", -1, 0},          // "0" then a non-digit: a character token, too long
      {"-", 1, '-'},          // "-" alone is a one-character token
      {"-x", -1, 0},
      {"12a", -1, 0},
      {"0x1G", -1, 0},
      {"\xE9", 1, -23},       // a byte above 0x7F reads as a signed 8-bit value
      // 32-bit accumulation, sign-extended: wraps as the 32-bit original did.
      {"4294967295", 10, -1},
      {"2147483648", 10, -2147483648L},
      {"0xFFFFFFFF", 10, -1},
      {"0x100000001", 11, 1},
      {"-2147483648", 11, -2147483648L},
  };
  for (const NumberCase& c : cases) {
    std::string buf = c.text;
    long value = 12345;
    int got = readnumber(buf.data(), &value);
    EXPECT_EQ(got, c.result) << "text: \"" << c.text << "\"";
    if (c.result >= 0) EXPECT_EQ(value, c.value) << "text: \"" << c.text << "\"";
    else EXPECT_EQ(value, 12345) << "value stored on failure for \"" << c.text << "\"";
  }
}

TEST(ReadNumbers, StopsAtFirstTokenThatDoesNotRead) {
  struct Case {
    const char* text;
    std::vector<long> values;
  };
  const Case cases[] = {
      {"1 2 xy 3", {1, 2}},
      {"1 x", {1, 120}},
      {"", {}},
      {" 0x10\t010 -3 \n", {16, 8, -3}},
  };
  for (const Case& c : cases) {
    std::string buf = c.text;
    long values[8] = {};
    int n = readnumbers(buf.data(), values);
    ASSERT_EQ(n, static_cast<int>(c.values.size())) << c.text;
    for (int i = 0; i < n; ++i) EXPECT_EQ(values[i], c.values[i]) << c.text << " #" << i;
  }
}

TEST(FindAndEatSpaces, Table) {
  struct Case {
    const char* text;
    int offset;  // -1: null
  };
  const Case cases[] = {
      {"L  1 2", 3},
      {"word", -1},
      {"", -1},
      {"word   ", 7},  // the terminating NUL
      {" \tx", 2},
      {"a\t \tb c", 4},
  };
  for (const Case& c : cases) {
    std::string buf = c.text;
    char* got = find_and_eat_spaces(buf.data());
    if (c.offset < 0) EXPECT_EQ(got, nullptr) << c.text;
    else EXPECT_EQ(got, buf.data() + c.offset) << c.text;
  }
}

TEST(EatSpaces, SkipsBlanksAndTabsOnly) {
  std::string a = " \t x";
  EXPECT_EQ(eat_spaces(a.data()), a.data() + 3);
  std::string b = "\n x";
  EXPECT_EQ(eat_spaces(b.data()), b.data());
  std::string c = "  ";
  EXPECT_EQ(eat_spaces(c.data()), c.data() + 2);
}

TEST(Cvdir, TurnsSlashesInPlace) {
  std::string path = "a/b/c";
  EXPECT_EQ(cvdir(path.data()), path.data());
  EXPECT_EQ(path, "a\\b\\c");
}

TEST(Companions, FindSpaceAndTwoNumbers) {
  std::string a = "ab cd";
  EXPECT_EQ(vorlane::find_space(a.data()), a.data() + 2);
  std::string b = "abcd";
  EXPECT_EQ(vorlane::find_space(b.data()), nullptr);

  long x = 0, y = 0;
  std::string two = "3 0x4";
  EXPECT_EQ(vorlane::readtwonumbers(two.data(), &x, &y), 0);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 4);
  std::string one = "3";
  EXPECT_EQ(vorlane::readtwonumbers(one.data(), &x, &y), -1);
  std::string bad = "3 zz";
  EXPECT_EQ(vorlane::readtwonumbers(bad.data(), &x, &y), -1);
}

}  // namespace
