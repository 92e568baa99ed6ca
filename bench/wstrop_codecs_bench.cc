// Throughput of the wide-string conversions (both passes, as the module runs
// them): UTF-8 and UTF-7 each way over a mixed Latin/Greek/CJK/emoji text.
// Run: build/bin/wstrop_codecs_bench
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "linguistics/wstrop/utf7.h"
#include "linguistics/wstrop/wide_codecs.h"

namespace {

using namespace vorlane::linguistics;

std::string sample_utf8() {
  std::string unit = "Plain words, caf\xc3\xa9 na\xc3\xafve \xce\xb1\xce\xb2\xce\xb3 "
                     "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xf0\x9f\x98\x80 end.\n";
  std::string text;
  while (text.size() < (1 << 20)) text += unit;
  return text;
}

std::vector<wcell> to_cells(const std::string& utf8) {
  const auto* src = reinterpret_cast<const unsigned char*>(utf8.data());
  std::vector<wcell> cells(utf8_to_cells(src, utf8.size(), nullptr).count);
  utf8_to_cells(src, utf8.size(), cells.data());
  return cells;
}

void BM_Utf8ToCells(benchmark::State& state) {
  std::string text = sample_utf8();
  const auto* src = reinterpret_cast<const unsigned char*>(text.data());
  std::vector<wcell> out(text.size());
  for (auto _ : state) {
    size_t n = utf8_to_cells(src, text.size(), nullptr).count;
    benchmark::DoNotOptimize(utf8_to_cells(src, text.size(), out.data()).count + n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf8ToCells);

void BM_CellsToUtf8(benchmark::State& state) {
  std::string text = sample_utf8();
  std::vector<wcell> cells = to_cells(text);
  std::vector<unsigned char> out(text.size());
  for (auto _ : state) {
    size_t n = cells_to_utf8(cells.data(), cells.size(), nullptr);
    benchmark::DoNotOptimize(cells_to_utf8(cells.data(), cells.size(), out.data()) + n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CellsToUtf8);

void BM_CellsToUtf7(benchmark::State& state) {
  std::vector<wcell> cells = to_cells(sample_utf8());
  std::vector<unsigned char> out(cells_to_utf7(cells.data(), cells.size(), 0, nullptr));
  for (auto _ : state) {
    size_t n = cells_to_utf7(cells.data(), cells.size(), 0, nullptr);
    benchmark::DoNotOptimize(cells_to_utf7(cells.data(), cells.size(), 0, out.data()) + n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cells.size() * 2));
}
BENCHMARK(BM_CellsToUtf7);

void BM_Utf7ToCells(benchmark::State& state) {
  std::vector<wcell> cells = to_cells(sample_utf8());
  std::vector<unsigned char> utf7(cells_to_utf7(cells.data(), cells.size(), 0, nullptr));
  cells_to_utf7(cells.data(), cells.size(), 0, utf7.data());
  std::vector<wcell> out(cells.size());
  for (auto _ : state) {
    size_t n = utf7_to_cells(utf7.data(), utf7.size(), kUcs2DoUtf16, nullptr).count;
    benchmark::DoNotOptimize(utf7_to_cells(utf7.data(), utf7.size(), kUcs2DoUtf16, out.data()).count + n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf7.size()));
}
BENCHMARK(BM_Utf7ToCells);

}  // namespace

BENCHMARK_MAIN();
