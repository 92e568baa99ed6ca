#include "linguistics/fst/apply.h"

#include <cstdlib>
#include <cstring>

#include "linguistics/fst/coding.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/net_reader.h"
#include "linguistics/fst/walker.h"

namespace vorlane {

namespace {

// Results remembered for duplicate removal, by offset and length (results
// may hold NULs of their own): this many in the walk itself, any further ones
// in a heap block that is only made when a walk has that many results.
constexpr int kTracked = 256;

// The coded output of a transducer walk and the results it collects in the
// client buffer, by result style.
class Results {
 public:
  Results(const FSM* fsm, uint8_t* coded, int32_t coded_size, char* client, int32_t client_size, int32_t style,
          int32_t decode_arg)
      : fsm_(fsm),
        coded_(coded),
        coded_size_(coded_size),
        client_(client),
        client_size_(client_size),
        style_(style),
        decode_arg_(decode_arg) {}
  ~Results() { std::free(more_); }
  Results(const Results&) = delete;
  Results& operator=(const Results&) = delete;

  // Writes one produced byte at *out and advances it; false when the coded
  // output is full.
  VORLANE_FST_STEP bool produce(int32_t* out, uint8_t b) {
    coded_[(*out)++] = b;
    return *out < coded_size_;
  }

  // An accepted path of the forward walk whose coded output ends at out
  // (input position in): true to go on, false with *result set when the
  // walk ends here.
  bool forward(int32_t out, int32_t in, int32_t* result) {
    coded_[out] = 0;
    int32_t room = client_size_ - pos_;
    switch (style_) {
      case 0:
        return finish(1, result);
      case 1: {
        int32_t n = static_cast<int32_t>(std::strlen(reinterpret_cast<const char*>(coded_)));
        if (n >= room) return finish(kFstTooLong, result);
        std::memcpy(client_ + pos_, coded_, static_cast<size_t>(n) + 1);
        return distinct(n, result);
      }
      case 2: {
        int32_t n = fst_decode(coded_, client_ + pos_, room, decode_arg_, false, fsm_);
        if (n < 0) return finish(n, result);
        return distinct(n, result);
      }
      case 4: {
        int32_t n = fst_decode(coded_, client_ + pos_, room, decode_arg_, false, fsm_);
        if (n >= 0) wrote(pos_, n);
        return finish(n < 0 ? n : 1, result);
      }
      case 5: {
        int32_t length = fst_decoded_length(coded_, fsm_);
        if (!kept_ || length < kept_length_) {
          int32_t n = fst_decode(coded_, client_, client_size_, decode_arg_, false, fsm_);
          if (n < 0) return finish(n, result);
          wrote(0, n);
          kept_ = true;
          kept_length_ = length;
        }
        return true;
      }
      case 6:
      case 7:
        return token(out, in, result);
      default:
        return finish(kFstBadFunction, result);
    }
  }

  // An accepted path of the inverse walk (decoded up to the end symbol).
  bool inverse(int32_t out, int32_t* result) {
    coded_[out] = 0;
    if (style_ != 2) return finish(kFstBadFunction, result);
    int32_t n = fst_decode(coded_, client_ + pos_, client_size_ - pos_, decode_arg_, true, fsm_);
    if (n < 0) return finish(n, result);
    return distinct(n, result);
  }

  // The forward walk's result when no frame is left.
  int32_t forward_exhausted() const {
    switch (style_) {
      case 1:
      case 2:
      case 7:
        return count_;
      case 5:
        return kept_ ? 1 : 0;
      default:
        return 0;
    }
  }
  int32_t count() const { return count_; }

  void set_offsets(int32_t* offsets, int32_t length) {
    offsets_ = offsets;
    offsets_length_ = length;
  }

  // The number of client bytes from the start that the walk has written to
  // (successful results only; bytes between them may be left as they were).
  int32_t written() const { return written_; }

 private:
  bool finish(int32_t value, int32_t* result) {
    *result = value;
    return false;
  }

  // Records that the client bytes [start, start + n] (a result and its NUL)
  // were written.
  void wrote(int32_t start, int32_t n) {
    if (start + n + 1 > written_) written_ = start + n + 1;
  }

  // The result of length n just written at the client position is kept
  // unless it equals an earlier one.
  bool distinct(int32_t n, int32_t* result) {
    wrote(pos_, n);
    if (!keep_distinct(n)) return finish(kFstNoMemory, result);
    return true;
  }

  bool same_as(int32_t start, int32_t length, int32_t n) const {
    return length == n && std::memcmp(client_ + start, client_ + pos_, static_cast<size_t>(n)) == 0;
  }

  // Compares the result just written at the client position (length n) with
  // every earlier one; a new one is kept and counted. False when the memory
  // for remembering it cannot be had.
  bool keep_distinct(int32_t n) {
    int32_t tracked = count_ < kTracked ? count_ : kTracked;
    for (int32_t i = 0; i < tracked; ++i) {
      if (same_as(starts_[i], lengths_[i], n)) return true;
    }
    for (int32_t i = 0; i < count_ - kTracked; ++i) {
      if (same_as(more_[2 * i], more_[2 * i + 1], n)) return true;
    }
    if (count_ < kTracked) {
      starts_[count_] = pos_;
      lengths_[count_] = n;
    } else {
      int32_t extra = count_ - kTracked;
      if (extra >= more_capacity_) {
        int32_t capacity = more_capacity_ == 0 ? kTracked : more_capacity_ * 2;
        void* grown = std::realloc(more_, 2 * sizeof(int32_t) * static_cast<size_t>(capacity));
        if (grown == nullptr) return false;
        more_ = static_cast<int32_t*>(grown);
        more_capacity_ = capacity;
      }
      more_[2 * extra] = pos_;
      more_[2 * extra + 1] = n;
    }
    pos_ += n + 1;
    ++count_;
    return true;
  }

  // A token ends at the last token boundary of the coded output (out bytes);
  // its end in the input is in less the bytes after the boundary.
  bool token(int32_t out, int32_t in, int32_t* result) {
    int32_t k = out;
    bool label_first = (fsm_->coding_flags & kFstCodingLabelFirst) != 0;
    while (k > 0) {
      if (coded_[k - 1] == fsm_->tb) {
        bool esc_completed = label_first ? coded_[k] == fsm_->esc : (k >= 2 && coded_[k - 2] == fsm_->esc);
        if (!esc_completed) break;
      }
      --k;
    }
    int32_t end = in - (out - k);
    int32_t n = 0;
    if (k == 0) {
      if (pos_ >= client_size_) return finish(kFstTooLong, result);
      client_[pos_] = '\0';
    } else {
      n = fst_decode(coded_, client_ + pos_, client_size_ - pos_, decode_arg_, true, fsm_);
      if (n < 0) return finish(n, result);
    }
    wrote(pos_, n);
    if (offsets_ == nullptr || tokens_ >= offsets_length_) return finish(kFstTooLong, result);
    offsets_[tokens_++] = end;
    pos_ += n + 1;
    ++count_;
    if (style_ == 6) return finish(1, result);
    return true;
  }

  const FSM* fsm_;
  uint8_t* coded_;
  int32_t coded_size_;
  char* client_;
  int32_t client_size_;
  int32_t style_;
  int32_t decode_arg_;
  int32_t* offsets_ = nullptr;
  int32_t offsets_length_ = 0;
  int32_t written_ = 0;
  int32_t count_ = 0;
  int32_t pos_ = 0;
  int32_t tokens_ = 0;
  bool kept_ = false;
  int32_t kept_length_ = 0;
  int32_t starts_[kTracked];
  int32_t lengths_[kTracked];
  int32_t* more_ = nullptr;  // start, length of each result past the first kTracked
  int32_t more_capacity_ = 0;
};

// The forward walk: the input side of the pairs matches the coded input,
// the output side is produced.
class ForwardWalk : public FstWalker<ForwardWalk> {
 public:
  ForwardWalk(const FSM* fsm, const uint8_t* input, FstFrame* frames, int32_t frame_count, bool partial,
              uint8_t* coded, int32_t coded_size, char* client, int32_t client_size, int32_t style, int32_t decode_arg)
      : FstWalker(fsm, input, frames, frame_count),
        partial_(partial),
        results_(fsm, coded, coded_size, client, client_size, style, decode_arg) {}

  Results& results() { return results_; }

 private:
  friend class FstWalker<ForwardWalk>;

  static constexpr FstStep kResumes[9] = {
      FstStep::kArc,     // input_epsilon: the next arc of the state
      FstStep::kTable,   // gentable_excepted
      FstStep::kTable,   // gentable_unexcepted
      FstStep::kOutput,  // output_epsilon: the next output-side arc
      FstStep::kOutput,  // output_match
      FstStep::kOutput,  // output: into the NID branch
      FstStep::kEnd,     // output_nonid (inverse only)
      FstStep::kOperand,
      FstStep::kEnd,     // nonid epsilon (inverse only)
  };
  static constexpr int32_t kDiacriticResume = kResumeInputEpsilon;
  static constexpr FstStep kAfterDiacritic = FstStep::kOutput;

  VORLANE_FST_STEP FstStep start() { return accept(arc_) ? FstStep::kNextState : FstStep::kEnd; }

  VORLANE_FST_STEP bool accept(uint8_t arc) {
    return !((arc & kArcFinal) && (partial_ || input_[in_] == 0)) || results_.forward(out_, in_, &result_);
  }

  // An input-side arc: a diacritic, or the input symbol looked up in the
  // state; a matched symbol is the identity pair (the arcs of the state
  // after it follow here), or with NID after it the non-identity pairs of
  // its branch.
  VORLANE_FST_STEP FstStep arc() {
    for (;;) {
      if (!step()) return fail(kFstDamaged);
      uint8_t label = arc_ & kArcLabelMask;
      if (label < eps_bound_) return diacritic(label);
      uint8_t c = input_[in_];
      if (c == 0) return partial_ ? fail(kFstIncompleteInput) : FstStep::kBacktrack;
      int r = match_symbol(c);
      if (r < 0) return fail(r);
      if (r == 0) return FstStep::kBacktrack;
      int32_t out_before = out_;
      if (!results_.produce(&out_, c)) return fail(kFstInternalBufferSmall);
      ++in_;
      if (!accept(arc_)) return FstStep::kEnd;
      uint32_t next = loc_ + 1;
      if (!net_.follow(&next)) return fail(kFstDamaged);
      uint8_t nb = net_.byte(next);
      if (nb == 0) return FstStep::kBacktrack;
      if ((nb & kArcLabelMask) == nid_) {
        if (!(nb & kArcMore)) {
          out_ = out_before;
          return go(next + 1, FstStep::kOutput);
        }
        // The identity reading first, the NID branch when resumed.
        if (!push(kResumeOutput, next, nb, in_, out_before)) return fail(kFstStackOverflow);
        if (!net_.skip(next, &loc_)) return fail(kFstDamaged);
        arc_ = net_.byte(loc_);
        continue;
      }
      loc_ = next;
      arc_ = nb;
    }
  }

  // An output-side arc: nothing, a table's entries, or a symbol written.
  VORLANE_FST_STEP FstStep output() {
    if (!step()) return fail(kFstDamaged);
    uint8_t label = arc_ & kArcLabelMask;
    if (label < eps_bound_) return pass(kResumeOutputEpsilon);
    if (label == table_label_) return start_table();
    if ((arc_ & kArcMore) && !push(kResumeOutputMatch)) return fail(kFstStackOverflow);
    return emit(label);
  }

  VORLANE_FST_STEP FstStep table_taken() { return emit(arc_ & kArcLabelMask); }

  // Writes an output label, runs the accept test at the current arc and goes
  // on to the state after it.
  VORLANE_FST_STEP FstStep emit(uint8_t label) {
    if (!results_.produce(&out_, label)) return fail(kFstInternalBufferSmall);
    if (!accept(arc_)) return FstStep::kEnd;
    return FstStep::kNextState;
  }

  int32_t exhausted() const { return results_.forward_exhausted(); }

  bool partial_;
  Results results_;
};

// The inverse walk: the output side of the pairs matches the coded input,
// the input side is produced.
class InverseWalk : public FstWalker<InverseWalk> {
 public:
  InverseWalk(const FSM* fsm, const uint8_t* input, FstFrame* frames, int32_t frame_count, uint8_t* coded,
              int32_t coded_size, char* client, int32_t client_size, int32_t style, int32_t decode_arg)
      : FstWalker(fsm, input, frames, frame_count),
        results_(fsm, coded, coded_size, client, client_size, style, decode_arg) {}

  Results& results() { return results_; }

 private:
  friend class FstWalker<InverseWalk>;

  static constexpr FstStep kResumes[9] = {
      FstStep::kMatch,  // input_epsilon: the next output-side arc
      FstStep::kTable,  // gentable_excepted
      FstStep::kTable,  // gentable_unexcepted
      FstStep::kArc,    // output_epsilon: the next input-side arc
      FstStep::kArc,    // output_match
      FstStep::kEnd,    // output (forward only)
      FstStep::kArc,    // output_nonid: the identity pair after a NID branch
      FstStep::kOperand,
      FstStep::kNonidEpsilon,
  };
  static constexpr int32_t kDiacriticResume = kResumeOutputEpsilon;
  static constexpr FstStep kAfterDiacritic = FstStep::kMatch;

  VORLANE_FST_STEP FstStep start() { return accept(arc_) ? FstStep::kNextState : FstStep::kEnd; }

  VORLANE_FST_STEP bool accept(uint8_t arc) {
    return !((arc & kArcFinal) && input_[in_] == 0) || results_.inverse(out_, &result_);
  }

  // An input-side arc, produced: a diacritic (its output label follows), a
  // table's entries, or a symbol (while the identity pairs go on, the arcs
  // of the states after them follow here).
  VORLANE_FST_STEP FstStep arc() {
    for (;;) {
      if (!step()) return fail(kFstDamaged);
      uint8_t label = arc_ & kArcLabelMask;
      if (label < eps_bound_) return diacritic(label);
      if (label == table_label_) return start_table();
      if ((arc_ & kArcMore) && !push(kResumeOutputMatch)) return fail(kFstStackOverflow);
      FstStep s = produce();
      if (s != FstStep::kArc) return s;
    }
  }

  VORLANE_FST_STEP FstStep table_taken() { return produce(); }

  // The symbol of the current arc is produced and its output side compared
  // with the input: the identity pair, or the pairs of a NID branch.
  VORLANE_FST_STEP FstStep produce() {
    uint8_t x = arc_ & kArcLabelMask;
    bool m = x == input_[in_];
    if (!results_.produce(&out_, x)) return fail(kFstInternalBufferSmall);
    if (m && (arc_ & kArcFinal) && input_[in_ + 1] == 0) {
      ++in_;
      bool go_on = accept(arc_);
      --in_;
      if (!go_on) return FstStep::kEnd;
    }
    uint32_t next = loc_ + 1;
    if (!net_.follow(&next)) return fail(kFstDamaged);
    uint8_t nb = net_.byte(next);
    if (nb == 0) return FstStep::kBacktrack;
    bool is_nid = (nb & kArcLabelMask) == nid_;
    if (!m && !is_nid) return FstStep::kBacktrack;
    if (!m) return go(next + 1, FstStep::kMatch);
    if (is_nid) {
      if ((nb & kArcMore) && !push(kResumeOutputNonid, next, nb, in_ + 1, out_)) return fail(kFstStackOverflow);
      return go(next + 1, FstStep::kNonidEpsilon);
    }
    ++in_;
    loc_ = next;
    arc_ = nb;
    return FstStep::kArc;
  }

  // An arc of a NID branch: only those that output nothing are taken here.
  VORLANE_FST_STEP FstStep nonid_epsilon() {
    if ((arc_ & kArcLabelMask) >= eps_bound_) return FstStep::kBacktrack;
    if (!step()) return fail(kFstDamaged);
    return pass(kResumeNonidEpsilon);
  }

  // An output-side label: nothing, or the input symbol looked up.
  VORLANE_FST_STEP FstStep match() {
    if (!step()) return fail(kFstDamaged);
    uint8_t label = arc_ & kArcLabelMask;
    if (label < eps_bound_) return pass(kResumeInputEpsilon);
    uint8_t c = input_[in_];
    if (c == 0) return FstStep::kBacktrack;
    int r = match_symbol(c);
    if (r < 0) return fail(r);
    if (r == 0) return FstStep::kBacktrack;
    ++in_;
    if (!accept(arc_)) return FstStep::kEnd;
    return FstStep::kNextState;
  }

  int32_t exhausted() const { return results_.count(); }

  Results results_;
};

}  // namespace

bool fst_apply_operand(uint8_t operand, uint8_t alphabase, uint16_t* flags) {
  uint32_t v = static_cast<uint8_t>(operand - alphabase);
  uint32_t feature = v >> 4;
  uint32_t setting = (v >> 2) & 3;
  if (feature > 7) return true;  // such a feature reads 0 and is never set
  uint32_t shift = 2 * feature;
  uint32_t current = (*flags >> shift) & 3u;
  if (setting == 0) {
    *flags = static_cast<uint16_t>(*flags & ~(3u << shift));
    return true;
  }
  if (setting == current) return true;
  if (current == 0) {
    *flags = static_cast<uint16_t>(*flags | (setting << shift));
    return true;
  }
  return false;
}

uint64_t fst_step_budget(uint32_t net_bytes, uint32_t input_length) {
  uint64_t budget = 16 * (uint64_t{net_bytes} + 64) * (uint64_t{input_length} + 2);
  return budget < (uint64_t{1} << 20) ? (uint64_t{1} << 20) : budget;
}

int32_t apply_fst(const uint8_t* input, uint8_t* coded_out, int32_t coded_size, int32_t net, bool partial,
                  FstFrame* frames, int32_t frame_count, char* client, int32_t client_size, int32_t* offsets,
                  int32_t offsets_length, int32_t style, int32_t decode_arg, const FSM* fsm, int32_t* written) {
  if (written != nullptr) *written = 0;
  if (input == nullptr || coded_out == nullptr || frames == nullptr || fsm == nullptr) return kFstNullPointer;
  if (net < 0 || static_cast<uint32_t>(net) >= fsm->net_count) return kFstBadFunction;
  if (coded_size < 1) return kFstInternalBufferSmall;
  if (client == nullptr) client_size = 0;
  ForwardWalk walk(fsm, input, frames, frame_count, partial, coded_out, coded_size, client, client_size, style,
                   decode_arg);
  walk.results().set_offsets(offsets, offsets_length);
  int32_t result = walk.run(net);
  if (written != nullptr) *written = walk.results().written();
  return result;
}

int32_t apply_fst_inverse(const uint8_t* input, uint8_t* coded_out, int32_t coded_size, int32_t net,
                          FstFrame* frames, int32_t frame_count, char* client, int32_t client_size, int32_t style,
                          int32_t decode_arg, const FSM* fsm, int32_t* written) {
  if (written != nullptr) *written = 0;
  if (input == nullptr || coded_out == nullptr || frames == nullptr || fsm == nullptr) return kFstNullPointer;
  if (net < 0 || static_cast<uint32_t>(net) >= fsm->net_count) return kFstBadFunction;
  if (coded_size < 1) return kFstInternalBufferSmall;
  if (client == nullptr) client_size = 0;
  InverseWalk walk(fsm, input, frames, frame_count, coded_out, coded_size, client, client_size, style, decode_arg);
  int32_t result = walk.run(net);
  if (written != nullptr) *written = walk.results().written();
  return result;
}

}  // namespace vorlane
