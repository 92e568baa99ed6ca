#include "linguistics/fst/lookup.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "linguistics/fst/dictionary.h"
#include "linguistics/fst/fst_test_fixtures.h"
#include "tools/fst/fst_pairs.h"

namespace vorlane {
namespace {

using fst_test::FsmPtr;

FsmPtr compile(const std::vector<fstw::Pair>& pairs, const fstw::PairOptions& options) {
  fstw::FileSpec spec;
  std::string error;
  EXPECT_TRUE(fstw::compile_pairs(pairs, options, &spec, &error)) << error;
  return fst_test::load(fst_test::write_image(spec));
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
