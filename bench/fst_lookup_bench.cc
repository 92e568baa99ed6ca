// Stemming lookups per second (lookup mode 3) on a stemmer compiled from
// 100,000 (word, stem) pairs of made-up words with English-like endings;
// the Walk variants bypass the lookup memo, so every lookup walks the net
// (forward: mode 3, inverse: mode 9 from the stems).
//
//   build/bin/fst_lookup_bench
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/fst_interface.h"
#include "linguistics/fst/lookup.h"
#include "linguistics/fst/lookup_memo.h"
#include "tools/fst/fst_pairs.h"
#include "tools/fst/fst_writer.h"

namespace {

struct Stemmer {
  std::vector<uint8_t> image;
  void* fsm = nullptr;
  std::vector<std::string> words;
  std::vector<std::string> stems;

  Stemmer() {
    const char* onsets[] = {"b", "br", "c", "ch", "d", "f", "g", "gr", "h", "j", "k", "l", "m", "n",
                            "p", "pl", "r", "s", "st", "t", "tr", "v", "w", "z"};
    const char* vowels[] = {"a", "e", "i", "o", "u", "ea", "ou", "ai"};
    const char* codas[] = {"", "n", "r", "t", "st", "ck", "m", "nd", "l"};
    const char* endings[] = {"", "s", "ed", "ing", "er", "ly", "ness"};
    std::mt19937 rng(42);
    std::vector<vorlane::fstw::Pair> pairs;
    while (pairs.size() < 100000) {
      std::string stem;
      for (int s = 0, n = 1 + static_cast<int>(rng() % 3); s < n; ++s) {
        stem += onsets[rng() % 24];
        stem += vowels[rng() % 8];
        stem += codas[rng() % 9];
      }
      for (const char* e : endings) {
        if (pairs.size() == 100000) break;
        if (rng() % 3 == 0 && *e != '\0') continue;
        pairs.push_back({stem + e, stem});
        words.push_back(stem + e);
        if (*e == '\0') stems.push_back(stem);
      }
    }
    vorlane::fstw::PairOptions options;
    options.table_threshold = 8;
    vorlane::fstw::FileDesc desc;
    std::string error;
    if (!vorlane::fstw::compile_pairs(pairs, options, &desc, &error)) return;
    image = vorlane::fstw::fst_write_image(desc, &error);
    fsm = vorlane::fst_read_memory(image.data(), image.size());
    std::shuffle(words.begin(), words.end(), rng);
    std::shuffle(stems.begin(), stems.end(), rng);
  }
};

Stemmer& stemmer() {
  static Stemmer s;
  return s;
}

void BM_StemLookup(benchmark::State& state) {
  Stemmer& s = stemmer();
  if (vorlane::fst_status(s.fsm) != 0) {
    state.SkipWithError("the stemmer did not compile");
    return;
  }
  char out[256];
  size_t i = 0;
  int64_t found = 0;
  for (auto _ : state) {
    const std::string& w = s.words[i++ % s.words.size()];
    found += vorlane::fst_lookup(w.c_str(), static_cast<int32_t>(w.size()), out, sizeof out, 3, s.fsm, nullptr, 0);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["results"] = static_cast<double>(found) / static_cast<double>(state.iterations());
  state.counters["file_bytes"] = static_cast<double>(s.image.size());
}
BENCHMARK(BM_StemLookup);

// Lookups in one mode over a word list with the memo bypassed.
void walk_lookups(benchmark::State& state, int32_t mode, const std::vector<std::string>& words) {
  Stemmer& s = stemmer();
  if (vorlane::fst_status(s.fsm) != 0 || words.empty()) {
    state.SkipWithError("the stemmer did not compile");
    return;
  }
  vorlane::LookupMemo::set_bypass(true);
  char out[1024];
  size_t i = 0;
  int64_t found = 0;
  for (auto _ : state) {
    const std::string& w = words[i++ % words.size()];
    found += vorlane::fst_lookup(w.c_str(), static_cast<int32_t>(w.size()), out, sizeof out, mode, s.fsm, nullptr, 0);
  }
  vorlane::LookupMemo::set_bypass(false);
  state.SetItemsProcessed(state.iterations());
  state.counters["results"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

void BM_StemWalk(benchmark::State& state) { walk_lookups(state, 3, stemmer().words); }
BENCHMARK(BM_StemWalk);

void BM_InverseWalk(benchmark::State& state) { walk_lookups(state, 9, stemmer().stems); }
BENCHMARK(BM_InverseWalk);

}  // namespace

BENCHMARK_MAIN();
