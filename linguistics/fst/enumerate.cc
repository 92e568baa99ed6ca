#include "linguistics/fst/enumerate.h"

#include <cstring>

#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/net_reader.h"

namespace vorlane {

namespace {

class EnumWalk {
 public:
  EnumWalk(const FSM* fsm, const uint8_t* input, uint16_t* output, int32_t output_length, FstFrame* frames,
           int32_t frame_count)
      : fsm_(fsm),
        net_(fsm),
        input_(input),
        output_(output),
        output_length_(output_length),
        frames_(frames),
        frame_count_(frame_count),
        top_(frame_count) {
    budget_ = fst_step_budget(fsm->trans_length, static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(input))));
  }

  int32_t run(int32_t net_index);

 private:
  bool push(int32_t resume) {
    if (top_ - 1 <= 0) return false;
    FstFrame& f = frames_[--top_];
    f = FstFrame{arc_, 0, flags_, resume, in_, 0, loc_, 0};
    return true;
  }
  bool step() { return ++steps_ <= budget_; }

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

  // Every class that follows the TAGSEP arc at loc.
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
    if (b & kArcMore) {
      if (!net_.skip(loc, &exception)) return kFstDamaged;
      exception_arc = net_.byte(exception);
    }
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
      if (excepted) {
        if (exception_arc & kArcMore) {
          if (!net_.skip(exception, &exception)) return kFstDamaged;
          exception_arc = net_.byte(exception);
        } else {
          exception_arc = 0;
        }
      }
    }
  }

  const FSM* fsm_;
  NetReader net_;
  const uint8_t* input_;
  uint16_t* output_;
  int32_t output_length_;
  FstFrame* frames_;
  int32_t frame_count_;
  int32_t top_;
  int32_t in_ = 0;
  uint32_t loc_ = 0;
  uint8_t arc_ = 0;
  uint16_t flags_ = 0;
  int32_t count_ = 0;
  uint64_t steps_ = 0;
  uint64_t budget_ = 0;
};

int32_t EnumWalk::run(int32_t net_index) {
  const FstNet& net = fsm_->nets[net_index];
  uint16_t before;
  loc_ = net.start;
  if (!net_.follow(&loc_)) return kFstDamaged;
  flags_ = net.initial_flags;

next_state:
  ++loc_;
  if (!net_.follow(&loc_)) return kFstDamaged;
  arc_ = net_.byte(loc_);
  if (arc_ == 0) goto backtrack;

dispatch:
  if (!step()) return kFstDamaged;
  {
    uint8_t label = arc_ & kArcLabelMask;
    if (label < net.epsilon_bound) {
      if ((arc_ & kArcMore) && !push(kResumeInputEpsilon)) return kFstStackOverflow;
      if (label != net.instr_label) goto next_state;
      ++loc_;
      if (!net_.follow(&loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      if (arc_ == 0) goto backtrack;
      goto operand;
    }
    uint8_t c = input_[in_];
    if (c == 0) return kFstIncompleteInput;
    // Symbol lookup among the state's arcs, with tables.
    bool table = false;
    uint32_t remembered = 0, found = 0, at = loc_;
    int r = 0;
    for (;;) {
      if (!step()) return kFstDamaged;
      uint8_t b = net_.byte(at);
      uint8_t l = b & kArcLabelMask;
      if (l == fsm_->table_label) {
        if (!(b & kArcMore)) {
          r = net_.table_lookup(at, c, &found);
          table = false;
          break;
        }
        table = true;
        remembered = at;
      } else if (l == c) {
        found = at;
        r = 1;
        table = false;
        break;
      } else if (l > c) {
        break;
      }
      if (!(b & kArcMore)) break;
      if (!net_.skip(at, &at)) return kFstDamaged;
    }
    if (r == 0 && table) r = net_.table_lookup(remembered, c, &found);
    if (r < 0) return r;
    if (r == 0) goto backtrack;
    ++in_;
    loc_ = found;
    arc_ = net_.byte(loc_);
    if (c != fsm_->tagsep) goto next_state;
    int32_t rc = classes(loc_);
    if (rc != 0) return rc;
    goto backtrack;
  }

operand:
  if (!step()) return kFstDamaged;
  before = flags_;
  if (fst_apply_operand(arc_, fsm_->alphabase, &flags_)) {
    if (arc_ & kArcMore) {
      uint16_t changed = flags_;
      flags_ = before;
      if (!push(kResumeOperand)) return kFstStackOverflow;
      flags_ = changed;
    }
    goto next_state;
  }
  if (!(arc_ & kArcMore)) goto backtrack;
  if (!net_.skip(loc_, &loc_)) return kFstDamaged;
  arc_ = net_.byte(loc_);
  goto operand;

backtrack:
  if (top_ >= frame_count_) return count_;
  {
    const FstFrame& f = frames_[top_++];
    in_ = f.in;
    loc_ = f.loc;
    arc_ = f.arc;
    flags_ = f.flags;
    if (f.resume != kResumeInputEpsilon && f.resume != kResumeOperand) return kFstBadResume;
    if (!net_.skip(loc_, &loc_)) return kFstDamaged;
    arc_ = net_.byte(loc_);
    if (f.resume == kResumeOperand) goto operand;
    goto dispatch;
  }
}

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
