#include "store/strings.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace vorlane {
namespace {

std::string trimmed(const char* in) {
  std::string buf(in);
  return trim_comment(buf.data());
}

TEST(Strings, TrimComment) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"a   ", "a"},         {"   # only a comment", ""}, {"  key value # c", "key value"},
      {"", ""},              {"\t x\t", "x"},           {"#", ""},
      {"\xA0word\xA0", "\xA0word\xA0"},  // 0xA0 is no blank in the C table
  };
  for (const Case& c : cases) EXPECT_EQ(trimmed(c.in), c.out) << c.in;
}

TEST(Strings, CopiesAndWords) {
  const char* text = "  first second";
  char* span = span_dup(text, text);
  EXPECT_STREQ(span, "");
  free(span);
  char* word = first_word_dup(text);
  EXPECT_STREQ(word, "first");
  free(word);
  EXPECT_EQ(first_word_dup(" \t\n"), nullptr);
  char buf[16];
  EXPECT_STREQ(first_word_copy(buf, "\tx y"), "x");
  char* dup = str_dup("abc");
  EXPECT_STREQ(dup, "abc");
  free(dup);
  char mixed[] = "MiXeD \xC4";
  EXPECT_STREQ(str_lower(mixed), "mixed \xC4");
}

}  // namespace
}  // namespace vorlane
