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

bool add_guesser(fstw::FileDesc* desc, const std::vector<SuffixTags>& suffixes,
                 const std::vector<std::string>& default_tags, std::string* error) {
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
  // The coded bytes of each suffix, through the file's own encoder.
  fstw::FileDesc probe = *desc;
  std::vector<uint8_t> image = fstw::fst_write_image(probe, error);
  if (image.empty()) return false;
  void* object = fst_read_memory(image.data(), image.size());
  if (fst_status(object) != 0) {
    *error = "the lexicon file does not load";
    return false;
  }
  const FSM* fsm = static_cast<const FSM*>(object);
  std::vector<std::vector<uint8_t>> patterns;
  std::vector<std::set<uint16_t>> pattern_tags;
  for (const SuffixTags& s : suffixes) {
    uint8_t coded[256];
    int32_t n = fst_encode(s.suffix.c_str(), static_cast<int32_t>(s.suffix.size()), coded, sizeof coded, false,
                           false, false, fsm);
    if (n <= 0) continue;  // a suffix outside the alphabet never matches
    patterns.emplace_back(coded, coded + n);
    std::set<uint16_t> tags;
    for (const std::string& t : s.tags) {
      if (codes.count(t) == 0) {
        fst_close(object);
        *error = "unknown tag " + t;
        return false;
      }
      tags.insert(codes[t]);
    }
    pattern_tags.push_back(tags);
  }
  const uint8_t tagsep = fsm->tagsep;
  fst_close(object);
  std::set<uint16_t> defaults;
  for (const std::string& t : default_tags) {
    if (codes.count(t) == 0) {
      *error = "unknown tag " + t;
      return false;
    }
    defaults.insert(codes[t]);
  }

  // The byte alphabet of coded words: every label byte and the ESC byte.
  std::vector<uint8_t> bytes;
  for (int b = fstw::kPlanFirstSymbol; b <= 0xFC; b += 4) bytes.push_back(static_cast<uint8_t>(b));
  bytes.push_back(desc->esc);

  // Trie of the patterns with failure links.
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
  std::vector<std::vector<int32_t>> delta(trie.size(), std::vector<int32_t>(bytes.size(), 0));
  std::vector<int32_t> queue = {0};
  for (size_t qi = 0; qi < queue.size(); ++qi) {
    const int32_t s = queue[qi];
    Node& node = trie[static_cast<size_t>(s)];
    if (s != 0) {
      const Node& f = trie[static_cast<size_t>(node.fail)];
      node.out.insert(f.out.begin(), f.out.end());
      node.matched = node.matched || f.matched;
    }
    for (size_t k = 0; k < bytes.size(); ++k) {
      auto it = node.next.find(bytes[k]);
      if (it != node.next.end()) {
        const int32_t child = it->second;
        trie[static_cast<size_t>(child)].fail = s == 0 ? 0 : delta[static_cast<size_t>(node.fail)][k];
        delta[static_cast<size_t>(s)][k] = child;
        queue.push_back(child);
      } else {
        delta[static_cast<size_t>(s)][k] = s == 0 ? 0 : delta[static_cast<size_t>(node.fail)][k];
      }
    }
  }

  // The net: one state per trie node, then the class chains after TAGSEP.
  fstw::Net net;
  net.states.resize(trie.size());
  auto add_state = [&net](bool final) {
    net.states.push_back(fstw::State{final, {}});
    return static_cast<int32_t>(net.states.size()) - 1;
  };
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
  for (size_t s = 0; s < trie.size(); ++s) {
    std::vector<Arc> arcs;
    for (size_t k = 0; k < bytes.size(); ++k) arcs.push_back({bytes[k], delta[s][k], -1});
    const std::set<uint16_t>& tags = trie[s].matched ? trie[s].out : defaults;
    arcs.push_back({tagsep, classes_state(tags), -1});
    std::sort(arcs.begin(), arcs.end(), [](const Arc& a, const Arc& b) { return a.label < b.label; });
    net.states[s].arcs = arcs;
  }
  desc->nets.push_back(net);
  desc->functions[61] = static_cast<uint8_t>(desc->nets.size() - 1);
  return true;
}

}  // namespace vorlane::zopw
