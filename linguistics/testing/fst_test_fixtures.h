// Test fixtures of the finite-state library: transducer files built with the
// project's writer (tools/fst), loaded from memory or from a file.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/fst_interface.h"
#include "tools/fst/fst_alphabet.h"
#include "tools/fst/fst_writer.h"

namespace vorlane::fst_test {

struct FsmCloser {
  void operator()(void* fsm) const { fst_close(fsm); }
};
using FsmPtr = std::unique_ptr<void, FsmCloser>;

inline std::vector<uint8_t> write_image(const fstw::FileDesc& desc) {
  std::string error;
  std::vector<uint8_t> image = fstw::fst_write_image(desc, &error);
  EXPECT_FALSE(image.empty()) << error;
  return image;
}

// The FSM of an image; fails the test when it is not accepted.
inline FsmPtr load(const std::vector<uint8_t>& image) {
  void* fsm = fst_read_memory(image.data(), image.size());
  EXPECT_EQ(fst_status(fsm), 0);
  if (fst_status(fsm) != 0) return FsmPtr(nullptr);
  return FsmPtr(fsm);
}

inline const FSM* as_fsm(const FsmPtr& p) { return static_cast<const FSM*>(p.get()); }

// A trie net over words given as symbol-byte strings, with equal subtrees
// merged (the words' common endings), so that the layout needs pointers.
inline fstw::Net trie_net(const std::vector<std::vector<uint8_t>>& words) {
  fstw::Net trie;
  trie.states.resize(1);
  for (const auto& w : words) {
    int32_t s = 0;
    for (uint8_t b : w) {
      int32_t next = -1;
      for (auto& a : trie.states[s].arcs) {
        if (a.label == b) next = a.target;
      }
      if (next < 0) {
        next = static_cast<int32_t>(trie.states.size());
        trie.states[s].arcs.push_back({b, next});
        trie.states.emplace_back();
      }
      s = next;
    }
    trie.states[s].final = true;
  }
  // Merge equal subtrees bottom up (children have higher indices).
  std::vector<int32_t> canon(trie.states.size());
  std::map<std::pair<bool, std::vector<std::pair<uint8_t, int32_t>>>, int32_t> seen;
  fstw::Net net;
  for (size_t k = trie.states.size(); k-- > 0;) {
    auto& st = trie.states[k];
    std::sort(st.arcs.begin(), st.arcs.end(), [](const fstw::Arc& a, const fstw::Arc& b) { return a.label < b.label; });
    std::vector<std::pair<uint8_t, int32_t>> sig;
    for (auto& a : st.arcs) sig.emplace_back(a.label, canon[a.target]);
    auto key = std::make_pair(st.final, sig);
    auto it = seen.find(key);
    if (it != seen.end() && k != 0) {
      canon[k] = it->second;
    } else {
      canon[k] = static_cast<int32_t>(k);
      seen[key] = static_cast<int32_t>(k);
    }
  }
  // Renumber the kept states, the start first.
  std::vector<int32_t> index(trie.states.size(), -1);
  std::vector<size_t> order;
  for (size_t k = 0; k < trie.states.size(); ++k) {
    if (canon[k] == static_cast<int32_t>(k)) {
      index[k] = static_cast<int32_t>(order.size());
      order.push_back(k);
    }
  }
  for (size_t k : order) {
    fstw::State st{trie.states[k].final, {}};
    for (auto& a : trie.states[k].arcs) st.arcs.push_back({a.label, index[canon[a.target]]});
    net.states.push_back(st);
  }
  return net;
}

// The alphabet of most tests: 'a'..'z', a few punctuation characters and the
// tags N, Sg, Pl, V.
inline fstw::Alphabet small_alphabet() {
  fstw::Alphabet a;
  for (char c = 'a'; c <= 'z'; ++c) a.add_char(static_cast<uint8_t>(c));
  for (char c : std::string("-'. ")) a.add_char(static_cast<uint8_t>(c));
  for (const char* t : {"N", "Sg", "Pl", "V"}) a.add_tag(t);
  return a;
}

// A file with the small alphabet and one net serving functions 12 and 27.
inline fstw::FileDesc small_file_desc(const fstw::Alphabet& a, uint8_t coding_flags = 0x80) {
  fstw::FileDesc desc;
  desc.coding_flags = coding_flags;
  a.apply(&desc);
  auto word = [&](const std::string& w) {
    std::vector<uint8_t> bytes;
    for (char c : w) {
      auto b = a.symbol_bytes(a.char_code(static_cast<uint8_t>(c)), coding_flags);
      bytes.insert(bytes.end(), b.begin(), b.end());
    }
    return bytes;
  };
  std::vector<std::vector<uint8_t>> words;
  for (const char* w : {"cat", "cats", "dog", "dogs", "zed"}) {
    bool known = true;
    for (const char* c = w; *c; ++c) known = known && a.char_code(static_cast<uint8_t>(*c)) != 0;
    if (known) words.push_back(word(w));
  }
  desc.nets.push_back(trie_net(words));
  desc.functions[12] = 0;
  desc.functions[27] = 0;
  return desc;
}

}  // namespace vorlane::fst_test
