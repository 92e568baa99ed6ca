#include "platform/line_escape.h"

#include <gtest/gtest.h>

namespace vorlane::platform {
namespace {

TEST(LineEscape, EscapesAndReadsBack) {
  struct Case {
    std::string text;
    std::string escaped;
  };
  const Case cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"a\tb\nc\rd\\e", "a\\tb\\nc\\rd\\\\e"},
      {std::string("nul\0x\xe9", 6), std::string("nul\0x\xe9", 6)},
  };
  for (const Case& c : cases) {
    std::string out = "head:";
    append_escaped(out, c.text);
    EXPECT_EQ(out, "head:" + c.escaped);
    std::string back = "stale";
    EXPECT_TRUE(unescape_field(c.escaped, &back));
    EXPECT_EQ(back, c.text);
  }
}

TEST(LineEscape, OtherEscapesAndALoneBackslash) {
  std::string out;
  EXPECT_TRUE(unescape_field("\\q\\\\", &out));
  EXPECT_EQ(out, "q\\");
  EXPECT_FALSE(unescape_field("ab\\", &out));
  EXPECT_EQ(out, "ab\\");  // kept as it stands
}

}  // namespace
}  // namespace vorlane::platform
