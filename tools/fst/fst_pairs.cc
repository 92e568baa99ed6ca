#include "tools/fst/fst_pairs.h"

#include <algorithm>
#include <map>
#include <set>

#include "linguistics/fst/coding.h"
#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/fst_interface.h"

namespace vorlane::fstw {

namespace {

constexpr int kNothing = -1;

struct TrieNode {
  bool final = false;
  std::vector<std::pair<std::pair<int, int>, int32_t>> children;  // (in, out) -> node

  int32_t child(int in, int out) const {
    for (auto& [k, c] : children) {
      if (k.first == in && k.second == out) return c;
    }
    return -1;
  }
};

class NetBuilder {
 public:
  NetBuilder(const std::vector<TrieNode>& trie, const std::vector<int32_t>& canon, int table_threshold)
      : trie_(trie), canon_(canon), threshold_(table_threshold) {}

  Net build() {
    // One net state per kept trie node, in the trie's order (start first).
    index_.assign(trie_.size(), -1);
    for (size_t k = 0; k < trie_.size(); ++k) {
      if (canon_[k] == static_cast<int32_t>(k)) {
        index_[k] = static_cast<int32_t>(net_.states.size());
        net_.states.emplace_back();
        net_.states.back().final = trie_[k].final;
      }
    }
    // Children before parents, so a state's arcs exist when copied.
    for (size_t k = trie_.size(); k-- > 0;) {
      if (canon_[k] == static_cast<int32_t>(k)) fill(k);
    }
    return std::move(net_);
  }

 private:
  int32_t target(int32_t trie_node) const { return index_[canon_[trie_node]]; }

  int32_t new_state(bool final) {
    net_.states.emplace_back();
    net_.states.back().final = final;
    return static_cast<int32_t>(net_.states.size() - 1);
  }

  // Puts arcs into state s: low arcs (diacritics, below TABLELABEL) first,
  // the symbol arcs as they are or in a table.
  void set_arcs(int32_t s, std::vector<Arc> low, std::vector<Arc> symbols) {
    std::sort(low.begin(), low.end(), [](const Arc& a, const Arc& b) { return a.label < b.label; });
    std::sort(symbols.begin(), symbols.end(), [](const Arc& a, const Arc& b) { return a.label < b.label; });
    std::vector<Arc> arcs = low;
    if (threshold_ > 0 && static_cast<int>(symbols.size()) >= threshold_) {
      net_.tables.push_back({symbols});
      arcs.push_back({kPlanTableLabel, 0, static_cast<int32_t>(net_.tables.size() - 1)});
    } else {
      arcs.insert(arcs.end(), symbols.begin(), symbols.end());
    }
    net_.states[s].arcs = arcs;
  }

  void fill(size_t k) {
    const TrieNode& node = trie_[k];
    std::vector<Arc> low, symbols;
    // nothing:y pairs.
    std::vector<Arc> outputs;
    std::map<int, std::vector<std::pair<int, int32_t>>> by_input;
    for (auto& [key, child] : node.children) {
      if (key.first == kNothing) {
        outputs.push_back({static_cast<uint8_t>(key.second), target(child)});
      } else {
        by_input[key.first].emplace_back(key.second, child);
      }
    }
    if (!outputs.empty()) {
      int32_t e = new_state(false);
      set_arcs(e, {}, outputs);
      low.push_back({kPlanDiacritic, e});
    }
    for (auto& [x, list] : by_input) {
      int32_t identity = -1;
      std::vector<Arc> branch_low, branch;
      for (auto& [y, child] : list) {
        if (y == x) {
          identity = child;
        } else if (y == kNothing) {
          branch_low.push_back({kPlanDiacritic, target(child)});
        } else {
          branch.push_back({static_cast<uint8_t>(y), target(child)});
        }
      }
      if (branch_low.empty() && branch.empty()) {
        symbols.push_back({static_cast<uint8_t>(x), target(identity)});
        continue;
      }
      int32_t b = new_state(false);
      set_arcs(b, branch_low, branch);
      bool final = identity >= 0 && net_.states[target(identity)].final;
      int32_t m = new_state(final);
      std::vector<Arc> arcs = {{kPlanNid, b}};
      if (identity >= 0) {
        const auto& rest = net_.states[target(identity)].arcs;
        arcs.insert(arcs.end(), rest.begin(), rest.end());
      }
      net_.states[m].arcs = arcs;
      symbols.push_back({static_cast<uint8_t>(x), m});
    }
    set_arcs(index_[k], low, symbols);
  }

  const std::vector<TrieNode>& trie_;
  const std::vector<int32_t>& canon_;
  int threshold_;
  std::vector<int32_t> index_;
  Net net_;
};

// Merges equal subtrees: canon[k] is the node standing for node k.
std::vector<int32_t> merge_subtrees(std::vector<TrieNode>* trie) {
  std::vector<int32_t> canon(trie->size());
  std::map<std::pair<bool, std::vector<std::pair<std::pair<int, int>, int32_t>>>, int32_t> seen;
  for (size_t k = trie->size(); k-- > 0;) {
    TrieNode& node = (*trie)[k];
    std::vector<std::pair<std::pair<int, int>, int32_t>> sig;
    for (auto& [key, child] : node.children) sig.emplace_back(key, canon[child]);
    std::sort(sig.begin(), sig.end());
    auto entry = std::make_pair(node.final, sig);
    auto it = seen.find(entry);
    if (it != seen.end() && k != 0) {
      canon[k] = it->second;
    } else {
      canon[k] = static_cast<int32_t>(k);
      seen.emplace(entry, static_cast<int32_t>(k));
    }
  }
  return canon;
}

}  // namespace

namespace {

// Characters and tags of one text; with tags false every byte is a character.
bool scan_text(const std::string& a, bool tags_allowed, std::set<uint8_t>* chars, std::vector<std::string>* tags,
               std::set<std::string>* seen_tags, std::string* error) {
  for (size_t i = 0; i < a.size(); ++i) {
    if (!tags_allowed) {
      chars->insert(static_cast<unsigned char>(a[i]));
      continue;
    }
    {
      if (a[i] == '[') {
        size_t close = a.find(']', i);
        if (close == std::string::npos || close == i + 1 || close - i - 1 > 61) {
          *error = "a bad tag in \"" + a + "\"";
          return false;
        }
        std::string tag = a.substr(i + 1, close - i - 1);
        if (seen_tags->insert(tag).second) tags->push_back(tag);
        i = close;
      } else {
        chars->insert(static_cast<unsigned char>(a[i]));
      }
    }
  }
  return true;
}

}  // namespace

bool text_alphabet(const std::vector<std::pair<std::string, bool>>& texts, bool end_symbol, Alphabet* alphabet,
                   std::string* error, const std::vector<std::string>& extra_tags, char separator) {
  std::set<uint8_t> chars;
  std::vector<std::string> tags;
  std::set<std::string> seen_tags;
  for (auto& [text, tags_allowed] : texts) {
    if (!scan_text(text, tags_allowed, &chars, &tags, &seen_tags, error)) return false;
  }
  for (const std::string& t : extra_tags) {
    if (seen_tags.insert(t).second) tags.push_back(t);
  }
  chars.erase(0);
  if (separator != 0) chars.erase(static_cast<uint8_t>(separator));
  *alphabet = Alphabet(chars.size() > 92);
  alphabet->with_end = end_symbol;
  for (uint8_t c : chars) {
    if (!alphabet->add_char(c)) {
      *error = "too many characters";
      return false;
    }
  }
  for (const std::string& t : tags) alphabet->add_tag(t);
  return true;
}

bool pair_alphabet(const std::vector<Pair>& pairs, bool end_symbol, Alphabet* alphabet, std::string* error) {
  std::vector<std::pair<std::string, bool>> texts;
  for (const Pair& p : pairs) {
    texts.emplace_back(p.surface, false);
    texts.emplace_back(p.analysis, true);
  }
  return text_alphabet(texts, end_symbol, alphabet, error, {}, 0);
}

namespace {

// Writes the alphabet into base and loads it, so that texts are encoded by
// the file's own encoder. Null with *error set on failure.
void* alphabet_fsm(const Alphabet& alphabet, const PairOptions& options, FileDesc* base, std::string* error) {
  base->coding_flags = options.coding_flags;
  base->info = options.info;
  base->language = options.language;
  base->short_slots = options.short_slots;
  base->medium_slots = options.medium_slots;
  base->out_of_line = options.out_of_line;
  base->table_offsets = options.table_offsets;
  alphabet.apply(base);
  base->nets.push_back(Net{{State{}}, {}, kPlanEpsilonBound, kPlanInstr, 0});
  std::vector<uint8_t> image = fst_write_image(*base, error);
  if (image.empty()) return nullptr;
  void* object = fst_read_memory(image.data(), image.size());
  if (fst_status(object) != 0) {
    *error = "the alphabet file does not load";
    return nullptr;
  }
  base->nets.clear();
  return object;
}

// Encodes text; with a separator each piece between separators is encoded
// on its own and the pieces are joined by the end symbol.
bool encode_text(const std::string& text, bool tags, bool end, char separator, const FSM* fsm,
                 std::vector<uint8_t>* out) {
  out->clear();
  std::vector<uint8_t> buffer(4 * text.size() + 300);
  size_t start = 0;
  for (;;) {
    size_t stop = separator ? text.find(separator, start) : std::string::npos;
    std::string piece = text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
    bool last = stop == std::string::npos;
    int32_t n = fst_encode(piece.c_str(), static_cast<int32_t>(piece.size()), buffer.data(),
                           static_cast<int32_t>(buffer.size()), tags, last && end, false, fsm);
    if (n < 0) return false;
    out->insert(out->end(), buffer.begin(), buffer.begin() + n);
    if (last) return true;
    out->push_back(fsm->end_symbol);
    start = stop + 1;
  }
}

}  // namespace

bool compile_pairs(const std::vector<Pair>& pairs, const PairOptions& options, FileDesc* desc, std::string* error) {
  std::vector<std::pair<std::string, bool>> texts;
  for (const Pair& p : pairs) {
    texts.emplace_back(p.surface, options.surface_tags);
    texts.emplace_back(p.analysis, true);
  }
  Alphabet alphabet;
  if (!text_alphabet(texts, options.end_symbol, &alphabet, error, {}, options.token_separator)) return false;
  if (options.token_separator != 0 && !options.end_symbol) {
    *error = "token boundaries need the end symbol";
    return false;
  }
  FileDesc base;
  void* object = alphabet_fsm(alphabet, options, &base, error);
  if (object == nullptr) return false;
  Net net;
  const bool built = compile_pairs_net(pairs, options, static_cast<const FSM*>(object), &net, error);
  fst_close(object);
  if (!built) return false;
  *desc = base;
  desc->nets.clear();
  desc->nets.push_back(std::move(net));
  for (int f : options.functions) desc->functions[f] = 0;
  return true;
}

bool compile_pairs_net(const std::vector<Pair>& pairs, const PairOptions& options, const FSM* fsm, Net* net,
                       std::string* error) {
  std::vector<TrieNode> trie(1);
  std::vector<uint8_t> in, out;
  for (const Pair& p : pairs) {
    if (!encode_text(p.surface, options.surface_tags, true, 0, fsm, &in) ||
        !encode_text(p.analysis, true, false, options.token_separator, fsm, &out)) {
      *error = "cannot encode \"" + p.surface + "\" : \"" + p.analysis + "\"";
      return false;
    }
    int32_t ni = static_cast<int32_t>(in.size()), no = static_cast<int32_t>(out.size());
    int32_t node = 0;
    for (int32_t i = 0; i < std::max(ni, no); ++i) {
      int x = i < ni ? in[i] : kNothing;
      int y = i < no ? out[i] : kNothing;
      int32_t next = trie[node].child(x, y);
      if (next < 0) {
        next = static_cast<int32_t>(trie.size());
        trie[node].children.push_back({{x, y}, next});
        trie.emplace_back();
      }
      node = next;
    }
    trie[node].final = true;
  }
  std::vector<int32_t> canon(trie.size());
  if (options.merge) {
    canon = merge_subtrees(&trie);
  } else {
    for (size_t k = 0; k < trie.size(); ++k) canon[k] = static_cast<int32_t>(k);
  }
  NetBuilder builder(trie, canon, options.table_threshold);
  *net = builder.build();
  return true;
}

bool compile_classes(const std::vector<WordClasses>& words, const PairOptions& options, FileDesc* desc,
                     std::string* error) {
  std::vector<std::pair<std::string, bool>> texts;
  std::vector<std::string> classes;
  for (const WordClasses& w : words) {
    texts.emplace_back(w.word, false);
    for (const std::string& c : w.classes) classes.push_back(c);
  }
  Alphabet alphabet;
  if (!text_alphabet(texts, options.end_symbol, &alphabet, error, classes, 0)) return false;
  alphabet.with_tagsep = true;
  FileDesc base;
  void* object = alphabet_fsm(alphabet, options, &base, error);
  if (object == nullptr) return false;
  const FSM* fsm = static_cast<const FSM*>(object);

  Net net;
  net.states.emplace_back();
  auto add_state = [&net](bool final) {
    net.states.push_back(State{final, {}});
    return static_cast<int32_t>(net.states.size() - 1);
  };
  std::vector<uint8_t> coded(1024);
  for (const WordClasses& w : words) {
    if (coded.size() < 4 * w.word.size() + 16) coded.resize(4 * w.word.size() + 16);
    int32_t n = fst_encode(w.word.c_str(), static_cast<int32_t>(w.word.size()), coded.data(),
                           static_cast<int32_t>(coded.size()), false, false, true, fsm);
    if (n < 0) {
      fst_close(object);
      *error = "cannot encode \"" + w.word + "\"";
      return false;
    }
    int32_t s = 0;
    for (int32_t i = 0; i < n; ++i) {
      int32_t next = -1;
      for (const Arc& a : net.states[s].arcs) {
        if (a.label == coded[i]) next = a.target;
      }
      if (next < 0) {
        next = add_state(false);
        net.states[s].arcs.push_back({coded[i], next});
      }
      s = next;
    }
    // After the TAGSEP: one chain per label byte, final where a class ends.
    std::map<uint8_t, std::set<uint32_t>> chains;
    for (const std::string& c : w.classes) {
      uint16_t code = alphabet.tag_code(c);
      chains[static_cast<uint8_t>(code >> 8)].insert(code & 0xFFu);
    }
    std::vector<Arc> arcs;
    for (auto& [label, counts] : chains) {
      uint32_t longest = *counts.rbegin();
      int32_t first = add_state(counts.count(0) != 0);
      int32_t at = first;
      for (uint32_t k = 1; k <= longest; ++k) {
        int32_t next = add_state(counts.count(k) != 0);
        net.states[at].arcs.push_back({kPlanEsc, next});
        at = next;
      }
      arcs.push_back({label, first});
    }
    for (const Arc& a : arcs) net.states[s].arcs.push_back(a);
  }
  fst_close(object);
  // Arcs in label order; wide states in tables.
  for (size_t k = 0; k < net.states.size(); ++k) {
    auto& arcs = net.states[k].arcs;
    std::sort(arcs.begin(), arcs.end(), [](const Arc& a, const Arc& b) { return a.label < b.label; });
    if (options.table_threshold > 0 && static_cast<int>(arcs.size()) >= options.table_threshold) {
      net.tables.push_back({arcs});
      arcs = {{kPlanTableLabel, 0, static_cast<int32_t>(net.tables.size() - 1)}};
    }
  }
  *desc = base;
  desc->nets.push_back(net);
  for (int f : options.functions) desc->functions[f] = 0;
  return true;
}

}  // namespace vorlane::fstw
