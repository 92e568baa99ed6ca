// Lookups on many threads over tiny arenas, while other threads open and
// close databases: every record returned must equal the truth and stay intact
// while the query holds it. Run under ThreadSanitizer in CI.
#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>

#include "platform/testing/test_root.h"
#include "store/db_handle.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane {
namespace {

using testing::expected_cached;
using testing::generated_db;
using testing::record_words;

struct truth {
  std::string dir;
  generated_db g;
  std::vector<std::vector<uint32_t>> want;  // per term
};

truth make_truth(const std::string& dir, uint32_t terms, uint32_t seed) {
  truth t;
  t.dir = dir;
  testing::image_options options;
  options.part_limit = 30000;
  t.g = testing::make_generated_db(dir, terms, 3000, 40, seed, options);
  for (const auto& term : t.g.terms) t.want.push_back(expected_cached(term, t.g.ndocs));
  return t;
}

idbm_db* open_with_cache(const std::string& dir) {
  idbm_db* db = idbm_open(dir.c_str(), 0, 0, 0, nullptr);
  if (db && !idbm_cache(db, 4 * cache_total_slots())) {
    idbm_close(db);
    return nullptr;
  }
  return db;
}

TEST(TermFindStress, EightThreadsThreeDatabasesTinyArenas) {
  platform::TestRoot root;
  init_percent_table();
  cache_release_arenas();
  // Stubs in the first arena; records of up to 40 postings in the second,
  // small enough that records are recycled all the time, large enough for
  // every pin the threads can hold at once (8 x 5 + 2 x 3) and the slots
  // being filled.
  cache_add_arena(0, 24);
  cache_add_arena(40, 72);

  std::vector<truth> dbs;
  for (uint32_t i = 0; i < 5; ++i) dbs.push_back(make_truth(root.file("db" + std::to_string(i)), 1500, 100 + i));
  std::vector<idbm_db*> handles;
  for (int i = 0; i < 3; ++i) {
    handles.push_back(open_with_cache(dbs[i].dir));
    ASSERT_NE(handles.back(), nullptr);
  }

  std::atomic<int> mismatches{0};
  std::atomic<int> lookups{0};
  std::atomic<bool> stop{false};
  auto query_thread = [&](uint32_t seed) {
    std::mt19937 rng(seed);
    for (int q = 0; q < 1500; ++q) {
      const int d = static_cast<int>(rng() % 3);
      idbm_db* db = handles[d];
      const truth& t = dbs[d];
      std::vector<std::pair<const uint32_t*, std::vector<uint32_t>>> held;
      const int nterms = 1 + static_cast<int>(rng() % 5);
      for (int k = 0; k < nterms; ++k) {
        // Mostly stored terms, some absent pairs next to them.
        const size_t i = rng() % t.g.terms.size();
        const auto& term = t.g.terms[i];
        const bool absent = rng() % 4 == 0;
        const uint32_t* r = idbm_find(db, term.hash1, term.hash2 + (absent ? 1 : 0));
        lookups.fetch_add(1, std::memory_order_relaxed);
        if (absent) {
          // An adjacent pair might exist by chance; only check true absences.
          bool exists = false;
          for (const auto& other : t.g.terms)
            if (other.hash1 == term.hash1 && other.hash2 == term.hash2 + 1) exists = true;
          if (!exists && r) mismatches.fetch_add(1);
        } else if (record_words(r) != t.want[i]) {
          mismatches.fetch_add(1);
        }
        if (r) held.push_back({r, record_words(r)});
      }
      // Records held by the query are intact until it releases them.
      for (auto& [r, seen] : held) {
        if (record_words(r) != seen) mismatches.fetch_add(1);
        unpin_record(r);
      }
    }
  };
  auto open_close_thread = [&](int which, uint32_t seed) {
    std::mt19937 rng(seed);
    const truth& t = dbs[which];
    while (!stop.load()) {
      idbm_db* db = open_with_cache(t.dir);
      if (!db) {
        mismatches.fetch_add(1);
        return;
      }
      for (int k = 0; k < 3; ++k) {
        const size_t i = rng() % t.g.terms.size();
        const uint32_t* r = idbm_find(db, t.g.terms[i].hash1, t.g.terms[i].hash2);
        if (record_words(r) != t.want[i]) mismatches.fetch_add(1);
        unpin_record(r);
      }
      idbm_close(db);
    }
  };

  std::vector<std::thread> openers;
  openers.emplace_back(open_close_thread, 3, 7);
  openers.emplace_back(open_close_thread, 4, 8);
  std::vector<std::thread> queries;
  for (uint32_t i = 0; i < 8; ++i) queries.emplace_back(query_thread, 1000 + i);
  for (auto& th : queries) th.join();
  stop = true;
  for (auto& th : openers) th.join();

  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_GT(lookups.load(), 8 * 1500);
  uint64_t stats[16];
  arena_stats(stats, 2);
  EXPECT_GT(stats[8 + 1], 72u);  // records were recycled many times over
  for (idbm_db* db : handles) EXPECT_EQ(idbm_close(db), 1);
  // Every slot is back in its arena, owned by no one and unpinned.
  for (arena* a : arenas) {
    if (!a) break;
    for (uint32_t i = 0; i < a->count; ++i) {
      EXPECT_EQ(a->slots[i].owner, nullptr);
      EXPECT_EQ(a->slots[i].pins, 0u);
      EXPECT_FALSE(a->slots[i].busy);
    }
  }
  cache_release_arenas();
}

}  // namespace
}  // namespace vorlane
