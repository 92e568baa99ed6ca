#include "engine/query/field_prefix.h"

#include <gtest/gtest.h>

namespace vorlane::engine {
namespace {

TEST(FieldPrefix, WholeNamesWithTheirColonMatch) {
  struct Case {
    const char* name;
    uint32_t flags;  // the flags the name answers to
  } cases[] = {
      {"checksum:", 1}, {"site:", 2},      {"url:", 24},   {"link:", 24},    {"imagelink:", 24},
      {"topic:", 8},    {"ancestor:", 8},  {"pumirank:", 24}, {"ext:", 24},  {"http:", 4},
      {"ftp:", 4},      {"mailto:", 4},    {"gopher:", 4}, {"news:", 4},     {"href:", 2},
      // Not whole names, other case, no colon, unknown: no flags.
      {"site", 0},      {"Site:", 0},      {"xsite:", 0},  {"site::", 0},    {"title:", 0},
      {"", 0},
  };
  for (const Case& c : cases) {
    for (uint32_t bit = 1; bit <= 16; bit <<= 1) {
      EXPECT_EQ(field_has_flag(c.name, bit), (c.flags & bit) ? 1 : 0) << c.name << " bit " << bit;
    }
  }
  EXPECT_EQ(is_checksum_field("checksum:"), 1);
  EXPECT_EQ(is_unbroken_field("url:"), 1);
  EXPECT_EQ(is_unbroken_field("topic:"), 0);
  // A length cuts the name: "site:x" read as its first five bytes is "site:".
  EXPECT_EQ(field_has_flag("site:x", 5, kFieldLiteral), 1);
  EXPECT_EQ(field_has_flag("site:x", 6, kFieldLiteral), 0);
}

}  // namespace
}  // namespace vorlane::engine
