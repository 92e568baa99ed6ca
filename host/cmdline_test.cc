#include "host/cmdline.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Case {
  const char* line;
  int strip;
  int max;
  std::vector<std::string> args;
};

TEST(ParseCmdLine, Table) {
  const Case cases[] = {
      {"", 0, 20, {}},
      {"    ", 1, 20, {}},
      {"a  b ", 0, 20, {"a", "b"}},
      {"  lead", 0, 20, {"lead"}},
      {"a\tb c", 0, 20, {"a\tb", "c"}},  // only the space separates
      {"\"\" x", 1, 20, {"", "x"}},
      {"\"\" x", 0, 20, {"\"\"", "x"}},
      {"\"a b\" c", 1, 20, {"a b", "c"}},
      {"\"a b\" c", 0, 20, {"\"a b\"", "c"}},
      {"\"abc\"def", 1, 20, {"abc", "def"}},
      {"\"abc\"def", 0, 20, {"\"abc\"def"}},  // nothing after the quote is lost
      {"\"abc\"d\"e f\"", 0, 20, {"\"abc\"d\"e", "f\""}},
      {"\"abc\" def", 0, 20, {"\"abc\"", "def"}},
      {"x \"a b", 1, 20, {"x", "a b"}},  // an unterminated quote runs to the end
      {"x \"a b", 0, 20, {"x", "\"a b"}},
      {"a\"b c\"d", 1, 20, {"a\"b", "c\"d"}},  // quotes inside a word are ordinary
      {"a b c", 0, 2, {"a", "b"}},
      {"\"a\" \"b\" \"c\"", 1, 2, {"a", "b"}},
      {"a b", 0, 0, {}},
  };
  for (const Case& c : cases) {
    char* argv[24];
    for (char*& p : argv) p = reinterpret_cast<char*>(1);
    int argc = -1;
    char* copy = parseCmdLine(c.line, &argc, argv, c.max, c.strip);
    ASSERT_NE(copy, nullptr);
    std::vector<std::string> got(argv, argv + argc);
    EXPECT_EQ(got, c.args) << "line [" << c.line << "] strip " << c.strip;
    EXPECT_EQ(argv[argc], reinterpret_cast<char*>(1)) << "line [" << c.line << "] wrote past its arguments";
    free(copy);
  }
}

TEST(ParseCmdLine, StopsAtTheMaximumAndLeavesTheRestUnsplit) {
  std::string line;
  for (int i = 1; i <= 25; ++i) line += "w" + std::to_string(i) + " ";
  const std::string original = line;
  char* argv[20];
  int argc = 0;
  char* copy = parseCmdLine(line.c_str(), &argc, argv, 20, 0);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(line, original);  // the line itself is not changed
  EXPECT_EQ(argc, 20);
  EXPECT_STREQ(argv[19], "w20");
  EXPECT_STREQ(argv[19] + 4, "w21 w22 w23 w24 w25 ");
  free(copy);
}

TEST(ParseCmdLine, AVectorOfSizeZeroIsNeverWritten) {
  int argc = -1;
  char* copy = parseCmdLine("one two", &argc, nullptr, 0, 1);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(argc, 0);
  EXPECT_STREQ(copy, "one two");
  free(copy);
}

}  // namespace
