// conflate_text over real sentences with the default English resource set
// (built into build/resources/english at build time); skipped when the set
// was not built.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/document/conflate.h"
#include "engine/analysis/ling_calls.h"
#include "engine/analysis/stopwords.h"
#include "engine/testing/language_sets.h"

namespace vorlane::engine {
namespace {

const std::string kEnglish = std::string(VORLANE_ENGLISH_DIR) + "/english";

class ConflateEnglish : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kEnglish + ".hmm")) GTEST_SKIP() << "no default English resource set";
    static const char* const stop[] = {"a", "an", "and", "in", "of", "the", "to", nullptr};
    static zop_handle loaded = testing_sets::load_set(kEnglish, stop);
    ASSERT_NE(loaded.stemmer, nullptr);
    handle_ = loaded;
  }
  std::string run(const std::string& text, ConflateFlags f) {
    std::vector<char> out(conflate_text_output_size(text.size()));
    std::vector<char> list(kConflateListSize);
    const size_t n = conflate_text_write(text.data(), text.size(), f, handle_, out.data(), out.size(),
                                         list.data(), list.size());
    return std::string(out.data(), n);
  }
  zop_handle handle_;
};

TEST_F(ConflateEnglish, WordsWithConflatedAndLoweredForms) {
  // Words are lower-cased by the word writer; each is followed by its
  // conflated form when that differs.
  EXPECT_EQ(run("Cr\xE8me br\xFBl\xE9" "e", {0, 1, 0, 0, 1, 1}), "cr\xE8me creme br\xFBl\xE9" "e brulee ");
  // Upper-case Latin-1 letters survive the word writer: lower-cased forms
  // follow, in the order s, conflated, lower(conflated), lower(s).
  EXPECT_EQ(run("\xC9" "COLE", {0, 1, 0, 0, 1, 1}), "\xC9" "cole Ecole ecole \xE9" "cole ");
  EXPECT_EQ(run("\xC9" "COLE", {0, 1, 0, 0, 1, 0}), "\xC9" "cole Ecole ");
  EXPECT_EQ(run("\xC9" "COLE", {0, 1, 0, 0, 0, 1}), "\xC9" "cole \xE9" "cole ");
  EXPECT_EQ(run("Stra\xDF" "e", {0, 1, 0, 0, 1, 1}), "stra\xDF" "e strasse ");
}

TEST_F(ConflateEnglish, PhrasesThenWords) {
  const std::string text = "The quick brown fox jumped over the lazy dogs in M\xFCnchen";
  const std::string phrases = run(text, {1, 0, 1, 0, 1, 1});
  const std::string both = run(text, {1, 1, 1, 0, 1, 1});
  const std::string words = run(text, {0, 1, 1, 0, 1, 1});
  ASSERT_FALSE(phrases.empty());
  // Phrases come first; the words follow them only when asked for.
  EXPECT_EQ(both, phrases + words);
  // Phrases are written as identifiers (their words run together, a stop
  // word after a '.'), each followed by its variants.
  EXPECT_EQ(phrases.find("quickbrown "), phrases.rfind("quickbrown ")) << phrases;
  EXPECT_NE(phrases.find("quickbrown "), std::string::npos) << phrases;
  EXPECT_NE(phrases.find("dogs.inm\xFCnchen dogs.inmuenchen "), std::string::npos) << phrases;
  EXPECT_EQ(words.find("quickbrown"), std::string::npos) << words;
  EXPECT_NE(words.find("quick brown fox "), std::string::npos) << words;
  EXPECT_NE(words.find("m\xFCnchen muenchen "), std::string::npos) << words;
}

TEST_F(ConflateEnglish, PhrasesAskedForButNoneFoundGiveTheWords) {
  EXPECT_EQ(run("dogs", {1, 0, 1, 0, 1, 1}), run("dogs", {0, 1, 1, 0, 1, 1}));
  EXPECT_EQ(run("dogs", {1, 0, 1, 0, 1, 1}), "dogs ");
}

TEST_F(ConflateEnglish, StemsComeWithTheirWords) {
  // Every stem of each word, and the word itself when it is not one of them.
  const std::string stems = run("The dogs were running", {0, 1, 1, 1, 0, 0});
  EXPECT_NE(stems.find("dog dogs "), std::string::npos) << stems;
  EXPECT_NE(stems.find("run running "), std::string::npos) << stems;
  // Stemmed phrases.
  const std::string phrases = run("The dogs were running", {1, 0, 1, 1, 0, 0});
  EXPECT_NE(phrases.find("berun "), std::string::npos) << phrases;  // "were running"
  EXPECT_EQ(phrases.find("running"), std::string::npos) << phrases;
}

}  // namespace
}  // namespace vorlane::engine
