// Throughput of the term hashes and the text checksum over a real English
// text (the GPL version 3 from Debian's base-files), in bytes per second.
// Run: build/bin/store_hash_bench [path of another text]
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "store/checksum.h"
#include "store/term_hash.h"

namespace {

std::string& text_path() {
  static std::string path = "/usr/share/common-licenses/GPL-3";
  return path;
}

const std::string& sample_text() {
  static const std::string text = [] {
    std::ifstream in(text_path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string s = ss.str();
    if (s.empty()) s = "The quick brown fox jumps over the lazy dog. Pack my box with five dozen liquor jugs.\n";
    while (s.size() < (1u << 16)) s += s;
    return s;
  }();
  return text;
}

// The text's words, each NUL-terminated, as the indexer hashes them.
const std::vector<std::string>& sample_words() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> out;
    std::istringstream in(sample_text());
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
  }();
  return words;
}

void BM_TermHashPair(benchmark::State& state) {
  const std::vector<std::string>& words = sample_words();
  size_t bytes = 0;
  for (const std::string& w : words) bytes += w.size();
  for (auto _ : state) {
    uint64_t acc = 0;
    for (const std::string& w : words) acc ^= vorlane::term_hash_pair(w.c_str());
    benchmark::DoNotOptimize(acc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["words"] = static_cast<double>(words.size());
}
BENCHMARK(BM_TermHashPair);

void BM_TextChecksum(benchmark::State& state) {
  const std::string& text = sample_text();
  for (auto _ : state) benchmark::DoNotOptimize(vorlane::text_checksum(text.data(), text.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_TextChecksum);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc > 1 && argv[1][0] != '-') text_path() = argv[1];
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
