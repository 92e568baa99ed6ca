#include "store/cclass.h"

#include <cctype>
#include <clocale>
#include <gtest/gtest.h>

namespace vorlane {
namespace {

TEST(CClass, MatchesTheCLocaleForAsciiAndIsEmptyAbove) {
  ASSERT_NE(setlocale(LC_ALL, "C"), nullptr);
  for (int c = 0; c < 128; ++c) {
    EXPECT_EQ(c_isalpha(c), isalpha(c) != 0) << c;
    EXPECT_EQ(c_isdigit(c), isdigit(c) != 0) << c;
    EXPECT_EQ(c_isspace(c), isspace(c) != 0) << c;
    EXPECT_EQ(c_ispunct(c), ispunct(c) != 0) << c;
    EXPECT_EQ(c_iscntrl(c), iscntrl(c) != 0) << c;
    EXPECT_EQ(c_isxdigit(c), isxdigit(c) != 0) << c;
    EXPECT_EQ(c_isblank(c), isblank(c) != 0) << c;
    EXPECT_EQ(c_tolower(c), tolower(c)) << c;
    EXPECT_EQ(c_toupper(c), toupper(c)) << c;
  }
  for (int c = 128; c < 256; ++c) {
    EXPECT_EQ(c_class(c), 0) << c;
    EXPECT_EQ(c_tolower(c), c);
  }
}

}  // namespace
}  // namespace vorlane
