// The walker that the forward, inverse and class enumeration walks share: a
// depth-first search over one net with a stack of backtracking frames in
// the caller's work area (FstFrame, apply.h), in steps.
//
// The walker holds what every walk does the same way: the registers, the
// frame stack (push, pop, the backtrack switch), the step budget, moving to
// a state's arcs, symbol lookup in a state, flag operands, table
// enumeration with exception chains, diacritics on the matched side and
// pairs that consume nothing. A walk derives from FstWalker<Walk> and
// supplies its own pieces:
//
//   static constexpr FstStep kResumes[9]  by resume point (FstResume), the
//       step a resumed frame enters after its move (FstStep::kEnd for a
//       resume point the walk never pushes: -1993);
//   static constexpr int32_t kDiacriticResume  pushed at a diacritic on the
//       matched side; static constexpr FstStep kAfterDiacritic  the step for
//       the arc after it (INSTR always goes to its operands);
//   FstStep start()  at the start arc (the accept test, or nothing);
//   FstStep arc()  dispatch at an arc of a state (FstStep::kArc);
//   FstStep table_taken()  a table entry (or its exception) was taken;
//   bool accept(uint8_t arc)  the accept test at an arc; false when the walk
//       ends there (with its result set);
//   int32_t exhausted()  the result when no frame is left;
//   and the steps kOutput, kNonidEpsilon, kMatch where it uses them.
//
// Calls go to the walk statically (no virtual call per arc), and the
// walker allocates nothing.
#pragma once

#include <cstdint>
#include <cstring>

#include "linguistics/fst/apply.h"
#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/net_reader.h"

// The steps of a walk are inlined into its loop, so that going from one step
// to the next is a jump, as in a hand-written state machine.
#define VORLANE_FST_STEP [[gnu::always_inline]] inline

namespace vorlane {

// What a walk does next (a state's first arc is dispatched right after
// kNextState, so kArc follows it).
enum class FstStep : uint8_t {
  kNextState,     // the first arc of the state after the arc at loc
  kArc,           // dispatch at the arc at loc (the walk's arc())
  kOperand,       // the flag operand at loc
  kTable,         // the table entry at the current entry
  kOutput,        // forward: an output-side arc
  kNonidEpsilon,  // inverse: an arc of a NID branch that outputs nothing
  kMatch,         // inverse: an output-side label matched against the input
  kBacktrack,     // resume the newest frame
  kEnd,           // the walk ends with its result
};

template <class Walk>
class FstWalker {
 public:
  // The walk over the net; its result.
  int32_t run(int32_t net_index) {
    const FstNet& net = fsm_->nets[net_index];
    eps_bound_ = net.epsilon_bound;
    instr_ = net.instr_label;
    loc_ = net.start;
    if (!net_.follow(&loc_)) return kFstDamaged;
    arc_ = net_.byte(loc_);
    flags_ = net.initial_flags;
    FstStep s = walk().start();
    for (;;) {
      switch (s) {
        case FstStep::kNextState:
          s = go(loc_ + 1, FstStep::kArc);
          if (s != FstStep::kArc) break;
          [[fallthrough]];
        case FstStep::kArc:
          s = walk().arc();
          break;
        case FstStep::kOperand:
          s = operand();
          break;
        case FstStep::kTable:
          s = table_entry();
          break;
        case FstStep::kOutput:
          s = walk().output();
          break;
        case FstStep::kNonidEpsilon:
          s = walk().nonid_epsilon();
          break;
        case FstStep::kMatch:
          s = walk().match();
          break;
        case FstStep::kBacktrack:
          s = backtrack();
          break;
        case FstStep::kEnd:
          return result_;
      }
    }
  }

 protected:
  FstWalker(const FSM* fsm, const uint8_t* input, FstFrame* frames, int32_t frame_count)
      : fsm_(fsm),
        net_(fsm),
        input_(input),
        frames_(frames),
        frame_count_(frame_count),
        top_(frame_count),
        table_label_(fsm->table_label),
        nid_(fsm->nid_label),
        alphabase_(fsm->alphabase),
        budget_(fst_step_budget(fsm->trans_length,
                                static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(input))))) {}

  // Steps of a walk that does not use them; never entered.
  FstStep output() { return fail(kFstBadResume); }
  FstStep nonid_epsilon() { return fail(kFstBadResume); }
  FstStep match() { return fail(kFstBadResume); }

  // The exception after the arc at loc in a table's exception chain (the
  // first one after the TABLELABEL arc): its next alternative, or arc 0 for
  // none when the arc has no more bit. False on damage.
  bool exception_after(uint32_t loc, uint8_t arc, uint32_t* next, uint8_t* next_arc) const {
    if (!(arc & kArcMore)) {
      *next_arc = 0;
      return true;
    }
    if (!net_.skip(loc, next)) return false;
    *next_arc = net_.byte(*next);
    return true;
  }

  FstStep fail(int32_t code) {
    result_ = code;
    return FstStep::kEnd;
  }

  // Counts one step against the budget; false past it (a damaged net, such
  // as one with an epsilon loop).
  bool step() { return ++steps_ <= budget_; }

  // Pushes a pending alternative: the current exception and register with
  // the given resume point, location, arc, input and output positions.
  bool push(int32_t resume, uint32_t loc, uint8_t arc, int32_t in, int32_t out) {
    if (top_ - 1 <= 0) return false;
    FstFrame& f = frames_[--top_];
    f.arc = arc;
    f.arc2 = arc2_;
    f.flags = flags_;
    f.resume = resume;
    f.in = in;
    f.out = out;
    f.loc = loc;
    f.loc2 = loc2_;
    return true;
  }
  // The alternative of the arc at the current location.
  bool push(int32_t resume) { return push(resume, loc_, arc_, in_, out_); }

  // Moves to the arc at loc (a pointer there followed): then, or backtrack
  // when the state there has no arcs.
  VORLANE_FST_STEP FstStep go(uint32_t loc, FstStep then) {
    loc_ = loc;
    if (!net_.follow(&loc_)) return fail(kFstDamaged);
    arc_ = net_.byte(loc_);
    return arc_ == 0 ? FstStep::kBacktrack : then;
  }

  // Moves to the next arc of the state (the current arc has the more bit).
  VORLANE_FST_STEP FstStep skip_to(FstStep then) {
    if (!net_.skip(loc_, &loc_)) return fail(kFstDamaged);
    arc_ = net_.byte(loc_);
    return then;
  }

  // A diacritic on the matched side (label below the epsilon bound): it
  // consumes no input; INSTR goes on to its operands.
  VORLANE_FST_STEP FstStep diacritic(uint8_t label) {
    if ((arc_ & kArcMore) && !push(Walk::kDiacriticResume)) return fail(kFstStackOverflow);
    return go(loc_ + 1, label == instr_ ? FstStep::kOperand : Walk::kAfterDiacritic);
  }

  // A pair that consumes and produces nothing at the current arc: its
  // alternative is pushed with resume, the accept test runs, and the state
  // after it follows.
  VORLANE_FST_STEP FstStep pass(int32_t resume) {
    if ((arc_ & kArcMore) && !push(resume)) return fail(kFstStackOverflow);
    if (!walk().accept(arc_)) return FstStep::kEnd;
    return FstStep::kNextState;
  }

  // Symbol lookup of c among the state's arcs from the arc at loc, with
  // tables: 1 and the matched arc's location, 0 for no match, -2 on damage.
  int lookup(uint32_t loc, uint8_t c, uint32_t* found) {
    bool table = false;
    uint32_t remembered = 0;
    for (;;) {
      if (!step()) return kFstDamaged;
      uint8_t b = net_.byte(loc);
      uint8_t label = b & kArcLabelMask;
      if (label == table_label_) {
        if (!(b & kArcMore)) return net_.table_lookup(loc, c, found);
        table = true;
        remembered = loc;
      } else if (label == c) {
        *found = loc;
        return 1;
      } else if (label > c) {
        return table ? net_.table_lookup(remembered, c, found) : 0;
      }
      if (!(b & kArcMore)) break;
      if (!net_.skip(loc, &loc)) return kFstDamaged;
    }
    return table ? net_.table_lookup(remembered, c, found) : 0;
  }

  // Symbol lookup of c at the current arc: 1 with the matched arc current,
  // 0 for no match, -2 on damage.
  VORLANE_FST_STEP int match_symbol(uint8_t c) {
    uint32_t found;
    int r = lookup(loc_, c, &found);
    if (r == 1) {
      loc_ = found;
      arc_ = net_.byte(loc_);
    }
    return r;
  }

  // At the TABLELABEL arc at the current location: the first exception (its
  // next alternative, when it has one) and the first entry.
  VORLANE_FST_STEP FstStep start_table() {
    if (!exception_after(loc_, arc_, &loc2_, &arc2_)) return fail(kFstDamaged);
    entry_ = loc_ + 1;
    if (!net_.follow(&entry_)) return fail(kFstDamaged);
    return FstStep::kTable;
  }

  const FSM* fsm_;
  NetReader net_;
  const uint8_t* input_;
  FstFrame* frames_;
  int32_t frame_count_;
  int32_t top_;
  uint8_t table_label_;
  uint8_t nid_;
  uint8_t alphabase_;
  uint8_t eps_bound_ = 0;  // of the net walked
  uint8_t instr_ = 0;

  // Registers.
  int32_t in_ = 0;
  int32_t out_ = 0;
  uint32_t loc_ = 0;
  uint8_t arc_ = 0;
  uint32_t loc2_ = 0;
  uint8_t arc2_ = 0;  // current exception arc of a table, 0 for none
  uint16_t flags_ = 0;
  uint32_t entry_ = 0;  // table enumeration: the current entry
  int32_t result_ = 0;
  uint64_t steps_ = 0;
  uint64_t budget_;

 private:
  Walk& walk() { return static_cast<Walk&>(*this); }

  // The flag operand at the current arc: on success its alternative is
  // pushed with the register as it was, the accept test runs and the state
  // after it follows; on failure the next operand, or backtrack.
  VORLANE_FST_STEP FstStep operand() {
    if (!step()) return fail(kFstDamaged);
    uint16_t before = flags_;
    if (fst_apply_operand(arc_, alphabase_, &flags_)) {
      if (arc_ & kArcMore) {
        uint16_t changed = flags_;
        flags_ = before;
        if (!push(kResumeOperand)) return fail(kFstStackOverflow);
        flags_ = changed;
      }
      if (!walk().accept(arc_)) return FstStep::kEnd;
      return FstStep::kNextState;
    }
    if (!(arc_ & kArcMore)) return FstStep::kBacktrack;
    return skip_to(FstStep::kOperand);
  }

  // The table entry at entry_: a filler entry is passed over; an entry with
  // the current exception's label gives way to the exception arc; the arc
  // taken becomes current and the walk's table_taken() follows.
  VORLANE_FST_STEP FstStep table_entry() {
    if (!step()) return fail(kFstDamaged);
    if (entry_ >= net_.length()) return fail(kFstDamaged);
    uint8_t e = net_.byte(entry_);
    uint8_t label = e & kArcLabelMask;
    if (label == table_label_) {
      if (!(e & kArcMore)) return FstStep::kBacktrack;
      entry_ += 4;
      return FstStep::kTable;
    }
    if (arc2_ != 0 && label == (arc2_ & kArcLabelMask)) {
      if ((e & kArcMore) && !push(kResumeTableExcepted, entry_, e, in_, out_)) return fail(kFstStackOverflow);
      loc_ = loc2_;
      arc_ = arc2_;
    } else {
      if ((e & kArcMore) && !push(kResumeTableUnexcepted, entry_, e, in_, out_)) return fail(kFstStackOverflow);
      loc_ = entry_;
      arc_ = e;
    }
    return walk().table_taken();
  }

  // Resumes the newest frame, or ends the walk when none is left.
  VORLANE_FST_STEP FstStep backtrack() {
    if (top_ >= frame_count_) return fail(walk().exhausted());
    const FstFrame& f = frames_[top_++];
    in_ = f.in;
    out_ = f.out;
    loc_ = f.loc;
    arc_ = f.arc;
    loc2_ = f.loc2;
    arc2_ = f.arc2;
    flags_ = f.flags;
    switch (f.resume) {
      case kResumeInputEpsilon:
        return resume<kResumeInputEpsilon>();
      case kResumeTableExcepted:
        return resume<kResumeTableExcepted>();
      case kResumeTableUnexcepted:
        return resume<kResumeTableUnexcepted>();
      case kResumeOutputEpsilon:
        return resume<kResumeOutputEpsilon>();
      case kResumeOutputMatch:
        return resume<kResumeOutputMatch>();
      case kResumeOutput:
        return resume<kResumeOutput>();
      case kResumeOutputNonid:
        return resume<kResumeOutputNonid>();
      case kResumeOperand:
        return resume<kResumeOperand>();
      case kResumeNonidEpsilon:
        return resume<kResumeNonidEpsilon>();
      default:
        return fail(kFstBadResume);
    }
  }

  // Resume point R of the frame just popped: the move it makes, then the
  // walk's step for it.
  template <int32_t R>
  VORLANE_FST_STEP FstStep resume() {
    constexpr FstStep then = Walk::kResumes[R];
    if constexpr (then == FstStep::kEnd) {
      return fail(kFstBadResume);  // a resume point this walk never pushes
    } else if constexpr (R == kResumeTableExcepted) {
      // The exception was used: the next one of the chain becomes current.
      if (!exception_after(loc2_, arc2_, &loc2_, &arc2_)) return fail(kFstDamaged);
      entry_ = loc_ + 4;
      return then;
    } else if constexpr (R == kResumeTableUnexcepted) {
      entry_ = loc_ + 4;
      return then;
    } else if constexpr (R == kResumeOutput) {
      return go(loc_ + 1, then);  // into the branch of the NID arc
    } else {
      return skip_to(then);  // the next alternative of the arc
    }
  }
};

}  // namespace vorlane
