// Test helpers for the list operations: random posting lists, hit-list
// areas, filters and a plain model of how a document passes them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "engine/query/hit_heap.h"
#include "engine/query/postings.h"
#include "engine/module/sorn_module.h"

namespace vorlane::engine::testing {

// A hit-list area of capacity c (2c + 2 entries) with base 0 and size c.
struct HitArea {
  explicit HitArea(uint32_t capacity) : e(hit_area_entries(capacity), HitHeap{0x5A5A5A5A, 0xA5A5A5A5u}) {
    e[0] = HitHeap{0, capacity};
  }
  HitHeap* list() { return e.data(); }
  uint32_t size() const { return e[0].posting; }
  int32_t base() const { return e[0].score; }
  const HitHeap& operator[](size_t i) const { return e[i]; }
  std::vector<HitHeap> e;
};

// A posting list: n distinct documents below doc_limit, ascending, scores
// 1..127, then the end mark (not counted in n).
inline std::vector<uint32_t> random_postings(std::mt19937& rng, uint32_t n, uint32_t doc_limit) {
  std::set<uint32_t> docs;
  std::uniform_int_distribution<uint32_t> doc(0, doc_limit - 1), score(1, 127);
  while (docs.size() < n && docs.size() < doc_limit) docs.insert(doc(rng));
  std::vector<uint32_t> out;
  for (uint32_t d : docs) out.push_back(d << 7 | score(rng));
  out.push_back(kEndMark);
  return out;
}

// Keeps the quality offsets of the module and puts them back.
struct SavedQualityOffsets {
  SavedQualityOffsets() { std::copy(quality_offsets, quality_offsets + 8, saved); }
  ~SavedQualityOffsets() { std::copy(saved, saved + 8, quality_offsets); }
  int32_t saved[8];
};

// The filters of one call and a plain model of them.
struct Filters {
  std::vector<uint8_t> del;  // no map when has_del is false
  bool has_del = false;
  uint32_t mode = 0;
  std::vector<din_entry> din;
  bool has_din = false;
  uint64_t window = 0;

  DeletionMap delmap() const { return has_del ? DeletionMap{del.data(), del.size()} : DeletionMap{}; }
  DateMap datemap() const { return has_din ? DateMap{din.data(), din.size() * sizeof(din_entry)} : DateMap{}; }

  // Does document d pass; and with which quality offset (unbounded).
  bool passes(uint32_t d, int64_t* offset) const {
    int flag = 0;
    if (has_del && !del.empty()) flag = d < del.size() ? static_cast<int>(del[d]) : 255;
    if (flag == 255) return false;
    const int32_t sflag = flag >= 128 ? flag - 256 : flag;
    if (mode && !(mode & static_cast<uint32_t>(sflag))) return false;
    if (window) {
      if (!has_din || d >= din.size()) return false;
      const uint32_t day = din[d].day >> 16;
      const uint32_t lo = static_cast<uint32_t>(window) & 0xFFFF;
      uint32_t hi = static_cast<uint32_t>(window) >> 16 & 0xFFFF;
      if (hi == 0) hi = 0xFFFF;
      if (day < lo || day > hi) return false;
    }
    const int level3 = (flag >> 4) & 7;  // 0..3 and 4..7 for -4..-1
    const int index = level3 < 4 ? 4 + level3 : level3 - 4;
    *offset = quality_offsets[index];
    return true;
  }
};

// The score a document of this raw score and offset ends with: the offset
// bounded to +-100,000, the sum never below 0.
inline int32_t model_score(int64_t raw, int64_t offset) {
  offset = std::clamp<int64_t>(offset, -100000, 100000);
  return static_cast<int32_t>(std::max<int64_t>(0, raw + offset));
}

inline Filters random_filters(std::mt19937& rng, uint32_t doc_limit) {
  Filters f;
  std::uniform_int_distribution<int> coin(0, 3);
  f.has_del = coin(rng) != 0;
  if (f.has_del) {
    // Cover the whole byte, deleted documents included, and let some
    // documents lie past the map's end.
    f.del.resize(doc_limit - doc_limit / 8);
    std::uniform_int_distribution<int> byte(0, 255), deleted(0, 9);
    for (auto& b : f.del) b = deleted(rng) == 0 ? 255 : static_cast<uint8_t>(byte(rng));
  }
  static const uint32_t modes[] = {0, 0, 0x01, 0x40, 0x80, 0x30, 0x80000000u, 0x0F};
  f.mode = modes[std::uniform_int_distribution<int>(0, 7)(rng)];
  f.has_din = coin(rng) != 0;
  if (f.has_din) {
    f.din.resize(doc_limit - doc_limit / 10);
    std::uniform_int_distribution<uint32_t> day(0, 0xFFFF), small(90, 110);
    for (auto& e : f.din) e = din_entry{0, din_day_word(coin(rng) ? small(rng) : day(rng))};
  }
  switch (coin(rng)) {
    case 0: f.window = 0; break;
    case 1: f.window = 95 | (105u << 16); break;      // a narrow window
    case 2: f.window = 100; break;                    // latest day 0: no upper limit
    default: f.window = uint64_t{1} << 32; break;     // first word 0, second not: every day
  }
  return f;
}

}  // namespace vorlane::engine::testing
