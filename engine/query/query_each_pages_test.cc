// query_each on a database of real pages (the HTML documentation of Debian
// packages, parsed, tokenised and stemmed with the default English set and
// indexed through the store): the documents it reports are exactly those the
// all-hits evaluation gives for the same query, or, for refinements, those a
// scan of the parts' document sets gives; totals are exact where they are not
// marked estimated; the ranking is the same run after run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/query/allhits.h"
#include "engine/query/merge_hits.h"
#include "engine/query/query_each.h"
#include "engine/testing/query_testing.h"
#include "platform/testing/test_root.h"
#include "store/cclass.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

using namespace query_testing;
using DocSet = std::set<uint32_t>;

class QueryEachPages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    init_percent_table();
    init_blend_table();
    if (!english().stemmer) return;
    pages_ = load_pages(400, 20000);
    if (pages_.size() < 100) return;
    cache_release_arenas();
    cache_init_default(max_hits);
    cache_add_arena(2000, 400);
    root_ = new platform::TestRoot;
    ASSERT_EQ(write_database(root_->file("pages"), page_docs(pages_, english())), 1);
    db_ = open_query_db(root_->file("pages"), 3, false);
    ASSERT_NE(db_, nullptr);
  }
  static void TearDownTestSuite() {
    idbm_close(db_);
    db_ = nullptr;
    delete root_;
    cache_release_arenas();
  }
  void SetUp() override {
    if (!english().stemmer) GTEST_SKIP() << "no default English resource set";
    if (!db_) GTEST_SKIP() << "no HTML documentation installed";
  }

  // The documents of query_each (type 4, hits 1..500) and its total.
  DocSet each(const std::string& text, int32_t* total = nullptr, std::vector<uint32_t>* order = nullptr) {
    QueryRun q;
    EXPECT_EQ(q.run(db_, request(text, 1, 500, kRequestSingle), 0, english()), 1) << text;
    QueryResponseView v = q.view();
    DocSet s;
    for (uint32_t i = 0; i < v.hit_count; ++i) {
      s.insert(hit_docid(response_hit(v, i)));
      if (order) order->push_back(response_hit(v, i).posting);
    }
    if (total) *total = v.total;
    return s;
  }
  // The documents of the all-hits evaluation (the text before any '|').
  DocSet allhits(const std::string& text) {
    QueryRun q;
    std::string copy = text;
    uint32_t* docids = nullptr;
    const int n = query_each2(db_, copy.data(), q.areas(), english(), &docids);
    DocSet s;
    for (int i = 0; i < n; ++i) s.insert(docids[i]);
    free(docids);
    return s;
  }

  static std::vector<Page> pages_;
  static platform::TestRoot* root_;
  static idbm_db* db_;
};
std::vector<Page> QueryEachPages::pages_;
platform::TestRoot* QueryEachPages::root_ = nullptr;
idbm_db* QueryEachPages::db_ = nullptr;

DocSet intersect(const DocSet& a, const DocSet& b) {
  DocSet out;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::inserter(out, out.begin()));
  return out;
}

// Pairs of adjacent lower-case words of the pages, at least 4 letters each,
// picked spread over the pages.
std::vector<std::pair<std::string, std::string>> word_pairs(const std::vector<Page>& pages, size_t want) {
  std::vector<std::pair<std::string, std::string>> out;
  for (size_t p = 0; p < pages.size() && out.size() < want; p += 7) {
    std::vector<std::string> words;
    std::string w;
    for (char ch : pages[p].body + " ") {
      if (c_islower(static_cast<unsigned char>(ch))) {
        w += ch;
      } else {
        if (!w.empty()) words.push_back(w);
        w.clear();
        if (!c_isspace(static_cast<unsigned char>(ch))) words.push_back("");
      }
    }
    for (size_t i = words.size() / 3; i + 1 < words.size(); ++i) {
      if (words[i].size() >= 4 && words[i + 1].size() >= 4) {
        out.push_back({words[i], words[i + 1]});
        break;
      }
    }
  }
  return out;
}

TEST_F(QueryEachPages, DocumentSetsEqualTheAllHitsEvaluation) {
  LogCapture quiet(LOG_ERROR);
  int compared = 0, nonempty = 0;
  for (const auto& [a, b] : word_pairs(pages_, 40)) {
    const std::string host = pages_[0].host;
    const std::vector<std::string> queries = {"+" + a + " +" + b, a + " -" + b, a + " " + b,
                                              "\"" + a + " " + b + "\"", "site:" + host + " " + a,
                                              a + " AND " + b, "+site:" + host + " -" + a};
    for (const std::string& q : queries) {
      const DocSet want = allhits(q);
      if (want.size() > 500) continue;
      int32_t total = 0;
      const DocSet got = each(q, &total);
      EXPECT_EQ(got, want) << q;
      if (total >= 0) {
        EXPECT_EQ(total, static_cast<int32_t>(got.size())) << q;
      }
      ++compared;
      nonempty += !got.empty();
    }
    // Refinements: the documents of both parts.
    const DocSet da = allhits(a), db = allhits(b);
    if (da.size() > 500) continue;
    const DocSet both = intersect(da, db);
    for (const std::string& q : {a + " | " + b, a + " || " + b}) {
      int32_t total = 0;
      EXPECT_EQ(each(q, &total), both) << q;
      if (total >= 0) {
        EXPECT_EQ(total, static_cast<int32_t>(both.size())) << q;
      }
      ++compared;
    }
  }
  EXPECT_GT(compared, 100);
  EXPECT_GT(nonempty, 40);
}

TEST_F(QueryEachPages, RankingIsTheSameEveryRun) {
  LogCapture quiet(LOG_ERROR);
  for (const auto& [a, b] : word_pairs(pages_, 10)) {
    for (const std::string& q : {a + " " + b, a + " | " + b, "\"" + a + " " + b + "\""}) {
      std::vector<uint32_t> first, second;
      each(q, nullptr, &first);
      each(q, nullptr, &second);
      EXPECT_EQ(first, second) << q;
    }
  }
}

// The hits of merge_hits over copies of responses (the merge rewrites their
// blocks) for the page (start, count), and the merged total.
std::vector<Hit> merged_page(const std::vector<std::vector<uint8_t>>& responses, int32_t start, int32_t count,
                             int32_t* total) {
  std::vector<std::vector<uint8_t>> copies = responses;
  std::vector<uint8_t*> areas;
  std::vector<size_t> sizes;
  for (auto& c : copies) {
    areas.push_back(c.data());
    sizes.push_back(c.size());
  }
  std::vector<uint8_t> out(169024, 0xEE);
  memset(out.data() + 4, 0, 4);  // type 0
  EXPECT_EQ(merge_hits(static_cast<int>(areas.size()), areas.data(), sizes.data(), out.data(), out.size(), start,
                       count, 0),
            1);
  QueryResponseView v;
  EXPECT_TRUE(read_query_response(out.data(), out.size(), &v));
  *total = v.total;
  std::vector<Hit> hits;
  for (uint32_t i = 0; i < v.hit_count; ++i) hits.push_back(response_hit(v, i));
  return hits;
}

// Databases asked for their whole ranking (hits 1..500) make responses whose
// merge gives, for any page, exactly that slice of the (1, 500) ranking: the
// same database twice under two identifiers, over real pages.
TEST_F(QueryEachPages, MergedPagesSliceOneRanking) {
  LogCapture quiet(LOG_ERROR);
  idbm_db* twin = open_query_db(root_->file("pages"), 4, false);
  ASSERT_NE(twin, nullptr);
  int long_rankings = 0;
  for (const auto& [a, b] : word_pairs(pages_, 12)) {
    for (const std::string& q : {a + " " + b, "+" + a + " " + b, a + " -" + b, a + " | " + b, a,
                                 "\"" + a + " " + b + "\" " + a}) {
      for (int n : {1, 2}) {
        std::vector<std::vector<uint8_t>> responses;
        for (idbm_db* db : {db_, twin}) {
          if (static_cast<int>(responses.size()) == n) break;
          QueryRun r;
          r.run(db, request(q, 1, 500, kRequestQuery), 1, english());
          responses.push_back(r.response);
        }
        int32_t total = 0;
        const std::vector<Hit> full = merged_page(responses, 1, 500, &total);
        long_rankings += full.size() > 40;
        for (int32_t size : {7, 10, 20}) {
          std::vector<Hit> laid;
          for (int32_t start = 1; start <= 500; start += size) {
            int32_t page_total = 0;
            const std::vector<Hit> page = merged_page(responses, start, size, &page_total);
            if (!page.empty()) {
              EXPECT_EQ(page_total, total) << q;
            }
            laid.insert(laid.end(), page.begin(), page.end());
            if (static_cast<int32_t>(page.size()) < size) break;
          }
          ASSERT_EQ(laid.size(), full.size()) << q << " in pages of " << size << " over " << n;
          for (size_t i = 0; i < full.size(); ++i) {
            ASSERT_EQ(laid[i].db, full[i].db) << q << " rank " << i + 1;
            ASSERT_EQ(laid[i].posting, full[i].posting) << q << " rank " << i + 1;
          }
        }
      }
    }
  }
  EXPECT_GT(long_rankings, 10);
  idbm_close(twin);
}

}  // namespace
}  // namespace vorlane::engine
