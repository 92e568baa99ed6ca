#include "tools/zop/stem_guesser.h"

#include <utility>

#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_interface.h"
#include "linguistics/fst/lookup.h"
#include "tools/fst/fst_alphabet.h"

namespace vorlane::zopw {

using fstw::Arc;

bool add_stem_guesser(fstw::FileDesc* desc, const std::vector<fstw::Pair>& endings, std::string* error) {
  // The file's encoder, from its alphabet alone (the nets stay aside).
  std::vector<fstw::Net> nets = std::move(desc->nets);
  desc->nets = {fstw::Net{{fstw::State{}}, {}, fstw::kPlanEpsilonBound, fstw::kPlanInstr, 0}};
  std::vector<uint8_t> image = fstw::fst_write_image(*desc, error);
  desc->nets = std::move(nets);
  if (image.empty()) return false;
  void* object = fst_read_memory(image.data(), image.size());
  if (fst_status(object) != 0) {
    *error = "the stemmer's alphabet does not load";
    return false;
  }
  fstw::PairOptions options;
  // A branch is tried at every position of a word: wide states in tables,
  // so that each try costs one look at the next symbol.
  options.table_threshold = 6;
  fstw::Net trie;
  const bool built = fstw::compile_pairs_net(endings, options, static_cast<const FSM*>(object), &trie, error);
  fst_close(object);
  if (!built) return false;

  // States: 0 the start, 1 the loop, 2 the branch's output side (nothing),
  // then the trie's states from 3 on.
  constexpr int32_t kLoop = 1, kBranch = 2, kTrie = 3;
  fstw::Net net;
  net.states.resize(kTrie);
  for (fstw::State& s : trie.states) {
    for (Arc& a : s.arcs) {
      if (a.table < 0) a.target += kTrie;
    }
    net.states.push_back(std::move(s));
  }
  for (fstw::Table& t : trie.tables) {
    for (Arc& a : t.entries) a.target += kTrie;
    net.tables.push_back(std::move(t));
  }
  // Any symbol byte (a label or the ESC that continues a symbol) but the
  // end symbol and the TAGSEP, as a table.
  std::vector<Arc> any;
  for (int b = fstw::kPlanEsc; b <= 0xFC; b += 4) {
    if (b != fstw::kPlanEnd && b != fstw::kPlanTagsep && b != fstw::kPlanEof) {
      any.push_back({static_cast<uint8_t>(b), kLoop, -1});
    }
  }
  net.tables.push_back({any});
  const int32_t table = static_cast<int32_t>(net.tables.size()) - 1;
  net.states[0].arcs = {{fstw::kPlanTableLabel, 0, table}};
  net.states[kLoop].arcs = {{fstw::kPlanDiacritic, kBranch, -1}, {fstw::kPlanTableLabel, 0, table}};
  net.states[kBranch].arcs = {{fstw::kPlanDiacritic, kTrie, -1}};
  desc->nets.push_back(std::move(net));
  desc->functions[kFstStemGuesser] = static_cast<uint8_t>(desc->nets.size() - 1);
  if (desc->table_offsets) {
    *error = "the guesser needs plain tables";
    return false;
  }
  return true;
}

}  // namespace vorlane::zopw
