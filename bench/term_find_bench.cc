// Term lookups per second on a database of 100,000 terms: cached (every
// record in the term cache) and uncached (arenas too small to keep any, so
// every lookup reads its record or page from the term files).
//
//   build/bin/term_find_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "store/db_handle.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane {
namespace {

struct Fixture {
  std::string dir;
  testing::generated_db g;
  std::vector<size_t> order;
  Fixture() {
    char tmpl[] = "/tmp/vorlane-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    init_percent_table();
    g = testing::make_generated_db(dir + "/db", 100000, 200000, 8, 1);
    order.resize(g.terms.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(2));
  }
  ~Fixture() { std::filesystem::remove_all(dir); }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void run_lookups(benchmark::State& state, idbm_db* db) {
  Fixture& f = fixture();
  size_t k = 0;
  for (auto _ : state) {
    const auto& t = f.g.terms[f.order[k]];
    const uint32_t* r = idbm_find(db, t.hash1, t.hash2);
    benchmark::DoNotOptimize(r);
    unpin_record(r);
    if (++k == f.order.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_LookupCached(benchmark::State& state) {
  Fixture& f = fixture();
  cache_release_arenas();
  cache_add_arena(0, 1000);
  cache_add_arena(8, 110000);
  idbm_db* db = idbm_open((f.dir + "/db").c_str(), 0, 0, 0, nullptr);
  idbm_cache(db, 4 * cache_total_slots());
  for (const auto& t : f.g.terms) unpin_record(idbm_find(db, t.hash1, t.hash2));
  run_lookups(state, db);
  idbm_close(db);
  cache_release_arenas();
}
BENCHMARK(BM_LookupCached);

void BM_LookupUncached(benchmark::State& state) {
  Fixture& f = fixture();
  cache_release_arenas();
  cache_add_arena(0, 16);
  cache_add_arena(8, 64);
  idbm_db* db = idbm_open((f.dir + "/db").c_str(), 0, 0, 0, nullptr);
  idbm_cache(db, 4 * cache_total_slots());
  run_lookups(state, db);
  idbm_close(db);
  cache_release_arenas();
}
BENCHMARK(BM_LookupUncached);

}  // namespace
}  // namespace vorlane

BENCHMARK_MAIN();
