#include "engine/module/cache_setup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/module/engine_globals.h"
#include "engine/module/sorn_module.h"
#include "store/slot_arena.h"

namespace vorlane::engine {
namespace {

std::vector<uint32_t> postings_of(const CachePlan& p) {
  std::vector<uint32_t> v;
  for (int i = 0; i < p.arena_count; ++i) v.push_back(p.arenas[i].postings);
  return v;
}
std::vector<uint32_t> counts_of(const CachePlan& p) {
  std::vector<uint32_t> v;
  for (int i = 0; i < p.arena_count; ++i) v.push_back(p.arenas[i].count);
  return v;
}

TEST(CachePlan, SmallestBudgetGivesEightArenasOfFiftySlots) {
  CachePlan p = cache_plan(0, 0, 0);
  EXPECT_EQ(p.max_hits, 1000u);
  EXPECT_EQ(p.pool_limit, 0u);
  EXPECT_EQ(postings_of(p), (std::vector<uint32_t>{1000, 500, 250, 125, 62, 31, 15, 0}));
  EXPECT_EQ(counts_of(p), std::vector<uint32_t>(8, 50));
  EXPECT_EQ(p.total, 416152u);
  EXPECT_EQ(query_buffer_size_for(p.max_hits), (2000u + 10) * 4 + (2000u + 2) * 24 + 16619328);
}

TEST(CachePlan, HundredMegabytesForFortyThousandPostings) {
  CachePlan p = cache_plan(104857600, 40000, 10);
  EXPECT_EQ(p.max_hits, 40000u);
  EXPECT_EQ(p.pool_limit, 10u);
  EXPECT_EQ(postings_of(p), (std::vector<uint32_t>{40000, 20000, 10000, 5000, 2500, 1250, 625, 312, 156, 78, 39,
                                                   19, 0}));
  EXPECT_EQ(counts_of(p), (std::vector<uint32_t>{163, 246, 368, 552, 827, 1236, 1837, 2709, 3918, 10972, 9681,
                                                 7963, 10286}));
  EXPECT_EQ(p.total, 104363808u);
  EXPECT_EQ(query_buffer_size_for(p.max_hits), 18859416u);
}

TEST(CachePlan, BoundsOfThePoolAndThePostingLimit) {
  struct Case {
    uint32_t hits, pool;
    uint32_t want_hits, want_pool;
    int arenas;
  } cases[] = {
      {999, 20, 1000, 20, 8},
      {1000, 21, 1000, 20, 8},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 20, 30},  // -1 taken unsigned
      {131071, 3, 131071, 3, 15},
      {327679, 0, 327679, 0, 16},
      {327680, 0, 327680, 0, 17},
  };
  for (const Case& c : cases) {
    CachePlan p = cache_plan(0, c.hits, c.pool);
    EXPECT_EQ(p.max_hits, c.want_hits) << c.hits;
    EXPECT_EQ(p.pool_limit, c.want_pool) << c.pool;
    EXPECT_EQ(p.arena_count, c.arenas) << c.hits;
  }
}

// cache_setup changes process-wide state once, so each case runs in a child
// process of its own.
void expect_setup_in_child(uint32_t memory, uint32_t hits, uint32_t pool, uint64_t want_total) {
  EXPECT_EXIT(
      {
        uint64_t total = 0;
        if (cache_setup(memory, hits, pool, &total) != nullptr) std::_Exit(2);
        if (total != want_total) std::_Exit(3);
        CachePlan plan = cache_plan(memory, hits, pool);
        if (max_hits != plan.max_hits || query_pool_limit != plan.pool_limit) std::_Exit(4);
        if (query_buffer_size != query_buffer_size_for(plan.max_hits)) std::_Exit(5);
        // The table holds the arenas in ascending order of chunk size: the
        // plan read backwards.
        for (int i = 0; i < plan.arena_count; ++i) {
          const ArenaShare& s = plan.arenas[plan.arena_count - 1 - i];
          if (!arenas[i] || arenas[i]->count != s.count || arenas[i]->chunk_size != s.postings * 4 + 20)
            std::_Exit(6);
        }
        if (plan.arena_count < kMaxArenas && arenas[plan.arena_count]) std::_Exit(7);
        // A second call is refused and changes nothing.
        if (cache_setup(0, 5000, 1, &total) == nullptr || max_hits != plan.max_hits) std::_Exit(8);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(CacheSetup, ArenaLayoutsInProcessesOfTheirOwn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  expect_setup_in_child(0, 0, 0, 416152);
  expect_setup_in_child(104857600, 40000, 10, 104363808);
  expect_setup_in_child(1 << 20, 131071, 0xFFFFFFFFu, cache_plan(1 << 20, 131071, 0).total);
}

int refusals_change_nothing() {
  uint64_t total = 0;
  const uint32_t refused[] = {131072, 327680, 0xFFFFFFFFu};
  for (uint32_t hits : refused) {
    const char* why = cache_setup(0, hits, 5, &total);
    if (!why || std::string(why).find("131071") == std::string::npos) return 2;
    if (arenas[0] || max_hits != 40000 || query_pool_limit != 0 || query_buffer_size != 0) return 3;
  }
  // A refused call does not count as the one call.
  if (cache_setup(0, 0, 0, &total) != nullptr || total != 416152) return 4;
  return 0;
}

TEST(CacheSetup, TooLargeAPostingLimitIsRefusedAndChangesNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(refusals_change_nothing()), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vorlane::engine
