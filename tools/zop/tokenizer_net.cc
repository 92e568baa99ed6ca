#include "tools/zop/tokenizer_net.h"

#include <algorithm>
#include <vector>

#include "linguistics/zop/latin1_classes.h"
#include "tools/fst/fst_alphabet.h"

namespace vorlane::zopw {

using fstw::Arc;

namespace {

constexpr uint8_t kCodingFlags = 0;

struct Builder {
  const fstw::Alphabet* alphabet;
  fstw::Net net;
  int32_t state(bool final = false) {
    net.states.push_back(fstw::State{final, {}});
    return static_cast<int32_t>(net.states.size()) - 1;
  }
  void arc(int32_t from, uint8_t label, int32_t to) {
    net.states[static_cast<size_t>(from)].arcs.push_back(Arc{label, to, -1});
  }
  // from --bytes of ch--> to, sharing the ESC prefixes of from's arcs.
  void chr(int32_t from, uint8_t ch, int32_t to) {
    std::vector<uint8_t> bytes = alphabet->symbol_bytes(alphabet->char_code(ch), kCodingFlags);
    int32_t s = from;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
      int32_t next = -1;
      for (const Arc& a : net.states[static_cast<size_t>(s)].arcs) {
        if (a.label == bytes[i]) next = a.target;
      }
      if (next < 0) {
        next = state();
        arc(s, bytes[i], next);
      }
      s = next;
    }
    arc(s, bytes.back(), to);
  }
  // from writes a blank without input, then goes to to.
  void blank(int32_t from, int32_t to) {
    std::vector<uint8_t> bytes = alphabet->symbol_bytes(alphabet->char_code(' '), kCodingFlags);
    int32_t s = from;
    for (size_t i = 0; i < bytes.size(); ++i) {
      int32_t after = state();
      arc(s, fstw::kPlanDiacritic, after);
      int32_t next = i + 1 == bytes.size() ? to : state();
      arc(after, bytes[i], next);
      s = next;
    }
  }
};

}  // namespace

bool tokenizer_desc(fstw::FileDesc* desc, std::string* error) {
  fstw::Alphabet alphabet(true);
  for (int c = 32; c <= 255; ++c) {
    if (!alphabet.add_char(static_cast<uint8_t>(c))) {
      *error = "the tokenizer alphabet does not fit";
      return false;
    }
  }
  Builder b{&alphabet, {}};
  b.net.states.resize(1);
  // States: A token start (the net's start), A2 a token start after a lone
  // apostrophe (no "s" there: "'s" is one token), W in a word, B after a
  // word where a non-word token starts, P after a punctuation mark, Q after
  // an apostrophe, S after "'s", N1 N2 inside "n't", T after "n't", F the
  // end. Blanks are inserted through diacritic arcs, which the walk tries
  // first; the states are laid out so that only one path accepts a chunk.
  // A dot or hyphen between word characters stays inside the word (3.6,
  // sys.stderr, module-level): D is after such an inner mark; one that ends
  // a word leads to P2, after which only a non-word token (from A3) may
  // follow, so that the split reading of an inner mark never accepts.
  const int32_t A = 0, A2 = b.state(), W = b.state(), B = b.state(), P = b.state(), Q = b.state(),
                S = b.state(), N1 = b.state(), N2 = b.state(), T = b.state(), F = b.state(true), D = b.state(),
                P2 = b.state(), A3 = b.state();
  auto inner_mark = [](uint8_t ch) { return ch == '.' || ch == '-'; };
  for (int c = 33; c <= 255; ++c) {
    const auto ch = static_cast<uint8_t>(c);
    if (zop::is_token_letter(ch)) {
      b.chr(A, ch, W);
      if (ch != 's') b.chr(A2, ch, W);
      b.chr(W, ch, W);
      b.chr(D, ch, W);
    } else if (ch == '\'') {
      b.chr(A, ch, Q);
      b.chr(A2, ch, Q);
      b.chr(A3, ch, Q);
      b.chr(B, ch, Q);
    } else {
      b.chr(A, ch, P);
      b.chr(A2, ch, P);
      b.chr(A3, ch, P);
      b.chr(B, ch, inner_mark(ch) ? P2 : P);
      if (inner_mark(ch)) b.chr(W, ch, D);
    }
  }
  b.blank(P2, A3);
  b.arc(P2, fstw::kPlanEnd, F);
  b.blank(W, B);
  b.arc(W, fstw::kPlanEnd, F);
  b.chr(B, 'n', N1);
  b.chr(N1, '\'', N2);
  b.chr(N2, 't', T);
  for (int32_t s : {P, S, T}) {
    b.blank(s, A);
    b.arc(s, fstw::kPlanEnd, F);
  }
  b.blank(Q, A2);
  b.arc(Q, fstw::kPlanEnd, F);
  b.chr(Q, 's', S);
  for (auto& st : b.net.states) {
    std::stable_sort(st.arcs.begin(), st.arcs.end(), [](const Arc& x, const Arc& y) { return x.label < y.label; });
  }
  *desc = fstw::FileDesc{};
  desc->coding_flags = kCodingFlags;
  desc->info = "vorlane English tokenizer";
  alphabet.apply(desc);
  desc->nets = {b.net};
  desc->functions = {{28, 0}};
  return true;
}

}  // namespace vorlane::zopw
