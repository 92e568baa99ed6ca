// Quality of the default English set's tagger and grouper on held-out real
// text (english_tagging_sample.h): coarse part-of-speech accuracy and
// noun-phrase F1 against the hand annotation, and a table of cases that
// once went wrong. VORLANE_QUALITY_ENGLISH names another set (its path
// without suffix) to measure it on the same sample; VORLANE_QUALITY_VERBOSE
// lists every difference.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "linguistics/zop/english_tagging_sample.h"
#include "linguistics/zop/grouper.h"
#include "linguistics/zop/resource_set.h"
#include "linguistics/zop/tagger.h"

namespace vorlane {
namespace {

std::string english_path() {
  const char* other = std::getenv("VORLANE_QUALITY_ENGLISH");
  return other != nullptr ? other : std::string(VORLANE_ENGLISH_DIR) + "/english";
}

// Coarse classes: nouns, verbs (with modals), adjectives, adverbs and
// particles, determiners, pronouns, wh-words, prepositions, conjunctions,
// numbers, possessive endings, punctuation, the rest.
std::string coarse(const std::string& tag) {
  static const std::map<std::string, std::string> map = {
      {"NN", "N"},     {"NNS", "N"},     {"NNP", "N"},     {"NNPS", "N"},  {"VB", "V"},    {"VBP", "V"},
      {"VBZ", "V"},    {"VBD", "V"},     {"VBN", "V"},     {"VBG", "V"},   {"MD", "V"},    {"JJ", "J"},
      {"JJR", "J"},    {"JJS", "J"},     {"RB", "R"},      {"RBR", "R"},   {"RBS", "R"},   {"RP", "R"},
      {"DT", "D"},     {"PDT", "D"},     {"PRP", "P"},     {"PRP$", "P"},  {"EX", "P"},    {"WDT", "W"},
      {"WP", "W"},     {"WP$", "W"},     {"WRB", "W"},     {"IN", "I"},    {"TO", "I"},    {"CC", "C"},
      {"CD", "M"},     {"POS", "S"},     {"SENT", "."},    {"COMMA", "."}, {"COLON", "."}, {"LPAR", "."},
      {"RPAR", "."},   {"QUOTE", "."}};
  auto it = map.find(tag);
  return it == map.end() ? "X" : it->second;
}

struct Gold {
  std::vector<std::string> words, tags;
  std::set<std::pair<int32_t, int32_t>> phrases;  // (first token, count)
};

// WORD/TAG tokens; "[" opens a phrase before a token, "]" closes it after.
Gold parse(const std::string& line) {
  Gold g;
  size_t at = 0;
  int32_t open = -1;
  while (at < line.size()) {
    size_t end = line.find(' ', at);
    if (end == std::string::npos) end = line.size();
    std::string tok = line.substr(at, end - at);
    at = end + 1;
    if (tok.empty()) continue;
    if (tok[0] == '[' && tok.size() > 1) {
      open = static_cast<int32_t>(g.words.size());
      tok.erase(0, 1);
    }
    bool close = false;
    if (tok.size() > 1 && tok.back() == ']') {
      close = true;
      tok.pop_back();
    }
    const size_t slash = tok.rfind('/');
    g.words.push_back(tok.substr(0, slash));
    g.tags.push_back(tok.substr(slash + 1));
    if (close && open >= 0) {
      g.phrases.insert({open, static_cast<int32_t>(g.words.size()) - open});
      open = -1;
    }
  }
  return g;
}

class EnglishTaggerQualityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(english_path() + ".hmm")) GTEST_SKIP() << "no default English resource set";
    ASSERT_EQ(zop_lang_init(&handle_, english_path().c_str()), 1);
    set_ = zop_local_init(handle_, nullptr);
    ASSERT_NE(set_, nullptr);
  }
  void TearDown() override {
    if (set_ != nullptr) zop_local_free(set_);
  }
  // Tags and phrases of the given tokens, as phrase extraction makes them.
  void analyse(const std::vector<std::string>& words, std::vector<std::string>* tags,
               std::set<std::pair<int32_t, int32_t>>* phrases) {
    std::string text;
    for (const std::string& w : words) text += w + '\0';
    std::vector<char> out(65536);
    const auto n = static_cast<int32_t>(words.size());
    ASSERT_EQ(tag_sentence(text.data(), n, out.data(), static_cast<int32_t>(out.size()), 1, set_->hmm,
                           set_->tagger_buffer, nullptr, nullptr),
              n);
    tags->clear();
    for (const char* p = out.data(); tags->size() < words.size(); p += std::strlen(p) + 1) tags->emplace_back(p);
    PhraseGroup groups[256];
    char names[1024];
    const int32_t count = group_phrases(out.data(), n, 0, groups, 256, names, sizeof names, set_->grouper);
    ASSERT_GE(count, 0);
    phrases->clear();
    for (int32_t i = 0; i < count; ++i) {
      if (groups[i].count > 0) phrases->insert({groups[i].first, groups[i].count});
    }
  }
  zop_handle handle_{};
  zop_struct* set_ = nullptr;
};

TEST_F(EnglishTaggerQualityTest, HeldOutSample) {
  const bool verbose = std::getenv("VORLANE_QUALITY_VERBOSE") != nullptr;
  int64_t tokens = 0, coarse_right = 0, fine_right = 0, words = 0, word_right = 0;
  int64_t gold_phrases = 0, found_phrases = 0, matched = 0;
  size_t sentences = 0;
  for (const char* line : zop_test::kTaggingSample) {
    const Gold g = parse(line);
    std::vector<std::string> tags;
    std::set<std::pair<int32_t, int32_t>> phrases;
    analyse(g.words, &tags, &phrases);
    ++sentences;
    std::string diff;
    for (size_t i = 0; i < g.words.size(); ++i) {
      const bool same = coarse(tags[i]) == coarse(g.tags[i]);
      ++tokens;
      coarse_right += same;
      fine_right += tags[i] == g.tags[i];
      if (coarse(g.tags[i]) != ".") ++words, word_right += same;
      if (!same) diff += " " + g.words[i] + "/" + tags[i] + "(" + g.tags[i] + ")";
    }
    gold_phrases += static_cast<int64_t>(g.phrases.size());
    found_phrases += static_cast<int64_t>(phrases.size());
    for (const auto& p : phrases) matched += g.phrases.count(p);
    if (verbose && (!diff.empty() || phrases != g.phrases)) {
      std::string np;
      for (const auto& [first, count] : phrases) {
        np += " [";
        for (int32_t k = first; k < first + count; ++k) np += (k > first ? " " : "") + g.words[static_cast<size_t>(k)];
        np += "]";
      }
      std::printf("%s\n  tags:%s\n  phrases:%s\n", line, diff.c_str(), np.c_str());
    }
  }
  const double accuracy = 100.0 * static_cast<double>(coarse_right) / static_cast<double>(tokens);
  const double precision = 100.0 * static_cast<double>(matched) / static_cast<double>(found_phrases);
  const double recall = 100.0 * static_cast<double>(matched) / static_cast<double>(gold_phrases);
  const double f1 = 2 * precision * recall / (precision + recall);
  std::printf(
      "%zu sentences, %lld tokens: coarse tags %.1f%% (words only %.1f%%, fine tags %.1f%%); "
      "noun phrases %lld hand, %lld found, precision %.1f%%, recall %.1f%%, F1 %.1f%%\n",
      sentences, static_cast<long long>(tokens), accuracy,
      100.0 * static_cast<double>(word_right) / static_cast<double>(words),
      100.0 * static_cast<double>(fine_right) / static_cast<double>(tokens), static_cast<long long>(gold_phrases),
      static_cast<long long>(found_phrases), precision, recall, f1);
  EXPECT_GE(sentences, 100u);
  EXPECT_GE(accuracy, 95.0);
  EXPECT_GE(f1, 85.0);
}

// Cases that once went wrong: the coarse class of one word, or one phrase
// the grouper must find whole.
TEST_F(EnglishTaggerQualityTest, NamedCases) {
  struct Case {
    const char* sentence;  // blank-separated tokens
    const char* word;
    const char* coarse_class;  // or the phrase, when null
  };
  const Case cases[] = {
      {"In this case , the function returns None .", "In", "I"},
      {"As a result , the two objects share one buffer .", "As", "I"},
      {"It returns a list of objects .", "It", "P"},
      {"It returns a list of objects .", "objects", "N"},
      {"The module starts child processes .", "processes", "N"},
      {"Worker processes exit when the pool is closed .", "processes", "N"},
      {"Instances of this class have the following methods .", "Instances", "N"},
      {"All instances share the same class attribute .", "instances", "N"},
      {"Make sure the file exists .", "Make", "V"},
      {"You can make a copy of the list .", "make", "V"},
      {"See the documentation for details .", "See", "V"},
      {"Remove the old files first .", "Remove", "V"},
      {"You can remove the file later .", "remove", "V"},
      {"Python 3.6 added a new syntax .", "3.6", "M"},
      {"The function returns 42 when it succeeds .", "42", "M"},
      {"It was fixed in version 3 of the module .", "3", "M"},
      {"See FIPS 180-2 for details .", "180-2", "M"},
      {"A module-level variable holds the cache .", "A module-level variable", nullptr},
      {"This program is licensed under the GNU General Public License .", "the GNU General Public License",
       nullptr},
      {"We moved to version 3.6 of the library .", "version 3.6", nullptr},
      {"The old man 's dog chased a black cat .", "The old man's dog", nullptr},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words;
    for (const char* p = c.sentence; *p != 0;) {
      const char* e = std::strchr(p, ' ');
      if (e == nullptr) e = p + std::strlen(p);
      words.emplace_back(p, e);
      p = *e ? e + 1 : e;
    }
    std::vector<std::string> tags;
    std::set<std::pair<int32_t, int32_t>> phrases;
    analyse(words, &tags, &phrases);
    if (c.coarse_class != nullptr) {
      for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] != c.word) continue;
        EXPECT_EQ(coarse(tags[i]), c.coarse_class) << c.sentence << ": " << c.word << "/" << tags[i];
      }
      continue;
    }
    std::set<std::string> found;
    for (const auto& [first, count] : phrases) {
      std::string s;
      for (int32_t k = first; k < first + count; ++k) {
        const std::string& w = words[static_cast<size_t>(k)];
        s += (k > first && w != "'s" ? " " : "") + w;
      }
      found.insert(s);
    }
    EXPECT_TRUE(found.count(c.word)) << c.sentence << ": no phrase \"" << c.word << "\"";
  }
}

}  // namespace
}  // namespace vorlane
