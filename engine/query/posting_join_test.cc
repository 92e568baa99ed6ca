#include <gtest/gtest.h>

#include <map>

#include "engine/testing/posting_testing.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

using testing::HitArea;

// A hit list in document order from a posting list, scores 0..50.
HitArea hits_from(std::mt19937& rng, uint32_t n, uint32_t docs) {
  const auto postings = testing::random_postings(rng, n, docs);
  HitArea area(static_cast<uint32_t>(postings.size()));
  uint32_t k = 0;
  for (uint32_t p : postings)
    if (p != kEndMark) area.e[++k] = HitHeap{static_cast<int32_t>(rng() % 51), p & ~0x7Fu};
  area.e[0] = HitHeap{0, k};
  return area;
}

// The postings with one document occurring twice (when any is there).
std::vector<uint32_t> with_duplicate(std::mt19937& rng, std::vector<uint32_t> postings) {
  if (postings.size() < 2) return postings;
  const size_t at = rng() % (postings.size() - 1);
  const uint32_t dup = (postings[at] & ~0x7Fu) | 127;
  if (dup != postings[at]) postings.insert(postings.begin() + static_cast<long>(at) + 1, dup);
  return postings;
}

// The model: each hit gets every matching posting's score, and the bonus
// after each unless a positive bonus has been reached.
std::vector<int32_t> model_join(const HitArea& hits, const std::vector<uint32_t>& postings, int32_t bonus) {
  std::multimap<uint32_t, uint32_t> by_doc;
  for (uint32_t p : postings)
    if (p != kEndMark) by_doc.emplace(p & ~0x7Fu, p & 0x7F);
  std::vector<int32_t> out;
  for (uint32_t i = 1; i <= hits.size(); ++i) {
    int64_t s = hits[i].score;
    auto [lo, hi] = by_doc.equal_range(hits[i].posting);
    for (auto it = lo; it != hi; ++it) {
      s += it->second;
      if (!(bonus > 0 && s >= bonus)) s += bonus;
    }
    out.push_back(static_cast<int32_t>(s));
  }
  return out;
}

// stack_entries 0: join itself, which walks lists of similar lengths.
void expect_join_matches_model(uint32_t seed, int stack_entries) {
  std::mt19937 rng(seed);
  const int32_t bonuses[] = {kBonus, -kBonus, 0};
  for (int round = 0; round < 120; ++round) {
    const uint32_t docs = 40 + round * 17;
    // Sizes from tiny to larger than the hits, so both bisection and
    // stepping run, on either side.
    HitArea hits = hits_from(rng, 1 + rng() % (docs / 2), docs);
    const auto postings = with_duplicate(rng, testing::random_postings(rng, 1 + rng() % (docs / 2), docs));
    const int32_t bonus = bonuses[round % 3];
    const auto want = model_join(hits, postings, bonus);
    const auto before = hits.e;
    const uint32_t count = static_cast<uint32_t>(postings.size() - 1);
    if (stack_entries == 0) {
      join(hits.list(), postings.data(), count, bonus);
    } else {
      join_with_stack(hits.list(), postings.data(), count, bonus, stack_entries);
    }
    ASSERT_EQ(hits.size(), before[0].posting);
    for (uint32_t i = 1; i <= hits.size(); ++i) {
      ASSERT_EQ(hits[i].posting, before[i].posting) << "order unchanged";
      ASSERT_EQ(hits[i].score, want[i - 1]) << "round " << round << " hit " << i << " bonus " << bonus;
    }
  }
}

TEST(Join, EqualsTheModelWithEachBonus) {
  expect_join_matches_model(7, kJoinStackSize);
  expect_join_matches_model(10, 0);
}

TEST(Join, AFullStackIsSolvedByStepping) {
  // With room for one sub-problem nearly every split finds the stack full.
  expect_join_matches_model(8, 1);
  expect_join_matches_model(9, 2);
}

// join_matches against its definition: a copy with its base lowered by the
// bonus, joined with it, compacted at 0; lists of every relative length.
TEST(Join, MatchesAreWhatTheBonusJoinKeeps) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    const uint32_t docs = 30 + round * 13;
    HitArea hits = hits_from(rng, 1 + rng() % (docs / (1 + round % 7)), docs);
    for (uint32_t i = 1; i <= hits.size(); ++i) hits.e[i].score = 0;
    hits.e[0].score = 1;
    const auto postings = with_duplicate(rng, testing::random_postings(rng, 1 + rng() % (docs / (1 + round % 5)), docs));
    const uint32_t count = static_cast<uint32_t>(postings.size() - 1);
    HitArea want(hits.size()), got(hits.size());
    copy_hits(hits.list(), want.list());
    hit_base(want.list()) -= kBonus;
    join_with_stack(want.list(), postings.data(), count, kBonus, kJoinStackSize);
    const uint32_t n = compact_hits(want.list(), 0);
    ASSERT_EQ(join_matches(hits.list(), postings.data(), count, got.list()), n) << round;
    ASSERT_EQ(got.base(), want.base()) << round;
    for (uint32_t i = 1; i <= n; ++i) {
      ASSERT_EQ(got[i].posting, want[i].posting) << round << " " << i;
      ASSERT_EQ(got[i].score, want[i].score) << round << " " << i;
    }
  }
}

TEST(Join, BonusOncePerHitWhenADocumentOccursTwice) {
  const uint32_t postings[] = {2 << 7 | 3, 5 << 7 | 4, 5 << 7 | 6, 9 << 7 | 1, kEndMark};
  for (int32_t bonus : {kBonus, -kBonus, int32_t{0}}) {
    HitArea hits(3);
    hits.e[1] = HitHeap{10, 5u << 7};
    hits.e[2] = HitHeap{10, 6u << 7};
    hits.e[3] = HitHeap{10, 9u << 7};
    hits.e[0] = HitHeap{0, 3};
    join(hits.list(), postings, 4, bonus);
    const int32_t times = bonus > 0 ? 1 : 2;
    EXPECT_EQ(hits[1].score, 10 + 4 + 6 + times * bonus) << bonus;
    EXPECT_EQ(hits[2].score, 10) << bonus;
    EXPECT_EQ(hits[3].score, 10 + 1 + bonus) << bonus;
  }
}

TEST(Join, EmptyListsAndDisjointRangesReadNothing) {
  HitArea hits(2);
  hits.e[1] = HitHeap{1, 5u << 7};
  hits.e[2] = HitHeap{1, 6u << 7};
  hits.e[0] = HitHeap{0, 2};
  // No postings at all: the pointer is never read.
  join(hits.list(), nullptr, 0, kBonus);
  // Only the end mark.
  const uint32_t end_only[] = {kEndMark};
  join(hits.list(), end_only, 1, kBonus);
  // Postings all below or all above the hits.
  const uint32_t below[] = {1 << 7 | 1, 4 << 7 | 1, kEndMark};
  const uint32_t above[] = {7 << 7 | 1, 8 << 7 | 1, kEndMark};
  join(hits.list(), below, 2, kBonus);
  join(hits.list(), above, 2, kBonus);
  EXPECT_EQ(hits[1].score, 1);
  EXPECT_EQ(hits[2].score, 1);
  // An empty hit list.
  HitArea none(0);
  none.e[0] = HitHeap{0, 0};
  join(none.list(), below, 2, kBonus);
  EXPECT_EQ(none.size(), 0u);
}

TEST(Join, TraceLines) {
  LogCapture log(LOG_JOIN);
  std::mt19937 rng(3);
  HitArea hits = hits_from(rng, 30, 100);
  const auto postings = testing::random_postings(rng, 30, 100);
  join(hits.list(), postings.data(), 30, 0);
  EXPECT_TRUE(log.contains("join: Binary merging size 30 and " + std::to_string(postings[0]))) << log.all();
  EXPECT_TRUE(log.contains("join: [p0:1, p1:30, q0:0, q1:29]")) << log.all();
  EXPECT_TRUE(log.contains("midpoint(q0+(q1-q0)/2)=14")) << log.all();
  EXPECT_TRUE(log.contains("n1=")) << log.all();
}

TEST(CompactAfterJoin, LoweredBaseKeepsExactlyTheHitsAPlusBonusReached) {
  std::mt19937 rng(11);
  for (int round = 0; round < 60; ++round) {
    const uint32_t docs = 100 + round * 11;
    HitArea hits = hits_from(rng, 1 + rng() % docs, docs);
    const auto postings = with_duplicate(rng, testing::random_postings(rng, 1 + rng() % docs, docs));
    std::map<uint32_t, int32_t> added;
    for (uint32_t p : postings)
      if (p != kEndMark) added[p & ~0x7Fu] += p & 0x7F;
    std::vector<HitHeap> want;
    for (uint32_t i = 1; i <= hits.size(); ++i)
      if (added.count(hits[i].posting)) want.push_back(HitHeap{hits[i].score + added[hits[i].posting], hits[i].posting});

    // Intersection: base lowered by the bonus, +bonus join, keep at 0.
    HitArea both = hits;
    hit_base(both.list()) -= kBonus;
    join(both.list(), postings.data(), static_cast<uint32_t>(postings.size() - 1), kBonus);
    EXPECT_EQ(compact_hits(both.list(), 0), want.size());
    ASSERT_EQ(both.size(), want.size());
    EXPECT_EQ(both.base(), 0);
    for (size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(both[i + 1].posting, want[i].posting);
      ASSERT_EQ(both[i + 1].score, want[i].score) << "real score = hit + postings";
    }

    // Exclusion: -bonus join, keep at 0: exactly the hits not reached.
    HitArea rest = hits;
    join(rest.list(), postings.data(), static_cast<uint32_t>(postings.size() - 1), -kBonus);
    compact_hits(rest.list(), 0);
    EXPECT_EQ(rest.size() + want.size(), hits.size());
    for (uint32_t i = 1; i <= rest.size(); ++i) EXPECT_EQ(added.count(rest[i].posting), 0u);
  }
}

}  // namespace
}  // namespace vorlane::engine
