#include "tools/zop/english_stems.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "linguistics/fst/lookup.h"
#include "linguistics/testing/fst_test_fixtures.h"
#include "tools/fst/fst_pairs.h"
#include "tools/zop/stem_guesser.h"

namespace vorlane {
namespace {

using S = std::set<std::string>;

// A small lexicon with the short words that went wrong: letters whose
// plurals are words of their own (os, us), a noun whose plural is a
// pronoun (its), a verb whose silent-e past is a noun (bed), plurals that
// are plain plurals (ads), irregular forms, and abbreviations.
zopw::StemSources short_word_sources() {
  zopw::StemSources src;
  src.lemmas[0] = {"o", "os", "u", "us", "it", "ad", "db", "bed", "hi", "dog", "man", "pa", "pas", "apis", "gps"};
  src.lemmas[1] = {"be", "have", "walk"};
  src.exceptions[0] = {{"men", {"man"}}, {"his", {"his"}}};
  src.exceptions[1] = {{"is", {"be"}}, {"was", {"be"}}, {"has", {"have"}}};
  src.counts = {{"be", {0, 9000, 0, 0}}, {"bed", {50, 0, 0, 0}}, {"have", {0, 5000, 0, 0}}, {"os", {1, 0, 0, 0}}};
  src.words = {"o", "u", "us", "it", "its", "ad", "ads", "bed", "dog", "dogs", "is", "was", "has", "his"};
  src.acronyms = {"api", "url", "pc", "vm", "gps", "sos"};
  src.acronym_plurals = {"pcs", "urls"};
  src.function_words = {"its", "his", "us", "is", "was", "has", "be", "have", "it"};
  return src;
}

TEST(EnglishStemsTest, ShortWordsKeepTheirOwnFormUnlessGivenAsInflections) {
  const auto stems = zopw::build_stems(short_word_sources());
  auto of = [&stems](const std::string& w) {
    auto it = stems.find(w);
    return it == stems.end() ? S{} : it->second;
  };
  struct Case {
    const char* word;
    S stems;
  } cases[] = {
      // Words of their own, pronouns and plurals of letters stay themselves.
      {"os", {"os"}}, {"us", {"us"}}, {"its", {"its"}}, {"his", {"his"}}, {"pas", {"pas"}},
      // A noun is no past of the verb be.
      {"bed", {"bed"}}, {"beds", {"bed"}},
      // The exception lists' forms and plain plurals of longer stems relate.
      {"is", {"be"}}, {"was", {"be"}}, {"has", {"have"}}, {"men", {"man"}}, {"ads", {"ad"}},
      {"dbs", {"db"}}, {"dogs", {"dog"}}, {"walked", {"walk"}},
      // Abbreviations: stems of their own, with their plurals (a short
      // plural only where the word list holds it; none of one ending in s).
      {"api", {"api"}}, {"apis", {"api", "apis"}}, {"urls", {"url"}}, {"pcs", {"pc"}}, {"vm", {"vm"}},
      {"vms", {}}, {"gps", {"gps"}}, {"gpss", {}}, {"sos", {"sos"}},
  };
  for (const Case& c : cases) EXPECT_EQ(of(c.word), c.stems) << c.word;
}

// The English endings through a guesser net beside a lexicon of one word:
// no word of three letters or fewer is guessed, longer ones are as before,
// also with a Latin-1 letter before a short ending.
TEST(EnglishStemsTest, GuesserLeavesWordsOfThreeLettersAlone) {
  const std::string letters = "abcdefghijklmnopqrstuvwxyz'-\xE9\xF6";
  const auto endings = zopw::english_guess_endings(letters);
  std::vector<fstw::Pair> pairs;
  for (const auto& [ending, stem] : endings) {
    EXPECT_GE(ending.size(), 3u) << ending;
    pairs.push_back({ending, stem});
  }
  std::vector<fstw::Pair> lexicon = {{letters, letters}};
  fstw::FileDesc desc;
  std::string error;
  ASSERT_TRUE(fstw::compile_pairs(lexicon, fstw::PairOptions{}, &desc, &error)) << error;
  ASSERT_TRUE(zopw::add_stem_guesser(&desc, pairs, &error)) << error;
  fst_test::FsmPtr fsm = fst_test::load(fst_test::write_image(desc));
  ASSERT_TRUE(fsm);
  struct Case {
    const char* word;
    const char* stem;  // "" for none
  } cases[] = {
      {"sys", ""},          {"vms", ""},          {"bxs", ""},        {"keys", "key"},     {"uuids", "uuid"},
      {"urls", "url"},      {"cpus", ""},         {"tuples", "tuple"}, {"x-rays", "x-ray"}, {"clich\xE9s", ""},
      {"str\xF6ms", "str\xF6m"}, {"clich\xE9" "ds", "clich\xE9" "d"},
  };
  for (const Case& c : cases) {
    for (int32_t mode : {3, 5, 7}) {
      char out[256];
      const int32_t n = fst_lookup(c.word, kFstWholeWord, out, sizeof out, mode, fsm.get(), nullptr, 0);
      if (*c.stem == 0) {
        EXPECT_EQ(n, 0) << c.word << " mode " << mode;
      } else {
        ASSERT_EQ(n, 1) << c.word << " mode " << mode;
        EXPECT_STREQ(out, c.stem) << c.word << " mode " << mode;
      }
    }
  }
}

}  // namespace
}  // namespace vorlane
