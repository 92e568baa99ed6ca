#include "linguistics/fst/apply.h"

#include <cstdlib>
#include <cstring>

#include "linguistics/fst/coding.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/net_reader.h"

namespace vorlane {

namespace {

// Results remembered for duplicate removal, by offset and length (results
// may hold NULs of their own): this many in the walk itself, any further ones
// in a heap block that is only made when a walk has that many results.
constexpr int kTracked = 256;

// What a step of the walk asks for next.
enum class Next { kContinue, kReturn };

class Walk {
 public:
  Walk(const FSM* fsm, const uint8_t* input, uint8_t* coded, int32_t coded_size, FstFrame* frames, int32_t frame_count,
       char* client, int32_t client_size, int32_t style, int32_t decode_arg)
      : fsm_(fsm),
        net_(fsm),
        input_(input),
        coded_(coded),
        coded_size_(coded_size),
        frames_(frames),
        frame_count_(frame_count),
        top_(frame_count),
        client_(client),
        client_size_(client_size),
        style_(style),
        decode_arg_(decode_arg) {
    budget_ = fst_step_budget(fsm->trans_length, static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(input))));
  }
  ~Walk() { std::free(more_); }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  int32_t forward(int32_t net_index, bool partial, int32_t* offsets, int32_t offsets_length);
  int32_t inverse(int32_t net_index);
  // The number of client bytes from the start that the walk has written to
  // (successful results only; bytes between them may be left as they were).
  int32_t written() const { return written_; }

 private:
  // Pushes a frame from the current registers with the given resume point.
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

  bool pop(FstFrame* f) {
    if (top_ >= frame_count_) return false;
    *f = frames_[top_++];
    in_ = f->in;
    out_ = f->out;
    loc_ = f->loc;
    arc_ = f->arc;
    loc2_ = f->loc2;
    arc2_ = f->arc2;
    flags_ = f->flags;
    return true;
  }

  bool step() { return ++steps_ <= budget_; }

  // Writes one produced byte; false when the coded output is full.
  bool produce(uint8_t b) {
    coded_[out_++] = b;
    return out_ < coded_size_;
  }

  // Symbol lookup of c among the state's arcs from the arc at loc: 1 and the
  // matched arc's location, 0 for no match, -2 on damage.
  int lookup(uint32_t loc, uint8_t c, uint32_t* found) {
    bool table = false;
    uint32_t remembered = 0;
    uint8_t table_label = fsm_->table_label;
    for (;;) {
      if (!step()) return kFstDamaged;
      uint8_t b = net_.byte(loc);
      uint8_t label = b & kArcLabelMask;
      if (label == table_label) {
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

  // Handles an accepted path (the coded output is complete); kReturn with
  // *result set when the walk ends here.
  Next collect(bool inverse, int32_t* result) {
    coded_[out_] = 0;
    int32_t room = client_size_ - pos_;
    if (inverse) {
      if (style_ != 2) return finish(kFstBadFunction, result);
      int32_t n = fst_decode(coded_, client_ + pos_, room, decode_arg_, true, fsm_);
      if (n < 0) return finish(n, result);
      wrote(pos_, n);
      if (!keep_distinct(n)) return finish(kFstNoMemory, result);
      return Next::kContinue;
    }
    switch (style_) {
      case 0:
        return finish(1, result);
      case 1: {
        int32_t n = static_cast<int32_t>(std::strlen(reinterpret_cast<const char*>(coded_)));
        if (n >= room) return finish(kFstTooLong, result);
        std::memcpy(client_ + pos_, coded_, static_cast<size_t>(n) + 1);
        wrote(pos_, n);
        if (!keep_distinct(n)) return finish(kFstNoMemory, result);
        return Next::kContinue;
      }
      case 2: {
        int32_t n = fst_decode(coded_, client_ + pos_, room, decode_arg_, false, fsm_);
        if (n < 0) return finish(n, result);
        wrote(pos_, n);
        if (!keep_distinct(n)) return finish(kFstNoMemory, result);
        return Next::kContinue;
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
        return Next::kContinue;
      }
      case 6:
      case 7:
        return token(result);
      default:
        return finish(kFstBadFunction, result);
    }
  }

  // A token ends at the last token boundary of the coded output.
  Next token(int32_t* result) {
    int32_t k = out_;
    bool label_first = (fsm_->coding_flags & kFstCodingLabelFirst) != 0;
    while (k > 0) {
      if (coded_[k - 1] == fsm_->tb) {
        bool esc_completed = label_first ? coded_[k] == fsm_->esc : (k >= 2 && coded_[k - 2] == fsm_->esc);
        if (!esc_completed) break;
      }
      --k;
    }
    int32_t end = in_ - (out_ - k);
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
    return Next::kContinue;
  }

  // Records that the client bytes [start, start + n] (a result and its NUL)
  // were written.
  void wrote(int32_t start, int32_t n) {
    if (start + n + 1 > written_) written_ = start + n + 1;
  }

  Next finish(int32_t value, int32_t* result) {
    *result = value;
    return Next::kReturn;
  }

  // The result when no frame is left.
  int32_t exhausted() const {
    switch (style_) {
      case 1:
      case 2:
      case 7:
        return count_;
      case 5:
        return kept_ ? 1 : 0;
      default:
        return inverse_ ? count_ : 0;
    }
  }

  const FSM* fsm_;
  NetReader net_;
  const uint8_t* input_;
  uint8_t* coded_;
  int32_t coded_size_;
  FstFrame* frames_;
  int32_t frame_count_;
  int32_t top_;
  char* client_;
  int32_t client_size_;
  int32_t written_ = 0;
  int32_t style_;
  int32_t decode_arg_;
  int32_t* offsets_ = nullptr;
  int32_t offsets_length_ = 0;
  bool inverse_ = false;

  // Registers.
  int32_t in_ = 0;
  int32_t out_ = 0;
  uint32_t loc_ = 0;
  uint8_t arc_ = 0;
  uint32_t loc2_ = 0;
  uint8_t arc2_ = 0;  // current exception arc, 0 for none
  uint16_t flags_ = 0;

  int32_t count_ = 0;
  int32_t pos_ = 0;
  int32_t tokens_ = 0;
  bool kept_ = false;
  int32_t kept_length_ = 0;
  uint64_t steps_ = 0;
  uint64_t budget_ = 0;
  int32_t starts_[kTracked];
  int32_t lengths_[kTracked];
  int32_t* more_ = nullptr;  // start, length of each result past the first kTracked
  int32_t more_capacity_ = 0;
};

int32_t Walk::forward(int32_t net_index, bool partial, int32_t* offsets, int32_t offsets_length) {
  offsets_ = offsets;
  offsets_length_ = offsets_length;
  const FstNet& net = fsm_->nets[net_index];
  const uint8_t eps_bound = net.epsilon_bound;
  const uint8_t instr = net.instr_label;
  const uint8_t table_label = fsm_->table_label;
  const uint8_t nid = fsm_->nid_label;
  int32_t result = 0;
  FstFrame f;
  uint32_t entry = 0;    // table enumeration: the current entry
  uint16_t before = 0;   // register before an operand
  int32_t out_before = 0;

  loc_ = net.start;
  if (!net_.follow(&loc_)) return kFstDamaged;
  arc_ = net_.byte(loc_);
  flags_ = net.initial_flags;
  if ((arc_ & kArcFinal) && (partial || input_[in_] == 0) && collect(false, &result) == Next::kReturn) return result;

next_state:
  ++loc_;
  if (!net_.follow(&loc_)) return kFstDamaged;
  arc_ = net_.byte(loc_);
  if (arc_ == 0) goto backtrack;

dispatch_input:
  if (!step()) return kFstDamaged;
  {
    uint8_t label = arc_ & kArcLabelMask;
    if (label < eps_bound) {
      if ((arc_ & kArcMore) && !push(kResumeInputEpsilon, loc_, arc_, in_, out_)) return kFstStackOverflow;
      ++loc_;
      if (!net_.follow(&loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      if (arc_ == 0) goto backtrack;
      if (label == instr) goto operand;
      goto output_side;
    }
    uint8_t c = input_[in_];
    if (c == 0) {
      if (partial) return kFstIncompleteInput;
      goto backtrack;
    }
    uint32_t found;
    int r = lookup(loc_, c, &found);
    if (r < 0) return r;
    if (r == 0) goto backtrack;
    loc_ = found;
    arc_ = net_.byte(loc_);
    out_before = out_;
    if (!produce(c)) return kFstInternalBufferSmall;
    ++in_;
    if ((arc_ & kArcFinal) && (partial || input_[in_] == 0) && collect(false, &result) == Next::kReturn) {
      return result;
    }
    uint32_t next = loc_ + 1;
    if (!net_.follow(&next)) return kFstDamaged;
    uint8_t nb = net_.byte(next);
    if (nb == 0) goto backtrack;
    if ((nb & kArcLabelMask) == nid) {
      if (nb & kArcMore) {
        if (!push(kResumeOutput, next, nb, in_, out_before)) return kFstStackOverflow;
        if (!net_.skip(next, &loc_)) return kFstDamaged;
        arc_ = net_.byte(loc_);
        goto dispatch_input;
      }
      out_ = out_before;
      loc_ = next + 1;
      if (!net_.follow(&loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      if (arc_ == 0) goto backtrack;
      goto output_side;
    }
    loc_ = next;
    arc_ = nb;
    goto dispatch_input;
  }

operand:
  // arc_ is a flag operand at loc_.
  if (!step()) return kFstDamaged;
  before = flags_;
  if (fst_apply_operand(arc_, fsm_->alphabase, &flags_)) {
    if (arc_ & kArcMore) {
      uint16_t changed = flags_;
      flags_ = before;
      if (!push(kResumeOperand, loc_, arc_, in_, out_)) return kFstStackOverflow;
      flags_ = changed;
    }
    if ((arc_ & kArcFinal) && (partial || input_[in_] == 0) && collect(false, &result) == Next::kReturn) {
      return result;
    }
    goto next_state;
  }
  if (!(arc_ & kArcMore)) goto backtrack;
  if (!net_.skip(loc_, &loc_)) return kFstDamaged;
  arc_ = net_.byte(loc_);
  goto operand;

output_side:
  if (!step()) return kFstDamaged;
  {
    uint8_t label = arc_ & kArcLabelMask;
    if (label < eps_bound) {
      if ((arc_ & kArcMore) && !push(kResumeOutputEpsilon, loc_, arc_, in_, out_)) return kFstStackOverflow;
    } else if (label == table_label) {
      if (arc_ & kArcMore) {
        if (!net_.skip(loc_, &loc2_)) return kFstDamaged;
        arc2_ = net_.byte(loc2_);
      } else {
        arc2_ = 0;
      }
      entry = loc_ + 1;
      if (!net_.follow(&entry)) return kFstDamaged;
      goto table_entry;
    } else {
      if ((arc_ & kArcMore) && !push(kResumeOutputMatch, loc_, arc_, in_, out_)) return kFstStackOverflow;
      if (!produce(label)) return kFstInternalBufferSmall;
    }
    if ((arc_ & kArcFinal) && (partial || input_[in_] == 0) && collect(false, &result) == Next::kReturn) {
      return result;
    }
    goto next_state;
  }

table_entry:
  if (!step()) return kFstDamaged;
  {
    if (entry >= net_.length()) return kFstDamaged;
    uint8_t e = net_.byte(entry);
    uint8_t label = e & kArcLabelMask;
    if (label == table_label) {
      if (!(e & kArcMore)) goto backtrack;
      entry += 4;
      goto table_entry;
    }
    if (arc2_ != 0 && label == (arc2_ & kArcLabelMask)) {
      if ((e & kArcMore) && !push(kResumeTableExcepted, entry, e, in_, out_)) return kFstStackOverflow;
      loc_ = loc2_;
      arc_ = arc2_;
    } else {
      if ((e & kArcMore) && !push(kResumeTableUnexcepted, entry, e, in_, out_)) return kFstStackOverflow;
      loc_ = entry;
      arc_ = e;
    }
    if (!produce(arc_ & kArcLabelMask)) return kFstInternalBufferSmall;
    if ((arc_ & kArcFinal) && (partial || input_[in_] == 0) && collect(false, &result) == Next::kReturn) {
      return result;
    }
    goto next_state;
  }

backtrack:
  if (!pop(&f)) return exhausted();
  switch (f.resume) {
    case kResumeInputEpsilon:
      if (!net_.skip(loc_, &loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      goto dispatch_input;
    case kResumeTableExcepted:
      if (arc2_ & kArcMore) {
        if (!net_.skip(loc2_, &loc2_)) return kFstDamaged;
        arc2_ = net_.byte(loc2_);
      } else {
        arc2_ = 0;
      }
      entry = loc_ + 4;
      goto table_entry;
    case kResumeTableUnexcepted:
      entry = loc_ + 4;
      goto table_entry;
    case kResumeOutputEpsilon:
    case kResumeOutputMatch:
      if (!net_.skip(loc_, &loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      goto output_side;
    case kResumeOutput:
      ++loc_;
      if (!net_.follow(&loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      if (arc_ == 0) goto backtrack;
      goto output_side;
    case kResumeOperand:
      if (!net_.skip(loc_, &loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      goto operand;
    default:
      return kFstBadResume;
  }
}

int32_t Walk::inverse(int32_t net_index) {
  inverse_ = true;
  const FstNet& net = fsm_->nets[net_index];
  const uint8_t eps_bound = net.epsilon_bound;
  const uint8_t instr = net.instr_label;
  const uint8_t table_label = fsm_->table_label;
  const uint8_t nid = fsm_->nid_label;
  int32_t result = 0;
  FstFrame f;
  uint32_t entry = 0;
  uint16_t before = 0;

  loc_ = net.start;
  if (!net_.follow(&loc_)) return kFstDamaged;
  arc_ = net_.byte(loc_);
  flags_ = net.initial_flags;
  if ((arc_ & kArcFinal) && input_[in_] == 0 && collect(true, &result) == Next::kReturn) return result;

next_state:
  ++loc_;
  if (!net_.follow(&loc_)) return kFstDamaged;
  arc_ = net_.byte(loc_);
  if (arc_ == 0) goto backtrack;

dispatch_input:
  // arc_ is an input-side arc: produced.
  if (!step()) return kFstDamaged;
  {
    uint8_t label = arc_ & kArcLabelMask;
    if (label < eps_bound) {
      if ((arc_ & kArcMore) && !push(kResumeOutputEpsilon, loc_, arc_, in_, out_)) return kFstStackOverflow;
      ++loc_;
      if (!net_.follow(&loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      if (arc_ == 0) goto backtrack;
      if (label == instr) goto operand;
      goto match_output;
    }
    if (label == table_label) {
      if (arc_ & kArcMore) {
        if (!net_.skip(loc_, &loc2_)) return kFstDamaged;
        arc2_ = net_.byte(loc2_);
      } else {
        arc2_ = 0;
      }
      entry = loc_ + 1;
      if (!net_.follow(&entry)) return kFstDamaged;
      goto table_entry;
    }
    if ((arc_ & kArcMore) && !push(kResumeOutputMatch, loc_, arc_, in_, out_)) return kFstStackOverflow;
    goto produce_symbol;
  }

produce_symbol:
  // The symbol of arc_ (at loc_) is produced; its output side is compared.
  {
    uint8_t x = arc_ & kArcLabelMask;
    bool m = x == input_[in_];
    if (!produce(x)) return kFstInternalBufferSmall;
    if (m && (arc_ & kArcFinal) && input_[in_ + 1] == 0) {
      ++in_;
      Next n = collect(true, &result);
      --in_;
      if (n == Next::kReturn) return result;
    }
    uint32_t next = loc_ + 1;
    if (!net_.follow(&next)) return kFstDamaged;
    uint8_t nb = net_.byte(next);
    if (nb == 0) goto backtrack;
    bool is_nid = (nb & kArcLabelMask) == nid;
    if (!m && !is_nid) goto backtrack;
    if (!m) {
      loc_ = next + 1;
      if (!net_.follow(&loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      if (arc_ == 0) goto backtrack;
      goto match_output;
    }
    if (is_nid) {
      if ((nb & kArcMore) && !push(kResumeOutputNonid, next, nb, in_ + 1, out_)) return kFstStackOverflow;
      loc_ = next + 1;
      if (!net_.follow(&loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      if (arc_ == 0 || (arc_ & kArcLabelMask) >= eps_bound) goto backtrack;
      goto nonid_epsilon;
    }
    ++in_;
    loc_ = next;
    arc_ = nb;
    goto dispatch_input;
  }

nonid_epsilon:
  // arc_ is an arc of a NID branch that outputs nothing.
  if (!step()) return kFstDamaged;
  if ((arc_ & kArcMore) && !push(kResumeNonidEpsilon, loc_, arc_, in_, out_)) return kFstStackOverflow;
  if ((arc_ & kArcFinal) && input_[in_] == 0 && collect(true, &result) == Next::kReturn) return result;
  goto next_state;

match_output:
  // arc_ carries an output-side label matched against the input.
  if (!step()) return kFstDamaged;
  {
    uint8_t label = arc_ & kArcLabelMask;
    if (label < eps_bound) {
      if ((arc_ & kArcMore) && !push(kResumeInputEpsilon, loc_, arc_, in_, out_)) return kFstStackOverflow;
    } else {
      uint8_t c = input_[in_];
      if (c == 0) goto backtrack;
      uint32_t found;
      int r = lookup(loc_, c, &found);
      if (r < 0) return r;
      if (r == 0) goto backtrack;
      ++in_;
      loc_ = found;
      arc_ = net_.byte(loc_);
    }
    if ((arc_ & kArcFinal) && input_[in_] == 0 && collect(true, &result) == Next::kReturn) return result;
    goto next_state;
  }

operand:
  if (!step()) return kFstDamaged;
  before = flags_;
  if (fst_apply_operand(arc_, fsm_->alphabase, &flags_)) {
    if (arc_ & kArcMore) {
      uint16_t changed = flags_;
      flags_ = before;
      if (!push(kResumeOperand, loc_, arc_, in_, out_)) return kFstStackOverflow;
      flags_ = changed;
    }
    if ((arc_ & kArcFinal) && input_[in_] == 0 && collect(true, &result) == Next::kReturn) return result;
    goto next_state;
  }
  if (!(arc_ & kArcMore)) goto backtrack;
  if (!net_.skip(loc_, &loc_)) return kFstDamaged;
  arc_ = net_.byte(loc_);
  goto operand;

table_entry:
  if (!step()) return kFstDamaged;
  {
    if (entry >= net_.length()) return kFstDamaged;
    uint8_t e = net_.byte(entry);
    uint8_t label = e & kArcLabelMask;
    if (label == table_label) {
      if (!(e & kArcMore)) goto backtrack;
      entry += 4;
      goto table_entry;
    }
    if (arc2_ != 0 && label == (arc2_ & kArcLabelMask)) {
      if ((e & kArcMore) && !push(kResumeTableExcepted, entry, e, in_, out_)) return kFstStackOverflow;
      loc_ = loc2_;
      arc_ = arc2_;
    } else {
      if ((e & kArcMore) && !push(kResumeTableUnexcepted, entry, e, in_, out_)) return kFstStackOverflow;
      loc_ = entry;
      arc_ = e;
    }
    goto produce_symbol;
  }

backtrack:
  if (!pop(&f)) return exhausted();
  switch (f.resume) {
    case kResumeInputEpsilon:
      if (!net_.skip(loc_, &loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      goto match_output;
    case kResumeTableExcepted:
      if (arc2_ & kArcMore) {
        if (!net_.skip(loc2_, &loc2_)) return kFstDamaged;
        arc2_ = net_.byte(loc2_);
      } else {
        arc2_ = 0;
      }
      entry = loc_ + 4;
      goto table_entry;
    case kResumeTableUnexcepted:
      entry = loc_ + 4;
      goto table_entry;
    case kResumeOutputEpsilon:
    case kResumeOutputMatch:
    case kResumeOutputNonid:
      if (!net_.skip(loc_, &loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      goto dispatch_input;
    case kResumeOperand:
      if (!net_.skip(loc_, &loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      goto operand;
    case kResumeNonidEpsilon:
      if (!net_.skip(loc_, &loc_)) return kFstDamaged;
      arc_ = net_.byte(loc_);
      if ((arc_ & kArcLabelMask) >= eps_bound) goto backtrack;
      goto nonid_epsilon;
    default:
      return kFstBadResume;
  }
}

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
  Walk walk(fsm, input, coded_out, coded_size, frames, frame_count, client, client_size, style, decode_arg);
  int32_t result = walk.forward(net, partial, offsets, offsets_length);
  if (written != nullptr) *written = walk.written();
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
  Walk walk(fsm, input, coded_out, coded_size, frames, frame_count, client, client_size, style, decode_arg);
  int32_t result = walk.inverse(net);
  if (written != nullptr) *written = walk.written();
  return result;
}

}  // namespace vorlane
