#include <gtest/gtest.h>

#include <map>

#include "engine/testing/posting_testing.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

using testing::Filters;
using testing::HitArea;

// Documents of the model: posting key -> summed score with one offset, for
// those that pass.
std::map<uint32_t, int32_t> model_merge(const std::vector<std::vector<uint32_t>>& lists, const Filters& f) {
  std::map<uint32_t, int64_t> sums;
  for (size_t i = 0; i < lists.size() && i < 40; ++i)
    for (uint32_t p : lists[i])
      if (p != kEndMark) sums[p & ~0x7Fu] += p & 0x7F;
  std::map<uint32_t, int32_t> out;
  for (const auto& [key, sum] : sums) {
    int64_t offset;
    if (f.passes(key >> 7, &offset)) out[key] = testing::model_score(sum, offset);
  }
  return out;
}

std::vector<const uint32_t*> pointers(const std::vector<std::vector<uint32_t>>& lists) {
  std::vector<const uint32_t*> out;
  for (const auto& l : lists) out.push_back(l.data());
  out.push_back(nullptr);
  return out;
}

class Merge : public ::testing::TestWithParam<int> {};

TEST_P(Merge, SelectZeroWritesEveryDocumentWithItsSummedScore) {
  testing::SavedQualityOffsets saved;
  const int32_t offsets[8] = {-50, -5, 0, 2, 3, 7, 11, 13};
  std::copy(offsets, offsets + 8, quality_offsets);
  std::mt19937 rng(100 + GetParam());
  for (int round = 0; round < 40; ++round) {
    const uint32_t docs = 60 + round * 5;
    const Filters f = testing::random_filters(rng, docs);
    std::vector<std::vector<uint32_t>> lists;
    uint32_t total = 0;
    for (int i = 0; i < GetParam(); ++i) {
      lists.push_back(testing::random_postings(rng, 1 + rng() % (docs / 2), docs));
      total += static_cast<uint32_t>(lists.back().size() - 1);
    }
    const auto want = model_merge(lists, f);
    HitArea area(total);
    const auto ptrs = pointers(lists);
    const uint32_t n = merge(ptrs.data(), area.list(), 0, f.delmap(), f.mode, f.datemap(), f.window);
    ASSERT_EQ(n, want.size());
    ASSERT_EQ(area.size(), want.size());
    EXPECT_EQ(area.base(), 0);
    size_t i = 1;
    for (const auto& [key, score] : want) {
      ASSERT_EQ(area[i].posting, key) << "round " << round;
      ASSERT_EQ(area[i].score, score) << "round " << round;
      ++i;
    }
  }
}

TEST_P(Merge, SelectOneKeepsTheModelsTopHits) {
  testing::SavedQualityOffsets saved;
  std::mt19937 rng(200 + GetParam());
  for (int round = 0; round < 40; ++round) {
    const uint32_t docs = 80 + round * 3;
    const Filters f = testing::random_filters(rng, docs);
    std::vector<std::vector<uint32_t>> lists;
    for (int i = 0; i < GetParam(); ++i) lists.push_back(testing::random_postings(rng, 1 + rng() % docs, docs));
    // Scores from few values make ties, decided by the higher posting.
    for (auto& l : lists)
      for (auto& p : l)
        if (p != kEndMark) p = (p & ~0x7Fu) | (1 + (p & 3));
    const auto model = model_merge(lists, f);
    std::vector<HitHeap> want;
    for (const auto& [key, score] : model) want.push_back(HitHeap{score, key});
    std::sort(want.begin(), want.end(), [](const HitHeap& a, const HitHeap& b) {
      return a.score != b.score ? a.score > b.score : a.posting > b.posting;
    });
    const uint32_t capacity = round % 4 == 0 ? 0 : 1 + round % 25;
    HitArea area(capacity);
    const auto ptrs = pointers(lists);
    const uint32_t n = merge(ptrs.data(), area.list(), 1, f.delmap(), f.mode, f.datemap(), f.window);
    ASSERT_EQ(n, model.size());
    ASSERT_EQ(area.size(), capacity);
    sort_heap(area.list());
    const size_t kept = std::min<size_t>(capacity, want.size());
    for (size_t i = 0; i < kept; ++i) {
      ASSERT_EQ(area[i + 1].posting, want[i].posting) << "round " << round << " rank " << i + 1;
      ASSERT_EQ(area[i + 1].score, want[i].score) << "round " << round << " rank " << i + 1;
    }
    for (size_t i = kept + 1; i <= capacity; ++i) EXPECT_EQ(area[i].posting, kEndMark) << "unused entry";
  }
}

INSTANTIATE_TEST_SUITE_P(Lists, Merge, ::testing::Values(1, 2, 3, 41));

TEST(MergeEdges, NoListsAndEmptyLists) {
  HitArea area(4);
  const uint32_t* none[] = {nullptr};
  EXPECT_EQ(merge(none, area.list(), 0, {}, 0, {}, 0), 0u);
  EXPECT_EQ(area.size(), 0u);
  const uint32_t empty[] = {kEndMark};
  const uint32_t* two_empty[] = {empty, empty, nullptr};
  HitArea area2(4);
  EXPECT_EQ(merge(two_empty, area2.list(), 1, {}, 0, {}, 0), 0u);
  EXPECT_EQ(area2.size(), 4u);
  EXPECT_EQ(area2[1].score, -1);
}

TEST(MergeEdges, OffsetOncePerDocumentAndTheQueueTrace) {
  testing::SavedQualityOffsets saved;
  quality_offsets[4] = 1000;
  const uint32_t a[] = {3 << 7 | 10, 5 << 7 | 1, kEndMark};
  const uint32_t b[] = {3 << 7 | 20, kEndMark};
  const uint32_t c[] = {1 << 7 | 2, 3 << 7 | 30, kEndMark};
  const uint32_t* lists[] = {a, b, c, nullptr};
  LogCapture log(LOG_MERGE_QUEUE);
  HitArea area(8);
  ASSERT_EQ(merge(lists, area.list(), 0, {}, 0, {}, 0), 3u);
  EXPECT_EQ(area[1].score, 2 + 1000);
  EXPECT_EQ(area[2].score, 60 + 1000);
  EXPECT_EQ(area[3].score, 1 + 1000);
  // The queue in order of the lists' first postings.
  EXPECT_TRUE(log.contains("sorn(merge) queue: 130 394 404 \n")) << log.all();
}

TEST(MergeEdges, SelectZeroNeverWritesPastTheCapacity) {
  const uint32_t a[] = {1 << 7 | 1, 2 << 7 | 1, 3 << 7 | 1, kEndMark};
  const uint32_t b[] = {4 << 7 | 1, kEndMark};
  const uint32_t* lists[] = {a, b, nullptr};
  LogCapture log;
  HitArea area(2);
  EXPECT_EQ(merge(lists, area.list(), 0, {}, 0, {}, 0), 4u);
  EXPECT_EQ(area.size(), 2u);
  EXPECT_EQ(area[2].posting, 2u << 7);
  EXPECT_EQ(area[3].score, kSentinelScore) << "the sentinels stand";
  EXPECT_TRUE(log.contains("merge: 4 documents do not fit a list of 2")) << log.all();
}

}  // namespace
}  // namespace vorlane::engine
