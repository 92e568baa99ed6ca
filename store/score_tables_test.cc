#include "store/score_tables.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

class ScoreTables : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    init_percent_table();
    init_blend_table();
  }
};

TEST_F(ScoreTables, PercentTableValues) {
  struct Case {
    int p, n, value;
  };
  const Case cases[] = {
      {37, 80, 30}, {50, 1, 1},   // 0.5 rounds up
      {49, 1, 0},   {1, 49, 0},   {1, 50, 1}, {100, 4000, 4000}, {99, 4000, 3960},
      {33, 3, 1},   {67, 3, 2},   {0, 4000, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(percent_table[c.p][c.n], c.value) << c.p << "% of " << c.n;
  for (int n = 0; n < kPercentCols; ++n) {
    ASSERT_EQ(percent_table[100][n], n);
    ASSERT_EQ(percent_table[0][n], 0);
  }
}

TEST_F(ScoreTables, BlendTableValues) {
  struct Case {
    int a, b, value;
  };
  const Case cases[] = {
      {50, 100, 50}, {200, 100, 150}, {499, 1, 25000}, {1, 499, 1},
      {1, 1, 51},      // (100 + 0) / 1 = 100, + 1 + 1 = 102 / 2
      {100, 200, 75},  // (10000 + 100) / 200 = 50, + 100 + 1 = 151 / 2
      {3, 7, 23},      // (300 + 3) / 7 = 43, + 3 + 1 = 47 / 2
  };
  for (const Case& c : cases) EXPECT_EQ(blend_table[c.a][c.b], c.value) << c.a << "," << c.b;
  for (int i = 0; i < kBlendSize; ++i) {
    ASSERT_EQ(blend_table[0][i], 0);
    ASSERT_EQ(blend_table[i][0], 0);
  }
}

TEST(LogScale, Values) {
  struct Case {
    uint32_t x;
    int value;
  };
  const Case cases[] = {{0, 0},     {1, 14},    {2, 22},   {3, 28},  {126, 99},
                        {127, 100}, {128, 100}, {255, 114}, {0xFFFFFFFFu, 457}};
  for (const Case& c : cases) {
    EXPECT_EQ(log_scale(c.x, 0), c.value) << c.x;
    EXPECT_EQ(log_scale(c.x, 12345), c.value) << "the setting is not used";
  }
}

TEST(IdfScale, Values) {
  struct Case {
    uint32_t df, n;
    int value;
  };
  const Case cases[] = {
      {10, 1000, 66},  {999, 1000, 1},   {3, 200000, 96},    {1, 200000, 100}, {0, 5, 100},
      {5, 0, 0},       {0, 0, 0},        {5, 5, 1},          {6, 5, 1},        {1, 2, 100},
      {1, 100000, 100}, {2, 199999, 99}, {1, 99999, 100},    {500, 1000, 10},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 1},     {100000, 0xFFFFFFFFu, 92},
  };
  for (const Case& c : cases) EXPECT_EQ(idf_scale(c.df, c.n), c.value) << c.df << " of " << c.n;
}

}  // namespace
}  // namespace vorlane
