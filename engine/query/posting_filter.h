// How a document passes the filters of filter_postings and merge (deletion
// flag, mode mask, date window) and which quality offset its score gets.
// The filters' arguments are described in engine/query/postings.h.
#pragma once

#include <cstdint>

#include "engine/query/postings.h"

namespace vorlane::engine {

// Quality offsets come from scripts (qual_init takes any 32-bit value). Where
// one is added it is bounded to +-kMaxQualityOffset, and a score with its
// offset is never below 0, so that list scores stay far below the sentinels
// and a +-kBonus added to them can neither overflow nor be taken for a
// sentinel, and a positive bonus is still given once per hit.
inline constexpr int32_t kMaxQualityOffset = 100000;

// A date window taken apart.
struct DayWindow {
  bool active;
  uint32_t earliest;
  uint32_t latest;  // 0xFFFF when the window gives 0
};

inline DayWindow day_window(uint64_t window) {
  const auto first = static_cast<uint32_t>(window);
  DayWindow w{window != 0, first & 0xFFFFu, first >> 16};
  if (w.active && w.latest == 0) w.latest = 0xFFFF;
  return w;
}

// The flag of document d: its deletion byte taken as signed; -1 (deleted)
// for a document past the end of a deletion map; 0 without a map.
inline int32_t document_flag(DeletionMap delmap, uint32_t d) {
  if (!delmap.bytes || delmap.length == 0) return 0;
  if (d >= delmap.length) return -1;
  return static_cast<int8_t>(delmap.bytes[d]);
}

// The signed quality level -4..3 in bits 4-6 of a flag.
inline int quality_level(int32_t flag) {
  const int bits = (flag >> 4) & 7;
  return bits >= 4 ? bits - 8 : bits;
}

// The quality offset of a document of this flag: offsets[4 + level], bounded
// to +-kMaxQualityOffset.
inline int32_t quality_offset(const int32_t* offsets, int32_t flag) {
  const int32_t v = offsets[4 + quality_level(flag)];
  if (v > kMaxQualityOffset) return kMaxQualityOffset;
  if (v < -kMaxQualityOffset) return -kMaxQualityOffset;
  return v;
}

// A score with its quality offset added; never below 0.
inline int32_t score_with_offset(int64_t score, int32_t offset) {
  const int64_t s = score + offset;
  if (s < 0) return 0;
  if (s > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(s);
}

// Does document d with this flag pass: not deleted (-1), a non-zero mode
// sharing a bit with the sign-extended flag, and under an active window a
// whole date entry within the map whose day lies in the window.
inline bool document_passes(uint32_t d, int32_t flag, uint32_t mode, DateMap datemap, const DayWindow& w) {
  if (flag == -1) return false;
  if (mode != 0 && (mode & static_cast<uint32_t>(flag)) == 0) return false;
  if (w.active) {
    if (!datemap.entries || (uint64_t{d} + 1) * sizeof(din_entry) > datemap.length) return false;
    const uint32_t day = din_day(datemap.entries[d]);
    if (day < w.earliest || day > w.latest) return false;
  }
  return true;
}

}  // namespace vorlane::engine
