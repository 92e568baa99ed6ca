#include "engine/query/hit_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "engine/testing/posting_testing.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

using testing::HitArea;

bool better(const HitHeap& a, const HitHeap& b) {
  return a.score != b.score ? a.score > b.score : a.posting > b.posting;
}

// A list in document order with scores from few values (many ties).
HitArea random_hits(std::mt19937& rng, uint32_t n, int32_t base) {
  HitArea area(n);
  uint32_t doc = 0;
  for (uint32_t i = 1; i <= n; ++i) {
    doc += 1 + rng() % 3;
    area.e[i] = HitHeap{static_cast<int32_t>(rng() % 6), doc << 7};
  }
  area.e[0] = HitHeap{base, n};
  return area;
}

TEST(HitHeap, InitWritesPlaceholdersAndSentinels) {
  HitArea area(3);
  area.e[0].score = 42;
  init_hit_heap(area.list());
  EXPECT_EQ(area.base(), 42);
  EXPECT_EQ(area.size(), 3u);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(area[i].score, -1);
    EXPECT_EQ(area[i].posting, kEndMark);
  }
  for (int i = 4; i <= 7; ++i) {
    EXPECT_EQ(area[i].score, kSentinelScore);
    EXPECT_EQ(area[i].posting, kEndMark);
  }
  EXPECT_EQ(area.e.size(), 8u);
}

TEST(HitHeap, ReplaceTopOnlyWhenStrictlyGreater) {
  HitArea area(3);
  init_hit_heap(area.list());
  heap_replace_top(area.list(), 5, 10 << 7, 1);
  heap_replace_top(area.list(), 5, 20 << 7, 1);
  heap_replace_top(area.list(), 7, 1 << 7, 1);
  // Full: (5, 10) is the smallest; an equal hit does not replace it, a
  // greater posting with the same score does.
  EXPECT_EQ(area[1].score, 5);
  EXPECT_EQ(area[1].posting, 10u << 7);
  heap_replace_top(area.list(), 5, 10 << 7, 1);
  heap_replace_top(area.list(), 4, 99 << 7, 1);
  EXPECT_EQ(area[1].posting, 10u << 7);
  heap_replace_top(area.list(), 5, 11 << 7, 1);
  EXPECT_EQ(area[1].posting, 11u << 7);
  sort_heap(area.list());
  EXPECT_EQ(area[1].posting, 1u << 7);
  EXPECT_EQ(area[2].posting, 20u << 7);
  EXPECT_EQ(area[3].posting, 11u << 7);
  EXPECT_EQ(area[4].score, kSentinelScore) << "sentinels untouched";
}

TEST(HitHeap, SelectTopAndSortHeapGiveTheModelsOrder) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    const uint32_t n = rng() % 120;
    const int32_t base = round % 3 == 0 ? 0 : static_cast<int32_t>(rng() % 7) - 3;
    HitArea src = random_hits(rng, n, base);
    std::vector<HitHeap> want(src.e.begin() + 1, src.e.begin() + 1 + n);
    std::sort(want.begin(), want.end(), better);
    const uint32_t capacity = rng() % 40;
    HitArea dst(capacity);
    dst.e[0].score = 9;
    const uint32_t got = select_top(src.list(), dst.list());
    const uint32_t kept = std::min(capacity, n);
    ASSERT_EQ(got, kept);
    ASSERT_EQ(dst.size(), kept);
    EXPECT_EQ(dst.base(), 9) << "dst base unchanged";
    for (uint32_t i = 0; i < kept; ++i) {
      ASSERT_EQ(dst[i + 1].posting, want[i].posting) << "round " << round << " rank " << i + 1;
      ASSERT_EQ(dst[i + 1].score, want[i].score + base) << "src base added";
    }
  }
}

TEST(HitHeap, SelectTopOfEqualScoresKeepsTheHigherDocumentsBestFirst) {
  HitArea src(6);
  for (uint32_t i = 1; i <= 6; ++i) src.e[i] = HitHeap{3, i << 7};
  src.e[0] = HitHeap{0, 6};
  HitArea dst(3);
  ASSERT_EQ(select_top(src.list(), dst.list()), 3u);
  EXPECT_EQ(dst[1].posting, 6u << 7);
  EXPECT_EQ(dst[2].posting, 5u << 7);
  EXPECT_EQ(dst[3].posting, 4u << 7);
  HitArea zero(0);
  EXPECT_EQ(select_top(src.list(), zero.list()), 0u);
}

TEST(HitHeap, SortHeapOfAnyHeap) {
  std::mt19937 rng(6);
  for (int round = 0; round < 100; ++round) {
    const uint32_t c = 1 + rng() % 60;
    HitArea area(c);
    init_hit_heap(area.list());
    std::vector<HitHeap> all;
    for (int k = 0; k < 100; ++k) {
      const HitHeap h{static_cast<int32_t>(rng() % 9), static_cast<uint32_t>(rng() % 500) << 7};
      if (std::find_if(all.begin(), all.end(), [&](const HitHeap& x) { return x.posting == h.posting; }) != all.end())
        continue;
      all.push_back(h);
      heap_replace_top(area.list(), h.score, h.posting, 1);
    }
    std::sort(all.begin(), all.end(), better);
    all.resize(std::min<size_t>(all.size(), c));
    EXPECT_EQ(sort_heap(area.list()), c);
    for (size_t i = 0; i < all.size(); ++i) {
      ASSERT_EQ(area[i + 1].posting, all[i].posting);
      ASSERT_EQ(area[i + 1].score, all[i].score);
    }
  }
}

TEST(HitHeap, CompactHitsKeepsRealScores) {
  HitArea area(5);
  area.e[1] = HitHeap{3, 1 << 7};
  area.e[2] = HitHeap{9, 2 << 7};
  area.e[3] = HitHeap{4, kEndMark};
  area.e[4] = HitHeap{5, 4 << 7};
  area.e[5] = HitHeap{4, 5 << 7};
  area.e[0] = HitHeap{-3, 5};
  // Real scores 0, 6, (end mark), 2, 1: threshold 1 keeps 6, 2, 1.
  EXPECT_EQ(compact_hits(area.list(), 1), 3u);
  EXPECT_EQ(area.base(), 1);
  EXPECT_EQ(area[1].posting, 2u << 7);
  EXPECT_EQ(area[1].score + area.base(), 6);
  EXPECT_EQ(area[2].score + area.base(), 2);
  EXPECT_EQ(area[3].posting, 5u << 7);
  EXPECT_EQ(area[3].score + area.base(), 1);
}

void* failing_alloc(size_t) { return nullptr; }

TEST(HitHeap, CopyHits) {
  std::mt19937 rng(8);
  HitArea src = random_hits(rng, 20, 4);
  HitArea dst(20);
  EXPECT_EQ(copy_hits(src.list(), dst.list()), dst.list());
  for (int i = 0; i <= 20; ++i) {
    EXPECT_EQ(dst[i].score, src[i].score);
    EXPECT_EQ(dst[i].posting, src[i].posting);
  }
  HitHeap* fresh = copy_hits(src.list(), nullptr);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(hit_size(fresh), 20u);
  EXPECT_EQ(hit_base(fresh), 4);
  EXPECT_EQ(fresh[20].posting, src[20].posting);
  // The area has room for the list as a heap of its size.
  fresh[2 * 20 + 3] = HitHeap{0, 0};
  free(fresh);

  LogCapture log;
  void* (*old)(size_t) = hit_list_alloc;
  hit_list_alloc = failing_alloc;
  EXPECT_EQ(copy_hits(src.list(), nullptr), nullptr);
  hit_list_alloc = old;
  EXPECT_TRUE(log.contains("copy_hits: no memory for a copy of 20 hits")) << log.all();
}

TEST(HitHeap, DumpHitsShowsHitsAboveTheSentinelScore) {
  HitArea area(3);
  area.e[1] = HitHeap{5, 1 << 7};
  area.e[2] = HitHeap{1000004, 2 << 7};
  area.e[3] = HitHeap{kSentinelScore, 3 << 7};
  area.e[0] = HitHeap{-999999, 3};
  {
    LogCapture quiet(0);
    dump_hits(area.list());
    EXPECT_TRUE(quiet.lines().empty());
  }
  LogCapture log(LOG_MERGE_QUEUE);
  dump_hits(area.list());
  EXPECT_EQ(log.all(), "BASE -999999 SIZE 3: (2)2->1000004\n\n");
}

TEST(HitHeap, CompareDocidsOrdersByDocument) {
  HitHeap hits[] = {{1, 9u << 7}, {7, 2u << 7}, {3, 0x1FFFFFEu << 7}, {0, 0}};
  qsort(hits, 4, sizeof(HitHeap), compare_docids);
  EXPECT_EQ(hits[0].posting, 0u);
  EXPECT_EQ(hits[1].posting, 2u << 7);
  EXPECT_EQ(hits[2].posting, 9u << 7);
  EXPECT_EQ(hits[3].posting, 0x1FFFFFEu << 7);
}

}  // namespace
}  // namespace vorlane::engine
