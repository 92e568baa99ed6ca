#include "linguistics/fst/apply.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "linguistics/fst/coding.h"
#include "linguistics/testing/fst_test_fixtures.h"
#include "linguistics/fst/lookup.h"

namespace vorlane {
namespace {

using fst_test::FsmPtr;
using fstw::Arc;
using fstw::kPlanDiacritic;
using fstw::kPlanInstr;
using fstw::kPlanNid;
using fstw::kPlanTableLabel;
using fstw::Net;
using fstw::State;

// Nets built state by state over the small alphabet (its letters have no
// ESC bytes up to 'w').
struct Builder {
  fstw::Alphabet alphabet = fst_test::small_alphabet();
  Net net;

  int32_t state(bool final = false) {
    net.states.push_back(State{final, {}});
    return static_cast<int32_t>(net.states.size() - 1);
  }
  uint8_t sym(char c) const { return static_cast<uint8_t>(alphabet.char_code(static_cast<uint8_t>(c)) >> 8); }
  void arc(int32_t from, uint8_t label, int32_t to) { net.states[from].arcs.push_back({label, to}); }
  void table(int32_t from, std::vector<Arc> entries) {
    net.tables.push_back({entries});
    net.states[from].arcs.push_back({kPlanTableLabel, 0, static_cast<int32_t>(net.tables.size() - 1)});
  }
  // A path that outputs text without reading input, ending at `to`.
  void emit(int32_t from, const std::string& text, int32_t to) {
    int32_t s = from;
    for (size_t i = 0; i < text.size(); ++i) {
      int32_t e = state();
      arc(s, kPlanDiacritic, e);
      int32_t next = i + 1 == text.size() ? to : state();
      arc(e, sym(text[i]), next);
      s = next;
    }
  }

  bool table_offsets = false;

  FsmPtr load(fstw::FileDesc* out = nullptr) {
    fstw::FileDesc desc;
    desc.table_offsets = table_offsets;
    alphabet.apply(&desc);
    desc.nets.push_back(net);
    desc.functions = {{12, 0}, {27, 0}, {28, 0}};
    if (out) *out = desc;
    return fst_test::load(fst_test::write_image(desc));
  }
};

std::vector<uint8_t> encode(const FsmPtr& fsm, const std::string& word, bool end = false) {
  std::vector<uint8_t> coded(256);
  int32_t n = fst_encode(word.c_str(), static_cast<int32_t>(word.size()), coded.data(), 256, true, end, false,
                         fst_test::as_fsm(fsm));
  EXPECT_GE(n, 0);
  coded.resize(static_cast<size_t>(n) + 1);
  return coded;
}

struct Walked {
  int32_t rc;
  std::vector<std::string> results;
};

Walked forward(const FsmPtr& fsm, const std::string& word, int32_t style, int32_t frames = 50, bool partial = false) {
  std::vector<uint8_t> in = encode(fsm, word);
  std::vector<FstFrame> area(static_cast<size_t>(frames));
  uint8_t coded[512];
  char client[1024];
  int32_t offsets[16];
  int32_t rc = apply_fst(in.data(), coded, sizeof coded, 0, partial, area.data(), frames, client, sizeof client,
                         offsets, 16, style, 0, fst_test::as_fsm(fsm));
  Walked run{rc, {}};
  const char* p = client;
  int32_t n = (style == 0) ? 0 : (style == 4 || style == 5 || style == 6) ? (rc > 0 ? 1 : 0) : rc;
  for (int32_t i = 0; i < n; ++i, p += run.results.back().size() + 1) run.results.emplace_back(p);
  return run;
}

Walked inverse(const FsmPtr& fsm, const std::string& word, int32_t frames = 50) {
  std::vector<uint8_t> in = encode(fsm, word);
  std::vector<FstFrame> area(static_cast<size_t>(frames));
  uint8_t coded[512];
  char client[1024];
  int32_t rc = apply_fst_inverse(in.data(), coded, sizeof coded, 0, area.data(), frames, client, sizeof client, 2, 0,
                                 fst_test::as_fsm(fsm));
  Walked run{rc, {}};
  const char* p = client;
  for (int32_t i = 0; i < rc; ++i, p += run.results.back().size() + 1) run.results.emplace_back(p);
  return run;
}

TEST(FstApply, FinalStartAcceptsTheEmptyInput) {
  Builder b;
  b.state(true);
  FsmPtr fsm = b.load();
  Walked r = forward(fsm, "", 2);
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.results, std::vector<std::string>{""});
  EXPECT_EQ(inverse(fsm, "").rc, 1);
  EXPECT_EQ(forward(fsm, "a", 2).rc, 0);
}

TEST(FstApply, EqualResultsCountOnce) {
  // "a" two ways: through a pair that reads and writes nothing, and directly.
  Builder b;
  int32_t s0 = b.state(), e = b.state(), s1 = b.state(), f = b.state(true);
  b.arc(s0, kPlanDiacritic, e);
  b.arc(s0, b.sym('a'), f);
  b.arc(e, kPlanDiacritic, s1);
  b.arc(s1, b.sym('a'), f);
  FsmPtr fsm = b.load();
  for (int32_t style : {1, 2}) EXPECT_EQ(forward(fsm, "a", style).rc, 1) << style;
  Walked r = inverse(fsm, "a");
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.results, std::vector<std::string>{"a"});
  EXPECT_EQ(forward(fsm, "a", 0).rc, 1);
  EXPECT_EQ(forward(fsm, "b", 0).rc, 0);
}

TEST(FstApply, DuplicatesPastManyDistinctResultsCountOnce) {
  // Every two-letter word over 17 letters (289 of them), reached along two
  // paths that read and write nothing: each result comes twice, and the
  // second copies of the last ones follow more than 256 distinct results.
  Builder b;
  int32_t s0 = b.state(), p1 = b.state(), p2 = b.state(), q = b.state(), q2 = b.state(), m = b.state();
  int32_t e1 = b.state(), m2 = b.state(), e2 = b.state(), f = b.state(true);
  b.arc(s0, kPlanDiacritic, p1);
  b.arc(s0, kPlanDiacritic, p2);
  b.arc(p1, kPlanDiacritic, m);  // nothing:nothing
  b.arc(p2, kPlanDiacritic, q);  // nothing:nothing twice, another way
  b.arc(q, kPlanDiacritic, q2);
  b.arc(q2, kPlanDiacritic, m);
  b.arc(m, kPlanDiacritic, e1);
  b.arc(m2, kPlanDiacritic, e2);
  const std::string letters = "abcdefghijklmnopq";
  for (char c : letters) {
    b.arc(e1, b.sym(c), m2);  // nothing:c
    b.arc(e2, b.sym(c), f);
  }
  FsmPtr fsm = b.load();
  std::vector<uint8_t> in = encode(fsm, "");
  std::vector<FstFrame> frames(64);
  uint8_t coded[64];
  for (int32_t style : {1, 2}) {
    std::vector<char> client(4096);
    int32_t n = apply_fst(in.data(), coded, sizeof coded, 0, false, frames.data(), 64, client.data(),
                          static_cast<int32_t>(client.size()), nullptr, 0, style, 0, fst_test::as_fsm(fsm));
    ASSERT_EQ(n, 289) << style;
    std::set<std::string> seen;
    const char* p = client.data();
    for (int32_t i = 0; i < n; ++i, p += 3) seen.insert(std::string(p));
    EXPECT_EQ(seen.size(), 289u) << style;
  }
}

TEST(FstApply, DuplicatesWithEmbeddedEndSymbolsAreFound) {
  // Outputs "a<end>b" (twice, the second after a pair that reads and writes
  // nothing) and "a": decoded, the end symbol is a NUL inside the result.
  Builder b;
  int32_t s0 = b.state(), e0 = b.state(), s1 = b.state(), f = b.state(true);
  int32_t p1 = b.state(), p2 = b.state(), p3 = b.state(), p4 = b.state();
  b.arc(s0, kPlanDiacritic, e0);
  b.arc(e0, kPlanDiacritic, s1);  // nothing:nothing
  b.arc(s0, kPlanDiacritic, p1);
  b.arc(p1, b.sym('a'), p2);      // nothing:a
  b.arc(p2, kPlanDiacritic, p3);
  b.arc(p3, fstw::kPlanEnd, p4);  // nothing:<end>
  b.emit(p4, "b", f);
  b.arc(s1, kPlanDiacritic, p1);
  b.emit(s0, "a", f);
  std::swap(b.net.states[s0].arcs[1], b.net.states[s0].arcs[2]);
  FsmPtr fsm = b.load();
  std::vector<uint8_t> in = encode(fsm, "");
  FstFrame frames[16];
  uint8_t coded[64];
  char client[64];
  int32_t n = apply_fst(in.data(), coded, 64, 0, false, frames, 16, client, 64, nullptr, 0, 2, 0,
                        fst_test::as_fsm(fsm));
  EXPECT_EQ(n, 2);
  EXPECT_EQ(std::string(client, 6), std::string("a\0b\0a\0", 6));
}

TEST(FstApply, ShortestStyleKeepsTheFirstShortest) {
  Builder b;
  int32_t s0 = b.state(), f = b.state(true);
  b.emit(s0, "aaaaa", f);
  b.emit(s0, "bbb", f);
  b.emit(s0, "ccc", f);
  // The three paths share the start state's one diacritic arc.
  Net& n = b.net;
  std::vector<Arc> merged;
  for (const Arc& a : n.states[s0].arcs) {
    for (const Arc& out : n.states[a.target].arcs) merged.push_back(out);
  }
  n.states[n.states[s0].arcs[0].target].arcs = merged;
  n.states[s0].arcs.resize(1);
  FsmPtr fsm = b.load();
  Walked all = forward(fsm, "", 2);
  EXPECT_EQ(all.results, (std::vector<std::string>{"aaaaa", "bbb", "ccc"}));
  Walked r = forward(fsm, "", 5);
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.results, std::vector<std::string>{"bbb"});
  Walked first = forward(fsm, "", 4);
  EXPECT_EQ(first.results, std::vector<std::string>{"aaaaa"});
}

TEST(FstApply, FrameStackHoldsOneLessThanItsFrames) {
  Builder b;
  int32_t s0 = b.state(), e = b.state(), f = b.state(true);
  b.arc(s0, kPlanDiacritic, e);  // has the more bit: one alternative pending
  b.arc(s0, b.sym('a'), f);
  b.arc(e, b.sym('a'), f);
  FsmPtr fsm = b.load();
  EXPECT_EQ(forward(fsm, "a", 2, 1).rc, -13);
  EXPECT_EQ(forward(fsm, "a", 2, 2).rc, 1);
  EXPECT_EQ(inverse(fsm, "a", 1).rc, -13);
  // Inverse: the pair nothing:a gives the empty input side, a:a gives "a".
  EXPECT_EQ(inverse(fsm, "a", 2).results, (std::vector<std::string>{"", "a"}));
}

// A net that applies the operands in order and accepts the empty input.
FsmPtr flag_net(const std::vector<uint8_t>& operands, uint16_t initial = 0) {
  Builder b;
  int32_t s = b.state();
  for (size_t i = 0; i < operands.size(); ++i) {
    int32_t o = b.state();
    int32_t next = b.state(i + 1 == operands.size());
    b.arc(s, kPlanInstr, o);
    b.arc(o, operands[i], next);
    s = next;
  }
  b.net.initial_flags = initial;
  return b.load();
}

TEST(FstApply, FlagOperands) {
  using fstw::plan_operand;
  struct Case {
    const char* what;
    std::vector<uint8_t> operands;
    uint16_t initial;
    int32_t accepted;
  } cases[] = {
      {"set 2 to 1, test for 2", {plan_operand(2, 1), plan_operand(2, 2)}, 0, 0},
      {"set 2 to 1, clear, test for 2", {plan_operand(2, 1), plan_operand(2, 0), plan_operand(2, 2)}, 0, 1},
      {"set 2 to 1 twice", {plan_operand(2, 1), plan_operand(2, 1)}, 0, 1},
      {"register preset to feature 0 = 3", {plan_operand(0, 1)}, 3, 0},
      {"feature 7", {plan_operand(7, 3), plan_operand(7, 3)}, 0, 1},
      {"other features untouched", {plan_operand(1, 2), plan_operand(3, 2), plan_operand(1, 2)}, 0, 1},
  };
  for (const Case& c : cases) {
    FsmPtr fsm = flag_net(c.operands, c.initial);
    EXPECT_EQ(forward(fsm, "", 0).rc, c.accepted) << c.what;
  }
  // Features above 7 read 0 and never fail.
  uint16_t flags = 0xFFFF;
  EXPECT_TRUE(fst_apply_operand(static_cast<uint8_t>(0x40 + (9 << 4) + (1 << 2)), 0x40, &flags));
  EXPECT_EQ(flags, 0xFFFF);
  flags = 0;
  EXPECT_TRUE(fst_apply_operand(static_cast<uint8_t>(0x40 + (9 << 4) + (2 << 2)), 0x40, &flags));
  EXPECT_EQ(flags, 0);
}

TEST(FstApply, OperandAlternatives) {
  // INSTR followed by two operands: the first fails, the second is tried.
  Builder b;
  int32_t s0 = b.state(), o = b.state(), f = b.state(true);
  b.arc(s0, kPlanInstr, o);
  b.arc(o, fstw::plan_operand(1, 2), f);
  b.arc(o, fstw::plan_operand(1, 1), f);
  b.net.initial_flags = 1 << 2;  // feature 1 = 1
  FsmPtr fsm = b.load();
  EXPECT_EQ(forward(fsm, "", 0).rc, 1);
}

TEST(FstApply, PartialInputThatEndsTooSoon) {
  Builder b;
  int32_t s0 = b.state(), s1 = b.state(true), s2 = b.state(), s3 = b.state(true);
  b.arc(s0, b.sym('a'), s1);
  b.arc(s1, b.sym('b'), s2);
  b.arc(s2, b.sym('c'), s3);
  FsmPtr fsm = b.load();
  EXPECT_EQ(forward(fsm, "ab", 7, 50, true).rc, -16);
  EXPECT_EQ(forward(fsm, "ab", 6, 50, true).rc, 1);  // the first token ends the walk
  EXPECT_EQ(forward(fsm, "abc", 7, 50, true).rc, 2);
  EXPECT_EQ(forward(fsm, "ab", 2).rc, 0);
}

TEST(FstApply, StylesTheWalksDoNotTake) {
  Builder b;
  b.state(true);
  FsmPtr fsm = b.load();
  for (int32_t style : {3, 8, 9, -1}) EXPECT_EQ(forward(fsm, "", style).rc, -11) << style;
  std::vector<uint8_t> in = encode(fsm, "");
  FstFrame frames[4];
  uint8_t coded[16];
  char client[16];
  EXPECT_EQ(apply_fst_inverse(in.data(), coded, 16, 0, frames, 4, client, 16, 1, 0, fst_test::as_fsm(fsm)), -11);
  EXPECT_EQ(apply_fst(in.data(), coded, 16, 1, false, frames, 4, client, 16, nullptr, 0, 2, 0, fst_test::as_fsm(fsm)),
            -11);
}

TEST(FstApply, NonIdentityPairs) {
  // a:b with the identity a:a beside it, and c:nothing (letters up to 'w'
  // have no ESC bytes in this alphabet).
  Builder b;
  int32_t s0 = b.state(), m = b.state(), branch = b.state(), f = b.state(true);
  int32_t mc = b.state(), branch_c = b.state();
  b.arc(s0, b.sym('a'), m);
  b.arc(s0, b.sym('c'), mc);
  b.arc(m, kPlanNid, branch);
  b.arc(m, b.sym('q'), f);  // the identity continuation: a:a then q:q
  b.arc(branch, b.sym('b'), f);
  b.arc(mc, kPlanNid, branch_c);
  b.arc(branch_c, kPlanDiacritic, f);
  FsmPtr fsm = b.load();
  EXPECT_EQ(forward(fsm, "a", 2).results, std::vector<std::string>{"b"});
  EXPECT_EQ(forward(fsm, "aq", 2).results, std::vector<std::string>{"aq"});
  EXPECT_EQ(forward(fsm, "c", 2).results, std::vector<std::string>{""});
  EXPECT_EQ(inverse(fsm, "b").results, std::vector<std::string>{"a"});
  EXPECT_EQ(inverse(fsm, "aq").results, std::vector<std::string>{"aq"});
  EXPECT_EQ(inverse(fsm, "").results, std::vector<std::string>{"c"});
  EXPECT_EQ(inverse(fsm, "a").rc, 0);
}

TEST(FstApply, TablesWithExceptionChains) {
  for (bool offsets : {false, true}) {
  SCOPED_TRACE(offsets ? "offset lists" : "size bytes");
  // Input side: a table for a, b, d whose b entry is replaced by an exception.
  Builder b;
  b.table_offsets = offsets;
  int32_t s0 = b.state(), f = b.state(true), dead = b.state(), fx = b.state();
  b.table(s0, {{b.sym('a'), f}, {b.sym('b'), dead}, {b.sym('d'), f}});
  b.arc(s0, b.sym('b'), fx);
  b.emit(fx, "q", f);
  FsmPtr fsm = b.load();
  EXPECT_EQ(forward(fsm, "a", 2).results, std::vector<std::string>{"a"});
  EXPECT_EQ(forward(fsm, "b", 2).results, std::vector<std::string>{"bq"});
  EXPECT_EQ(forward(fsm, "c", 2).rc, 0);  // a filler entry
  EXPECT_EQ(forward(fsm, "d", 2).results, std::vector<std::string>{"d"});
  EXPECT_EQ(forward(fsm, "e", 2).rc, 0);  // past the table
  EXPECT_EQ(inverse(fsm, "bq").results, std::vector<std::string>{"b"});
  EXPECT_EQ(inverse(fsm, "b").rc, 0);

  // Output side: the same table enumerated.
  Builder o;
  o.table_offsets = offsets;
  int32_t t0 = o.state(), e = o.state(), g = o.state(true), nonfinal = o.state(), gx = o.state();
  o.arc(t0, kPlanDiacritic, e);
  o.table(e, {{o.sym('a'), g}, {o.sym('b'), nonfinal}, {o.sym('d'), g}});
  o.arc(e, o.sym('b'), gx);
  o.emit(gx, "q", g);
  FsmPtr out = o.load();
  Walked r = forward(out, "", 2);
  EXPECT_EQ(std::set<std::string>(r.results.begin(), r.results.end()), (std::set<std::string>{"a", "bq", "d"}));
  EXPECT_EQ(r.rc, 3);
  }
}

TEST(FstApply, DamagedNetsEndWithACode) {
  // An epsilon loop: the start state's diacritic pair leads back to it.
  Builder loop;
  int32_t s0 = loop.state(), e = loop.state();
  loop.arc(s0, kPlanDiacritic, e);
  loop.arc(e, kPlanDiacritic, s0);
  FsmPtr fsm = loop.load();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(forward(fsm, "abc", 2).rc, -2);
  EXPECT_EQ(inverse(fsm, "abc").rc, -2);
  char out[64];
  EXPECT_EQ(fst_lookup("abc", kFstWholeWord, out, sizeof out, 3, fsm.get(), nullptr, 0), -2);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  // A loop that leaves an alternative pending at every turn: the frame stack
  // overflows, the lookup grows its area up to its ceiling or the walk runs
  // out of steps; either way it ends with a code.
  Builder pending;
  int32_t p0 = pending.state(), pe = pending.state(), pdead = pending.state();
  pending.arc(p0, kPlanDiacritic, pe);
  pending.arc(p0, kPlanDiacritic, pdead);
  pending.arc(pe, kPlanDiacritic, p0);
  FsmPtr growing = pending.load();
  start = std::chrono::steady_clock::now();
  int32_t rc = fst_lookup("abc", kFstWholeWord, out, sizeof out, 3, growing.get(), nullptr, 0);
  EXPECT_TRUE(rc == -2 || rc == -13) << rc;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  // Pointers out of the area and to pointers.
  fstw::Alphabet a = fst_test::small_alphabet();
  fstw::FileDesc desc = fst_test::small_file_desc(a);
  desc.short_slots = 0;
  desc.medium_slots = 0;
  std::vector<uint8_t> image = fst_test::write_image(desc);
  uint32_t trans = be16(image.data() + kHdrTransStart);
  // Every long pointer in the area (the writer's plan: 0x30..0x7F, 3 bytes).
  std::vector<size_t> pointers;
  for (size_t i = trans + 1; i < image.size(); ++i) {
    uint8_t byte = image[i];
    if (byte >= 0x30 && byte < 0x80) {
      pointers.push_back(i);
      i += 2;
    }
  }
  ASSERT_FALSE(pointers.empty());
  for (size_t p : pointers) {
    for (int variant = 0; variant < 2; ++variant) {
      std::vector<uint8_t> bad = image;
      if (variant == 0) {
        bad[p] = 0x7F, bad[p + 1] = 0xFF, bad[p + 2] = 0xFF;  // beyond the area
      } else {
        uint32_t self = static_cast<uint32_t>(p - trans);  // a pointer to itself
        bad[p] = static_cast<uint8_t>(0x30 + (self >> 16)), bad[p + 1] = static_cast<uint8_t>(self >> 8),
        bad[p + 2] = static_cast<uint8_t>(self);
      }
      FsmPtr damaged = fst_test::load(bad);
      for (const char* w : {"cat", "cats", "dog", "dogs", "zed"}) {
        int32_t rc = fst_lookup(w, kFstWholeWord, out, sizeof out, 3, damaged.get(), nullptr, 0);
        EXPECT_TRUE(rc == -2 || rc >= 0) << w << " " << rc;
        rc = fst_lookup(w, kFstWholeWord, out, sizeof out, 9, damaged.get(), nullptr, 0);
        EXPECT_TRUE(rc == -2 || rc >= 0) << w << " " << rc;
      }
      EXPECT_EQ(fst_lookup("dogs", kFstWholeWord, out, sizeof out, 3, damaged.get(), nullptr, 0) == -2 ||
                    fst_lookup("cats", kFstWholeWord, out, sizeof out, 3, damaged.get(), nullptr, 0) == -2 ||
                    fst_lookup("zed", kFstWholeWord, out, sizeof out, 3, damaged.get(), nullptr, 0) == -2 ||
                    fst_lookup("cat", kFstWholeWord, out, sizeof out, 3, damaged.get(), nullptr, 0) == -2,
                true);
    }
  }
}

TEST(FstApply, OutputBuffersThatAreTooSmall) {
  Builder b;
  int32_t s0 = b.state(), f = b.state(true);
  b.emit(s0, "abcdefgh", f);
  FsmPtr fsm = b.load();
  std::vector<uint8_t> in = encode(fsm, "");
  FstFrame frames[8];
  uint8_t coded[16];
  char client[16];
  const FSM* f2 = fst_test::as_fsm(fsm);
  EXPECT_EQ(apply_fst(in.data(), coded, 8, 0, false, frames, 8, client, 16, nullptr, 0, 2, 0, f2), -26);
  EXPECT_EQ(apply_fst(in.data(), coded, 9, 0, false, frames, 8, client, 16, nullptr, 0, 2, 0, f2), 1);
  EXPECT_EQ(apply_fst(in.data(), coded, 9, 0, false, frames, 8, client, 8, nullptr, 0, 2, 0, f2), -12);
  EXPECT_EQ(apply_fst(in.data(), coded, 9, 0, false, frames, 8, client, 9, nullptr, 0, 2, 0, f2), 1);
  EXPECT_EQ(apply_fst(in.data(), coded, 9, 0, false, frames, 8, client, 8, nullptr, 0, 1, 0, f2), -12);
}

}  // namespace
}  // namespace vorlane
