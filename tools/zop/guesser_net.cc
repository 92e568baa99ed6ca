#include "tools/zop/guesser_net.h"

#include <algorithm>
#include <map>
#include <set>

#include "linguistics/fst/coding.h"
#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_interface.h"
#include "tools/fst/fst_alphabet.h"

namespace vorlane::zopw {

using fstw::Arc;

namespace {

// An Aho-Corasick automaton over coded suffixes: its full transitions over
// the byte alphabet and the tags each state offers at the word's end.
struct SuffixAutomaton {
  std::vector<std::vector<int32_t>> delta;  // state x byte index -> state
  std::vector<std::set<uint16_t>> offered;  // the suffixes' tags, or the defaults
};

SuffixAutomaton suffix_automaton(const std::vector<std::vector<uint8_t>>& patterns,
                                 const std::vector<std::set<uint16_t>>& pattern_tags,
                                 const std::set<uint16_t>& defaults, const std::vector<uint8_t>& bytes) {
  struct Node {
    std::map<uint8_t, int32_t> next;
    int32_t fail = 0;
    std::set<uint16_t> out;
    bool matched = false;
  };
  std::vector<Node> trie(1);
  for (size_t p = 0; p < patterns.size(); ++p) {
    int32_t s = 0;
    for (uint8_t b : patterns[p]) {
      auto it = trie[static_cast<size_t>(s)].next.find(b);
      if (it == trie[static_cast<size_t>(s)].next.end()) {
        trie.emplace_back();
        int32_t n = static_cast<int32_t>(trie.size()) - 1;
        trie[static_cast<size_t>(s)].next[b] = n;
        s = n;
      } else {
        s = it->second;
      }
    }
    trie[static_cast<size_t>(s)].out.insert(pattern_tags[p].begin(), pattern_tags[p].end());
    trie[static_cast<size_t>(s)].matched = true;
  }
  // Breadth-first: failure links, outputs along them, and full transitions.
  SuffixAutomaton a;
  a.delta.assign(trie.size(), std::vector<int32_t>(bytes.size(), 0));
  std::vector<int32_t> queue = {0};
  for (size_t qi = 0; qi < queue.size(); ++qi) {
    const int32_t s = queue[qi];
    Node& node = trie[static_cast<size_t>(s)];
    // The longest suffix that matches decides.
    if (s != 0 && !node.matched) {
      const Node& f = trie[static_cast<size_t>(node.fail)];
      node.out = f.out;
      node.matched = f.matched;
    }
    for (size_t k = 0; k < bytes.size(); ++k) {
      auto it = node.next.find(bytes[k]);
      if (it != node.next.end()) {
        const int32_t child = it->second;
        trie[static_cast<size_t>(child)].fail = s == 0 ? 0 : a.delta[static_cast<size_t>(node.fail)][k];
        a.delta[static_cast<size_t>(s)][k] = child;
        queue.push_back(child);
      } else {
        a.delta[static_cast<size_t>(s)][k] = s == 0 ? 0 : a.delta[static_cast<size_t>(node.fail)][k];
      }
    }
  }
  for (const Node& n : trie) a.offered.push_back(n.matched ? n.out : defaults);
  return a;
}

}  // namespace

bool add_guesser(fstw::FileDesc* desc, const std::vector<SuffixTags>& suffixes,
                 const std::vector<std::string>& default_tags, std::string* error) {
  return add_guesser(desc, suffixes, default_tags, suffixes, default_tags, error);
}

bool add_guesser(fstw::FileDesc* desc, const std::vector<SuffixTags>& suffixes,
                 const std::vector<std::string>& default_tags, const std::vector<SuffixTags>& capital_suffixes,
                 const std::vector<std::string>& capital_defaults, std::string* error) {
  if ((desc->coding_flags & 0x80) == 0) {
    *error = "the guesser needs label-first coding";
    return false;
  }
  // Tag codes from the file's TAGMODE class.
  std::map<std::string, uint16_t> codes;
  for (const auto& c : desc->classes) {
    if (c.name != "TAGMODE") continue;
    for (const auto& m : c.members) codes[m.name] = m.code;
  }
  auto tag_codes = [&](const std::vector<std::string>& names, std::set<uint16_t>* out) {
    for (const std::string& t : names) {
      if (codes.count(t) == 0) {
        *error = "unknown tag " + t;
        return false;
      }
      out->insert(codes[t]);
    }
    return true;
  };
  // The coded bytes of each suffix and of each capital letter, through the
  // file's own encoder.
  fstw::FileDesc probe = *desc;
  std::vector<uint8_t> image = fstw::fst_write_image(probe, error);
  if (image.empty()) return false;
  void* object = fst_read_memory(image.data(), image.size());
  if (fst_status(object) != 0) {
    *error = "the lexicon file does not load";
    return false;
  }
  const FSM* fsm = static_cast<const FSM*>(object);
  struct Patterns {
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<std::set<uint16_t>> tags;
  } lower, upper;
  bool ok = true;
  auto encode = [&](const std::vector<SuffixTags>& list, Patterns* out) {
    for (const SuffixTags& s : list) {
      uint8_t coded[256];
      int32_t n = fst_encode(s.suffix.c_str(), static_cast<int32_t>(s.suffix.size()), coded, sizeof coded, false,
                             false, false, fsm);
      if (n <= 0) continue;  // a suffix outside the alphabet never matches
      out->bytes.emplace_back(coded, coded + n);
      out->tags.emplace_back();
      ok = ok && tag_codes(s.tags, &out->tags.back());
    }
  };
  encode(suffixes, &lower);
  encode(capital_suffixes, &upper);
  // Capital letters as (label byte, ESC count) symbols.
  std::set<std::pair<uint8_t, uint32_t>> capitals;
  std::map<uint8_t, uint32_t> longest_capital;
  for (int c = 0; c < 256; ++c) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 192 && c <= 222 && c != 215))) continue;
    const char ch = static_cast<char>(c);
    uint8_t coded[16];
    int32_t n = fst_encode(&ch, 1, coded, sizeof coded, false, false, false, fsm);
    if (n <= 0) continue;
    const auto esc = static_cast<uint32_t>(n - 1);
    capitals.insert({coded[0], esc});
    longest_capital[coded[0]] = std::max(longest_capital[coded[0]], esc);
  }
  const uint8_t tagsep = fsm->tagsep;
  fst_close(object);
  std::set<uint16_t> defaults, upper_defaults;
  if (!ok || !tag_codes(default_tags, &defaults) || !tag_codes(capital_defaults, &upper_defaults)) return false;

  // The byte alphabet of coded words: every label byte and the ESC byte.
  std::vector<uint8_t> bytes;
  for (int b = fstw::kPlanFirstSymbol; b <= 0xFC; b += 4) bytes.push_back(static_cast<uint8_t>(b));
  bytes.push_back(desc->esc);
  const size_t esc_index = bytes.size() - 1;
  auto index_of = [&](uint8_t b) {
    return static_cast<size_t>(b == desc->esc ? esc_index : (b - fstw::kPlanFirstSymbol) / 4);
  };
  const SuffixAutomaton lo = suffix_automaton(lower.bytes, lower.tags, defaults, bytes);
  const SuffixAutomaton up = suffix_automaton(upper.bytes, upper.tags, upper_defaults, bytes);

  // The net: state 0 reads the first symbol and chooses the automaton by
  // its case (chain states for the label bytes of capitals), then the
  // states of both automata, then the class chains after TAGSEP.
  fstw::Net net;
  auto add_state = [&net](bool final) {
    net.states.push_back(fstw::State{final, {}});
    return static_cast<int32_t>(net.states.size()) - 1;
  };
  add_state(false);
  const int32_t lo_base = static_cast<int32_t>(net.states.size());
  for (size_t s = 0; s < lo.delta.size(); ++s) add_state(false);
  const int32_t up_base = static_cast<int32_t>(net.states.size());
  for (size_t s = 0; s < up.delta.size(); ++s) add_state(false);
  std::map<std::pair<uint8_t, uint32_t>, int32_t> chain;
  for (const auto& [label, longest] : longest_capital) {
    for (uint32_t k = 0; k <= longest; ++k) chain[{label, k}] = add_state(false);
  }
  std::map<std::set<uint16_t>, int32_t> class_states;
  auto classes_state = [&](const std::set<uint16_t>& tags) {
    auto it = class_states.find(tags);
    if (it != class_states.end()) return it->second;
    const int32_t c = add_state(false);
    std::map<uint8_t, std::set<uint32_t>> chains;
    for (uint16_t code : tags) chains[static_cast<uint8_t>(code >> 8)].insert(code & 0xFFu);
    for (auto& [label, counts] : chains) {
      const uint32_t longest = *counts.rbegin();
      const int32_t first = add_state(counts.count(0) != 0);
      int32_t at = first;
      for (uint32_t k = 1; k <= longest; ++k) {
        const int32_t next = add_state(counts.count(k) != 0);
        net.states[static_cast<size_t>(at)].arcs.push_back({desc->esc, next, -1});
        at = next;
      }
      net.states[static_cast<size_t>(c)].arcs.push_back({label, first, -1});
    }
    class_states[tags] = c;
    return c;
  };
  auto set_arcs = [&net](int32_t state, std::vector<Arc> arcs) {
    std::sort(arcs.begin(), arcs.end(), [](const Arc& a, const Arc& b) { return a.label < b.label; });
    net.states[static_cast<size_t>(state)].arcs = std::move(arcs);
  };
  for (const auto* a : {&lo, &up}) {
    const int32_t base = a == &lo ? lo_base : up_base;
    for (size_t s = 0; s < a->delta.size(); ++s) {
      std::vector<Arc> arcs;
      for (size_t k = 0; k < bytes.size(); ++k) arcs.push_back({bytes[k], base + a->delta[s][k], -1});
      arcs.push_back({tagsep, classes_state(a->offered[s]), -1});
      set_arcs(base + static_cast<int32_t>(s), arcs);
    }
  }
  // Where an automaton is after the bytes of one symbol from its start.
  auto after = [&](const SuffixAutomaton& a, uint8_t label, uint32_t esc) {
    int32_t s = a.delta[0][index_of(label)];
    for (uint32_t k = 0; k < esc; ++k) s = a.delta[static_cast<size_t>(s)][esc_index];
    return s;
  };
  for (const auto& [symbol, state] : chain) {
    const auto [label, k] = symbol;
    const bool capital = capitals.count(symbol) != 0;
    const SuffixAutomaton& a = capital ? up : lo;
    const int32_t base = capital ? up_base : lo_base;
    const int32_t q = after(a, label, k);
    std::vector<Arc> arcs;
    for (size_t b = 0; b < bytes.size(); ++b) {
      if (b == esc_index) {
        auto next = chain.find({label, k + 1});
        arcs.push_back({bytes[b], next != chain.end() ? next->second : lo_base + after(lo, label, k + 1), -1});
      } else {
        arcs.push_back({bytes[b], base + a.delta[static_cast<size_t>(q)][b], -1});
      }
    }
    arcs.push_back({tagsep, classes_state(a.offered[static_cast<size_t>(q)]), -1});
    set_arcs(state, arcs);
  }
  std::vector<Arc> start;
  for (size_t b = 0; b < bytes.size(); ++b) {
    auto c = chain.find({bytes[b], 0});
    start.push_back({bytes[b], c != chain.end() ? c->second : lo_base + lo.delta[0][b], -1});
  }
  start.push_back({tagsep, classes_state(lo.offered[0]), -1});
  set_arcs(0, start);
  desc->nets.push_back(net);
  desc->functions[61] = static_cast<uint8_t>(desc->nets.size() - 1);
  return true;
}

}  // namespace vorlane::zopw
