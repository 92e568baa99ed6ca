// Phrases and stems of real sentences through the default English resource
// set (built into build/resources/english at build time); skipped when the
// set was not built.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/analysis/ling_calls.h"
#include "engine/analysis/phrase_output.h"
#include "engine/analysis/stem_output.h"
#include "engine/analysis/stopwords.h"
#include "engine/testing/language_sets.h"
#include "engine/testing/text_analysis_testing.h"
#include "engine/analysis/token_passes.h"

namespace vorlane::engine {
namespace {

using V = std::vector<std::string>;

const std::string kEnglish = std::string(VORLANE_ENGLISH_DIR) + "/english";

class EnglishText : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kEnglish + ".hmm")) GTEST_SKIP() << "no default English resource set";
    static const char* const stop[] = {"a",  "an", "and", "are",  "as",  "at", "be",  "by",   "for", "from", "in", "is",
                                       "it", "of", "on",  "or",   "that", "the", "this", "to", "was", "were", "with", nullptr};
    static zop_handle loaded = testing_sets::load_set(kEnglish, stop);
    ASSERT_NE(loaded.stemmer, nullptr);
    handle_ = loaded;
  }
  V stems(const char* text, int all) { return testing_text::stems_of(handle_, text, all, 2048); }
  V phrases(const char* text, int mode) { return testing_text::phrases_of(handle_, text, kStemShortest, mode, 4096); }
  zop_handle handle_;
};

// Hand-checked: shortest stems keep capitalised words as written and stem
// stop words like other words; all stems add the word when it is not among
// its stems.
TEST_F(EnglishText, StemsOfSentences) {
  EXPECT_EQ(stems("The children were running to the old houses of New York.", 0),
            (V{"The", "child", "be", "run", "to", "the", "old", "house", "of", "New", "York"}));
  EXPECT_EQ(stems("The children were running to the old houses of New York.", 1),
            (V{"The", "child", "children", "be", "were", "run", "running", "to", "the", "old", "house", "houses", "of",
               "New", "York"}));
  EXPECT_EQ(stems("Mice ate the cheese in the kitchen.", 0),
            (V{"Mice", "eat", "the", "cheese", "in", "the", "kitchen"}));
  EXPECT_EQ(stems("Mice ate the cheese in the kitchen.", 1),
            (V{"Mouse", "Mice", "eat", "ate", "the", "cheese", "in", "the", "kitchen"}));
  EXPECT_EQ(stems("Bank of America opened new offices in the cities.", 0),
            (V{"Bank", "of", "America", "open", "new", "office", "in", "the", "city"}));
}

// Mode 1 (queries): the longest window at each position, skipping what it
// covered.
TEST_F(EnglishText, QueryPhrasesOfSentences) {
  EXPECT_EQ(phrases("The children were running to the old houses of New York.", 1),
            (V{"Thechild", "child.berun", "run.to.theold", "oldhouse", "house.ofNew", "NewYork"}));
  EXPECT_EQ(phrases("Mice ate the cheese in the kitchen.", 1), (V{"Miceeat", "eat.thecheese", "cheese.in.thekitchen"}));
  EXPECT_EQ(phrases("Bank of America opened new offices in the cities.", 1),
            (V{"Bank.ofAmerica", "Americaopen", "opennew", "newoffice", "office.in.thecity"}));
}

// Mode 0 (indexing): every window at every position (a separator's window is
// the next word's), and a folded second variant of phrases with names.
TEST_F(EnglishText, IndexPhrasesOfSentences) {
  EXPECT_EQ(phrases("Mice ate the cheese in the kitchen.", 0),
            (V{"Miceeat", "mouseeat", "eat.thecheese", "eat.the", "eat.thecheese", "eat.the", "thecheese",
               "thecheese", "cheese.in.thekitchen", "cheese.in.the", "cheese.in", "cheese.in.thekitchen",
               "cheese.in.the", "cheese.in", "in.thekitchen", "in.thekitchen", "thekitchen", "thekitchen"}));
  EXPECT_EQ(phrases("Bank of America opened new offices in the cities.", 0),
            (V{"Bank.ofAmerica", "bank.ofamerica", "Bank.of", "bank.of", "ofAmerica", "ofamerica", "ofAmerica",
               "ofamerica", "Americaopen", "americaopen", "Americaopen", "americaopen", "opennew", "opennew",
               "newoffice", "newoffice", "office.in.thecity", "office.in.the", "office.in", "office.in.thecity",
               "office.in.the", "office.in", "in.thecity", "in.thecity", "thecity", "thecity"}));
}

}  // namespace
}  // namespace vorlane::engine
