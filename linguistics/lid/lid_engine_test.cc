#include "linguistics/lid/lid_engine.h"

#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "linguistics/testing/lid_test_model.h"
#include "platform/testing/test_root.h"

namespace vorlane {
namespace {

using lid_test::tiny_model;
using lid_test::write_text;

// The tiny model as bytes, field by field (see lid_test_model.h).
const unsigned char kTinyModelImage[] = {
    0xFA, 0xCE, 0x8E, 0xAD, 0x00, 0x01, 0x00, 0x00,  // header: magic, 1, 0
    0xFA, 0xCE, 0x8A, 0xBE, 0x00, 0x00, 0x00, 0x08,  // info: magic, 8
    0xFA, 0xCE, 0x8A, 0xAE, 0x00, 0x00, 0x00, 0x30,  // languages: magic, length 48
    0x00, 0x00, 0x00, 0x03,                          // n = 3
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x03, 0xE8, 0x01, 0xF4, 0x01, 0x01,  // kind 1, 0, 1000, 500, code 1, type 1
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x03, 0xE8, 0x01, 0xF4, 0x05, 0x01,  // kind 1, 0, 1000, 500, code 5, type 1
    0x00, 0x00, 0x00, 0x02, 0xFF, 0xF6, 0x03, 0xE8, 0x00, 0x64, 0x0C, 0x01,  // kind 2, -10, 1000, 100, code 12, type 1
    0xFA, 0xCE, 0x33, 0x3A, 0x00, 0x00, 0x00, 0x3C,  // n-grams: magic, length 60
    0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x06,  // k = 5, m = 6
    0x01, 0x00, 0x20, 0x61, 0x01, 0x00, 0x20, 0x74,  // run 1 'a', run 1 't'
    0x01, 0x63, 0x61, 0x74, 0x01, 0x68, 0x65, 0x20,  // run 1 "cat", run 1 "he "
    0x02, 0x74, 0x68, 0x65,                          // run 2 "the"
    0x00, 0x1E, 0x00, 0x02, 0x00, 0x32, 0x00, 0x02,  // 30 @2, 50 @2
    0x01, 0x90, 0x00, 0x00, 0x02, 0x58, 0x00, 0x00,  // 400 @0, 600 @0
    0x03, 0x20, 0x00, 0x00, 0x00, 0x64, 0x00, 0x01,  // 800 @0, 100 @1
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class LidEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lang = root.file("tiny.lng");
    ASSERT_TRUE(lid_write_language_file(lang.c_str(), tiny_model()));
  }
  // Loads with this init file text; returns the code.
  int create(const std::string& init_text, lid_engine** out = nullptr, const std::string* language_file = nullptr) {
    write_text(root.file("lid.ini"), init_text);
    int error = 1;
    lid_engine* e = lid_create(root.file("lid.ini").c_str(), (language_file ? *language_file : lang).c_str(), &error);
    EXPECT_EQ(e == nullptr, error != 0);
    if (out) *out = e;
    else lid_destroy(e);
    return error;
  }
  std::vector<lid_result> identify(lid_engine* e, const std::string& text, int capacity = 10) {
    std::vector<lid_result> rows(capacity);
    int n = lid_identify(e, text.data(), static_cast<int>(text.size()), rows.data(), capacity, nullptr, 0);
    EXPECT_GE(n, 0);
    rows.resize(n < 0 ? 0 : n);
    return rows;
  }

  platform::TestRoot root;
  std::string lang;
};

TEST_F(LidEngineTest, WriterOutputMatchesTheHandAssembledImage) {
  EXPECT_EQ(read_file(lang), std::string(reinterpret_cast<const char*>(kTinyModelImage), sizeof kTinyModelImage));
  write_text(root.file("image.lng"), std::string(reinterpret_cast<const char*>(kTinyModelImage), sizeof kTinyModelImage));
  lid_language_data d;
  ASSERT_EQ(lid_read_language_file(root.file("image.lng").c_str(), &d), 0);
  lid_language_data want = tiny_model();
  ASSERT_EQ(d.languages.size(), 3u);
  EXPECT_EQ(d.languages[2].low, -10);
  EXPECT_EQ(d.languages[2].kind, 2u);
  EXPECT_EQ(d.languages[1].code, 5);
  EXPECT_EQ(d.ngrams.keys, want.ngrams.keys);
  EXPECT_EQ(d.ngrams.run_start, want.ngrams.run_start);
  EXPECT_EQ(d.ngrams.run_length, want.ngrams.run_length);
  ASSERT_EQ(d.ngrams.entries.size(), 6u);
  EXPECT_EQ(d.ngrams.entries[5].score, 100);
  EXPECT_EQ(d.ngrams.entries[5].index, 1);
}

TEST_F(LidEngineTest, RowsAndScoresOfTheTinyModel) {
  lid_engine* e = nullptr;
  ASSERT_EQ(create("-300\n5 L 1 5 12\n", &e), 0);
  // "the cat": trigram positions h, e, c, a (the blank is skipped): 4.
  // English trigrams: 800 + 600 + 0 + 400 = 1800, / 4 = 450 -> 450/500*100 = 90.
  // German trigrams: 100 / 4 = 25 -> 5 (not above 20: dropped).
  // Japanese characters: t 50, h e blank c -10 each, a 30, t 50 = 90, / 4 = 22
  //   -> (22 + 10) / 110 * 100 = 29.
  std::vector<lid_result> rows = identify(e, "the cat");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].language, 1);
  EXPECT_EQ(rows[0].type, 1);
  EXPECT_EQ(rows[0].encoding, 5);
  EXPECT_EQ(rows[0].score, 90);
  EXPECT_EQ(rows[1].language, 12);
  EXPECT_EQ(rows[1].score, 29);
  // Capacity bounds the rows returned.
  EXPECT_EQ(identify(e, "the cat", 1).size(), 1u);
  // Only positions with no score at all: every model at its low score.
  EXPECT_TRUE(identify(e, "xyz qrs").empty());
  lid_destroy(e);
}

TEST_F(LidEngineTest, TypeTwoModels) {
  lid_language_data d = tiny_model();
  d.languages[2].type = 2;  // character model: found scores no longer count
  d.languages[0].type = 2;  // trigram model: left out when the text holds a unit >= 0x80 (encoding 5)
  std::string type2 = root.file("type2.lng");
  ASSERT_TRUE(lid_write_language_file(type2.c_str(), d));
  lid_engine* e = nullptr;
  ASSERT_EQ(create("-300\n5 L 1 5 12\n", &e, &type2), 0);
  std::vector<lid_result> rows(10);
  std::string text = "the cat";
  // Trigrams as before (90); the character row is its low score: 0.
  ASSERT_EQ(lid_identify(e, text.data(), 7, rows.data(), 10, nullptr, 0), 1);
  EXPECT_EQ(rows[0].score, 90);
  EXPECT_EQ(rows[0].type, 2);
  text = "the cat\xE9";
  EXPECT_EQ(lid_identify(e, text.data(), 8, rows.data(), 10, nullptr, 0), 0);
  lid_destroy(e);
}

TEST_F(LidEngineTest, TieOrderOfTheQuicksort) {
  // Scores a2 b1 c2 sort to c a b (not the stable a c b).
  lid_result rows[] = {{1, 0, 0, 2}, {2, 0, 0, 1}, {3, 0, 0, 2}};
  lid_sort_rows(rows, 0, 2);
  EXPECT_EQ(rows[0].language, 3);
  EXPECT_EQ(rows[1].language, 1);
  EXPECT_EQ(rows[2].language, 2);
  lid_result equal[] = {{1, 0, 0, 5}, {2, 0, 0, 5}, {3, 0, 0, 5}};
  lid_sort_rows(equal, 0, 2);
  EXPECT_EQ(equal[0].language, 2);
  EXPECT_EQ(equal[1].language, 1);
  EXPECT_EQ(equal[2].language, 3);
  lid_result mixed[] = {{1, 0, 0, 1}, {2, 0, 0, 3}, {3, 0, 0, 3}, {4, 0, 0, 2}, {5, 0, 0, 9}};
  lid_sort_rows(mixed, 0, 4);
  const int order[] = {5, 3, 2, 4, 1};  // worked by hand through the sort
  for (int i = 0; i < 5; ++i) EXPECT_EQ(mixed[i].language, order[i]) << i;
}

TEST_F(LidEngineTest, Scaling) {
  lid_engine* e = nullptr;
  ASSERT_EQ(create("-300\n5 L 1 5 12\n", &e), 0);
  // English trigram scale: low 0, mid 500, top 1000.
  lid_result rows[] = {{1, 1, 5, -5}, {1, 1, 5, 0}, {1, 1, 5, 250}, {1, 1, 5, 500},
                       {1, 1, 5, 750}, {1, 1, 5, 1000}, {1, 1, 5, 1001}};
  lid_scale_scores(*e, rows, 7);
  const int want[] = {0, 0, 50, 100, 150, 200, 200};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(rows[i].score, want[i]) << i;
  lid_destroy(e);
}

TEST_F(LidEngineTest, TextPreparation) {
  lid_engine* e = nullptr;
  ASSERT_EQ(create("-300\n5 L 1 5 12\n", &e), 0);
  struct Case {
    std::string text;
    std::u16string units;
  };
  const Case cases[] = {
      {"ABC Def", u"abc Def"},
      {"3,5 x", u"    x"},
      {"12.", u"   "},
      {"a-b(c)\"d\"+=[]{}\t\r\n", u"a b c  d          "},
      {"1a,", u" a,"},                      // the comma is not directly after the digit
      {"\xC9""COLE \xC9t\xC9", u"\u00e9cole \u00c9t\u00c9"},  // Latin-1 capitals through the Unicode case test
      {"A", u"A"},
  };
  std::setlocale(LC_ALL, "C");  // the process locale does not take part
  for (const Case& c : cases) {
    std::vector<uint16_t> units;
    int n = lid_normalise_text(*e, 5, c.text.data(), static_cast<int>(c.text.size()), &units);
    ASSERT_EQ(n, static_cast<int>(c.units.size())) << c.text;
    EXPECT_EQ(std::u16string(units.begin(), units.end()), c.units) << c.text;
  }
  // Three blanks: no position counted, every row gets the floor, which
  // scales to 0: no rows.
  EXPECT_TRUE(identify(e, "12.").empty());
  lid_destroy(e);
}

TEST_F(LidEngineTest, InitFileErrors) {
  struct Case {
    std::string text;
    int code;
  };
  const Case cases[] = {
      {"-300\n5 L 1 5 12\n", 0},
      {"0\n5 L 1\n", -52},
      {"5\n5 L 1\n", -52},
      {"// only a comment\n[x]\n\n", -52},
      {"-300\n3 L 1 2 99\n", -60},
      {"-300\n24 L 1\n", -55},
      {"-300\n0 L 1\n", -52},
      {"-300\n3 X 1\n", 0},                 // encoding 3 without languages
      {"-300\n3 L 1\n3 L 5\n", -52},        // declared twice
      {"-300\n3 Lx 1\n", -52},
      {"-300\n3 L 1 zz\n", -52},
      {"-300\n3 L 1 F0\n", 0},              // "F" ends the codes; no table: token after number is L
      {"-300\n15 F0 " + root.file("none.tbl") + "\n", -56},
      {"/ comment\n[section]\nx\n-300\r\n\r\n5 L 1\t5\r\n", 0},  // CRLF line ends, short lines skipped
  };
  for (const Case& c : cases) EXPECT_EQ(create(c.text), c.code) << c.text;
  std::string many = "-300\n5 L";
  for (int i = 0; i < 120; ++i) many += " 1";  // as many as a 255-byte line holds
  EXPECT_EQ(create(many + "\n"), 0);

  int error = 0;
  EXPECT_EQ(lid_create(root.file("missing.ini").c_str(), lang.c_str(), &error), nullptr);
  EXPECT_EQ(error, -51);
  EXPECT_EQ(lid_create(nullptr, lang.c_str(), &error), nullptr);
  EXPECT_EQ(error, -28);
  // Paths are opened as given; '\\' separators are accepted too.
  std::string ini = root.file("lid.ini"), lng = lang;
  for (std::string* p : {&ini, &lng})
    for (char& c : *p)
      if (c == '/') c = '\\';
  lid_engine* e = lid_create(ini.c_str(), lng.c_str(), &error);
  EXPECT_NE(e, nullptr);
  EXPECT_EQ(error, 0);
  lid_destroy(e);
  std::string missing_lang = root.file("missing.lng");
  EXPECT_EQ(create("-300\n5 L 1\n", nullptr, &missing_lang), -53);
}

TEST_F(LidEngineTest, CrlfInitFileIdentifiesLikeLf) {
  lid_engine* e = nullptr;
  ASSERT_EQ(create("-300\r\n5 L 1 5 12\r\n", &e), 0);
  ASSERT_EQ(e->encodings.size(), 1u);
  EXPECT_EQ(e->encodings[0].codes, std::vector<int>({1, 5, 12}));
  EXPECT_EQ(identify(e, "the cat").size(), 2u);
  lid_destroy(e);
}

TEST_F(LidEngineTest, LanguageFileErrors) {
  const std::string image(reinterpret_cast<const char*>(kTinyModelImage), sizeof kTinyModelImage);
  auto with = [&](size_t offset, unsigned char value) {
    std::string s = image;
    s[offset] = static_cast<char>(value);
    return s;
  };
  const std::string cases[] = {
      with(3, 0xAE),                       // header magic
      with(11, 0xBF),                      // info magic
      with(23, 0x34),                      // languages length off by 4
      with(67, 0x40),                      // n-gram length off by 4
      with(75, 0x07),                      // m = 7: the file ends early
      with(92, 0x03),                      // "the" run of 3 reaches past the 6 entries
      image.substr(0, 10),
      image.substr(0, image.size() - 1),
      with(27, 0x09),                      // n = 9 (length no longer matches)
      with(31, 0x03),                      // entry 0 of kind 3, listed by the encoding
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::string path = root.file("bad.lng");
    write_text(path, cases[i]);
    EXPECT_EQ(create("-300\n5 L 1 5 12\n", nullptr, &path), -54) << i;
  }
  // A kind the encodings do not list is never looked at.
  std::string path = root.file("unlisted.lng");
  write_text(path, with(31, 0x03));
  EXPECT_EQ(create("-300\n5 L 5\n", nullptr, &path), 0);
}

TEST_F(LidEngineTest, IdentifyArguments) {
  lid_engine* e = nullptr;
  ASSERT_EQ(create("-300\n5 L 1 5 12\n12 L 1 12\n15 L 5\n", &e), 0);
  lid_result rows[4];
  std::string big(50001, 'a');
  EXPECT_EQ(lid_identify(nullptr, "abc", 3, rows, 4, nullptr, 0), -28);
  EXPECT_EQ(lid_identify(e, nullptr, 3, rows, 4, nullptr, 0), -28);
  EXPECT_EQ(lid_identify(e, "abc", 3, nullptr, 4, nullptr, 0), -28);
  EXPECT_EQ(lid_identify(e, "abc", 3, rows, 0, nullptr, 0), -29);
  EXPECT_EQ(lid_identify(e, "ab", 2, rows, 4, nullptr, 0), -29);
  EXPECT_EQ(lid_identify(e, big.data(), 50001, rows, 4, nullptr, 0), -29);
  int none[] = {5};
  EXPECT_EQ(lid_identify(e, "abc", 3, rows, 4, none, 0), -29);
  int bad[] = {5, 24};
  EXPECT_EQ(lid_identify(e, "abc", 3, rows, 4, bad, 2), -55);
  // Encoding 15 is a table, not a text encoding: the mapper refuses it.
  EXPECT_EQ(lid_identify(e, "the cat", 7, rows, 4, nullptr, 0), -59);
  int only12[] = {12};
  ASSERT_EQ(lid_identify(e, "the cat", 7, rows, 4, only12, 1), 2);
  EXPECT_EQ(rows[0].encoding, 12);
  EXPECT_EQ(rows[0].score, 90);
  lid_destroy(e);
}

TEST_F(LidEngineTest, Ucs2TextWithOddLengthKeepsItsRows) {
  lid_engine* e = nullptr;
  ASSERT_EQ(create("-300\n3 L 1 5 12\n", &e), 0);
  std::string ucs2;
  for (char c : std::string("the cat")) {
    ucs2.push_back('\0');
    ucs2.push_back(c);
  }
  std::vector<lid_result> even = identify(e, ucs2);
  ucs2.push_back('\0');  // a final odd byte
  std::vector<lid_result> odd = identify(e, ucs2);
  ASSERT_EQ(even.size(), 2u);
  ASSERT_EQ(odd.size(), 2u);
  EXPECT_EQ(odd[0].score, even[0].score);
  EXPECT_EQ(odd[0].encoding, 3);
  lid_destroy(e);
}

TEST_F(LidEngineTest, JapaneseTextCutInsideACharacterKeepsItsRows) {
  // The same words in Shift-JIS (19), packed EUC-JP (20) and ISO-2022-JP
  // (18), each cut inside its last two-byte character, as the service's
  // 298-byte cut may leave them: the units before the cut are scored, so the
  // rows are those of the uncut words.
  lid_engine* e = nullptr;
  ASSERT_EQ(create("-300\n19 L 1 5 12\n20 L 1 5 12\n18 L 1 5 12\n", &e), 0);
  struct Case {
    int encoding;
    std::string whole, cut;
  } cases[] = {
      {19, "the cat", "the cat\x82"},                              // Shift-JIS lead byte alone
      {20, "the cat", "the cat\xA4"},                              // EUC-JP lead byte alone
      {20, "the cat", "the cat\x8F\xB0"},                          // JIS X 0212: two of three bytes
      {18, "\x1B(Bthe cat", "\x1B(Bthe cat\x1B$B\x30"},            // one byte of a JIS X 0208 pair
  };
  for (const Case& c : cases) {
    int only[] = {c.encoding};
    lid_result whole[4], cut[4];
    int n = lid_identify(e, c.whole.data(), static_cast<int>(c.whole.size()), whole, 4, only, 1);
    ASSERT_EQ(n, 2) << c.encoding;
    ASSERT_EQ(lid_identify(e, c.cut.data(), static_cast<int>(c.cut.size()), cut, 4, only, 1), n) << c.encoding;
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(cut[i].language, whole[i].language) << c.encoding;
      EXPECT_EQ(cut[i].encoding, c.encoding);
      EXPECT_EQ(cut[i].score, whole[i].score) << c.encoding;
    }
  }
  lid_destroy(e);
}

}  // namespace
}  // namespace vorlane
