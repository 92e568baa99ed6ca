#include "linguistics/fst/lookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "linguistics/fst/apply.h"
#include "linguistics/fst/coding.h"
#include "linguistics/fst/dictionary.h"
#include "linguistics/testing/fst_test_fixtures.h"
#include "tools/fst/fst_pairs.h"

namespace vorlane {
namespace {

using fst_test::FsmPtr;

FsmPtr compile(const std::vector<fstw::Pair>& pairs, const fstw::PairOptions& options) {
  fstw::FileDesc desc;
  std::string error;
  EXPECT_TRUE(fstw::compile_pairs(pairs, options, &desc, &error)) << error;
  return fst_test::load(fst_test::write_image(desc));
}

// The strings of a lookup's output.
std::vector<std::string> results(const char* output, int32_t count) {
  std::vector<std::string> list;
  for (int32_t i = 0; i < count; ++i) {
    list.emplace_back(output);
    output += list.back().size() + 1;
  }
  return list;
}

std::vector<std::string> lookup(const FsmPtr& fsm, const std::string& word, int32_t mode, int32_t* rc = nullptr) {
  std::vector<char> out(8192);
  int32_t n = fst_lookup(word.c_str(), static_cast<int32_t>(word.size()), out.data(), static_cast<int32_t>(out.size()),
                         mode, fsm.get(), nullptr, 0);
  if (rc) *rc = n;
  EXPECT_GE(n, 0) << word << " mode " << mode;
  return n > 0 ? results(out.data(), n) : std::vector<std::string>{};
}

std::set<std::string> as_set(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

struct Shape {
  const char* name;
  fstw::PairOptions options;
};

std::vector<Shape> shapes() {
  std::vector<Shape> list;
  for (bool end : {true, false}) {
    fstw::PairOptions tree;
    tree.merge = false;
    tree.out_of_line = false;
    tree.end_symbol = end;
    list.push_back({end ? "tree" : "tree, no end symbol", tree});
    fstw::PairOptions shared;
    shared.short_slots = 2;
    shared.medium_slots = 3;
    shared.end_symbol = end;
    shared.coding_flags = 0;
    list.push_back({end ? "shared, three pointer kinds" : "shared, no end symbol", shared});
    fstw::PairOptions tables;
    tables.table_threshold = 2;
    tables.end_symbol = end;
    list.push_back({end ? "tables" : "tables, no end symbol", tables});
    tables.table_offsets = true;
    tables.coding_flags = 0;
    list.push_back({end ? "tables as offset lists" : "tables as offset lists, no end symbol", tables});
  }
  return list;
}

// Random pair lists over a small alphabet: surfaces of 1 to 6 letters,
// analyses made of a stem (often a prefix of the surface) and 0 to 2 tags.
std::vector<fstw::Pair> random_pairs(std::mt19937* rng, bool tags) {
  const std::string letters = "abcdeyz";
  const char* tag_names[] = {"N", "V", "Sg", "Pl", "Past"};
  auto pick = [&](int n) { return static_cast<int>((*rng)() % static_cast<unsigned>(n)); };
  auto word = [&](int max) {
    std::string w;
    for (int k = 0, n = 1 + pick(max); k < n; ++k) w += letters[pick(static_cast<int>(letters.size()))];
    return w;
  };
  std::vector<fstw::Pair> pairs;
  for (int i = 0, n = 3 + pick(12); i < n; ++i) {
    std::string surface = pairs.empty() || pick(4) ? word(6) : pairs[pick(static_cast<int>(pairs.size()))].surface;
    std::string stem = pick(3) ? surface.substr(0, 1 + pick(static_cast<int>(surface.size()))) : word(5);
    if (pick(5) == 0) stem += word(2);
    if (tags) {
      for (int t = 0, m = pick(3); t < m; ++t) stem += std::string("[") + tag_names[pick(5)] + "]";
    }
    pairs.push_back({surface, stem});
  }
  return pairs;
}

TEST(FstLookupDifferential, RandomPairListsAgainstTheirOracle) {
  std::mt19937 rng(20261210);
  int lists = 0;
  for (int round = 0; round < 200; ++round) {
    bool tags = round % 2 == 0;
    std::vector<fstw::Pair> pairs = random_pairs(&rng, tags);
    std::map<std::string, std::set<std::string>> forward, backward;
    for (auto& p : pairs) {
      forward[p.surface].insert(p.analysis);
      backward[p.analysis].insert(p.surface);
    }
    for (const Shape& shape : shapes()) {
      FsmPtr fsm = compile(pairs, shape.options);
      ASSERT_TRUE(fsm) << shape.name;
      std::vector<std::string> probes;
      for (auto& [w, _] : forward) probes.push_back(w);
      probes.push_back("zz" + pairs[0].surface);
      probes.push_back(pairs[0].surface.substr(0, pairs[0].surface.size() - 1));
      for (const std::string& w : probes) {
        auto it = forward.find(w);
        std::set<std::string> expected = it == forward.end() ? std::set<std::string>{} : it->second;
        std::string where = std::string(shape.name) + " round " + std::to_string(round) + " word " + w;
        auto mode2 = lookup(fsm, w, 2);
        EXPECT_EQ(mode2.size(), as_set(mode2).size()) << where;  // distinct
        EXPECT_EQ(as_set(mode2), expected) << where;
        EXPECT_EQ(as_set(lookup(fsm, w, 3)), expected) << where;
        auto first = lookup(fsm, w, 5);
        auto shortest = lookup(fsm, w, 7);
        if (expected.empty()) {
          EXPECT_TRUE(first.empty() && shortest.empty()) << where;
        } else {
          ASSERT_EQ(first.size(), 1u) << where;
          EXPECT_TRUE(expected.count(first[0])) << where;
          ASSERT_EQ(shortest.size(), 1u) << where;
          EXPECT_TRUE(expected.count(shortest[0])) << where;
          size_t least = SIZE_MAX;
          for (auto& e : expected) least = std::min(least, e.size());
          EXPECT_EQ(shortest[0].size(), least) << where;
        }
      }
      for (auto& [analysis, surfaces] : backward) {
        std::string where = std::string(shape.name) + " round " + std::to_string(round) + " analysis " + analysis;
        auto mode8 = lookup(fsm, analysis, 8);
        EXPECT_EQ(mode8.size(), as_set(mode8).size()) << where;
        EXPECT_EQ(as_set(mode8), surfaces) << where;
        if (analysis.find('[') == std::string::npos) {
          EXPECT_EQ(as_set(lookup(fsm, analysis, 9)), surfaces) << where;
        }
      }
    }
    ++lists;
  }
  EXPECT_EQ(lists, 200);
}

}  // namespace
}  // namespace vorlane

namespace vorlane {
namespace {

std::vector<fstw::Pair> stem_pairs() {
  return {{"cats", "cat"}, {"cats", "cats"}, {"dogs", "dog"}, {"ran", "run"}, {"running", "run"}, {"runs", "run"}};
}

TEST(FstLookup, ModesOutsideTheTableAndUnknownCharacters) {
  fstw::PairOptions options;
  options.functions = {12, 27, 28};
  FsmPtr fsm = compile(stem_pairs(), options);
  char out[64];
  for (int32_t mode : {0, 1, 4, 6, 10, 12, -3}) {
    EXPECT_EQ(fst_lookup("cats", kFstWholeWord, out, sizeof out, mode, fsm.get(), nullptr, 0), -11) << mode;
  }
  for (int32_t mode : {3, 5, 7}) {
    EXPECT_EQ(fst_lookup("caTs", kFstWholeWord, out, sizeof out, mode, fsm.get(), nullptr, 0), 0) << mode;
  }
  EXPECT_EQ(fst_lookup("caTs", kFstWholeWord, out, sizeof out, 11, fsm.get(), nullptr, 0), -10);
  EXPECT_EQ(fst_lookup("cat[", kFstWholeWord, out, sizeof out, 2, fsm.get(), nullptr, 0), -14);
  EXPECT_EQ(fst_lookup(nullptr, 3, out, sizeof out, 3, fsm.get(), nullptr, 0), -28);
  EXPECT_EQ(fst_lookup("x", 1, nullptr, 3, 3, fsm.get(), nullptr, 0), -28);
  EXPECT_EQ(fst_lookup("x", 1, out, 3, 3, nullptr, nullptr, 0), -28);
  EXPECT_EQ(fst_lookup("x", -1, out, 3, 3, fsm.get(), nullptr, 0), -8);
  EXPECT_EQ(fst_lookup("x", 1, out, -3, 3, fsm.get(), nullptr, 0), -8);
  EXPECT_EQ(fst_lookup("x", 1, out, 3, 3, fst_error_handle(-2), nullptr, 0), -2);
  // The length bounds the word.
  EXPECT_EQ(fst_lookup("catsXYZ", 4, out, sizeof out, 5, fsm.get(), nullptr, 0), 1);
  EXPECT_EQ(fst_lookup_word("dogs", out, sizeof out, 3, fsm.get()), 1);
  EXPECT_STREQ(out, "dog");
  // Results that do not fit the output.
  EXPECT_EQ(fst_lookup("cats", kFstWholeWord, out, 5, 3, fsm.get(), nullptr, 0), -12);

  // A file without function 27.
  fstw::PairOptions only12;
  only12.functions = {12};
  FsmPtr lexicon = compile(stem_pairs(), only12);
  EXPECT_EQ(fst_lookup("cats", kFstWholeWord, out, sizeof out, 3, lexicon.get(), nullptr, 0), -11);
  EXPECT_EQ(fst_lookup("cat", kFstWholeWord, out, sizeof out, 8, lexicon.get(), nullptr, 0), 1);  // 23 falls back to 12
  EXPECT_EQ(fst_lookup("cat", kFstWholeWord, out, sizeof out, 11, lexicon.get(), nullptr, 0), -11);
}

TEST(FstLookup, AreaSizes) {
  struct Case {
    int32_t length;
    int64_t frames, coded;
  } cases[] = {
      {0, 100, 256}, {10, 100, 256}, {128, 100, 256}, {129, 129, 387}, {1000, 1000, 3000}, {0x7FFFFFFF, 100, 256},
      {0x7FFFFFFE, kLookupMaxFrames, kLookupMaxCoded},
  };
  for (const Case& c : cases) {
    int64_t frames, coded;
    fst_lookup_area(c.length, &frames, &coded);
    EXPECT_EQ(frames, c.frames) << c.length;
    EXPECT_EQ(coded, c.coded) << c.length;
  }
  // A word of 129 and one of 400 bytes look up through their heap areas.
  std::string long_word(400, 'a');
  FsmPtr fsm = compile({{long_word, "long"}, {long_word.substr(0, 129), "mid"}}, fstw::PairOptions());
  char out[64];
  EXPECT_EQ(fst_lookup(long_word.c_str(), 400, out, sizeof out, 3, fsm.get(), nullptr, 0), 1);
  EXPECT_STREQ(out, "long");
  EXPECT_EQ(fst_lookup(long_word.c_str(), 129, out, sizeof out, 3, fsm.get(), nullptr, 0), 1);
  EXPECT_STREQ(out, "mid");
  EXPECT_EQ(fst_lookup(long_word.c_str(), kFstWholeWord, out, sizeof out, 5, fsm.get(), nullptr, 0), 1);
}

TEST(FstLookup, ManyPendingAlternativesGrowTheArea) {
  // 150 levels, each leaving one alternative pending, before a 10-letter word.
  fstw::Alphabet a = fst_test::small_alphabet();
  fstw::Net net;
  auto state = [&](bool final = false) {
    net.states.push_back(fstw::State{final, {}});
    return static_cast<int32_t>(net.states.size() - 1);
  };
  int32_t s = state();
  int32_t dead = state();
  int32_t nowhere = state();
  net.states[dead].arcs.push_back({fstw::kPlanDiacritic, nowhere});  // leads to a state with no arcs
  for (int level = 0; level < 150; ++level) {
    int32_t e = state(), next = state();
    net.states[s].arcs.push_back({fstw::kPlanDiacritic, e});
    net.states[s].arcs.push_back({fstw::kPlanDiacritic, dead});
    net.states[e].arcs.push_back({fstw::kPlanDiacritic, next});
    s = next;
  }
  for (char c : std::string("abcdefghij")) {
    int32_t next = state();
    net.states[s].arcs.push_back({static_cast<uint8_t>(a.char_code(static_cast<uint8_t>(c)) >> 8), next});
    s = next;
  }
  int32_t end = state(true);
  net.states[s].arcs.push_back({fstw::kPlanEnd, end});  // lookups append the end symbol
  fstw::FileDesc desc;
  a.apply(&desc);
  desc.nets.push_back(net);
  desc.functions = {{27, 0}};
  FsmPtr fsm = fst_test::load(fst_test::write_image(desc));
  // The walk alone: 100 frames are too few, 200 enough.
  const FSM* f = fst_test::as_fsm(fsm);
  std::vector<uint8_t> coded(64);
  ASSERT_GT(fst_encode("abcdefghij", 10, coded.data(), 64, false, true, false, f), 0);
  std::vector<FstFrame> frames(200);
  uint8_t scratch[256];
  char client[64];
  EXPECT_EQ(apply_fst(coded.data(), scratch, 256, 0, false, frames.data(), 100, client, 64, nullptr, 0, 2, 0, f), -13);
  EXPECT_EQ(apply_fst(coded.data(), scratch, 256, 0, false, frames.data(), 200, client, 64, nullptr, 0, 2, 0, f), 1);
  // fst_lookup starts with 100 frames, doubles once and succeeds.
  char out[64];
  EXPECT_EQ(fst_lookup("abcdefghij", 10, out, sizeof out, 3, fsm.get(), nullptr, 0), 1);
  EXPECT_STREQ(out, "abcdefghij");
}

TEST(FstLookup, ClientDictionaryFirst) {
  FsmPtr fsm = compile(stem_pairs(), fstw::PairOptions());
  void* dict = dict_create(0, 0);
  ASSERT_EQ(dict_add("cats", "feline[N][Pl]", 0, dict), 0);
  char out[64];
  EXPECT_EQ(fst_lookup("cats", kFstWholeWord, out, sizeof out, 3, fsm.get(), dict, 0), 1);
  EXPECT_STREQ(out, "feline");
  EXPECT_EQ(fst_lookup("cats", 4, out, sizeof out, 2, fsm.get(), dict, 0), 1);
  EXPECT_STREQ(out, "feline[N][Pl]");
  EXPECT_EQ(fst_lookup("cats", kFstWholeWord, out, sizeof out, 5, fsm.get(), dict, 0), 1);
  EXPECT_TRUE(std::string(out) == "cat" || std::string(out) == "cats");  // mode 5 does not ask the dictionary
  EXPECT_EQ(fst_lookup("dogs", kFstWholeWord, out, sizeof out, 3, fsm.get(), dict, 0), 1);
  EXPECT_STREQ(out, "dog");  // unknown to the dictionary: the transducer answers
  EXPECT_EQ(fst_lookup("cats", kFstWholeWord, out, 3, 3, fsm.get(), dict, 0), -12);
  dict_free(dict);
}

}  // namespace
}  // namespace vorlane

namespace vorlane {
namespace {

TEST(FstLookup, TokenizeAndCharacterOffsets) {
  fstw::PairOptions options;
  options.functions = {28};
  options.token_separator = '|';
  FsmPtr fsm = compile({{"don't", "do|n't"}, {"a-b", "a|-|b"}}, options);
  const FSM* f = fst_test::as_fsm(fsm);
  uint8_t coded[64];
  ASSERT_GT(fst_encode("don't", 5, coded, sizeof coded, false, true, false, f), 0);
  char out[64];
  std::memset(out, 'Z', sizeof out);
  int32_t offsets[4];
  EXPECT_EQ(fst_tokenize(coded, out, sizeof out, offsets, 4, 0, fsm.get()), 1);
  EXPECT_STREQ(out, "do");
  EXPECT_EQ(fst_tokenize(coded, out, sizeof out, offsets, 4, 2, fsm.get()), -11);
  EXPECT_EQ(fst_tokenize(coded, out, sizeof out, offsets, 0, 0, fsm.get()), -12);  // no room for the offset
  EXPECT_EQ(fst_tokenize(coded, out, 3, offsets, 4, 0, fsm.get()), -26);  // the coded half is too small
  EXPECT_EQ(fst_tokenize(coded, nullptr, 3, offsets, 4, 0, fsm.get()), -28);
  EXPECT_EQ(fst_tokenize(coded, out, 3, offsets, 4, 0, nullptr), -28);
  ASSERT_GT(fst_encode("a-a", 3, coded, sizeof coded, false, true, false, f), 0);
  EXPECT_EQ(fst_tokenize(coded, out, sizeof out, offsets, 4, 1, fsm.get()), -15);

  FsmPtr stems = compile(stem_pairs(), fstw::PairOptions());
  EXPECT_EQ(fst_tokenize(coded, out, sizeof out, offsets, 4, 0, stems.get()), -11);

  const uint8_t esc = f->esc;
  const uint8_t text[] = {0xA4, esc, 0xA8, 0xAC, 0};
  const int32_t at[] = {0, 1, 2, 3, 4, 10, -5};
  int32_t chars[7];
  EXPECT_EQ(fst_char_offsets(at, 7, chars, text, fsm.get()), 7);
  EXPECT_EQ(std::vector<int32_t>(chars, chars + 7), (std::vector<int32_t>{0, 1, 1, 2, 3, 3, 0}));
  EXPECT_EQ(fst_char_offsets(at, -1, chars, text, fsm.get()), -8);
  EXPECT_EQ(fst_char_offsets(nullptr, 1, chars, text, fsm.get()), -28);
  EXPECT_EQ(fst_char_offsets(at, 1, chars, text, fst_error_handle(-2)), -2);
}

}  // namespace
}  // namespace vorlane
