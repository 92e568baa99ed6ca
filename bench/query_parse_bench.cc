// Queries parsed per second with the default English set: 1-, 3- and
// 10-word queries of ordinary words against a database written by the store
// (the term records are cached after the first round, as on a running
// server). Ten plain words also ask the language for noun phrases.
//
//   build/bin/query_parse_bench
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/query/query_parser.h"
#include "engine/testing/query_testing.h"
#include "platform/testing/test_root.h"
#include "store/score_tables.h"

namespace {

using namespace vorlane;
using namespace vorlane::engine;

const char* const kWords[] = {
    "search", "engine", "index", "document", "query", "parser", "server", "network", "python", "library",
    "string", "function", "module", "system", "memory", "thread", "file", "program", "language", "phrase",
    "stemming", "database", "record", "cache", "title", "summary", "page", "link", "browser", "window",
    "running", "quickly", "brown", "foxes", "jumped", "lazy", "dogs", "reading", "books", "written"};

struct Setup {
  platform::TestRoot root;
  zop_handle english{};
  idbm_db* db = nullptr;
  Setup() {
    const std::string base = std::string(VORLANE_ENGLISH_DIR) + "/english";
    if (!std::filesystem::exists(base + ".hmm")) return;
    english = query_testing::english_set(base);
    init_percent_table();
    cache_add_arena(0, 4000);
    cache_add_arena(1000, 2000);
    std::vector<query_testing::Doc> docs;
    std::mt19937 rng(1);
    for (int d = 0; d < 200; ++d) {
      std::string text;
      for (int w = 0; w < 40; ++w) text += std::string(kWords[rng() % std::size(kWords)]) + " ";
      query_testing::Doc doc;
      doc.terms = query_testing::index_terms(text, english);
      docs.push_back(doc);
    }
    const std::string path = root.file("db");
    if (query_testing::write_database(path, docs)) db = query_testing::open_query_db(path);
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

void BM_ParseQuery(benchmark::State& state) {
  Setup& s = setup();
  if (!s.db) {
    state.SkipWithError("no English set or database");
    return;
  }
  const int words = static_cast<int>(state.range(0));
  std::mt19937 rng(7);
  std::vector<std::string> queries;
  for (int q = 0; q < 64; ++q) {
    std::string text;
    for (int w = 0; w < words; ++w) text += std::string(w ? " " : "") + kWords[rng() % std::size(kWords)];
    queries.push_back(text);
  }
  query_testing::ParseAreas areas;
  size_t i = 0;
  int64_t terms = 0;
  for (auto _ : state) {
    areas.reset();
    int32_t found, missing;
    terms += ParseQuery(s.db, queries[i++ % queries.size()].c_str(), s.english, &areas.buffers, &found, &missing);
  }
  areas.reset();
  state.SetItemsProcessed(state.iterations());
  state.counters["terms/query"] = benchmark::Counter(static_cast<double>(terms) / state.iterations());
}
BENCHMARK(BM_ParseQuery)->Arg(1)->Arg(3)->Arg(10);

}  // namespace

BENCHMARK_MAIN();
