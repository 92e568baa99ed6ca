// Index terms by tf.idf over document term tables filled through the store,
// with catalogs written by the store's merge.
#include "engine/document/index_terms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/testing/test_root.h"
#include "store/catalog.h"
#include "store/db_handle.h"
#include "store/doc_terms.h"
#include "store/testing/log_capture.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_hash.h"
#include "store/term_merge.h"
#include "store/testing/db_image.h"

namespace vorlane::engine {
namespace {

std::string take(char* s) {
  if (!s) return "<null>";
  std::string r = s;
  free(s);
  return r;
}

class IndexTerms : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_percent_table(); }
  void SetUp() override { cache_release_arenas(); }
  void TearDown() override {
    if (catalog_) idbm_close(catalog_);
    doc_terms_free(arena_);
    cache_release_arenas();
  }

  // A catalog of ndocs documents holding the given document frequencies,
  // written by merging a one-record-per-term source into a new database.
  void make_catalog(uint32_t ndocs, const std::map<std::string, uint32_t>& docfs) {
    std::vector<testing::image_term> terms;
    for (const auto& [text, df] : docfs) {
      const hash_pair p = pair_from_u64(term_hash_pair(text.c_str()));
      terms.push_back({p.hash1, p.hash2, {(0u << 7) | 100}, df});
    }
    testing::image_options o;
    o.ndocs = ndocs;
    o.full_form_only = true;  // the compact forms carry no document frequency
    testing::write_db_image(root_.file("src"), terms, o);
    idbm_db* src = idbm_open_plain(root_.file("src").c_str(), nullptr);
    ASSERT_NE(src, nullptr);
    idbm_db* out = idbm_newdb(root_.file("merged").c_str(), 0);
    ASSERT_NE(out, nullptr);
    idbm_set_doc_count(out, ndocs);
    ASSERT_EQ(idbm_merge(1, &src, out, nullptr), 1);
    idbm_close(src);
    idbm_close(out);
    catalog_ = idbm_load(root_.file("merged/cat").c_str());
    ASSERT_NE(catalog_, nullptr);
    ASSERT_EQ(catalog_->ndocs, ndocs);
    // Every frequency reaches the merge's threshold for a catalog entry.
    for (const auto& [text, df] : docfs) {
      const hash_pair p = pair_from_u64(term_hash_pair(text.c_str()));
      const cat_entry* e = idbm_cat_find(catalog_, p.hash1, p.hash2);
      ASSERT_NE(e, nullptr) << text;
      ASSERT_EQ(cat_docf(*e), df) << text;
    }
  }

  void count(const std::string& text, int freq, int type = 1) {
    ASSERT_EQ(idbm_incr_text(&table_, text.c_str(), freq, -1, type), 1) << text;
  }

  std::string terms(const char* algorithm = "tf.idf") {
    return take(extract_index_terms("doc", 0, catalog_, &table_, zop_handle{}, algorithm));
  }

  platform::TestRoot root_;
  idbm_db* catalog_ = nullptr;
  doc_terms table_{};
  void* arena_ = doc_terms_alloc(&table_);
};

// The weight the catalog gives a word of frequency freq found in df of n
// documents: idf scaled by the frequency's log-scale percentage.
int expected_score(int freq, uint32_t df, uint32_t n) {
  int w = idf_scale(df, n);
  const int m = log_scale(static_cast<uint32_t>(freq));
  if (m < 100) w = (m * w + 50) / 100;
  return freq * std::max(w, 1);
}

TEST_F(IndexTerms, RankedByTfIdfWithoutTitleWordsOrFieldTerms) {
  const uint32_t n = 20000;
  const std::map<std::string, uint32_t> docfs = {
      {"common", 15000}, {"search", 400}, {"engine", 60}, {"lucid", 3}, {"paris", 2}, {"the", 19000}};
  make_catalog(n, docfs);
  const std::map<std::string, int> freqs = {{"common", 90}, {"search", 30}, {"engine", 12}, {"lucid", 4},
                                            {"zebra", 2},   {"the", 120},  {"quartz", 7}};
  for (const auto& [w, f] : freqs) count(w, f);
  // Field terms, explicit terms and lower-cased variants never compete, and
  // a body word that is also a title word is left out, whatever its case.
  count("title:Paris", 50);
  count("paris", 40);
  count("PARIS", 40, 5);
  count("body:search", 100);
  count("explicit", 120, 3);
  count("lowered", 120, 4);
  count("café", 100, 5);  // conflated variants compete

  std::vector<std::pair<int, std::string>> want;
  for (const auto& [w, f] : freqs) {
    auto d = docfs.find(w);
    want.push_back({expected_score(f, d == docfs.end() ? 1 : d->second, n), w});
  }
  want.push_back({expected_score(100, 1, n), "café"});
  std::sort(want.rbegin(), want.rend());
  std::string joined;
  for (size_t i = 0; i + 1 < want.size(); ++i) ASSERT_NE(want[i].first, want[i + 1].first) << "a tie in the model";
  for (const auto& [s, w] : want) joined += (joined.empty() ? "" : " ") + w;
  // "zebra" and "quartz" are missing from the catalog: they weigh as if one
  // document held them.
  EXPECT_EQ(terms(), joined);
}

TEST_F(IndexTerms, FieldTermsOnlyGiveNothing) {
  make_catalog(100, {{"x", 50}});
  count("title:alpha", 10);
  count("url:beta", 20);
  EXPECT_EQ(terms(), "");
}

TEST_F(IndexTerms, UnknownAlgorithmAndUnknownTypes) {
  make_catalog(100, {{"x", 50}});
  count("alpha", 10);
  count("beta", 10, 7);
  count("gamma", 10, 0);
  {
    LogCapture log;
    EXPECT_EQ(terms(), "alpha");
    // One line per term of an unknown type, none for the empty cells.
    int unknown = 0;
    for (const auto& l : log.lines()) unknown += l.text.find("ignored unknown termtype") != std::string::npos;
    EXPECT_EQ(unknown, 2) << log.all();
    EXPECT_TRUE(log.contains("extract_index_terms_tfidf: indexing doc, ignored unknown termtype (7) for term (beta)"));
  }
  LogCapture log;
  EXPECT_EQ(terms("bm25"), "<null>");
  EXPECT_TRUE(log.contains("extract_index_terms: indexing doc, requested unsupported algorithm (bm25)"));
}

// A small table whose cells the test chooses (hash1 mod size places a term),
// so that the candidates reach the sort in a known order.
class SmallTable : public IndexTerms {
 protected:
  void SetUp() override {
    IndexTerms::SetUp();
    small_arena_.assign(doc_terms_arena_size(kCells, kPool), 0);
    doc_terms_carve(&table_, small_arena_.data(), kCells, kPool);
  }
  void place(int cell, const char* text, int freq, int type = 1) {
    ASSERT_EQ(idbm_incr(&table_, cell + kCells, 7, freq, -1, text, type), 1);
  }
  static constexpr int kCells = 8;
  static constexpr size_t kPool = 64;
  std::vector<char> small_arena_;
};

TEST_F(SmallTable, TiesGoToTheCandidateTheSortLeavesLater) {
  make_catalog(100, {{"x", 50}});
  // Scores (1, 1, 2, 1, 1) in cell order; the sort leaves them as cells 0,
  // 1, 4, 3, 2, so "Paris" (cell 3) comes later than "paris" (cell 4) and is
  // the one taken, where a stable sort would take "paris".
  place(0, "alpha", 1);
  place(1, "beta", 1);
  place(2, "gamma", 2);
  place(3, "Paris", 1);
  place(4, "paris", 1);
  EXPECT_EQ(terms(), "gamma Paris beta alpha");

  term_score pairs[] = {{"a", 1}, {"b", 1}, {"c", 2}, {"d", 1}, {"e", 1}};
  sort_term_scores(pairs, 5);
  std::string order;
  for (const term_score& p : pairs) order += p.text;
  EXPECT_EQ(order, "abedc");
}

TEST_F(SmallTable, TextsThePoolCouldNotHoldAreSkipped) {
  make_catalog(100, {{"x", 50}});
  place(0, "a_long_word_that_fills_most_of_the_small_text_pool_here", 3);
  place(1, "overflow", 9);  // no room left: its text is "???"
  EXPECT_EQ(terms(), "a_long_word_that_fills_most_of_the_small_text_pool_here");
}

TEST_F(IndexTerms, ResultStopsAtTheFirstCandidateThatDoesNotFit) {
  make_catalog(1000, {{"x", 50}});
  // Ten words of 49 bytes with falling frequencies fill 499 bytes with
  // blanks; a 12-byte word ranked next ends the list (499 + 12 + 2 >= 512)
  // and a 1-byte word after it is not taken though it would fit.
  std::vector<std::string> words;
  for (int i = 0; i < 10; ++i) words.push_back(std::string(48, static_cast<char>('a' + i)) + "z");
  for (int i = 0; i < 10; ++i) count(words[i], 100 - i);
  count("twelve_bytes", 50);
  count("q", 40);
  std::string want;
  for (const std::string& w : words) want += (want.empty() ? "" : " ") + w;
  ASSERT_EQ(want.size(), 499u);
  EXPECT_EQ(terms(), want);
}

TEST_F(IndexTerms, LongTextsNeverOverrunTheResult) {
  make_catalog(1000, {{"x", 50}});
  count(std::string(509, 'k'), 90);
  count(std::string(510, 'm'), 100);
  EXPECT_EQ(terms(), "");  // 0 + 510 + 2 reaches 512: the list ends at once
  count(std::string(300, 'n'), 120);
  EXPECT_EQ(terms(), std::string(300, 'n'));
}

}  // namespace
}  // namespace vorlane::engine
