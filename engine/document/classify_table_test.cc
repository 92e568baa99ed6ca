// The classification table: builds, matching, and a model of the rules.
#include "engine/document/classify_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

crule_def rule(int64_t topic, int64_t id, std::vector<std::string> pos, std::vector<std::string> neg) {
  crule_def s;
  s.topic = topic;
  s.rule = id;
  s.positive = std::move(pos);
  s.negative = std::move(neg);
  return s;
}

// The topics of a document whose terms are the words of text (blanks apart).
std::vector<uint32_t> topics_of(const std::string& text, const std::string& prefix = "") {
  crule_elem* hits = nullptr;
  classify_field(prefix.data(), prefix.size(), text.data(), text.size(), &hits);
  uint32_t* t = crule_topics(hits);
  crule_free_hits(hits);
  std::vector<uint32_t> out;
  for (uint32_t* p = t; *p; ++p) out.push_back(*p);
  free(t);
  return out;
}

classify_build_result build(const std::vector<crule_def>& rules, int estimate = 100) {
  return classify_build(rules.data(), rules.size(), estimate);
}

// For random rule sets and documents, the topics are those of the rules
// that a direct reading finds satisfied: every one of the first 64 positive
// terms present (and at least one), none of the first 64 negative ones.
TEST(ClassifyTable, TopicsAreWhatTheRulesSay) {
  std::mt19937 rng(27);
  std::vector<std::string> vocab;
  for (int i = 0; i < 24; ++i) vocab.push_back("w" + std::to_string(i));
  auto pick = [&](int max) {
    std::vector<std::string> v(std::uniform_int_distribution<int>(0, max)(rng));
    for (auto& s : v) s = vocab[std::uniform_int_distribution<size_t>(0, vocab.size() - 1)(rng)];
    return v;
  };
  for (int round = 0; round < 60; ++round) {
    std::vector<crule_def> rules;
    const int nrules = std::uniform_int_distribution<int>(1, 40)(rng);
    for (int r = 0; r < nrules; ++r) {
      // Distinct (topic, rule id) pairs: the topic decides, several rules
      // share a topic.
      std::vector<std::string> pos = pick(r % 13 == 0 ? 70 : 4);
      rules.push_back(rule(1 + r % 7, r, pos, pick(2)));
    }
    LogCapture quiet(0);
    const classify_build_result b = build(rules);
    ASSERT_EQ(b.status, kClassifyBuilt);
    ASSERT_EQ(b.loaded, nrules);
    for (int doc = 0; doc < 30; ++doc) {
      std::set<std::string> present;
      std::string text;
      for (const std::string& w : pick(12)) {
        present.insert(w);
        text += (text.empty() ? "" : " ") + w;
      }
      std::set<uint32_t> want;
      for (const crule_def& r : rules) {
        const size_t np = std::min<size_t>(r.positive.size(), 64), nn = std::min<size_t>(r.negative.size(), 64);
        bool fires = np > 0;
        for (size_t j = 0; j < np; ++j) fires = fires && present.count(r.positive[j]);
        for (size_t j = 0; j < nn; ++j) fires = fires && !present.count(r.negative[j]);
        if (fires) want.insert(static_cast<uint32_t>(r.topic));
      }
      const std::vector<uint32_t> got = topics_of(text);
      EXPECT_EQ(std::set<uint32_t>(got.begin(), got.end()), want) << text;
      EXPECT_EQ(std::set<uint32_t>(got.begin(), got.end()).size(), got.size()) << "a topic twice";
    }
  }
}

TEST(ClassifyTable, CountsAndRebuilds) {
  LogCapture log;
  classify_build_result b = build({rule(7, 1, {"a", "b"}, {"c"}), rule(7, 2, {"b"}, {}), rule(9, 70000, {"x"}, {}),
                                   rule(9, -1, {"z"}, {})});
  EXPECT_EQ(b.status, kClassifyBuilt);
  EXPECT_EQ(b.loaded, 3);   // the rule id of 70,000 is skipped
  EXPECT_EQ(b.counted, 5);  // and its terms are not counted
  EXPECT_EQ(b.stored, 4);
  EXPECT_TRUE(log.contains("py_classify_build_table: topic 9, rule_id too big (70000), skipped"));
  EXPECT_TRUE(log.contains("py_classify_build_table: processing 4 rules, 100 terms (estimated)"));
  EXPECT_EQ(topics_of("z"), std::vector<uint32_t>{9});  // rule id -1 kept as 65535
  int64_t s[7];
  ASSERT_TRUE(classify_stats(s));
  EXPECT_EQ(s[0], 134);  // 100 x 1.33 + 1
  EXPECT_EQ(s[1], 4);
  EXPECT_EQ(s[5], 2);  // "b" heads two elements
  EXPECT_EQ(s[6], 5);
  // A new build replaces every rule.
  ASSERT_EQ(build({rule(3, 1, {"q"}, {})}).status, kClassifyBuilt);
  EXPECT_EQ(topics_of("a b"), std::vector<uint32_t>{});
  EXPECT_EQ(topics_of("q"), std::vector<uint32_t>{3});
}

TEST(ClassifyTable, AFailedBuildLeavesNoTable) {
  ASSERT_EQ(build({rule(3, 1, {"q"}, {})}).status, kClassifyBuilt);
  LogCapture log;
  // A table of one entry holds one term; the second cannot be stored.
  const classify_build_result b = build({rule(7, 1, {"a", "b"}, {})}, 0);
  EXPECT_EQ(b.status, kClassifyInsertFailed);
  EXPECT_TRUE(log.contains("py_classify_build_table: unable to insert term \"b\""));
  EXPECT_FALSE(classify_table_built());
  int64_t s[7];
  EXPECT_FALSE(classify_stats(s));
  crule_elem* hits = nullptr;
  EXPECT_EQ(match_rules("q", 1, &hits), 0);
  EXPECT_EQ(hits, nullptr);
}

TEST(ClassifyTable, ARuleWhoseNegativesCannotBeMadeIsLeftOutWhole) {
  static int calls;
  calls = 0;
  // The second block is the negative side of rule (7, 1).
  crule_alloc = [](size_t bytes) -> void* { return ++calls == 2 ? nullptr : malloc(bytes); };
  LogCapture log;
  const classify_build_result b = build({rule(7, 1, {"a"}, {"c"}), rule(8, 1, {"a"}, {})});
  crule_alloc = malloc;
  EXPECT_EQ(b.status, kClassifyBuilt);
  EXPECT_EQ(b.loaded, 1);
  EXPECT_TRUE(log.contains("couldn't create crule_elems for negative terms in topic 7, rule 1"));
  // Rule 7 never fires without its negative term, not even on "a c".
  EXPECT_EQ(topics_of("a c"), std::vector<uint32_t>{8});
  EXPECT_EQ(topics_of("a"), std::vector<uint32_t>{8});
}

TEST(ClassifyTable, FieldsCutAtBlanksBehindTheirPrefix) {
  const std::string long_prefix(600, 'p');
  const std::string long_word(600, 'w');
  ASSERT_EQ(build({rule(1, 1, {"title:red"}, {}), rule(2, 1, {"title:"}, {}), rule(3, 1, {long_prefix.substr(0, 511)}, {}),
                   rule(4, 1, {"x:" + long_word.substr(0, 509)}, {}), rule(5, 1, {"car"}, {})})
                .status,
            kClassifyBuilt);
  EXPECT_EQ(topics_of("big red car", "title:"), std::vector<uint32_t>{1});
  // Two blanks give an empty word: the prefix alone.
  EXPECT_EQ(topics_of("big  car", "title:"), std::vector<uint32_t>{2});
  // Terms are cut to 511 bytes, a prefix first.
  EXPECT_EQ(topics_of("anything", long_prefix), std::vector<uint32_t>{3});
  EXPECT_EQ(topics_of(long_word, "x:"), std::vector<uint32_t>{4});
  // The text runs to its length, NULs and all; a word is matched up to a NUL.
  const std::string with_nul("car\0zzz", 7);
  EXPECT_EQ(topics_of(with_nul), std::vector<uint32_t>{5});
}

}  // namespace
}  // namespace vorlane::engine
