#include "engine/transfer/byte_order.h"

#include <gtest/gtest.h>

namespace vorlane::engine {
namespace {

TEST(ByteOrder, NumbersToAndFromNetworkOrderStaySigned) {
  EXPECT_EQ(convert_to_net_format(1), 16777216);
  EXPECT_EQ(convert_to_host_format(16777216), 1);
  EXPECT_EQ(convert_to_net_format(0x80), INT32_MIN);
  EXPECT_EQ(convert_to_net_format(-1), -1);
  EXPECT_EQ(convert_to_net_format(0x12345678), 0x78563412);
  EXPECT_EQ(convert_to_host_format(convert_to_net_format(-123456)), -123456);
}

TEST(ByteOrder, DirectoryHeaderAndEntries) {
  uint32_t w[12] = {
      3, 100, 50, 40000,                   // header
      0x11, 0x22, 8180, (20u << 8) | 0,    // entry: size 20, part 0
      0x33, 0x44, 0, (0x123456u << 8) | 7  // entry: size 0x123456, part 7
  };
  convert_dir_records(w, 3, true);
  const uint32_t expected[12] = {
      reverse_word(3),    reverse_word(100),  reverse_word(50),   reverse_word(40000),
      reverse_word(0x11), reverse_word(0x22), reverse_word(8180), reverse_word(20),
      reverse_word(0x33), reverse_word(0x44), 0,                  reverse_word(7u << 24 | 0x123456),
  };
  for (int i = 0; i < 12; ++i) EXPECT_EQ(w[i], expected[i]) << "word " << i;

  // A later block holds entries only.
  uint32_t e[4] = {1, 2, 3, (16u << 8) | 2};
  convert_dir_records(e, 1, false);
  EXPECT_EQ(e[3], reverse_word(2u << 24 | 16));
}

TEST(ByteOrder, FullTermRecordMovesTheBitFields) {
  // docf 5, norm 3; count 2, free 0.
  uint32_t w[7] = {0x1234, 0x5678, 5 | 3u << 25, 2u << 15, 10u << 7 | 1, 11u << 7 | 127, 0xFFFFFF80u};
  convert_full_term_record(w, 2);
  EXPECT_EQ(reverse_word(w[0]), 0x1234u);
  EXPECT_EQ(reverse_word(w[1]), 0x5678u);
  EXPECT_EQ(reverse_word(w[2]), 5u << 7 | 3);
  EXPECT_EQ(reverse_word(w[3]), 2u);
  EXPECT_EQ(reverse_word(w[4]), 10u << 7 | 1);
  EXPECT_EQ(reverse_word(w[6]), 0xFFFFFF80u);

  // The widest fields: docf 0x1FFFFFF, norm 127, count 0x1FFFF.
  uint32_t big[5] = {1, 1, 0xFFFFFFFFu, 0x1FFFFu << 15, 0};
  convert_full_term_record(big, 0);
  EXPECT_EQ(reverse_word(big[2]), 0xFFFFFFFFu);
  EXPECT_EQ(reverse_word(big[3]), 0x1FFFFu);
}

TEST(ByteOrder, PhysicalMemory) {
  int64_t size = physsize();
  int64_t avail = physavail();
  EXPECT_GT(size, int64_t{1} << 24);
  EXPECT_GT(avail, 0);
  EXPECT_LE(avail, size);
}

}  // namespace
}  // namespace vorlane::engine
