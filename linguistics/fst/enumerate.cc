#include "linguistics/fst/enumerate.h"

#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/net_reader.h"
#include "linguistics/fst/walker.h"

namespace vorlane {

namespace {

// The class enumeration walk: the coded word is matched up to its TAGSEP,
// then every class that can follow it is written out.
class EnumWalk : public FstWalker<EnumWalk> {
 public:
  EnumWalk(const FSM* fsm, const uint8_t* input, uint16_t* output, int32_t output_length, FstFrame* frames,
           int32_t frame_count)
      : FstWalker(fsm, input, frames, frame_count), output_(output), output_length_(output_length) {}

 private:
  friend class FstWalker<EnumWalk>;

  static constexpr FstStep kResumes[9] = {
      FstStep::kArc,  // input_epsilon: the next arc of the state
      FstStep::kEnd,     FstStep::kEnd, FstStep::kEnd, FstStep::kEnd, FstStep::kEnd, FstStep::kEnd,
      FstStep::kOperand,
      FstStep::kEnd,
  };
  static constexpr int32_t kDiacriticResume = kResumeInputEpsilon;
  // A diacritic other than INSTR leads to the state after it.
  static constexpr FstStep kAfterDiacritic = FstStep::kArc;

  // The start arc's final bit is not looked at, and no path is accepted.
  FstStep start() { return FstStep::kNextState; }
  bool accept(uint8_t) { return true; }
  FstStep table_taken() { return fail(kFstBadResume); }
  int32_t exhausted() const { return count_; }

  // An arc of the word's side: a diacritic, or the input symbol looked up;
  // after the TAGSEP arc the classes that follow it.
  VORLANE_FST_STEP FstStep arc() {
    if (!step()) return fail(kFstDamaged);
    uint8_t label = arc_ & kArcLabelMask;
    if (label < eps_bound_) return diacritic(label);
    uint8_t c = input_[in_];
    if (c == 0) return fail(kFstIncompleteInput);
    int r = match_symbol(c);
    if (r < 0) return fail(r);
    if (r == 0) return FstStep::kBacktrack;
    ++in_;
    if (c != fsm_->tagsep) return FstStep::kNextState;
    int32_t rc = classes(loc_);
    if (rc != 0) return fail(rc);
    // Other paths may reach TAGSEP through diacritics or alternatives.
    return FstStep::kBacktrack;
  }

  // Writes the class numbers of the chain that begins at the arc at loc.
  int32_t chain(uint32_t loc) {
    uint32_t number = net_.byte(loc) >> 2;
    for (;;) {
      if (!step()) return kFstDamaged;
      if (net_.byte(loc) & kArcFinal) {
        if (count_ >= output_length_) return kFstTooLong;
        output_[count_++] = static_cast<uint16_t>(number);
      }
      ++loc;
      if (!net_.follow(&loc)) return kFstDamaged;
      if (net_.byte(loc) == 0) return 0;
      number += 64;
    }
  }

  // Every class that follows the TAGSEP arc at loc: the chains of the arcs
  // of the state after it, or of its table's entries (exceptions in place of
  // the entries with their labels).
  int32_t classes(uint32_t loc) {
    ++loc;
    if (!net_.follow(&loc)) return kFstDamaged;
    uint8_t b = net_.byte(loc);
    if (b == 0) return 0;
    if ((b & kArcLabelMask) != fsm_->table_label) {
      for (;;) {
        int32_t rc = chain(loc);
        if (rc != 0) return rc;
        if (!(net_.byte(loc) & kArcMore)) return 0;
        if (!net_.skip(loc, &loc)) return kFstDamaged;
      }
    }
    uint32_t exception = 0;
    uint8_t exception_arc = 0;
    if (!exception_after(loc, b, &exception, &exception_arc)) return kFstDamaged;
    uint32_t entry = loc + 1;
    if (!net_.follow(&entry)) return kFstDamaged;
    for (;;) {
      if (entry >= net_.length() || !step()) return kFstDamaged;
      uint8_t e = net_.byte(entry);
      bool excepted = exception_arc != 0 && (e & kArcLabelMask) == (exception_arc & kArcLabelMask);
      int32_t rc = chain(excepted ? exception : entry);
      if (rc != 0) return rc;
      if (!(e & kArcMore)) return 0;
      entry += 4;
      if (excepted && !exception_after(exception, exception_arc, &exception, &exception_arc)) return kFstDamaged;
    }
  }

  uint16_t* output_;
  int32_t output_length_;
  int32_t count_ = 0;
};

}  // namespace

int32_t apply_fst_enum(const uint8_t* input, uint16_t* output, int32_t output_length, int32_t net, FstFrame* frames,
                       int32_t frame_count, const FSM* fsm) {
  if (input == nullptr || output == nullptr || frames == nullptr || fsm == nullptr) return kFstNullPointer;
  if (net < 0 || static_cast<uint32_t>(net) >= fsm->net_count) return kFstBadFunction;
  EnumWalk walk(fsm, input, output, output_length, frames, frame_count);
  return walk.run(net);
}

int32_t fst_decode_symbols(const uint8_t* coded, uint16_t* output, int32_t output_length, const FSM* fsm) {
  int32_t count = 0;
  size_t i = 0;
  while (coded[i] != 0) {
    uint32_t number = coded[i++] >> 2;
    while (coded[i] != 0 && coded[i] == fsm->esc) {
      number += 64;
      ++i;
    }
    if (count >= output_length) return kFstTooLong;
    output[count++] = static_cast<uint16_t>(number);
    if (count >= output_length) return kFstTooLong;
  }
  return count;
}

}  // namespace vorlane
