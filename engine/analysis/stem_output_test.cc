#include "engine/analysis/stem_output.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/testing/text_analysis_testing.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

using testing_text::english;
using testing_text::FakeLinguistics;
using V = std::vector<std::string>;

ParseToken word(const char* text, char type = 0) {
  if (!type) {
    ParseState s = TokenizeText(text, nullptr, 0, english());
    type = s.tokens[0].type;
    FreeParseState(s);
  }
  return ParseToken{type, text, static_cast<int32_t>(strlen(text))};
}

struct Stemmed {
  V strings;
  int count;
};

Stemmed stem(const char* text, int option, const zop_handle& h = english(), int32_t size = 300) {
  std::vector<char> out(static_cast<size_t>(size) + 8, 'x');
  int count = -1;
  char* last = PrintWordStemMulti(word(text), out.data(), size, &count, h, option, nullptr, 0);
  for (size_t k = static_cast<size_t>(size); k < out.size(); ++k) EXPECT_EQ(out[k], 'x') << text;
  Stemmed r{{}, count};
  if (!last) return r;
  EXPECT_EQ(*last, '\0');
  for (const char* s = out.data(); s <= last; s += strlen(s) + 1) r.strings.push_back(s);
  return r;
}

zop_handle german() {
  zop_handle h = english();
  std::snprintf(h.name, sizeof h.name, "german");
  return h;
}

TEST(AllStems, SweepsCaseAndTheWordItself) {
  FakeLinguistics fake;
  fake.all_stems["running"] = {"run", "running"};
  fake.all_stems["football"] = {"foot#ball"};
  fake.all_stems["houses"] = {"house|", "hous<=>e"};
  fake.all_stems["markup"] = {"#|", "mark-up"};
  struct Case {
    const char* word;
    V want;
  } cases[] = {
      {"running", {"run", "running"}},              // the word is among its stems: not repeated
      {"football", {"football", "foot", "ball"}},   // compound parts from the second sweep
      {"Football", {"Football", "Foot", "Ball"}},   // capitalised: letters that begin strings upper-cased
      {"FootBall", {"football", "foot", "ball", "FootBall"}},  // inner capitals: no upper-casing
      {"houses", {"house", "house", "houses"}},
      {"markup", {"markup", "mark", "up"}},          // a stem of markup only writes nothing
      {"unknown", {"unknown"}},                      // no stems: the word as written
      {"1,234", {"1234"}},                           // a number: itself, lower-cased
      {"U.S.A.", {"USA"}},
  };
  for (const Case& c : cases) {
    Stemmed s = stem(c.word, kStemAll);
    EXPECT_EQ(s.strings, c.want) << c.word;
    EXPECT_EQ(s.count, static_cast<int>(c.want.size())) << c.word;
  }
  EXPECT_EQ(fake.looked_up[0], "3:running");
}

TEST(AllStems, StatusesStandInForStems) {
  FakeLinguistics fake;
  fake.status["broken"] = -5;
  fake.status["alien"] = -10;
  LogCapture log;
  EXPECT_EQ(stem("Broken", kStemAll).strings, V{"Broken"});
  EXPECT_TRUE(log.contains("PrintWordStemMulti(ALL_STEMS) ZOP error: word=\"broken\", status=-5, status text -5"));
  EXPECT_EQ(stem("alien", kStemAll).strings, V{"alien"});
  EXPECT_FALSE(log.contains("status=-10"));
}

TEST(AllStems, LongWordsAndSmallRooms) {
  FakeLinguistics fake;
  std::string w51(51, 'a'), w50(50, 'a');
  Stemmed s = stem(w51.c_str(), kStemAll);
  EXPECT_EQ(s.strings, V{""});
  EXPECT_EQ(s.count, 1);
  EXPECT_EQ(stem(w50.c_str(), kStemAll).strings, V{w50});

  fake.all_stems["alphas"] = {"alpha", "alp#has"};
  LogCapture log;
  // Room for "alpha" only: the unfinished string is dropped.
  Stemmed r = stem("alphas", kStemAll, english(), 8);
  EXPECT_EQ(r.strings, V{"alpha"});
  EXPECT_EQ(r.count, 1);
  EXPECT_TRUE(log.contains("ran out of buffer stemming"));
  for (int32_t size = 1; size <= 30; ++size) stem("alphas", kStemAll, english(), size);  // canaries checked inside
}

TEST(ShortestStem, CaseRulesAndTheGermanException) {
  FakeLinguistics fake;
  fake.shortest["paris"] = "par";
  fake.shortest["hauser"] = "haus";
  fake.shortest["walked"] = "walk-ed";
  fake.shortest["walk"] = "walk";
  fake.shortest["dash"] = "#-|";
  struct Case {
    const char* word;
    int option;
    bool german;
    const char* want;
  } cases[] = {
      {"Paris", kStemShortest, false, "Paris"},             // capitalised: as written
      {"Paris", kStemShortestFolded, false, "par"},         // 10806: stemmed
      {"Hauser", kStemShortest, true, "haus"},              // german stems capitalised words
      {"iPhone", kStemShortest, true, "iPhone"},            // inner capitals stay, german or not
      {"iPhone", kStemShortestFolded, false, "iphone"},     // 10806: no stem, lower-cased
      {"walked", kStemShortest, false, "walked"},           // markup removed: "walked" equals the word
      {"walk", kStemShortest, false, "walk"},
      {"Walk", kStemShortestFolded, false, "walk"},
      {"dash", kStemShortest, false, "dash"},               // a stem of markup only
      {"nothing", kStemShortest, false, "nothing"},
  };
  for (const Case& c : cases) {
    Stemmed s = stem(c.word, c.option, c.german ? german() : english());
    EXPECT_EQ(s.strings, V{c.want}) << c.word << " " << c.option;
    EXPECT_EQ(s.count, 1);
  }
}

TEST(ShortestStem, DictionaryFirstAndItsShortestEntry) {
  FakeLinguistics fake;
  static const int dictionary = 0;
  zop_handle h = english();
  h.dictionary = &dictionary;
  fake.dictionary["mice"] = {"mouse", "mous", "mice"};
  fake.dictionary["equal"] = {"abc", "xyz"};
  fake.dictionary["bad"] = {"!"};
  fake.shortest["mice"] = "m";
  EXPECT_EQ(stem("mice", kStemShortest, h).strings, V{"mous"});
  EXPECT_EQ(stem("equal", kStemShortest, h).strings, V{"abc"});
  LogCapture log;
  EXPECT_EQ(stem("bad", kStemShortest, h).strings, V{"bad"});
  EXPECT_TRUE(log.contains("PrintWordStemMulti(USER_DICT) ZOP error: word=\"bad\", status=-6"));
  // Without a dictionary entry the transducer is asked.
  fake.looked_up.clear();
  EXPECT_EQ(stem("walks", kStemShortest, h).strings, V{"walks"});
  EXPECT_EQ(fake.looked_up, (V{"dict:walks", "7:walks"}));
}

TEST(ShortestStem, LookupErrorsAndSmallRooms) {
  FakeLinguistics fake;
  fake.status["odd"] = -12;
  LogCapture log;
  EXPECT_EQ(stem("odd", kStemShortest).strings, V{"odd"});
  EXPECT_TRUE(log.contains("PrintWordStemMulti(SHORTEST_STEM) ZOP error: word=\"odd\", status=-12"));
  fake.shortest["international"] = "nation";
  for (int32_t size = 1; size <= 20; ++size) {
    Stemmed s = stem("international", kStemShortest, english(), size);
    if (size >= 7) {
      EXPECT_EQ(s.strings, V{"nation"}) << size;
    } else {
      EXPECT_EQ(s.count, 0) << size;  // neither stem nor word fits
    }
  }
}

TEST(WordOrStem, LowerCasedOrStemmed) {
  FakeLinguistics fake;
  fake.shortest["cats"] = "cat";
  char out[32];
  EXPECT_EQ(WordOrStem(word("Cats"), out, sizeof out, english(), kStemNone), out + 4);
  EXPECT_STREQ(out, "cats");
  EXPECT_EQ(WordOrStem(word("cats"), out, sizeof out, english(), kStemShortest), out + 3);
  EXPECT_STREQ(out, "cat");
  EXPECT_EQ(WordOrStem(word("Cats"), out, 4, english(), kStemNone), nullptr);
}

TEST(StemTokens, StemsNumbersAndTheListEnd) {
  FakeLinguistics fake;
  fake.shortest["cats"] = "cat";
  fake.all_stems["cats"] = {"cat"};
  std::string text = "The cats ran 1,234 times " + std::string(50, 'z') + " " + std::string(49, 'y');
  ParseState s = TokenizeText(text.c_str(), nullptr, 1, english());
  char out[256];
  memset(out, 'x', sizeof out);
  // Stop words are stemmed like other words; a 50-byte word is passed over.
  EXPECT_EQ(StemTokens(s, out, sizeof out, english(), 0), 6);
  EXPECT_EQ(testing_text::strings_of(out, sizeof out), (V{"The", "cat", "ran", "1,234", "times",
                                                          std::string(49, 'y')}));
  EXPECT_EQ(StemTokens(s, out, sizeof out, english(), 1), 7);
  EXPECT_EQ(testing_text::strings_of(out, sizeof out),
            (V{"The", "cat", "cats", "ran", "1,234", "times", std::string(49, 'y')}));
  FreeParseState(s);

  ParseState empty = TokenizeText("", nullptr, 1, english());
  memset(out, 'x', sizeof out);
  EXPECT_EQ(StemTokens(empty, out, sizeof out, english(), 0), 0);
  EXPECT_EQ(std::string(out, 5), std::string("\0\0\0\0x", 5));
  FreeParseState(empty);
}

}  // namespace
}  // namespace vorlane::engine
