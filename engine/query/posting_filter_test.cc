#include "engine/query/posting_filter.h"

#include <gtest/gtest.h>

#include "engine/testing/posting_testing.h"

namespace vorlane::engine {
namespace {

using testing::Filters;
using testing::HitArea;

const int32_t kDistinctOffsets[8] = {-3, 10, 20, 30, 40, 50, 60, 70};

TEST(FilterPostings, EqualsTheModelOverRandomMapsModesAndWindows) {
  testing::SavedQualityOffsets saved;
  std::copy(kDistinctOffsets, kDistinctOffsets + 8, quality_offsets);
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    const uint32_t docs = 50 + round % 200;
    const Filters f = testing::random_filters(rng, docs);
    const auto postings = testing::random_postings(rng, docs / 2, docs);
    const uint32_t n = static_cast<uint32_t>(postings.size() - 1);
    // The capacity sometimes cuts the list.
    const uint32_t capacity = round % 5 == 0 ? n / 2 : n + 3;
    HitArea area(capacity);
    filter_postings(postings.data(), n, 17, area.list(), f.delmap(), f.mode, f.datemap(), f.window);

    std::vector<HitHeap> want;
    for (uint32_t i = 0; i < std::min(n, capacity); ++i) {
      int64_t offset;
      if (f.passes(postings[i] >> 7, &offset))
        want.push_back(HitHeap{testing::model_score(postings[i] & 0x7F, offset), postings[i] & ~0x7Fu});
    }
    ASSERT_EQ(area.size(), want.size()) << "round " << round;
    EXPECT_EQ(area.base(), 17);
    for (size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(area[i + 1].posting, want[i].posting) << "round " << round << " hit " << i + 1;
      ASSERT_EQ(area[i + 1].score, want[i].score) << "round " << round << " hit " << i + 1;
    }
  }
}

// One document (docid 1, score 5) through one set of filters.
struct EdgeCase {
  const char* what;
  std::vector<uint8_t> del;
  bool has_del;
  uint32_t mode;
  uint64_t window;
  int din_entries;  // date entries of day 7 (-1: no date map)
  bool kept;
  int32_t score;
};

TEST(FilterPostings, EdgeCases) {
  testing::SavedQualityOffsets saved;
  std::copy(kDistinctOffsets, kDistinctOffsets + 8, quality_offsets);
  const EdgeCase cases[] = {
      {"no map: kept with offset index 4", {}, false, 0, 0, -1, true, 5 + 40},
      {"empty map is no map", {}, true, 0, 0, -1, true, 5 + 40},
      {"no map and a mode: the flag is 0", {}, false, 0x01, 0, -1, false, 0},
      {"0x40 is level -4, offset index 0", {0, 0x40}, true, 0, 0, -1, true, 5 - 3},
      {"0x40 with mode 0x01 dropped", {0, 0x40}, true, 0x01, 0, -1, false, 0},
      {"0x40 with mode 0x40 kept", {0, 0x40}, true, 0x40, 0, -1, true, 5 - 3},
      {"0x80 is level 0, index 4", {0, 0x80}, true, 0, 0, -1, true, 5 + 40},
      {"0x80 sign-extended meets a high mode bit", {0, 0x80}, true, 0x80000000u, 0, -1, true, 5 + 40},
      {"0x80 meets mode 0x100", {0, 0x80}, true, 0x100, 0, -1, true, 5 + 40},
      {"0x80 misses mode 0x7F", {0, 0x80}, true, 0x7F, 0, -1, false, 0},
      {"0x30 is level 3, index 7", {0, 0x30}, true, 0, 0, -1, true, 5 + 70},
      {"0x70 is level -1, index 3", {0, 0x70}, true, 0, 0, -1, true, 5 + 30},
      {"255 is deleted", {0, 255}, true, 0, 0, -1, false, 0},
      {"past the map's end is deleted", {0}, true, 0, 0, -1, false, 0},
      {"window first word 0, second not: every day", {}, false, 0, uint64_t{1} << 32, 2, true, 5 + 40},
      {"active window without a date entry", {}, false, 0, uint64_t{1} << 32, 1, false, 0},
      {"active window without a date map", {}, false, 0, uint64_t{1} << 32, -1, false, 0},
      {"latest day 0 means no upper limit", {}, false, 0, 7, 2, true, 5 + 40},
      {"day above the latest", {}, false, 0, 3 | (6u << 16), 2, false, 0},
      {"day below the earliest", {}, false, 0, 8 | (9u << 16), 2, false, 0},
      {"day on both limits", {}, false, 0, 7 | (7u << 16), 2, true, 5 + 40},
      {"inactive window ignores the date map", {}, false, 0, 0, -1, true, 5 + 40},
  };
  for (const EdgeCase& c : cases) {
    std::vector<din_entry> din(c.din_entries > 0 ? c.din_entries : 0, din_entry{0, din_day_word(7)});
    const uint32_t postings[] = {1 << 7 | 5, kEndMark};
    HitArea area(4);
    filter_postings(postings, 1, 0, area.list(), DeletionMap{c.has_del ? c.del.data() : nullptr, c.del.size()}, c.mode,
                    c.din_entries >= 0 ? DateMap{din.data(), din.size() * sizeof(din_entry)} : DateMap{}, c.window);
    ASSERT_EQ(area.size(), c.kept ? 1u : 0u) << c.what;
    if (c.kept) {
      EXPECT_EQ(area[1].posting, 1u << 7) << c.what;
      EXPECT_EQ(area[1].score, c.score) << c.what;
    }
  }
}

TEST(FilterPostings, StopsAtTheEndMarkAndAtTheCapacity) {
  const uint32_t postings[] = {1 << 7 | 1, 2 << 7 | 2, kEndMark, 9 << 7 | 9};
  HitArea wide(10);
  filter_postings(postings, 4, 0, wide.list(), {}, 0, {}, 0);
  EXPECT_EQ(wide.size(), 2u);
  HitArea narrow(1);
  filter_postings(postings, 4, 0, narrow.list(), {}, 0, {}, 0);
  ASSERT_EQ(narrow.size(), 1u);
  EXPECT_EQ(narrow[1].posting, 1u << 7);
  EXPECT_EQ(narrow[2].score, 0x5A5A5A5A) << "nothing written past the capacity";
}

TEST(FilterPostings, DateEntryCutShortCountsAsMissing) {
  // A map of 1.5 entries: document 1's entry is not whole.
  std::vector<din_entry> din(2, din_entry{0, din_day_word(7)});
  const uint32_t postings[] = {0 << 7 | 1, 1 << 7 | 1, kEndMark};
  HitArea area(4);
  filter_postings(postings, 2, 0, area.list(), {}, 0, DateMap{din.data(), 12}, uint64_t{1} << 32);
  ASSERT_EQ(area.size(), 1u);
  EXPECT_EQ(area[1].posting, 0u);
}

TEST(FilterPostings, DayIsTheHighHalfOfTheDayWord) {
  din_entry e{0xFFFFFFFFu, din_day_word(0x12345)};
  EXPECT_EQ(e.day, 0x23450000u);
  EXPECT_EQ(din_day(e), 0x2345u);
}

}  // namespace
}  // namespace vorlane::engine
