// Throughput of the posting-list operations of query evaluation, in postings
// per second: merge of 2, 10 and 40 lists of 40,000 postings (into the best
// 40,000 as a heap, and writing every document), and join of a 40,000-hit
// list with lists of 100 to 40,000 postings. Documents are drawn from
// 1,000,000, so lists overlap as those of common terms do.
//   build/bin/posting_lists_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "engine/query/hit_heap.h"
#include "engine/query/postings.h"

namespace {

using vorlane::engine::HitHeap;
using vorlane::engine::kEndMark;

constexpr uint32_t kDocs = 1000000;
constexpr uint32_t kListSize = 40000;

std::vector<uint32_t> postings(std::mt19937& rng, uint32_t n) {
  std::set<uint32_t> docs;
  std::uniform_int_distribution<uint32_t> doc(0, kDocs - 1), score(1, 127);
  while (docs.size() < n) docs.insert(doc(rng));
  std::vector<uint32_t> out;
  out.reserve(n + 1);
  for (uint32_t d : docs) out.push_back(d << 7 | score(rng));
  out.push_back(kEndMark);
  return out;
}

void BM_Merge(benchmark::State& state) {
  const int nlists = static_cast<int>(state.range(0));
  const int select = static_cast<int>(state.range(1));
  std::mt19937 rng(42);
  std::vector<std::vector<uint32_t>> lists;
  std::vector<const uint32_t*> ptrs;
  for (int i = 0; i < nlists; ++i) lists.push_back(postings(rng, kListSize));
  for (const auto& l : lists) ptrs.push_back(l.data());
  ptrs.push_back(nullptr);
  // select 0 writes every document; select 1 keeps the best 40,000.
  const uint32_t capacity = select == 0 ? kListSize * nlists : kListSize;
  std::vector<HitHeap> area(vorlane::engine::hit_area_entries(capacity));
  uint32_t docs = 0;
  for (auto _ : state) {
    area[0] = HitHeap{0, capacity};
    docs = vorlane::engine::merge(ptrs.data(), area.data(), select, {}, 0, {}, 0);
    benchmark::DoNotOptimize(area.data());
  }
  state.counters["documents"] = docs;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * nlists * kListSize);
  state.SetLabel("postings/s");
}
BENCHMARK(BM_Merge)->ArgNames({"lists", "select"})->ArgsProduct({{2, 10, 40}, {1, 0}})->Unit(benchmark::kMillisecond);

void BM_Join(benchmark::State& state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  std::mt19937 rng(7);
  const auto hits_from = postings(rng, kListSize);
  const auto list = postings(rng, n);
  std::vector<HitHeap> area(vorlane::engine::hit_area_entries(kListSize));
  for (auto _ : state) {
    state.PauseTiming();
    area[0] = HitHeap{0, kListSize};
    for (uint32_t i = 0; i < kListSize; ++i) area[i + 1] = HitHeap{1, hits_from[i] & ~0x7Fu};
    state.ResumeTiming();
    vorlane::engine::join(area.data(), list.data(), n, vorlane::engine::kBonus);
    benchmark::DoNotOptimize(area.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
  state.SetLabel("postings/s");
}
BENCHMARK(BM_Join)->ArgName("postings")->Arg(100)->Arg(1000)->Arg(10000)->Arg(40000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
