#include "engine/analysis/phrase_output.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/analysis/stem_output.h"
#include "engine/testing/text_analysis_testing.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

using testing_text::english;
using testing_text::FakeLinguistics;
using V = std::vector<std::string>;

V phrases(const char* text, int option, int mode, size_t size = 512, int* count = nullptr) {
  ParseState s = TokenizeText(text, nullptr, 1, english());
  std::vector<char> out(size + 8, 'x');
  int n = PhraseTokens(s, out.data(), size, english(), option, mode);
  FreeParseState(s);
  for (size_t k = size; k < out.size(); ++k) EXPECT_EQ(out[k], 'x') << text << " size " << size;
  V got = testing_text::strings_of(out.data(), size);
  EXPECT_EQ(static_cast<int>(got.size()), n) << text;
  if (count) *count = n;
  return got;
}

TEST(PhraseTokens, WindowsWithoutStemming) {
  struct Case {
    const char* text;
    int mode;
    V want;
  } cases[] = {
      {"bank of america", 1, {"bank.ofamerica"}},
      {"alpha.beta.gamma", 1, {"alpha.beta", "beta.gamma"}},
      {"new york city", 1, {"newyork", "yorkcity"}},
      // Mode 0 visits every position, separators included: the window from
      // a separator is the one of the word after it.
      {"new york city", 0, {"newyork", "yorkcity", "yorkcity"}},
      {"C++ code", 1, {"ccode", "c++"}},
      {"x y z", 1, {"xy", "yz"}},       // no 3-word phrase: the middle word is no stop word
      {"of the", 1, {}},                // two stop words never pair
      {"of the", 0, {}},
      {"", 0, {}},
      {"queen of the night", 1, {"queen.of.thenight"}},
      // Three stop words make a 3-word phrase even inside a covered stretch
      // (here from the separator before "of") and cover only up to their
      // first word, so the position of "of" writes it again.
      {"x of the and", 1, {"x.of.the", "of.the.and", "of.the.and"}},
      {"queen of the night", 0, {"queen.of.thenight", "queen.of.the", "queen.of", "of.thenight", "of.thenight",
                                 "thenight", "thenight"}},
      // A hard stop ends every window.
      {"fast car. slow boat", 1, {"fastcar", "slowboat"}},
      // "/" and "." glue become stop-word placeholders of no text.
      {"black/white", 1, {"black.white"}},
      {"and/or", 1, {"and.or"}},
      {"John's car", 0, {"johns", "johns", "scar", "scar"}},
  };
  for (const Case& c : cases) EXPECT_EQ(phrases(c.text, kStemNone, c.mode), c.want) << c.text << " mode " << c.mode;
}

TEST(PhraseTokens, SecondVariantOfNamesWhenIndexing) {
  FakeLinguistics fake;
  fake.shortest["paris"] = "par";
  fake.shortest["cities"] = "city";
  // Index mode with stemming: a phrase with a 'C' or 'S' word is written a
  // second time with the words folded and stemmed.
  EXPECT_EQ(phrases("Paris cities", kStemShortest, 0), (V{"Pariscity", "parcity"}));
  EXPECT_EQ(phrases("Paris cities", kStemShortest, 1), (V{"Pariscity"}));
  EXPECT_EQ(phrases("old cities", kStemShortest, 0), (V{"oldcity"}));
  EXPECT_EQ(phrases("Bob's car", kStemShortest, 0), (V{"Bobs", "bobs", "Bobs", "bobs", "scar", "scar"}));
}

TEST(PhraseTokens, FullAreasStopWithTheListEnded) {
  FakeLinguistics fake;
  // Stems much longer than their words must not break the room tests.
  fake.shortest["ab"] = std::string(120, 'q');
  const char* text = "ab cd ef gh of the ij Kl's mn++ op";
  LogCapture log;
  for (size_t size = 1; size <= 300; ++size) {
    for (int option : {kStemNone, kStemShortest})
      for (int mode : {0, 1}) phrases(text, option, mode, size);  // canaries checked inside
  }
  EXPECT_TRUE(log.contains("PhraseTokens: buffer full, stopped at"));
  // An empty text writes the NUL bytes that end the list.
  ParseState empty = TokenizeText("", nullptr, 1, english());
  char out[8];
  memset(out, 'x', sizeof out);
  EXPECT_EQ(PhraseTokens(empty, out, sizeof out, english(), kStemNone, 0), 0);
  EXPECT_EQ(std::string(out, 4), std::string("\0\0\0x", 4));
  FreeParseState(empty);
  int n = 0;
  EXPECT_EQ(phrases("alpha beta gamma", kStemNone, 0, 30, &n), V{"alphabeta"});
  EXPECT_EQ(n, 1);
}

}  // namespace
}  // namespace vorlane::engine
