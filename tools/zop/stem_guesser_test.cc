#include "tools/zop/stem_guesser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linguistics/testing/fst_test_fixtures.h"
#include "linguistics/fst/lookup.h"
#include "tools/fst/fst_pairs.h"

namespace vorlane {
namespace {

using fst_test::FsmPtr;

// A small lexicon whose alphabet runs past the labels of one symbol byte,
// so that x, y and z are coded with an ESC byte.
const std::vector<fstw::Pair> kLexicon = {
    {"cat", "cat"},         {"cats", "cat"},     {"mice", "mouse"},   {"box", "box"},
    {"boxes", "box"},       {"zebra", "zebra"},  {"crises", "crisis"}, {"bus", "bus"},
    {"abcdefghijklmnopqrstuvwxyz", "abcdefghijklmnopqrstuvwxyz"},
};
const std::vector<fstw::Pair> kEndings = {
    {"ts", "t"}, {"xes", "x"}, {"ies", "y"}, {"pped", "p"}, {"les", "le"}, {"ras", "ra"}, {"ses", "se"},
};

FsmPtr stemmer(bool guesser) {
  fstw::FileDesc desc;
  std::string error;
  fstw::PairOptions options;
  options.table_threshold = 4;  // wide states of the lexicon in tables
  EXPECT_TRUE(fstw::compile_pairs(kLexicon, options, &desc, &error)) << error;
  if (guesser) {
    EXPECT_TRUE(zopw::add_stem_guesser(&desc, kEndings, &error)) << error;
  }
  return fst_test::load(fst_test::write_image(desc));
}

std::vector<std::string> lookup(const FsmPtr& fsm, const std::string& word, int32_t mode) {
  char out[1024];
  const int32_t n = fst_lookup(word.c_str(), kFstWholeWord, out, sizeof out, mode, fsm.get(), nullptr, 0);
  EXPECT_GE(n, 0) << word;
  std::vector<std::string> list;
  const char* p = out;
  for (int32_t i = 0; i < n; ++i, p += list.back().size() + 1) list.emplace_back(p);
  return list;
}

TEST(StemGuesserTest, LexiconWordsKeepTheirStems) {
  FsmPtr plain = stemmer(false), guessing = stemmer(true);
  ASSERT_TRUE(plain && guessing);
  // "boxes" and "crises" end in endings of the guesser, "cats" too.
  for (const char* w : {"cat", "cats", "mice", "box", "boxes", "zebra", "crises", "bus"}) {
    for (int32_t mode : {3, 5, 7, 9}) {
      EXPECT_EQ(lookup(guessing, w, mode), lookup(plain, w, mode)) << w << " mode " << mode;
    }
  }
  EXPECT_EQ(lookup(guessing, "crises", 3), std::vector<std::string>{"crisis"});
}

TEST(StemGuesserTest, OtherWordsByTheirEndings) {
  FsmPtr fsm = stemmer(true);
  ASSERT_TRUE(fsm);
  struct Case {
    const char* word;
    const char* stem;  // "" for none
  } cases[] = {
      {"bats", "bat"},       {"tuples", "tuple"},   {"taxes", "tax"},  {"flies", "fly"},
      {"stopped", "stop"},   {"zebras", "zebra"},   {"catses", "catse"}, {"buses", "buse"},
      {"mices", ""},         {"ts", ""},            {"tuple", ""},     {"stopp", ""},
      {"boxy", ""},          {"cabcats", "cabcat"}, {"xyzzies", "xyzzy"},
  };
  for (const Case& c : cases) {
    for (int32_t mode : {3, 5, 7}) {
      const auto got = lookup(fsm, c.word, mode);
      if (*c.stem == 0) {
        EXPECT_TRUE(got.empty()) << c.word << " mode " << mode << ": " << (got.empty() ? "" : got[0]);
      } else {
        EXPECT_EQ(got, std::vector<std::string>{c.stem}) << c.word << " mode " << mode;
      }
    }
  }
  // Only the stem lookups guess; word lookup and inverse stemming do not.
  EXPECT_TRUE(lookup(fsm, "bats", 2).empty());
  EXPECT_TRUE(lookup(fsm, "bat", 9).empty());
}

TEST(StemGuesserTest, EndingOutsideTheAlphabetIsRefused) {
  fstw::FileDesc desc;
  std::string error;
  ASSERT_TRUE(fstw::compile_pairs({{"cat", "cat"}}, fstw::PairOptions{}, &desc, &error)) << error;
  EXPECT_FALSE(zopw::add_stem_guesser(&desc, {{"s!", ""}}, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vorlane
