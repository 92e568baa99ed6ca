// Quality offsets come from scripts and may be any 32-bit value: the lists
// built from them must keep every score clear of the sentinels, through the
// same steps query evaluation takes (filter or merge, bonus joins, compaction,
// selection), without overflowing anywhere.
#include <gtest/gtest.h>

#include <climits>

#include "engine/query/posting_filter.h"
#include "engine/testing/posting_testing.h"

namespace vorlane::engine {
namespace {

using testing::HitArea;

// Every real score of a list lies in 0..limit.
void expect_bounded(const HitArea& list, int64_t limit, const char* what) {
  for (uint32_t i = 1; i <= list.size(); ++i) {
    const int64_t real = int64_t{list.base()} + list[i].score;
    ASSERT_GE(real, 0) << what << " hit " << i;
    ASSERT_LE(real, limit) << what << " hit " << i;
    ASSERT_LT(list[i].score, kSentinelScore) << what << " hit " << i;
  }
}

void run_pipelines(const int32_t offsets[8], uint32_t seed) {
  testing::SavedQualityOffsets saved;
  std::copy(offsets, offsets + 8, quality_offsets);
  std::mt19937 rng(seed);
  const uint32_t docs = 400;
  std::vector<uint8_t> del(docs);
  for (auto& b : del) b = static_cast<uint8_t>(rng() % 255);  // every level, none deleted
  const DeletionMap delmap{del.data(), del.size()};
  const int64_t limit = kMaxQualityOffset + 41 * 127;

  std::vector<std::vector<uint32_t>> lists;
  for (int i = 0; i < 5; ++i) lists.push_back(testing::random_postings(rng, 150, docs));
  // A document twice in the second list.
  auto& l1 = lists[1];
  l1.insert(l1.begin() + 1, (l1[0] & ~0x7Fu) | 127);
  if (l1[0] == l1[1]) l1[1] = (l1[0] & ~0x7Fu) | 126;

  // Required terms: filter the first, intersect the others.
  HitArea work(1000);
  filter_postings(lists[0].data(), static_cast<uint32_t>(lists[0].size() - 1), 0, work.list(), delmap, 0, {}, 0);
  expect_bounded(work, limit, "filter");
  HitArea all_docs = work;
  for (int i = 1; i < 3; ++i) {
    hit_base(work.list()) -= kBonus;
    join(work.list(), lists[i].data(), static_cast<uint32_t>(lists[i].size() - 1), kBonus);
    compact_hits(work.list(), 0);
    expect_bounded(work, limit, "intersection");
  }
  // Excluded, then optional terms with the bonus of a refinement without
  // required terms.
  join(work.list(), lists[3].data(), static_cast<uint32_t>(lists[3].size() - 1), -kBonus);
  compact_hits(work.list(), 0);
  expect_bounded(work, limit, "exclusion");
  hit_base(all_docs.list()) -= kBonus;
  for (int i = 1; i < 5; ++i)
    join(all_docs.list(), lists[i].data(), static_cast<uint32_t>(lists[i].size() - 1), kBonus);
  compact_hits(all_docs.list(), 1);
  expect_bounded(all_docs, limit, "optional with bonus");

  HitArea top(20);
  select_top(work.list(), top.list());
  expect_bounded(top, limit, "select_top");

  // Merges of the lists, both ways.
  std::vector<const uint32_t*> ptrs;
  for (const auto& l : lists) ptrs.push_back(l.data());
  ptrs.push_back(nullptr);
  HitArea merged(1000);
  merge(ptrs.data(), merged.list(), 0, delmap, 0, {}, 0);
  expect_bounded(merged, limit, "merge select 0");
  HitArea best(30);
  merge(ptrs.data(), best.list(), 1, delmap, 0, {}, 0);
  sort_heap(best.list());
  compact_hits(best.list(), 1);
  expect_bounded(best, limit, "merge select 1");
  for (uint32_t i = 2; i <= best.size(); ++i) ASSERT_GE(best[i - 1].score, best[i].score) << "order kept";
}

TEST(ScoreBound, ExtremeQualityOffsetsStayClearOfTheSentinels) {
  const int32_t big[8] = {INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX};
  const int32_t small[8] = {-INT_MAX, -INT_MAX, -INT_MAX, -INT_MAX, -INT_MAX, -INT_MAX, -INT_MAX, -INT_MAX};
  const int32_t mixed[8] = {-INT_MAX, INT_MAX, INT_MIN, 0, INT_MAX, -1, 1, INT_MAX - 1};
  run_pipelines(big, 1);
  run_pipelines(small, 2);
  run_pipelines(mixed, 3);
}

TEST(ScoreBound, OffsetsAreBoundedWhereTheyAreAdded) {
  const int32_t offsets[8] = {INT_MIN, -kMaxQualityOffset - 1, -5, 0, 7, kMaxQualityOffset, kMaxQualityOffset + 1,
                              INT_MAX};
  EXPECT_EQ(quality_offset(offsets, 0x40), -kMaxQualityOffset);
  EXPECT_EQ(quality_offset(offsets, 0x50), -kMaxQualityOffset);
  EXPECT_EQ(quality_offset(offsets, 0x60), -5);
  EXPECT_EQ(quality_offset(offsets, 0x00), 7);
  EXPECT_EQ(quality_offset(offsets, 0x20), kMaxQualityOffset);
  EXPECT_EQ(quality_offset(offsets, 0x30), kMaxQualityOffset);
  // A score never drops below 0 with its offset, so a positive bonus is seen
  // as reached once it was given.
  EXPECT_EQ(score_with_offset(20, -5), 15);
  EXPECT_EQ(score_with_offset(20, -kMaxQualityOffset), 0);
  const int32_t minus[8] = {-50, -50, -50, -50, -50, -50, -50, -50};
  testing::SavedQualityOffsets saved;
  std::copy(minus, minus + 8, quality_offsets);
  const uint32_t postings[] = {1 << 7 | 10, kEndMark};
  const uint32_t twice[] = {1 << 7 | 1, 1 << 7 | 2, kEndMark};
  HitArea work(2);
  filter_postings(postings, 1, 0, work.list(), {}, 0, {}, 0);
  ASSERT_EQ(work[1].score, 0);
  hit_base(work.list()) -= kBonus;
  join(work.list(), twice, 2, kBonus);
  ASSERT_EQ(compact_hits(work.list(), 0), 1u);
  EXPECT_EQ(work[1].score, 3) << "the bonus given once";
}

}  // namespace
}  // namespace vorlane::engine
