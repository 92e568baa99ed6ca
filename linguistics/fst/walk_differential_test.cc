// The forward, inverse and class enumeration walks against a plain recursive
// walker written here from the net encoding: on the transducers of the
// English resource set over real words, and on random nets that use every
// kind of arc (diacritics, flag operands, non-identity pairs, tables with
// exceptions). The recursive walker records every accepted path's coded
// output in order, and the deepest count of pending alternatives; from them
// the test derives what each result style must write, and the frame count
// at which the walk must start to report a full frame stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "linguistics/fst/apply.h"
#include "linguistics/fst/coding.h"
#include "linguistics/fst/enumerate.h"
#include "linguistics/testing/fst_test_fixtures.h"
#include "linguistics/fst/net_reader.h"

namespace vorlane {
namespace {

using fst_test::FsmPtr;

// One accepted path: the coded output and the input position.
struct Accepted {
  std::string coded;
  int32_t in;
};

enum class Direction { kForward, kInverse, kEnumerate };

// Scratch buffers of 64 KiB, made once.
std::vector<uint8_t>& buffer(int k) {
  static std::vector<uint8_t> buffers[3] = {std::vector<uint8_t>(1 << 16), std::vector<uint8_t>(1 << 16),
                                            std::vector<uint8_t>(1 << 16)};
  return buffers[k];
}

class RecursiveWalk {
 public:
  RecursiveWalk(const FSM* fsm, int32_t net, const uint8_t* input, Direction direction, bool partial)
      : fsm_(fsm),
        reader_(fsm),
        net_(fsm->nets[net]),
        input_(input),
        direction_(direction),
        partial_(partial) {}

  void run() {
    uint32_t loc = net_.start;
    if (!follow(&loc)) return;
    uint16_t flags = net_.initial_flags;
    if (direction_ != Direction::kEnumerate) accept(at(loc), 0, 0);
    next_state(loc, 0, 0, flags);
  }

  std::vector<Accepted> accepted;
  std::vector<uint16_t> classes;
  // What ended the walk early: -16 (the input ended where a symbol was
  // needed) or -2 (a location outside the net); 0 when it ran to its end.
  int32_t abort_code = 0;
  int32_t peak = 0;  // most alternatives pending at once

 private:
  uint8_t at(uint32_t loc) const { return reader_.byte(loc); }
  static bool more(uint8_t b) { return (b & kArcMore) != 0; }
  static bool final(uint8_t b) { return (b & kArcFinal) != 0; }
  static uint8_t label(uint8_t b) { return b & kArcLabelMask; }
  bool diacritic(uint8_t b) const { return label(b) < net_.epsilon_bound; }
  bool stopped() const { return abort_code != 0; }
  void damage() {
    if (abort_code == 0) abort_code = kFstDamaged;
  }

  bool follow(uint32_t* loc) {
    if (!reader_.follow(loc)) damage();
    return !stopped();
  }
  // The arc of the state after the arc at loc; false when it has none.
  bool after(uint32_t loc, uint32_t* next) {
    *next = loc + 1;
    return follow(next) && at(*next) != 0;
  }
  uint32_t skip(uint32_t loc) {
    uint32_t next = 0;
    if (!reader_.skip(loc, &next)) damage();
    return next;
  }

  // Explores one alternative while a further one stays pending (has_more).
  template <class F>
  void alternative(bool has_more, F&& explore) {
    if (has_more) peak = std::max(peak, ++pending_);
    explore();
    if (has_more) --pending_;
  }

  void record(int32_t out, int32_t in) {
    accepted.push_back({std::string(reinterpret_cast<const char*>(out_.data()), static_cast<size_t>(out)), in});
  }
  void accept(uint8_t b, int32_t in, int32_t out) {
    if (final(b) && (partial_ || input_[in] == 0)) record(out, in);
  }

  static bool operand(uint8_t b, uint8_t alphabase, uint16_t* flags) {
    int v = static_cast<uint8_t>(b - alphabase);
    int feature = v >> 4, setting = (v >> 2) & 3;
    if (feature > 7) return true;
    int current = (*flags >> (2 * feature)) & 3;
    if (setting == 0) {
      *flags = static_cast<uint16_t>(*flags & ~(3 << (2 * feature)));
    } else if (current == 0) {
      *flags = static_cast<uint16_t>(*flags | (setting << (2 * feature)));
    } else if (current != setting) {
      return false;
    }
    return true;
  }

  // The arc labelled c among the state's arcs from loc, or a table's entry.
  bool lookup(uint32_t loc, uint8_t c, uint32_t* found) {
    int table = -1;
    for (;;) {
      uint8_t b = at(loc);
      if (label(b) == fsm_->table_label) {
        if (!more(b)) return table_entry(loc, c, found);
        table = static_cast<int>(loc);
      } else if (label(b) == c) {
        *found = loc;
        return true;
      } else if (label(b) > c) {
        break;
      }
      if (!more(b)) break;
      loc = skip(loc);
      if (stopped()) return false;
    }
    return table >= 0 && table_entry(static_cast<uint32_t>(table), c, found);
  }
  bool table_entry(uint32_t loc, uint8_t c, uint32_t* found) {
    int r = reader_.table_lookup(loc, c, found);
    if (r < 0) damage();
    return r == 1;
  }

  // Every entry of the table at t (exceptions in place of the entries with
  // their labels), each handed to take.
  template <class F>
  void table_entries(uint32_t t, F&& take) {
    uint32_t exception = 0;
    uint8_t exception_arc = 0;
    if (more(at(t))) {
      exception = skip(t);
      exception_arc = at(exception);
    }
    uint32_t entry = t + 1;
    if (!follow(&entry)) return;
    while (!stopped()) {
      if (entry >= reader_.length()) return damage();
      uint8_t e = at(entry);
      if (label(e) != fsm_->table_label) {
        bool excepted = exception_arc != 0 && label(e) == label(exception_arc);
        alternative(more(e), [&] { take(excepted ? exception : entry); });
        if (excepted) {
          if (more(exception_arc)) {
            exception = skip(exception);
            exception_arc = at(exception);
          } else {
            exception_arc = 0;
          }
        }
      }
      if (!more(e)) return;
      entry += 4;
    }
  }

  void next_state(uint32_t loc, int32_t in, int32_t out, uint16_t flags) {
    uint32_t next;
    if (stopped() || !after(loc, &next)) return;
    switch (direction_) {
      case Direction::kForward: return forward(next, in, out, flags);
      case Direction::kInverse: return inverse(next, in, out, flags);
      case Direction::kEnumerate: return enumerate(next, in, flags);
    }
  }

  // The flag operands from loc: each that succeeds goes on to its state.
  void operands(uint32_t loc, int32_t in, int32_t out, uint16_t flags) {
    while (!stopped()) {
      uint8_t b = at(loc);
      uint16_t changed = flags;
      if (operand(b, fsm_->alphabase, &changed)) {
        alternative(more(b), [&] {
          if (direction_ != Direction::kEnumerate) accept(b, in, out);
          next_state(loc, in, out, changed);
        });
      }
      if (!more(b)) return;
      loc = skip(loc);
    }
  }

  // Forward: input-side arcs of a state from loc.
  void forward(uint32_t loc, int32_t in, int32_t out, uint16_t flags) {
    while (!stopped()) {
      uint8_t b = at(loc);
      if (!diacritic(b)) break;
      alternative(more(b), [&] {
        uint32_t next;
        if (!after(loc, &next)) return;
        if (label(b) == net_.instr_label) {
          operands(next, in, out, flags);
        } else {
          output_side(next, in, out, flags);
        }
      });
      if (!more(b)) return;
      loc = skip(loc);
    }
    if (stopped()) return;
    uint8_t c = input_[in];
    if (c == 0) {
      if (partial_) abort_code = kFstIncompleteInput;
      return;
    }
    uint32_t found;
    if (!lookup(loc, c, &found)) return;
    out_[out] = c;
    accept(at(found), in + 1, out + 1);
    uint32_t next;
    if (stopped() || !after(found, &next)) return;
    uint8_t nb = at(next);
    if (label(nb) != fsm_->nid_label) return forward(next, in + 1, out + 1, flags);
    if (more(nb)) alternative(true, [&] { forward(skip(next), in + 1, out + 1, flags); });
    uint32_t pair;
    if (!stopped() && after(next, &pair)) output_side(pair, in + 1, out, flags);
  }

  // Forward: output-side arcs from loc.
  void output_side(uint32_t loc, int32_t in, int32_t out, uint16_t flags) {
    while (!stopped()) {
      uint8_t b = at(loc);
      if (label(b) == fsm_->table_label) {
        return table_entries(loc, [&](uint32_t taken) {
          out_[out] = label(at(taken));
          accept(at(taken), in, out + 1);
          next_state(taken, in, out + 1, flags);
        });
      }
      alternative(more(b), [&] {
        int32_t o = out;
        if (!diacritic(b)) out_[o++] = label(b);
        accept(b, in, o);
        next_state(loc, in, o, flags);
      });
      if (!more(b)) return;
      loc = skip(loc);
    }
  }

  // Inverse: input-side arcs of a state from loc, each produced.
  void inverse(uint32_t loc, int32_t in, int32_t out, uint16_t flags) {
    while (!stopped()) {
      uint8_t b = at(loc);
      if (label(b) == fsm_->table_label) {
        return table_entries(loc, [&](uint32_t taken) { produce(taken, in, out, flags); });
      }
      alternative(more(b), [&] {
        if (!diacritic(b)) return produce(loc, in, out, flags);
        uint32_t next;
        if (!after(loc, &next)) return;
        if (label(b) == net_.instr_label) {
          operands(next, in, out, flags);
        } else {
          match_output(next, in, out, flags);
        }
      });
      if (!more(b)) return;
      loc = skip(loc);
    }
  }

  // Inverse: the symbol of the arc at loc is produced and its output side
  // compared with the input.
  void produce(uint32_t loc, int32_t in, int32_t out, uint16_t flags) {
    uint8_t b = at(loc);
    uint8_t x = label(b);
    bool m = x == input_[in];
    out_[out] = x;
    if (m && final(b) && input_[in + 1] == 0) record(out + 1, in + 1);
    uint32_t next;
    if (stopped() || !after(loc, &next)) return;
    uint8_t nb = at(next);
    bool nid = label(nb) == fsm_->nid_label;
    if (!m) {
      uint32_t pair;
      if (nid && after(next, &pair)) match_output(pair, in, out + 1, flags);
      return;
    }
    if (!nid) return inverse(next, in + 1, out + 1, flags);
    alternative(more(nb), [&] {
      uint32_t pair;
      if (after(next, &pair) && diacritic(at(pair))) outputs_nothing(pair, in, out + 1, flags);
    });
    if (more(nb) && !stopped()) inverse(skip(next), in + 1, out + 1, flags);
  }

  // Inverse: the pairs of a NID branch that output nothing, from loc.
  void outputs_nothing(uint32_t loc, int32_t in, int32_t out, uint16_t flags) {
    while (!stopped()) {
      uint8_t b = at(loc);
      alternative(more(b), [&] {
        accept(b, in, out);
        next_state(loc, in, out, flags);
      });
      if (!more(b)) return;
      loc = skip(loc);
      if (stopped() || !diacritic(at(loc))) return;
    }
  }

  // Inverse: an output-side label at loc matched against the input.
  void match_output(uint32_t loc, int32_t in, int32_t out, uint16_t flags) {
    while (!stopped()) {
      uint8_t b = at(loc);
      if (!diacritic(b)) break;
      alternative(more(b), [&] {
        accept(b, in, out);
        next_state(loc, in, out, flags);
      });
      if (!more(b)) return;
      loc = skip(loc);
    }
    uint8_t c = input_[in];
    uint32_t found;
    if (stopped() || c == 0 || !lookup(loc, c, &found)) return;
    accept(at(found), in + 1, out);
    next_state(found, in + 1, out, flags);
  }

  // Enumeration: the word's arcs up to TAGSEP, then the classes after it.
  void enumerate(uint32_t loc, int32_t in, uint16_t flags) {
    while (!stopped()) {
      uint8_t b = at(loc);
      if (!diacritic(b)) break;
      alternative(more(b), [&] {
        uint32_t next;
        if (label(b) != net_.instr_label) {
          next_state(loc, in, 0, flags);
        } else if (after(loc, &next)) {
          operands(next, in, 0, flags);
        }
      });
      if (!more(b)) return;
      loc = skip(loc);
    }
    if (stopped()) return;
    uint8_t c = input_[in];
    if (c == 0) {
      abort_code = kFstIncompleteInput;
      return;
    }
    uint32_t found;
    if (!lookup(loc, c, &found)) return;
    if (c != fsm_->tagsep) return next_state(found, in + 1, 0, flags);
    uint32_t first;
    if (!after(found, &first)) return;
    if (label(at(first)) != fsm_->table_label) {
      for (uint32_t arc = first; !stopped(); arc = skip(arc)) {
        chain(arc);
        if (!more(at(arc))) return;
      }
      return;
    }
    uint32_t exception = 0;
    uint8_t exception_arc = 0;
    if (more(at(first))) {
      exception = skip(first);
      exception_arc = at(exception);
    }
    uint32_t entry = first + 1;
    if (!follow(&entry)) return;
    while (!stopped()) {
      if (entry >= reader_.length()) return damage();
      uint8_t e = at(entry);
      bool excepted = exception_arc != 0 && label(e) == label(exception_arc);
      chain(excepted ? exception : entry);
      if (!more(e)) return;
      entry += 4;
      if (excepted) {
        if (more(exception_arc)) {
          exception = skip(exception);
          exception_arc = at(exception);
        } else {
          exception_arc = 0;
        }
      }
    }
  }

  void chain(uint32_t loc) {
    for (uint32_t number = at(loc) >> 2;; number += 64) {
      if (final(at(loc))) classes.push_back(static_cast<uint16_t>(number));
      if (!after(loc, &loc)) return;
    }
  }

  const FSM* fsm_;
  NetReader reader_;
  const FstNet& net_;
  const uint8_t* input_;
  Direction direction_;
  bool partial_;
  std::vector<uint8_t>& out_ = buffer(0);
  int32_t pending_ = 0;
};

// The client buffer a collecting style must leave: each distinct string once,
// in the order first met, with its NUL.
std::string distinct_joined(const std::vector<std::string>& results, int32_t* count) {
  std::vector<std::string> kept;
  for (const std::string& r : results)
    if (std::find(kept.begin(), kept.end(), r) == kept.end()) kept.push_back(r);
  std::string joined;
  for (const std::string& r : kept) joined += r + '\0';
  *count = static_cast<int32_t>(kept.size());
  return joined;
}

std::string decoded(const FSM* fsm, const std::string& coded, bool stop_at_end) {
  char text[8192];
  int32_t n = fst_decode(reinterpret_cast<const uint8_t*>(coded.c_str()), text, sizeof text, 0, stop_at_end, fsm);
  EXPECT_GE(n, 0);
  return std::string(text, static_cast<size_t>(std::max(n, 0)));
}

// Walks compared, by how they ended, and accepted paths (or classes) seen.
struct Tally {
  int64_t whole = 0, incomplete = 0, damaged = 0, results = 0;
  void count(int32_t abort_code) {
    (abort_code == 0 ? whole : abort_code == kFstDamaged ? damaged : incomplete) += 1;
  }
};

struct Run {
  int32_t rc;
  std::string client;  // the bytes the walk reports written
};

Run forward(const FSM* fsm, int32_t net, const std::vector<uint8_t>& in, bool partial, int32_t style, int32_t frames) {
  std::vector<FstFrame> area(static_cast<size_t>(frames));
  std::vector<uint8_t>& coded = buffer(1);
  char* client = reinterpret_cast<char*>(buffer(2).data());
  int32_t offsets[64];
  int32_t written = 0;
  int32_t rc = apply_fst(in.data(), coded.data(), static_cast<int32_t>(coded.size()), net, partial, area.data(), frames,
                         client, 1 << 16, offsets, 64, style, 0, fsm, &written);
  return {rc, std::string(client, static_cast<size_t>(written))};
}

Run inverse(const FSM* fsm, int32_t net, const std::vector<uint8_t>& in, int32_t frames) {
  std::vector<FstFrame> area(static_cast<size_t>(frames));
  std::vector<uint8_t>& coded = buffer(1);
  char* client = reinterpret_cast<char*>(buffer(2).data());
  int32_t written = 0;
  int32_t rc = apply_fst_inverse(in.data(), coded.data(), static_cast<int32_t>(coded.size()), net, area.data(), frames,
                                 client, 1 << 16, 2, 0, fsm, &written);
  return {rc, std::string(client, static_cast<size_t>(written))};
}

// Compares every style of the forward walk (with and without the partial
// flag) and the inverse walk on one coded input; returns the accepted paths
// of the plain forward walk. A walk the recursive walker saw end early (the
// input's end with the partial flag, or a damaged net) must end with the
// same code, keeping the results found before it; the styles that stop at
// their first result are compared on walks that run to their end.
std::vector<Accepted> compare_walks(const FSM* fsm, int32_t net, const std::vector<uint8_t>& in,
                                    const std::string& what, Tally* tally) {
  SCOPED_TRACE(what);
  RecursiveWalk ref(fsm, net, in.data(), Direction::kForward, false);
  ref.run();
  tally->count(ref.abort_code);
  int32_t frames = ref.peak + 1;

  std::vector<std::string> raw, text;
  for (const Accepted& a : ref.accepted) {
    raw.push_back(a.coded.c_str());  // style 1 copies the coded output up to a NUL
    text.push_back(decoded(fsm, a.coded, false));
  }
  int32_t count = 0;
  std::string joined = distinct_joined(raw, &count);
  Run r = forward(fsm, net, in, false, 1, frames);
  EXPECT_EQ(r.rc, ref.abort_code != 0 ? ref.abort_code : count);
  EXPECT_EQ(r.client.substr(0, joined.size()), joined);

  joined = distinct_joined(text, &count);
  r = forward(fsm, net, in, false, 2, frames);
  EXPECT_EQ(r.rc, ref.abort_code != 0 ? ref.abort_code : count);
  EXPECT_EQ(r.client.substr(0, joined.size()), joined);

  if (ref.abort_code == 0) {
    if (ref.peak > 0) {
      EXPECT_EQ(forward(fsm, net, in, false, 1, ref.peak).rc, kFstStackOverflow);
    }
    EXPECT_EQ(forward(fsm, net, in, false, 0, frames).rc, ref.accepted.empty() ? 0 : 1);
    r = forward(fsm, net, in, false, 4, frames);
    EXPECT_EQ(r.rc, ref.accepted.empty() ? 0 : 1);
    if (!ref.accepted.empty()) {
      EXPECT_EQ(r.client, text[0] + '\0');
    }
    size_t shortest = 0;
    auto length = [&](size_t k) {
      return fst_decoded_length(reinterpret_cast<const uint8_t*>(ref.accepted[k].coded.c_str()), fsm);
    };
    for (size_t i = 1; i < ref.accepted.size(); ++i) {
      if (length(i) < length(shortest)) shortest = i;
    }
    r = forward(fsm, net, in, false, 5, frames);
    EXPECT_EQ(r.rc, ref.accepted.empty() ? 0 : 1);
    if (!ref.accepted.empty()) {
      EXPECT_EQ(r.client.substr(0, text[shortest].size() + 1), text[shortest] + '\0');
    }
  }

  RecursiveWalk part(fsm, net, in.data(), Direction::kForward, true);
  part.run();
  tally->count(part.abort_code);
  raw.clear();
  for (const Accepted& a : part.accepted) raw.push_back(a.coded.c_str());
  joined = distinct_joined(raw, &count);
  r = forward(fsm, net, in, true, 1, part.peak + 1);
  EXPECT_EQ(r.rc, part.abort_code != 0 ? part.abort_code : count);
  EXPECT_EQ(r.client.substr(0, joined.size()), joined);

  RecursiveWalk inv(fsm, net, in.data(), Direction::kInverse, false);
  inv.run();
  tally->count(inv.abort_code);
  text.clear();
  for (const Accepted& a : inv.accepted) text.push_back(decoded(fsm, a.coded, true));
  joined = distinct_joined(text, &count);
  r = inverse(fsm, net, in, inv.peak + 1);
  EXPECT_EQ(r.rc, inv.abort_code != 0 ? inv.abort_code : count);
  EXPECT_EQ(r.client.substr(0, joined.size()), joined);
  if (inv.abort_code == 0 && inv.peak > 0) {
    EXPECT_EQ(inverse(fsm, net, in, inv.peak).rc, kFstStackOverflow);
  }
  tally->results += static_cast<int64_t>(ref.accepted.size() + inv.accepted.size());
  return ref.accepted;
}

void compare_enumeration(const FSM* fsm, int32_t net, const std::vector<uint8_t>& in, const std::string& what,
                         Tally* tally) {
  SCOPED_TRACE(what);
  RecursiveWalk ref(fsm, net, in.data(), Direction::kEnumerate, false);
  ref.run();
  tally->count(ref.abort_code);
  std::vector<uint16_t> out(4096);
  std::vector<FstFrame> frames(static_cast<size_t>(ref.peak) + 1);
  int32_t rc = apply_fst_enum(in.data(), out.data(), static_cast<int32_t>(out.size()), net, frames.data(),
                              ref.peak + 1, fsm);
  if (ref.abort_code != 0) {
    EXPECT_EQ(rc, ref.abort_code);
    return;
  }
  tally->results += static_cast<int64_t>(ref.classes.size());
  ASSERT_EQ(rc, static_cast<int32_t>(ref.classes.size()));
  EXPECT_TRUE(std::equal(ref.classes.begin(), ref.classes.end(), out.begin()));
  if (ref.peak > 0) {
    EXPECT_EQ(apply_fst_enum(in.data(), out.data(), 4096, net, frames.data(), ref.peak, fsm), kFstStackOverflow);
  }
}

std::vector<uint8_t> encode(const FSM* fsm, const std::string& word, bool end, bool tagsep) {
  std::vector<uint8_t> coded(1024);
  int32_t n = fst_encode(word.c_str(), static_cast<int32_t>(word.size()), coded.data(), 1024, false, end, tagsep, fsm);
  if (n < 0) return {};
  coded.resize(static_cast<size_t>(n) + 1);
  return coded;
}

// Every 80th word of the system word list (about 1,300 words), as Latin-1.
std::vector<std::string> dictionary_words() {
  std::ifstream in("/usr/share/dict/american-english");
  std::vector<std::string> words;
  std::string line;
  for (size_t k = 0; std::getline(in, line); ++k) {
    if (k % 80 != 0) continue;
    std::string latin1;
    bool ok = true;
    for (size_t i = 0; i < line.size() && ok; ++i) {
      auto c = static_cast<unsigned char>(line[i]);
      if (c < 0x80) {
        latin1 += static_cast<char>(c);
      } else if ((c == 0xC2 || c == 0xC3) && i + 1 < line.size()) {
        latin1 += static_cast<char>(((c & 3) << 6) | (static_cast<unsigned char>(line[++i]) & 0x3F));
      } else {
        ok = false;
      }
    }
    if (ok) words.push_back(latin1);
  }
  return words;
}

struct FileCloser {
  void operator()(void* fsm) const { fst_close(fsm); }
};

TEST(FstWalkDifferential, EnglishResourceSetOverRealWords) {
  const std::string dir = VORLANE_ENGLISH_DIR;
  std::vector<std::string> words = dictionary_words();
  if (!std::filesystem::exists(dir + "/english.is") || words.empty()) GTEST_SKIP() << "no English set or word list";
  Tally tally;
  for (const char* ending : {".is", ".tok", ".clg"}) {
    std::unique_ptr<void, FileCloser> file(fst_open((dir + "/english" + ending).c_str()));
    const FSM* fsm = nullptr;
    ASSERT_EQ(fst_check(file.get(), &fsm), 0) << ending;
    std::set<uint8_t> walked;
    for (int32_t function : {12, 23, 27, 28}) {
      uint8_t net = fst_function(function, fsm);
      if (net == 255 || !walked.insert(net).second) continue;
      for (const std::string& w : words) {
        std::vector<uint8_t> in = encode(fsm, w, true, false);
        if (in.empty()) continue;
        std::vector<Accepted> found = compare_walks(fsm, net, in, std::string(ending) + " " + w, &tally);
        // The inverse walk from what the forward walk found (stems, analyses).
        for (const Accepted& a : found) {
          std::string text = decoded(fsm, a.coded, true);
          std::vector<uint8_t> back = encode(fsm, text, false, false);
          if (!back.empty()) compare_walks(fsm, net, back, std::string(ending) + " from " + w + " " + text, &tally);
        }
        std::vector<uint8_t> plain = encode(fsm, w, false, false);
        if (!plain.empty()) compare_walks(fsm, net, plain, std::string(ending) + " plain " + w, &tally);
        if (::testing::Test::HasFailure()) return;
      }
    }
    for (int32_t function : {60, 61}) {
      uint8_t net = fst_function(function, fsm);
      if (net == 255 || !walked.insert(net).second) continue;
      for (const std::string& w : words) {
        std::vector<uint8_t> in = encode(fsm, w, false, true);
        if (in.empty()) continue;
        compare_enumeration(fsm, net, in, std::string(ending) + " classes " + w, &tally);
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  std::printf("English set: %lld whole, %lld incomplete walks, %lld results\n", static_cast<long long>(tally.whole),
              static_cast<long long>(tally.incomplete), static_cast<long long>(tally.results));
  EXPECT_EQ(tally.damaged, 0);
  EXPECT_GT(tally.whole, 10000);
  EXPECT_GT(tally.results, 5000);
}

// Random acyclic nets over a few letters: each state has up to four arcs,
// drawn from diacritics, INSTR with flag operands, NID, tables (whose
// following arcs are then exceptions), TAGSEP and symbols.
fstw::Net random_net(std::mt19937& rng, const fstw::Alphabet& alphabet) {
  auto sym = [&](char c) { return static_cast<uint8_t>(alphabet.char_code(static_cast<uint8_t>(c)) >> 8); };
  const int n = 14;
  fstw::Net net;
  net.states.resize(n);
  net.initial_flags = static_cast<uint16_t>(rng() % 4);
  auto later = [&](int s) { return s + 1 + static_cast<int>(rng() % static_cast<unsigned>(n - s - 1)); };
  for (int s = 0; s + 1 < n; ++s) {
    fstw::State& st = net.states[s];
    st.final = rng() % 3 == 0;
    if (s + 1 == n - 1 || rng() % 7 == 0) continue;
    if (rng() % 6 == 0) {  // a state of flag operands
      for (int k = 0, m = 1 + static_cast<int>(rng() % 3); k < m; ++k)
        st.arcs.push_back({fstw::plan_operand(static_cast<int>(rng() % 3), static_cast<int>(rng() % 4)), later(s)});
    } else {
      std::vector<uint8_t> labels = {fstw::kPlanDiacritic, fstw::kPlanInstr, fstw::kPlanNid, fstw::kPlanTableLabel,
                                     fstw::kPlanTagsep,    sym('a'),          sym('b'),        sym('c'),
                                     sym('d')};
      std::shuffle(labels.begin(), labels.end(), rng);
      labels.resize(1 + rng() % 4);
      std::sort(labels.begin(), labels.end());
      for (uint8_t l : labels) {
        if (l == fstw::kPlanTableLabel) {
          fstw::Table t;
          for (char c : std::string("abcd"))
            if (rng() % 2 == 0) t.entries.push_back({sym(c), later(s)});
          if (t.entries.empty()) t.entries.push_back({sym('b'), later(s)});
          net.tables.push_back(t);
          st.arcs.push_back({l, 0, static_cast<int32_t>(net.tables.size() - 1)});
        } else {
          st.arcs.push_back({l, later(s)});
        }
      }
    }
  }
  net.states[n - 1].final = true;
  return net;
}

TEST(FstWalkDifferential, RandomNetsWithEveryKindOfArc) {
  std::mt19937 rng(20261211);
  fstw::Alphabet alphabet = fst_test::small_alphabet();
  std::vector<std::string> inputs = {""};
  for (int len = 1; len <= 3; ++len) {
    std::vector<std::string> grown;
    for (const std::string& s : inputs)
      if (static_cast<int>(s.size()) == len - 1)
        for (char c : std::string("abcd")) grown.push_back(s + c);
    inputs.insert(inputs.end(), grown.begin(), grown.end());
  }
  Tally tally;
  for (int k = 0; k < 500; ++k) {
    fstw::FileDesc desc;
    desc.table_offsets = k % 2 == 1;
    desc.out_of_line = k % 3 == 1;
    alphabet.apply(&desc);
    desc.nets.push_back(random_net(rng, alphabet));
    desc.functions = {{12, 0}};
    FsmPtr fsm = fst_test::load(fst_test::write_image(desc));
    ASSERT_TRUE(fsm) << k;
    const FSM* f = fst_test::as_fsm(fsm);
    for (const std::string& w : inputs) {
      std::string what = "net " + std::to_string(k) + " input '" + w + "'";
      compare_walks(f, 0, encode(f, w, false, false), what, &tally);
      compare_enumeration(f, 0, encode(f, w, false, true), what, &tally);
      if (::testing::Test::HasFailure()) return;
    }
  }
  // Most walks run to their end and find something; a few read arcs of
  // flag operands as other labels and meet damage, as the walks must report.
  std::printf("random nets: %lld whole, %lld incomplete, %lld damaged walks, %lld results\n",
              static_cast<long long>(tally.whole), static_cast<long long>(tally.incomplete),
              static_cast<long long>(tally.damaged), static_cast<long long>(tally.results));
  EXPECT_GT(tally.whole, 4 * tally.damaged);
  EXPECT_GT(tally.results, 2500);
}

}  // namespace
}  // namespace vorlane
