// Reading a net's transition area: arcs, pointers, skipping to a state's next
// arc, and table lookup. Every location is bounded by the transition area;
// the functions report damage (-2) instead of reading outside it. A pointer
// that leads to another pointer is damage; a pointer to a 0 byte is a state
// with no arcs. The area carries one 0 byte past its end, so location
// trans_length reads as a branch end.
#pragma once

#include <cstdint>

#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_errors.h"

namespace vorlane {

class NetReader {
 public:
  explicit NetReader(const FSM* fsm)
      : fsm_(fsm), t_(fsm->trans.get()), len_(fsm->trans_length), alphabase_(fsm->alphabase) {}

  uint8_t byte(uint32_t loc) const { return t_[loc]; }
  bool is_pointer(uint8_t b) const { return b != 0 && b < alphabase_; }

  // Length of the pointer at loc, 0 when it is not a sound pointer.
  uint32_t pointer_length(uint32_t loc) const {
    uint8_t b = t_[loc];
    if (b >= fsm_->long_op) {
      if (!(fsm_->format_flags & kFstFormatLongPadding)) return 3;
      if (uint64_t{loc} + 4 > len_) return 0;
      if (t_[loc + 3] != 0) return 4;
      if (uint64_t{loc} + 5 > len_) return 0;
      return t_[loc + 4] != 0 ? 6 : 8;
    }
    if (b >= fsm_->medium_op) return 2;
    if (b >= fsm_->short_op) return 1;
    return 0;
  }

  // Target of the pointer at loc; false when the pointer is damaged.
  bool pointer_target(uint32_t loc, uint32_t* target) const {
    uint8_t b = t_[loc];
    uint32_t to;
    if (b >= fsm_->long_op) {
      if (uint64_t{loc} + 3 > len_) return false;
      to = (uint32_t{b} - fsm_->long_op) << 16 | uint32_t{t_[loc + 1]} << 8 | t_[loc + 2];
    } else if (b >= fsm_->medium_op) {
      if (uint64_t{loc} + 2 > len_) return false;
      uint32_t index = (uint32_t{b} - fsm_->medium_op) * 256 + t_[loc + 1];
      if (index >= fsm_->medium_count) return false;
      to = table_entry(fsm_->medium_table, index);
    } else if (b >= fsm_->short_op) {
      uint32_t index = uint32_t{b} - fsm_->short_op;
      if (index >= fsm_->short_count) return false;
      to = table_entry(fsm_->short_table, index);
    } else {
      return false;
    }
    if (to >= len_ || is_pointer(t_[to])) return false;
    *target = to;
    return true;
  }

  // Reads the arc at loc, following a pointer there. False on damage.
  bool follow(uint32_t* loc) const {
    if (*loc > len_) return false;
    if (!is_pointer(t_[*loc])) return true;
    return pointer_target(*loc, loc);
  }

  // From the arc at loc (which has the more bit), the location of the
  // state's next arc (pointer followed). False on damage.
  bool skip(uint32_t loc, uint32_t* next) const {
    uint64_t pos = uint64_t{loc} + 1;
    uint32_t open = 1;
    while (open > 0) {
      if (pos > len_) return false;
      uint8_t b = t_[pos];
      if (b >= alphabase_) {
        if (b & kArcMore) ++open;
        ++pos;
      } else if (b == 0) {
        --open;
        ++pos;
      } else {
        uint32_t n = pointer_length(static_cast<uint32_t>(pos));
        if (n == 0) return false;
        --open;
        pos += n;
      }
    }
    if (pos > len_) return false;
    *next = static_cast<uint32_t>(pos);
    return follow(next);
  }

  // Table lookup of label c at the TABLELABEL arc at tloc: 1 and the entry's
  // location when found, 0 when the table has no entry, -2 on damage.
  int table_lookup(uint32_t tloc, uint8_t c, uint32_t* entry) const {
    uint32_t first = tloc + 1;
    if (!follow(&first)) return kFstDamaged;
    int32_t d = int32_t{c} - (t_[first] & kArcLabelMask);
    if (d < 0) return 0;
    if (d > 0) {
      if (fsm_->coding_flags & kFstCodingTableSize) {
        if (first < 1) return kFstDamaged;
        if (d > t_[first - 1]) return 0;
      }
      if (fsm_->coding_flags & kFstCodingTableOffsets) {
        int64_t at = int64_t{first} - 1 - d / 4;
        if (at < 0) return kFstDamaged;
        d = t_[at];
        if (d == 0) return 0;
      }
    }
    uint64_t e = uint64_t{first} + static_cast<uint32_t>(d);
    if (e >= len_) return (fsm_->coding_flags & (kFstCodingTableSize | kFstCodingTableOffsets)) ? kFstDamaged : 0;
    if ((t_[e] & kArcLabelMask) != c) return 0;
    *entry = static_cast<uint32_t>(e);
    return 1;
  }

  uint32_t length() const { return len_; }

 private:
  uint32_t table_entry(uint32_t position, uint32_t index) const {
    const uint8_t* p = fsm_->at(position);
    if (fsm_->pointer_width == 2) return be16(p + 2 * index);
    p += 3 * index;
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
  }

  const FSM* fsm_;
  const uint8_t* t_;
  uint32_t len_;
  uint8_t alphabase_;
};

}  // namespace vorlane
