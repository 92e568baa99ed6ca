// The terms a document gets from its fields and explicit terms, over the
// tests' small resource set.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/document/idoc.h"
#include "engine/analysis/ling_calls.h"
#include "engine/analysis/stopwords.h"
#include "engine/testing/language_sets.h"
#include "platform/testing/test_root.h"
#include "store/checksum.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

struct term_info {
  int freq;
  int type;
  bool operator==(const term_info&) const = default;
};

class IdocTerms : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new platform::TestRoot;
    std::string error;
    ASSERT_TRUE(testing_sets::load_test_set(root_->file("testlang"), &handle_, &error)) << error;
  }
  static void TearDownTestSuite() { delete root_; }

  void SetUp() override {
    ASSERT_TRUE(idoc_doc_init(&doc_));
    ASSERT_TRUE(idoc_areas_alloc(&areas_));
  }
  void TearDown() override {
    idoc_areas_free(&areas_);
    idoc_doc_release(&doc_);
  }

  int field(const std::string& text, const std::string& name, int a = 1, int b = 1, int c = 0, int d = 1,
            int e = -1) {
    return idoc_parse_terms(&doc_, text.data(), text.size(), name.c_str(), a, b, c, handle_, d, e,
                            kPassWords | kPassPhrases, areas_);
  }

  // Every term of the table by its text.
  std::map<std::string, term_info> terms() const {
    std::map<std::string, term_info> out;
    const doc_terms& t = doc_.terms;
    for (int i = 0; i < t.size; ++i)
      if (t.pairs[i].hash1)
        out[doc_terms_text(&t, i)] = {t.freqs[i], static_cast<int>(t.types[i])};
    return out;
  }
  int count() const { return static_cast<int>(terms().size()); }

  static platform::TestRoot* root_;
  static zop_handle handle_;
  idoc_doc doc_;
  idoc_areas areas_;
};

platform::TestRoot* IdocTerms::root_ = nullptr;
zop_handle IdocTerms::handle_;

TEST_F(IdocTerms, WordsAndPhrasesOfAFieldWithItsWeight) {
  ASSERT_EQ(field("old dogs", "body:", 2, 1, 0, 3), 0);
  EXPECT_EQ(terms(), (std::map<std::string, term_info>{
                         {"body:old", {6, 1}}, {"body:dogs", {6, 1}}, {"body:olddogs", {6, 1}}}));
}

TEST_F(IdocTerms, StemsAndStemmedPhrasesWhenAsked) {
  ASSERT_EQ(field("old dogs", "body:", 1, 1, 1, 1), 0);
  auto t = terms();
  EXPECT_TRUE(t.count("body:dog")) << "stem";
  EXPECT_TRUE(t.count("body:dogs")) << "all stems include the word";
  EXPECT_TRUE(t.count("body:olddog")) << "stemmed phrase";
}

TEST_F(IdocTerms, NameAsGivenAndLowerCased) {
  ASSERT_EQ(field("dogs", "Title:"), 0);
  EXPECT_EQ(terms(), (std::map<std::string, term_info>{{"Title:dogs", {1, 1}}, {"title:dogs", {1, 1}}}));
}

TEST_F(IdocTerms, ConflatedAndLowerCasedForms) {
  // "\xc9COLE" (ÉCOLE) is copied with its ASCII letters lower-cased: "\xc9cole".
  ASSERT_EQ(field("\xc9"
                  "COLE Stra\xdf"
                  "e",
                  "t:", 1, 0),
            0);
  auto t = terms();
  EXPECT_EQ(t["t:\xc9"
              "cole"],
            (term_info{1, 1}));
  EXPECT_EQ(t["t:Ecole"], (term_info{1, 5}));
  EXPECT_EQ(t["t:ecole"], (term_info{1, 4}));
  EXPECT_EQ(t["t:\xe9"
              "cole"],
            (term_info{1, 4}));
  EXPECT_EQ(t["t:stra\xdf"
              "e"],
            (term_info{1, 1}));
  EXPECT_EQ(t["t:strasse"], (term_info{1, 5}));
  EXPECT_FALSE(t.count("t:Strasse"));
}

TEST_F(IdocTerms, ChecksumFieldIsOneTermOrNothing) {
  struct {
    const char* text;
    bool stored;
  } cases[] = {
      {"0000000a0000000b", true},
      {"0000000a0000000", false},   // 15 digits
      {"0000000a0000000bc", false}, // 17
      {"800000010000000b", false},  // first half negative
      {"0000000a80000001", false},  // second half negative
      {"000000000000000b", false},  // a first half of 0 reads as an empty cell
      {"0000000a00000000", false},  // no hash is 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    idoc_doc_release(&doc_);
    ASSERT_TRUE(idoc_doc_init(&doc_));
    ASSERT_EQ(field(c.text, "checksum:", 2, 1, 0, 5), 0);
    if (!c.stored) {
      EXPECT_EQ(count(), 0);
      continue;
    }
    ASSERT_EQ(count(), 1);
    EXPECT_EQ(terms()[c.text], (term_info{10, 3}));
    const hash_pair want = pair_from_u64(parse_checksum(c.text));
    bool found = false;
    for (int i = 0; i < doc_.terms.size; ++i)
      found |= doc_.terms.pairs[i].hash1 == want.hash1 && doc_.terms.pairs[i].hash2 == want.hash2;
    EXPECT_TRUE(found);
  }
}

TEST_F(IdocTerms, OverlongFieldNamesArePassedOver) {
  LogCapture log;
  ASSERT_EQ(field("dogs", std::string(512, 'n')), 0);
  ASSERT_EQ(field("dogs", std::string(513, 'n')), 0);
  EXPECT_EQ(count(), 0);
  EXPECT_TRUE(log.contains("idoc_parse_terms: fieldname too long, len=512"));
  EXPECT_TRUE(log.contains("idoc_parse_terms: fieldname too long, len=513"));
  // 511 bytes leave room for the name alone.
  ASSERT_EQ(field("dogs", std::string(511, 'n')), 0);
  EXPECT_TRUE(terms().count(std::string(511, 'n')));
}

TEST_F(IdocTerms, WeightIsComputedWideAndBounded) {
  EXPECT_EQ(idoc_field_weight(2, 3), 6);
  EXPECT_EQ(idoc_field_weight(65536, 65536), 127);
  EXPECT_EQ(idoc_field_weight(-3, 4), 0);
  EXPECT_EQ(idoc_field_weight(-65536, -65536), 127);
  ASSERT_EQ(field("dogs", "b:", 65536, 1, 0, 65536), 0);
  EXPECT_EQ(terms()["b:dogs"], (term_info{127, 1}));
}

TEST_F(IdocTerms, WindowCountersClearedPerFieldAndEveryHundredTokens) {
  // Window 3: a term's second occurrence in one window adds, the third does
  // not. Each list starts a new window, and so does every 100th token.
  ASSERT_EQ(parse_terms_inner(&doc_, "p:", "x\0x\0x\0", 5, 3, 0, 0), 0);
  EXPECT_EQ(terms()["p:x"].freq, 10);
  ASSERT_EQ(parse_terms_inner(&doc_, "p:", "x\0", 5, 3, 0, 0), 0);
  EXPECT_EQ(terms()["p:x"].freq, 15);

  auto list_with_repeat_at = [](int position) {
    std::string s = "y";
    s.push_back('\0');
    for (int i = 2; i < position; ++i) s += "f" + std::to_string(i) + std::string(1, '\0');
    s += "y";
    s.push_back('\0');
    s.push_back('\0');
    return s;
  };
  for (int position : {99, 100}) {
    idoc_doc_release(&doc_);
    ASSERT_TRUE(idoc_doc_init(&doc_));
    std::string list = list_with_repeat_at(position);
    ASSERT_EQ(parse_terms_inner(&doc_, "p:", list.c_str(), 5, 2, 0, 0), 0);
    // Window 2: at the 99th token the counter still holds the first
    // occurrence; the 100th token starts a new window.
    EXPECT_EQ(terms()["p:y"].freq, position == 100 ? 10 : 5) << position;
  }
}

TEST_F(IdocTerms, FullTableStopsTheUpdateAndKeepsTheTermsBefore) {
  LogCapture log(LOG_INFO);
  std::vector<std::string> texts;
  for (int i = 0; i < kDocTermCells + 1; ++i) texts.push_back("t" + std::to_string(i));
  std::vector<idoc_term_arg> args;
  for (const std::string& t : texts) args.push_back({t.c_str(), 1});
  const std::string body = "dogs";
  idoc_field_arg f{body.data(), body.size(), "body:", 1, 1, 0, 1, -1};
  EXPECT_EQ(idoc_update(&doc_, args.data(), args.size(), &f, 1, handle_, areas_), 1);
  EXPECT_EQ(doc_.terms.counters[DT_DISTINCT_3], static_cast<uint32_t>(kDocTermCells));
  EXPECT_TRUE(log.contains("idoc_update: idoc hashtable full, terms=\"t81920\""));
  EXPECT_FALSE(terms().count("body:dogs"));
  // A full table stops a field at its first new term too.
  EXPECT_EQ(field("cats", "body:"), 1);
  EXPECT_TRUE(log.contains("parse_terms_inner: idoc hashtable full, term=\"body:cats\""));
  EXPECT_EQ(doc_terms_compact(&doc_.terms), kDocTermCells);
}

TEST_F(IdocTerms, ExplicitTermsFirstEmptyOnesPassedOver) {
  const std::string body = "dogs";
  idoc_term_arg t[] = {{"", 9}, {"site:example.org", 4}};
  idoc_field_arg f{body.data(), body.size(), "body:", 1, 1, 0, 1, -1};
  EXPECT_EQ(idoc_update(&doc_, t, 2, &f, 1, handle_, areas_), 0);
  EXPECT_EQ(terms(), (std::map<std::string, term_info>{{"site:example.org", {4, 3}}, {"body:dogs", {1, 1}}}));
}

TEST_F(IdocTerms, FieldTextIsCutAndNeverWritten) {
  std::string text(kIdocFieldTextMax - 4, 'a');
  text += " dogs cats";
  const std::string before = text;
  ASSERT_EQ(field(text, "b:"), 0);
  EXPECT_EQ(text, before);
  auto t = terms();
  EXPECT_TRUE(t.count("b:dog")) << "the first 81,919 bytes end in \"dog\"";
  EXPECT_FALSE(t.count("b:dogs"));
  EXPECT_FALSE(t.count("b:cats"));
}

}  // namespace
}  // namespace vorlane::engine
