#include "linguistics/zop/grouper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linguistics/testing/zop_test_fixtures.h"
#include "tools/zop/grouper_net.h"

namespace vorlane {
namespace {

using zop_test::FsmPtr;

const std::vector<std::string> kTags = {"DT", "JJ", "NN", "POS", "VB", "IN", "CC"};

zopw::NpGrammar outer_grammar() { return {{"NN"}, {"DT", "JJ"}, {"POS"}, {"VB", "IN", "CC"}}; }
zopw::NpGrammar inner_grammar() { return {{"NN"}, {}, {}, {"DT", "JJ", "POS", "VB", "IN", "CC"}}; }

FsmPtr grammar_fsm() {
  fstw::FileDesc desc;
  std::string error;
  EXPECT_TRUE(zopw::grouper_desc(outer_grammar(), inner_grammar(), kTags, &desc, &error)) << error;
  return zop_test::load_desc(desc);
}

// A function-62 net that accepts one tag sequence, with brackets written
// where the items name them ("(np", ")np").
FsmPtr sequence_fsm(const std::vector<std::string>& items) {
  fstw::Alphabet alphabet = zopw::grouper_alphabet(kTags);
  zopw::GrouperNetBuilder b(&alphabet);
  int32_t s = b.state();
  b.tagsep(0, s);
  for (const std::string& item : items) {
    int32_t next = b.state();
    EXPECT_TRUE(item[0] == '(' || item[0] == ')' ? b.insert(s, item, next) : b.tag(s, item, next)) << item;
    s = next;
  }
  int32_t f = b.state(true);
  b.end(s, f);
  fstw::FileDesc desc;
  desc.coding_flags = 0;
  alphabet.apply(&desc);
  desc.nets = {b.finish()};
  desc.functions = {{62, 0}};
  return zop_test::load_desc(desc);
}

std::string join(const std::vector<std::string>& tags) {
  std::string s;
  for (const auto& t : tags) s += t + '\0';
  return s;
}

struct G {
  int32_t first, count;
  std::string name;
  bool operator==(const G&) const = default;
};
std::ostream& operator<<(std::ostream& os, const G& g) {
  return os << "{" << g.first << "," << g.count << "," << g.name << "}";
}

std::vector<G> group(const void* grouper, const std::vector<std::string>& tags, int32_t flags, int32_t* rc = nullptr,
                     int32_t capacity = 32) {
  std::string joined = join(tags);
  std::vector<PhraseGroup> groups(64);
  char names[256];
  int32_t n = group_phrases(joined.data(), static_cast<int32_t>(tags.size()), flags, groups.data(), capacity, names,
                            sizeof names, grouper);
  if (rc) *rc = n;
  std::vector<G> out;
  for (int32_t i = 0; i < n; ++i) out.push_back({groups[i].first, groups[i].count, names + groups[i].name});
  return out;
}

struct GrouperPtr {
  void* g;
  explicit GrouperPtr(const FsmPtr& fsm) : g(grouper_create(fsm.get())) { EXPECT_EQ(fst_status(g), 0); }
  ~GrouperPtr() { grouper_free(g); }
};

TEST(GrouperTest, GrammarGroups) {
  FsmPtr fsm = grammar_fsm();
  GrouperPtr gr(fsm);
  struct Case {
    std::vector<std::string> tags;
    std::vector<G> groups;
  };
  const std::vector<Case> cases = {
      {{"VB", "DT", "JJ", "NN"}, {{1, 3, "np"}}},
      {{"DT", "NN", "NN", "VB", "DT", "NN"}, {{0, 3, "np"}, {4, 2, "np"}}},
      {{"DT", "JJ", "VB"}, {}},
      {{"DT", "JJ", "NN", "POS", "NN"}, {{0, 5, "np"}}},
      {{"NN", "POS", "VB"}, {{0, 1, "np"}}},
      {{"NN", "DT", "NN"}, {{0, 1, "np"}, {1, 2, "np"}}},
      // Multi-word parts before the token that opens a group belong to it.
      {{"VB", "__mwt", "__mwt", "NN", "VB"}, {{1, 3, "np"}}},
      // Blank tokens inside a group count; those after its last tag do not.
      {{"DT", "", "NN", "", "VB"}, {{0, 3, "np"}}},
      {{"", ""}, {}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    int32_t rc = 0;
    EXPECT_EQ(group(gr.g, c.tags, 0, &rc), c.groups) << join(c.tags);
    EXPECT_EQ(rc, static_cast<int32_t>(c.groups.size()));
  }
}

// Participles modify after a modifier of the phrase; numbers after its
// nouns close it unless a phrase follows at once. Every tag sequence has
// exactly one bracketing: one result, groups that never overlap.
TEST(GrouperTest, ParticiplesAndTrailingNumbers) {
  const std::vector<std::string> tags = {"DT", "JJ", "CD", "NN", "POS", "VBN", "IN", "VB"};
  zopw::NpGrammar outer{{"NN"}, {"DT", "JJ", "CD"}, {"POS"}, {"IN", "VB"}};
  outer.inside = {"VBN"};
  outer.numbers = {"CD"};
  const zopw::NpGrammar inner{{"NN"}, {}, {}, {"DT", "JJ", "CD", "POS", "VBN", "IN", "VB"}};
  fstw::FileDesc desc;
  std::string error;
  ASSERT_TRUE(zopw::grouper_desc(outer, inner, tags, &desc, &error)) << error;
  FsmPtr fsm = zop_test::load_desc(desc);
  GrouperPtr gr(fsm);
  struct Case {
    std::vector<std::string> tags;
    std::vector<G> groups;
  };
  const std::vector<Case> cases = {
      {{"NN", "CD"}, {{0, 2, "np"}}},
      {{"NN", "CD", "CD", "IN"}, {{0, 3, "np"}}},
      {{"NN", "CD", "NN"}, {{0, 1, "np"}, {1, 2, "np"}}},
      {{"NN", "CD", "JJ", "NN"}, {{0, 1, "np"}, {1, 3, "np"}}},
      {{"NN", "CD", "JJ", "IN"}, {{0, 2, "np"}}},
      {{"NN", "CD", "POS"}, {{0, 2, "np"}}},
      {{"CD", "NN", "CD"}, {{0, 3, "np"}}},
      {{"DT", "VBN", "NN"}, {{0, 3, "np"}}},
      {{"VBN", "NN"}, {{1, 1, "np"}}},
      {{"DT", "VBN", "IN", "DT", "NN"}, {{3, 2, "np"}}},
      {{"NN", "VBN", "NN"}, {{0, 1, "np"}, {2, 1, "np"}}},
      {{"DT", "NN", "POS", "VBN", "NN"}, {{0, 5, "np"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(group(gr.g, c.tags, 0), c.groups) << join(c.tags);
  // Every sequence of up to four tags.
  std::vector<size_t> at;
  for (size_t length = 1; length <= 4; ++length) {
    at.assign(length, 0);
    for (;;) {
      std::vector<std::string> seq;
      for (size_t i : at) seq.push_back(tags[i]);
      int32_t rc = 0;
      const std::vector<G> groups = group(gr.g, seq, 0, &rc);
      ASSERT_GE(rc, 0) << join(seq);
      for (size_t i = 1; i < groups.size(); ++i) {
        EXPECT_GE(groups[i].first, groups[i - 1].first + groups[i - 1].count) << join(seq);
      }
      size_t k = 0;
      while (k < length && ++at[k] == tags.size()) at[k++] = 0;
      if (k == length) break;
    }
  }
}

TEST(GrouperTest, RegroupAndSort) {
  FsmPtr fsm = grammar_fsm();
  GrouperPtr gr(fsm);
  const std::vector<std::string> tags = {"DT", "JJ", "NN", "POS", "NN", "VB", "DT", "NN"};
  EXPECT_EQ(group(gr.g, tags, 2), (std::vector<G>{{0, 5, "np"}, {6, 2, "np"}}));
  EXPECT_EQ(group(gr.g, tags, 1),
            (std::vector<G>{{0, 5, "np"}, {6, 2, "np"}, {2, 1, "np"}, {4, 1, "np"}, {7, 1, "np"}}));
  EXPECT_EQ(group(gr.g, tags, 3),
            (std::vector<G>{{0, 5, "np"}, {2, 1, "np"}, {4, 1, "np"}, {6, 2, "np"}, {7, 1, "np"}}));
  // A regroup that finds the parent again adds nothing.
  EXPECT_EQ(group(gr.g, {"NN", "NN"}, 3), (std::vector<G>{{0, 2, "np"}}));
}

TEST(GrouperTest, NestedAndFaultyBrackets) {
  FsmPtr nested = sequence_fsm({"(np", "(np", "DT", "NN", ")np", "NN", ")np", "VB"});
  GrouperPtr gn(nested);
  EXPECT_EQ(group(gn.g, {"DT", "NN", "NN", "VB"}, 0), (std::vector<G>{{0, 3, "np"}, {0, 2, "np"}}));
  // A close with no open group is ignored; a group never closed keeps -1.
  FsmPtr faulty = sequence_fsm({")np", "DT", "(np", "NN"});
  GrouperPtr gf(faulty);
  EXPECT_EQ(group(gf.g, {"DT", "NN"}, 0), (std::vector<G>{{1, -1, "np"}}));
  // Without function 63 regrouping fails.
  int32_t rc = 0;
  group(gn.g, {"DT", "NN", "NN", "VB"}, 1, &rc);
  EXPECT_EQ(rc, -11);
  // A sequence the net does not accept gives no result.
  group(gn.g, {"VB"}, 0, &rc);
  EXPECT_EQ(rc, -5);
}

TEST(GrouperTest, FstcTagSequenceList) {
  // A grouper compiled as fstc compiles an ".npr" list: tag sequences and
  // their bracketed copies.
  fstw::PairOptions options;
  options.functions = {62, 63};
  options.surface_tags = true;
  fstw::FileDesc desc;
  std::string error;
  ASSERT_TRUE(fstw::compile_pairs({{"[VB][DT][JJ][NN]", "[VB][(np][DT][JJ][NN][)np]"},
                                   {"[DT][NN][NN]", "[(np][(np][DT][NN][)np][NN][)np]"}},
                                  options, &desc, &error))
      << error;
  FsmPtr fsm = zop_test::load_desc(desc);
  GrouperPtr gr(fsm);
  EXPECT_EQ(group(gr.g, {"VB", "DT", "JJ", "NN"}, 0), (std::vector<G>{{1, 3, "np"}}));
  EXPECT_EQ(group(gr.g, {"DT", "NN", "NN"}, 0), (std::vector<G>{{0, 3, "np"}, {0, 2, "np"}}));
  EXPECT_EQ(group(gr.g, {"VB", "__mwt", "DT", "JJ", "", "NN", ""}, 0), (std::vector<G>{{1, 5, "np"}}));
}

TEST(GrouperTest, Errors) {
  FsmPtr fsm = grammar_fsm();
  GrouperPtr gr(fsm);
  int32_t rc = 0;
  group(gr.g, {"VB", "DT", "NN"}, 0, &rc, 0);
  EXPECT_EQ(rc, -12);
  group(gr.g, {"VB", "XX"}, 0, &rc);
  EXPECT_EQ(rc, -10);
  PhraseGroup groups[2];
  char names[8];
  EXPECT_EQ(group_phrases(nullptr, 1, 0, groups, 2, names, 8, gr.g), -28);
  EXPECT_EQ(group_phrases("NN", -1, 0, groups, 2, names, 8, gr.g), -8);
  EXPECT_EQ(group_phrases("NN", 1, 0, groups, 2, names, 8, fst_error_handle(-3)), -3);
  EXPECT_EQ(group_phrases("NN", 1, 0, groups, 2, names, 2, gr.g), -12);  // "np" and its NUL need 3
  EXPECT_EQ(fst_status(grouper_create(nullptr)), -28);
  EXPECT_EQ(fst_status(grouper_create(fst_error_handle(-2))), -2);
  FsmPtr stemmer = zop_test::load_desc(zop_test::pair_desc({{"a", "a"}}, {27}));
  EXPECT_EQ(fst_status(grouper_create(stemmer.get())), -11);
  grouper_free(nullptr);
}

TEST(GrouperTest, LongSentenceGrowsItsBuffers) {
  FsmPtr fsm = grammar_fsm();
  GrouperPtr gr(fsm);
  std::vector<std::string> tags;
  for (int i = 0; i < 400; ++i) {
    tags.insert(tags.end(), {"DT", "JJ", "NN", "VB"});
  }
  std::string joined = join(tags);
  std::vector<PhraseGroup> groups(500);
  std::vector<char> names(4096);
  int32_t n = group_phrases(joined.data(), static_cast<int32_t>(tags.size()), 0, groups.data(), 500, names.data(),
                            4096, gr.g);
  ASSERT_EQ(n, 400);
  EXPECT_EQ(groups[399].first, 1596);
  EXPECT_EQ(groups[399].count, 3);
}

}  // namespace
}  // namespace vorlane
