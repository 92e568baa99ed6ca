#include "linguistics/wstrop/wstring_type.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vorlane::linguistics {
namespace {

TEST(WstringHash, ThirtyTwoBitsSignExtended) {
  const wcell a[] = {0x41};
  EXPECT_EQ(wstring_hash_cells(a, 1), static_cast<int32_t>(0xefe981c0u));
  const wcell ab[] = {0x41, 0x42};
  EXPECT_EQ(wstring_hash_cells(ab, 2), static_cast<int32_t>(0x97dfb7c3u));
  EXPECT_EQ(wstring_hash_cells(nullptr, 0), 0);
  // These three cells hash to 0xFFFFFFFF, which is given as -2.
  const wcell minus_one[] = {0x78, 0x67, 0xDD11};
  EXPECT_EQ(wstring_hash_cells(minus_one, 3), -2);
}

TEST(WstringSizes, CountsStopAtThe32BitLimit) {
  EXPECT_EQ(concat_cell_count(2, 3), 5);
  EXPECT_EQ(concat_cell_count(kMaxCells - 1, 1), static_cast<int64_t>(kMaxCells));
  EXPECT_EQ(concat_cell_count(kMaxCells, 1), -1);
  EXPECT_EQ(concat_cell_count(SIZE_MAX, SIZE_MAX), -1);
  EXPECT_EQ(repeat_cell_count(2, 3), 6);
  EXPECT_EQ(repeat_cell_count(2, 0), 0);
  EXPECT_EQ(repeat_cell_count(2, -5), 0);
  EXPECT_EQ(repeat_cell_count(0, INT64_MAX), 0);
  EXPECT_EQ(repeat_cell_count(1, static_cast<int64_t>(kMaxCells)), static_cast<int64_t>(kMaxCells));
  EXPECT_EQ(repeat_cell_count(65536, 32768), -1);
  EXPECT_EQ(repeat_cell_count(2, INT64_MAX), -1);  // the product would wrap in 64 bits
}

}  // namespace
}  // namespace vorlane::linguistics
