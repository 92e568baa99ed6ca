// Indexing and saving throughput on a seeded synthetic corpus of 100,000
// documents whose words follow a Zipf-like law (vocabulary of 50,000 words,
// 1..60 distinct terms per document): documents and postings per second for
// idbm_index_and_log (journal flushed per document) and for idbm_write (the
// save, synced to disk).
//
//   build/bin/index_bench
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/score_tables.h"
#include "store/testing/index_fixture.h"

namespace vorlane {
namespace {

constexpr uint32_t kDocs = 100000;

struct Corpus {
  std::string dir;
  std::vector<testing::test_doc> docs;
  uint64_t postings = 0;
  Corpus() {
    char tmpl[] = "/tmp/vorlane-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    init_percent_table();
    docs.reserve(kDocs);
    for (uint32_t i = 0; i < kDocs; ++i) {
      docs.push_back(testing::synthetic_doc(42, i, 50000, 60));
      postings += docs.back().pairs.size();
    }
  }
  ~Corpus() { std::filesystem::remove_all(dir); }
};

Corpus& corpus() {
  static Corpus c;
  return c;
}

idbm_db* index_all(const std::string& path) {
  Corpus& c = corpus();
  std::filesystem::remove_all(path);
  idbm_db* db = idbm_open_incr(path.c_str(), 0, kDocs, 1, nullptr);
  if (!db) return nullptr;
  for (const auto& d : c.docs)
    if (idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0) <= 0) {
      idbm_close(db);
      return nullptr;
    }
  return db;
}

void BM_IndexAndLog(benchmark::State& state) {
  Corpus& c = corpus();
  for (auto _ : state) {
    idbm_db* db = index_all(c.dir + "/db");
    if (!db) {
      state.SkipWithError("indexing failed");
      return;
    }
    state.PauseTiming();
    idbm_close(db);
    state.ResumeTiming();
  }
  state.counters["docs_per_s"] = benchmark::Counter(static_cast<double>(kDocs), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["postings_per_s"] =
      benchmark::Counter(static_cast<double>(c.postings), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_IndexAndLog)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveDb(benchmark::State& state) {
  Corpus& c = corpus();
  for (auto _ : state) {
    state.PauseTiming();
    idbm_db* db = index_all(c.dir + "/db");
    if (!db) {
      state.SkipWithError("indexing failed");
      return;
    }
    state.ResumeTiming();
    if (idbm_write(db, 1) != 1) state.SkipWithError("save failed");
    state.PauseTiming();
    idbm_close(db);
    state.ResumeTiming();
  }
  state.counters["docs_per_s"] = benchmark::Counter(static_cast<double>(kDocs), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["postings_per_s"] =
      benchmark::Counter(static_cast<double>(c.postings), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SaveDb)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vorlane

BENCHMARK_MAIN();
