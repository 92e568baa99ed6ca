#include "tools/zop/grouper_net.h"

#include <algorithm>

namespace vorlane::zopw {

using fstw::Alphabet;
using fstw::Arc;

namespace {
constexpr uint8_t kCodingFlags = 0;  // ESC bytes before the label byte
// States of the grammar nets with this many tag arcs hold them in a table.
constexpr int kTableThreshold = 8;
}

int32_t GrouperNetBuilder::state(bool final) {
  net_.states.emplace_back();
  net_.states.back().final = final;
  return static_cast<int32_t>(net_.states.size()) - 1;
}

void GrouperNetBuilder::arc(int32_t from, uint8_t label, int32_t to) {
  net_.states[static_cast<size_t>(from)].arcs.push_back(Arc{label, to, -1});
}

// The state reached from `from` by label, made when missing.
int32_t GrouperNetBuilder::step(int32_t from, uint8_t label) {
  for (const Arc& a : net_.states[static_cast<size_t>(from)].arcs) {
    if (a.label == label) return a.target;
  }
  int32_t s = state();
  arc(from, label, s);
  return s;
}

bool GrouperNetBuilder::tag(int32_t from, const std::string& name, int32_t to) {
  uint16_t code = alphabet_->tag_code(name);
  if (code == 0) return false;
  std::vector<uint8_t> bytes = alphabet_->symbol_bytes(code, kCodingFlags);
  int32_t s = from;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) s = step(s, bytes[i]);
  arc(s, bytes.back(), to);
  return true;
}

void GrouperNetBuilder::tagsep(int32_t from, int32_t to) { arc(from, fstw::kPlanTagsep, to); }
void GrouperNetBuilder::end(int32_t from, int32_t to) { arc(from, fstw::kPlanEnd, to); }

bool GrouperNetBuilder::insert(int32_t from, const std::string& name, int32_t to) {
  uint16_t code = alphabet_->tag_code(name);
  if (code == 0) return false;
  std::vector<uint8_t> bytes = alphabet_->symbol_bytes(code, kCodingFlags);
  int32_t s = from;
  for (size_t i = 0; i < bytes.size(); ++i) {
    int32_t after_dia = state();
    arc(s, fstw::kPlanDiacritic, after_dia);
    int32_t next = i + 1 == bytes.size() ? to : state();
    arc(after_dia, bytes[i], next);
    s = next;
  }
  return true;
}

fstw::Net GrouperNetBuilder::finish() {
  for (auto& st : net_.states) {
    std::stable_sort(st.arcs.begin(), st.arcs.end(), [](const Arc& a, const Arc& b) { return a.label < b.label; });
    if (table_threshold_ <= 0) continue;
    // Insertions (diacritic arcs, below the table label) stay first.
    const auto symbols = std::find_if(st.arcs.begin(), st.arcs.end(),
                                      [](const Arc& a) { return a.label > fstw::kPlanTableLabel; });
    if (st.arcs.end() - symbols < table_threshold_) continue;
    net_.tables.push_back({std::vector<Arc>(symbols, st.arcs.end())});
    st.arcs.erase(symbols, st.arcs.end());
    st.arcs.push_back({fstw::kPlanTableLabel, 0, static_cast<int32_t>(net_.tables.size()) - 1});
  }
  return net_;
}

Alphabet grouper_alphabet(const std::vector<std::string>& tags) {
  Alphabet alphabet;
  for (const std::string& t : tags) alphabet.add_tag(t);
  alphabet.add_tag("(np");
  alphabet.add_tag(")np");
  return alphabet;
}

bool np_grammar_net(const NpGrammar& g, const Alphabet& alphabet, fstw::Net* net, std::string* error) {
  GrouperNetBuilder b(&alphabet, kTableThreshold);
  // States: O outside; Opre outside in a run of modifiers that reaches no
  // noun; P inside, just opened; P1 inside after a modifier; N inside among
  // the nouns; M inside among the numbers after the nouns; C just after a
  // phrase closed at a noun (no noun or number may follow directly); Cm
  // just after a phrase closed at a number (no modifier run reaching a noun
  // may follow); Ppre a new phrase right after another, which must begin
  // with a modifier; F the end.
  const int32_t O = b.state(), Opre = b.state(), P = b.state(), P1 = b.state(), N = b.state(), C = b.state(),
                F = b.state(true);
  const int32_t Ppre = g.pre.empty() ? -1 : b.state();
  const int32_t M = g.numbers.empty() ? -1 : b.state(), Cm = g.numbers.empty() ? -1 : b.state();
  b.tagsep(0, O);
  b.end(0, F);
  bool ok = true;
  auto tags = [&](const std::vector<std::string>& list, int32_t from, int32_t to) {
    for (const std::string& t : list) ok = b.tag(from, t, to) && ok;
  };
  std::vector<std::string> pre_but_numbers;
  for (const std::string& t : g.pre) {
    if (std::find(g.numbers.begin(), g.numbers.end(), t) == g.numbers.end()) pre_but_numbers.push_back(t);
  }
  // O: a phrase opens (tried first), or a modifier stays outside.
  ok = b.insert(O, "(np", P) && ok;
  tags(g.pre, O, Opre);
  tags(g.other, O, O);
  tags(g.inside, O, O);
  tags(g.possessive, O, O);
  b.end(O, F);
  tags(g.pre, Opre, Opre);
  tags(g.inside, Opre, Opre);
  tags(g.other, Opre, O);
  tags(g.possessive, Opre, O);
  b.end(Opre, F);
  tags(g.pre, P, P1);
  tags(g.nouns, P, N);
  tags(g.pre, P1, P1);
  tags(g.inside, P1, P1);
  tags(g.nouns, P1, N);
  tags(g.nouns, N, N);
  tags(g.possessive, N, P1);
  ok = b.insert(N, ")np", C) && ok;
  if (Ppre >= 0) {
    ok = b.insert(C, "(np", Ppre) && ok;
    tags(g.pre, Ppre, P1);
  }
  tags(pre_but_numbers, C, Opre);
  tags(g.other, C, O);
  tags(g.inside, C, O);
  tags(g.possessive, C, Opre);
  b.end(C, F);
  if (M >= 0) {
    tags(g.numbers, N, M);
    tags(g.numbers, M, M);
    ok = b.insert(M, ")np", Cm) && ok;
    tags(pre_but_numbers, Cm, Opre);
    tags(g.other, Cm, O);
    tags(g.inside, Cm, O);
    tags(g.possessive, Cm, O);
    b.end(Cm, F);
  }
  if (!ok) {
    *error = "a grammar tag is not in the alphabet";
    return false;
  }
  *net = b.finish();
  return true;
}

bool grouper_desc(const NpGrammar& outer, const NpGrammar& inner, const std::vector<std::string>& tags,
                  fstw::FileDesc* desc, std::string* error) {
  Alphabet alphabet = grouper_alphabet(tags);
  *desc = fstw::FileDesc{};
  desc->coding_flags = kCodingFlags;
  desc->info = "vorlane phrase grouper";
  alphabet.apply(desc);
  fstw::Net a, b;
  if (!np_grammar_net(outer, alphabet, &a, error) || !np_grammar_net(inner, alphabet, &b, error)) return false;
  desc->nets = {a, b};
  desc->functions = {{62, 0}, {63, 1}};
  return true;
}

}  // namespace vorlane::zopw
