#include "tools/zop/english_tagger.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vorlane::zopw {
namespace {

using Tags = std::vector<std::string>;

TEST(EnglishTaggerTest, KeptTags) {
  EXPECT_EQ(kept_tags({{"VB", 610}, {"VBP", 116}, {"NN", 1}}, 0.01), (Tags{"VB", "VBP"}));
  EXPECT_EQ(kept_tags({{"NN", 1754}, {"VB", 24}}, 0.01), (Tags{"NN", "VB"}));
  EXPECT_EQ(kept_tags({{"NN", 1}, {"JJ", 1}}, 0.5), (Tags{"JJ", "NN"}));
  EXPECT_EQ(kept_tags({{"NN", 1}}, 0.9), (Tags{"NN"}));  // the best one always stays
  EXPECT_EQ(kept_tags({}, 0.1), Tags{});
}

class EnglishTaggerBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corpus_.words = {{"In", {{"IN", 100}, {"NNP", 2}}},
                     {"in", {{"IN", 500}, {"RB", 10}}},
                     {"General", {{"NNP", 40}, {"JJ", 3}}},
                     {"general", {{"JJ", 50}}},
                     {"index", {{"NN", 20}}},
                     {"the", {{"DT", 1000}}},
                     {"*LRB*", {{"LPAR", 5}}},
                     {"*NUM*", {{"CD", 30}}},
                     {".", {{"SENT", 100}}}};
    for (const auto& [w, counts] : corpus_.words) {
      for (const auto& [t, n] : counts) corpus_.tag_counts[t] += n;
    }
    corpus_.transitions = {{"DT", {{"NN", 0.9}, {"JJ", 0.1}}}, {"IN", {{"DT", 1.0}}}};
    corpus_.initial = {{"DT", 0.5}, {"IN", 0.5}};
    EnglishTaggerSources sources;
    sources.corpus = &corpus_;
    sources.fallback = {{"index", {{"NN", 3}, {"VB", 2}, {"VBP", 2}}},
                        {"module", {{"NN", 50}, {"VB", 1}}},
                        {"objects", {{"NNS", 58}, {"VBZ", 20}}},
                        {"Python", {{"NNP", 1}}}};
    std::string error;
    ASSERT_TRUE(build_english_tagger(sources, &tagger_, &error)) << error;
  }
  Tags tags_of(const std::string& w) {
    for (const auto& e : tagger_.lexicon) {
      if (e.word == w) return e.classes;
    }
    return {};
  }
  bool has_class(const Tags& tags) {
    std::string symbols;
    for (const std::string& t : tags) symbols += "[" + t + "]";
    for (const auto& c : tagger_.model.classes) {
      if (c.symbols == symbols) return true;
    }
    return false;
  }
  TaggedLexicon corpus_;
  EnglishTagger tagger_;
};

TEST_F(EnglishTaggerBuildTest, WordTags) {
  EXPECT_EQ(tags_of("In"), Tags{"IN"});                 // not a name: its lower-case form is known
  EXPECT_EQ(tags_of("General"), (Tags{"JJ", "NNP"}));  // mostly a name
  EXPECT_EQ(tags_of("in"), (Tags{"IN", "RB"}));
  EXPECT_EQ(tags_of("index"), (Tags{"NN", "VB", "VBP"}));  // WordNet's verb joins the corpus's noun
  EXPECT_EQ(tags_of("module"), Tags{"NN"});                // a rare WordNet reading does not
  EXPECT_EQ(tags_of("objects"), (Tags{"NNS", "VBZ"}));
  EXPECT_EQ(tags_of("Python"), Tags{"NNP"});
  EXPECT_EQ(tags_of("("), Tags{"LPAR"});
  EXPECT_EQ(tags_of("["), Tags{"LPAR"});
  EXPECT_EQ(tags_of("7"), Tags{"CD"});
  EXPECT_EQ(tags_of("*NUM*"), Tags{});
}

TEST_F(EnglishTaggerBuildTest, Model) {
  const HmmDesc& m = tagger_.model;
  const Tags& tags = english_tags();
  ASSERT_EQ(m.tags, tags);
  ASSERT_FALSE(m.classes.empty());
  EXPECT_EQ(m.classes[0].symbols, "[NN]");
  // Sentence-start unions and the guesser's classes are classes too.
  EXPECT_TRUE(has_class({"IN", "RB"}));
  EXPECT_TRUE(has_class({"JJ", "NN", "NNP"}));
  EXPECT_TRUE(has_class({"CD", "NNP"}));
  for (const auto& c : m.classes) {
    ASSERT_FALSE(c.members.empty()) << c.symbols;
    EXPECT_TRUE(std::is_sorted(c.members.begin(), c.members.end())) << c.symbols;
    for (const auto& [tag, score] : c.members) {
      EXPECT_LE(score, -1) << c.symbols;
      EXPECT_NE(c.symbols.find("[" + tags[static_cast<size_t>(tag)] + "]"), std::string::npos) << c.symbols;
    }
  }
  ASSERT_EQ(m.initial.size(), tags.size());
  ASSERT_EQ(m.rows.size(), tags.size());
  const auto number = [&](const char* t) {
    return static_cast<size_t>(std::find(tags.begin(), tags.end(), t) - tags.begin());
  };
  for (const auto& row : m.rows) {
    ASSERT_EQ(row.size(), tags.size());
    for (int32_t s : row) EXPECT_LE(s, -1);
  }
  // rows[t][p]: a noun after a determiner beats an adjective, and both beat
  // a transition the corpus never saw.
  EXPECT_GT(m.rows[number("NN")][number("DT")], m.rows[number("JJ")][number("DT")]);
  EXPECT_GT(m.rows[number("JJ")][number("DT")], m.rows[number("VB")][number("DT")]);
  EXPECT_GT(m.initial[number("DT")], m.initial[number("NN")]);
}

}  // namespace
}  // namespace vorlane::zopw
