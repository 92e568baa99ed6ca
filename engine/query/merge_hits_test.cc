#include "engine/query/merge_hits.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "engine/query/hit_map.h"
#include "engine/query/hit_percent.h"
#include "engine/query/query_format.h"
#include "store/score_tables.h"

namespace vorlane::engine {
namespace {

struct TermFixture {
  std::string text;
  uint32_t docf = 0;
  uint32_t norm = 0;
  std::vector<Hit> block;  // values are the term scores the database gave
};

struct ResponseFixture {
  uint32_t type = kResponseQuery;
  uint32_t merge_flag = 1;
  uint32_t documents = 1000;
  int32_t total = -1;  // -1: the number of hits
  std::vector<Hit> hits;
  std::vector<din_entry> dates;  // type 7
  std::vector<TermFixture> terms;
  std::string query = "q";
  std::string collection;
};

Hit hit(uint32_t db, uint32_t docid, uint32_t value) { return Hit{db, (docid << 7) | value}; }

// A response written through the format's own writer, in an area of size
// bytes.
std::vector<uint8_t> write_response(const ResponseFixture& s, size_t size = 8192) {
  std::vector<uint8_t> area(size);
  ResponseWriter w;
  EXPECT_TRUE(response_begin(&w, area.data(), size, s.type, s.merge_flag, 1, s.documents));
  response_set_total(&w, s.total == -1 ? static_cast<int32_t>(s.hits.size()) : s.total);
  uint8_t* p = response_hit_area(&w, static_cast<uint32_t>(s.hits.size()));
  EXPECT_NE(p, nullptr);
  for (const Hit& h : s.hits) p = pack_hit(p, h.db, hit_docid(h), static_cast<int32_t>(hit_value(h)));
  response_commit_hits(&w, static_cast<uint32_t>(s.hits.size()));
  if (s.type == kResponseDated && !s.hits.empty()) {
    uint8_t* d = response_date_area(&w);
    EXPECT_NE(d, nullptr);
    if (!s.dates.empty()) memcpy(d, s.dates.data(), s.dates.size() * sizeof(din_entry));
    response_commit_dates(&w);
  }
  std::vector<uint32_t> words;
  for (const TermFixture& t : s.terms) words.push_back(term_word(t.docf, t.norm));
  EXPECT_TRUE(response_put_term_words(&w, words.data(), static_cast<uint32_t>(words.size())));
  if (s.merge_flag) {
    for (const TermFixture& t : s.terms) {
      EXPECT_TRUE(response_open_block(&w));
      uint8_t* b = response_block_area(&w, static_cast<uint32_t>(t.block.size()));
      EXPECT_NE(b, nullptr);
      // Block hits are written raw: the merge must cope with any value.
      if (!t.block.empty()) memcpy(b, t.block.data(), t.block.size() * sizeof(Hit));
      response_commit_block_hits(&w, static_cast<uint32_t>(t.block.size()));
    }
  }
  for (const TermFixture& t : s.terms) EXPECT_TRUE(response_put_string(&w, t.text.data(), t.text.size()));
  EXPECT_TRUE(response_put_string(&w, s.query.data(), s.query.size()));
  EXPECT_TRUE(response_put_string(&w, s.collection.data(), s.collection.size()));
  EXPECT_TRUE(response_finish(&w));
  return area;
}

struct Merged {
  int result = 0;
  std::vector<uint8_t> out;
  QueryResponseView view;
  bool readable = false;
  std::vector<Hit> hits;
  std::vector<ResponseTerm> terms;
  std::vector<std::vector<Hit>> blocks;
};

Merged run_merge(std::vector<std::vector<uint8_t>>& responses, int32_t start, int32_t count, int merge,
                 uint32_t request_type = kRequestQuery, size_t out_size = 65536) {
  std::vector<uint8_t*> ptrs;
  std::vector<size_t> sizes;
  for (auto& r : responses) {
    ptrs.push_back(r.data());
    sizes.push_back(r.size());
  }
  Merged m;
  m.out.assign(out_size, 0xEE);
  memcpy(m.out.data() + 4, &request_type, 4);
  m.result = merge_hits(static_cast<int>(ptrs.size()), ptrs.data(), sizes.data(), m.out.data(), out_size, start,
                        count, merge);
  m.readable = read_query_response(m.out.data(), out_size, &m.view);
  if (!m.readable) return m;
  for (uint32_t i = 0; i < m.view.hit_count; ++i) m.hits.push_back(response_hit(m.view, i));
  ResponseTermCursor c;
  ResponseTerm t;
  while (response_next_term(m.view, &c, &t)) {
    m.terms.push_back(t);
    std::vector<Hit> b;
    for (uint32_t k = 0; k < t.block_count; ++k) b.push_back(response_block_hit(m.view, t, k));
    m.blocks.push_back(b);
  }
  return m;
}

// Documents and a document frequency whose idf_scale is target.
std::pair<uint32_t, uint32_t> docs_for_norm(int target) {
  for (uint32_t n = 100; n <= 20000; n += 100)
    for (uint32_t df = 1; df < n && df < 2000; ++df)
      if (idf_scale(df, n) == target) return {n, df};
  ADD_FAILURE() << "no document count gives norm " << target;
  return {0, 0};
}

class MergeHits : public testing::Test {
 protected:
  static void SetUpTestSuite() { init_blend_table(); }
};

TEST_F(MergeHits, PercentagesBlendWithTheGlobalDenominator) {
  EXPECT_EQ(blended_percent(250, 88), 175);  // blend_table[250][100]
  EXPECT_EQ(blended_percent(40, 488), 8);    // (4000 + 250) / 500, beyond the table
  EXPECT_EQ(blended_percent(600, 10), (600 * 100 + 11) / 22);  // a score beyond the table
}

// A summed score of 251 (250 above the list's base) with D = 88 blends to
// 175, written as 100; 41 with D = 488 gives 8.
TEST_F(MergeHits, PageValuesAreBlendedWithTheSumOfGlobalNorms) {
  // D = 88: one term of norm 88 over 400 documents (2 of them hold it), in
  // a database listed twice.
  ASSERT_EQ(idf_scale(2, 400), 88);
  ResponseFixture a;
  a.documents = 200;
  a.hits = {hit(1, 5, 100)};
  a.terms = {{"t", 2, 88, {hit(1, 5, 51)}}};
  ResponseFixture b;
  b.documents = 200;
  b.hits = {hit(1, 5, 100)};
  std::vector<std::vector<uint8_t>> rs = {write_response(a), write_response(b)};
  Merged m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  ASSERT_EQ(m.hits.size(), 1u);
  EXPECT_EQ(hit_docid(m.hits[0]), 5u);
  EXPECT_EQ(hit_value(m.hits[0]), 100u);
  ASSERT_EQ(m.terms.size(), 1u);
  EXPECT_EQ(m.terms[0].word, term_word(2, 88));
  EXPECT_EQ(m.view.documents, 400u);

  // D = 488: four terms no document holds (norm 100) and one of norm 88.
  ResponseFixture c;
  c.documents = 400;
  c.hits = {hit(3, 9, 41)};
  c.terms = {{"a", 0, 1, {}}, {"b", 0, 1, {}}, {"c", 0, 1, {}}, {"d", 0, 1, {}}, {"e", 2, 88, {}}};
  rs = {write_response(c)};
  m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  ASSERT_EQ(m.hits.size(), 1u);
  EXPECT_EQ(hit_value(m.hits[0]), 8u);
}

// Block scores move from the database's norm to the global one: 10 at norm
// 20 becomes 14 at 30 and 8 at 15; the new norm is at most ten times the
// old (5 against 80 rescales as against 50).
TEST_F(MergeHits, BlockScoresAreRescaledToTheGlobalNorm) {
  struct Case {
    int global, old_norm, score, want;
  } cases[] = {{30, 20, 10, 14}, {15, 20, 10, 8}, {80, 5, 3, 21}, {30, 30, 40, 30}};
  for (const Case& k : cases) {
    auto [docs, docf] = docs_for_norm(k.global);
    ResponseFixture s;
    s.documents = docs;
    s.hits = {hit(1, 4, 4)};
    s.terms = {{"term", docf, static_cast<uint32_t>(k.old_norm), {hit(1, 4, static_cast<uint32_t>(k.score))}}};
    std::vector<std::vector<uint8_t>> rs = {write_response(s)};
    Merged m = run_merge(rs, 1, 10, 0);
    ASSERT_EQ(m.result, 1) << k.global;
    ASSERT_EQ(m.terms.size(), 1u);
    EXPECT_EQ(term_word_norm(m.terms[0].word), static_cast<uint32_t>(k.global));
    // The input's block hit now carries ordinal << 7 | the rescaled score.
    QueryResponseView v;
    ASSERT_TRUE(read_query_response(rs[0].data(), rs[0].size(), &v));
    ResponseTermCursor c;
    ResponseTerm t;
    ASSERT_TRUE(response_next_term(v, &c, &t));
    const Hit rewritten = response_block_hit(v, t, 0);
    EXPECT_EQ(hit_value(rewritten), static_cast<uint32_t>(k.want)) << k.global << " " << k.old_norm;
    EXPECT_EQ(rewritten.posting >> 7, 1u);  // the only ordinal of a map of one
  }
}

// Two databases with their own statistics: one global norm from the summed
// frequencies against the summed documents.
TEST_F(MergeHits, GlobalNormFromSummedFrequencies) {
  ResponseFixture a, b;
  a.documents = 1000;
  a.hits = {hit(1, 1, 4)};
  a.terms = {{"w", 10, 50, {}}};
  b.documents = 3000;
  b.hits = {hit(2, 1, 4)};
  b.terms = {{"w", 30, 60, {}}};
  std::vector<std::vector<uint8_t>> rs = {write_response(a), write_response(b)};
  Merged m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  ASSERT_EQ(m.terms.size(), 1u);
  EXPECT_EQ(m.terms[0].word, term_word(40, static_cast<uint32_t>(idf_scale(40, 4000))));
  EXPECT_EQ(m.view.documents, 4000u);
}

// Equal summed scores: the hit of the database listed later comes first;
// within one database the one it ranked higher.
TEST_F(MergeHits, TiesGoToTheLaterDatabaseThenTheHigherRank) {
  ResponseFixture a, b;
  a.hits = {hit(1, 7, 4), hit(1, 3, 4)};
  b.hits = {hit(2, 9, 4), hit(2, 2, 4)};
  std::vector<std::vector<uint8_t>> rs = {write_response(a), write_response(b)};
  Merged m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  ASSERT_EQ(m.hits.size(), 4u);
  const std::pair<uint32_t, uint32_t> want[] = {{2, 9}, {2, 2}, {1, 7}, {1, 3}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(m.hits[i].db, want[i].first) << i;
    EXPECT_EQ(hit_docid(m.hits[i]), want[i].second) << i;
  }
}

// 35 hits over two databases, pages of 20: hits 1..20 and 21..35 of one
// ranking, with the summed totals; an estimated total stays marked.
TEST_F(MergeHits, PagesOfOneRanking) {
  ResponseFixture a, b;
  for (uint32_t d = 0; d < 20; ++d) a.hits.push_back(hit(1, d, 90 - d * 2));
  for (uint32_t d = 0; d < 15; ++d) b.hits.push_back(hit(2, d, 89 - d * 2));
  a.total = 120;
  b.total = -15;
  std::vector<std::vector<uint8_t>> rs = {write_response(a), write_response(b)};
  Merged all = run_merge(rs, 1, 40, 0);
  ASSERT_EQ(all.hits.size(), 35u);
  Merged p1 = run_merge(rs, 1, 20, 0);
  Merged p2 = run_merge(rs, 21, 20, 0);
  ASSERT_EQ(p1.hits.size(), 20u);
  ASSERT_EQ(p2.hits.size(), 15u);
  EXPECT_EQ(p2.view.start, 21u);
  for (size_t i = 0; i < 35; ++i) {
    const Hit& h = i < 20 ? p1.hits[i] : p2.hits[i - 20];
    EXPECT_EQ(h.db, all.hits[i].db) << i;
    EXPECT_EQ(hit_docid(h), hit_docid(all.hits[i])) << i;
  }
  EXPECT_EQ(p1.view.total, -135);
  // A page past the last hit: no hits, the totals still there.
  Merged past = run_merge(rs, 36, 10, 0);
  ASSERT_EQ(past.result, 1);
  EXPECT_EQ(past.view.hit_count, 0u);
  EXPECT_EQ(past.view.total, -135);
}

// A database listed twice: one entry per document, scores summed, and the
// ordinals the repeats used up never show as hits.
TEST_F(MergeHits, DatabaseListedTwiceSumsWithoutPhantoms) {
  ResponseFixture a;
  a.hits = {hit(1, 1, 30), hit(1, 2, 20)};
  ResponseFixture b;
  b.hits = {hit(1, 2, 20), hit(1, 1, 5)};
  std::vector<std::vector<uint8_t>> rs = {write_response(a), write_response(b)};
  Merged m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  ASSERT_EQ(m.hits.size(), 2u);
  EXPECT_EQ(hit_docid(m.hits[0]), 2u);  // 40 against 35
  EXPECT_EQ(hit_docid(m.hits[1]), 1u);
  for (const Hit& h : m.hits) EXPECT_EQ(h.db, 1u);
}

TEST_F(MergeHits, TotalsAddByAbsoluteValueWithoutOverflow) {
  ResponseFixture a, b;
  a.hits = {hit(1, 1, 4)};
  a.total = INT_MIN;
  b.hits = {hit(2, 1, 4)};
  b.total = INT_MAX;
  std::vector<std::vector<uint8_t>> rs = {write_response(a), write_response(b)};
  Merged m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  EXPECT_EQ(m.view.total, -INT_MAX);  // saturated, then marked as estimated
  // Document counts saturate too.
  a.total = 1;
  a.documents = b.documents = 0xF0000000u;
  rs = {write_response(a), write_response(b)};
  m = run_merge(rs, 1, 10, 0);
  EXPECT_EQ(m.view.documents, UINT32_MAX);
}

TEST_F(MergeHits, HitsBeyondTheDatabaseAreLeftOut) {
  ResponseFixture a;
  a.documents = 10;
  a.hits = {hit(1, 3, 9), hit(1, 10, 50)};
  std::vector<std::vector<uint8_t>> rs = {write_response(a)};
  Merged m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  ASSERT_EQ(m.hits.size(), 1u);
  EXPECT_EQ(hit_docid(m.hits[0]), 3u);
}

// Term details: start 1, every hit up to the page's end with its quality
// value, and per term the hits that hold it with min(score + 1, norm).
TEST_F(MergeHits, MergeModeWritesPerTermBlocks) {
  ASSERT_EQ(idf_scale(2, 400), 88);
  ResponseFixture a;
  a.documents = 400;
  a.hits = {hit(1, 5, 4), hit(1, 6, 4), hit(1, 7, 3)};
  a.terms = {{"x", 2, 88, {hit(1, 5, 40), hit(1, 7, 88)}}, {"y", 2, 88, {hit(1, 6, 10)}}};
  std::vector<std::vector<uint8_t>> rs = {write_response(a)};
  Merged m = run_merge(rs, 11, 10, 1);
  ASSERT_EQ(m.result, 1);
  EXPECT_EQ(m.view.merge_flag, 1u);
  EXPECT_EQ(m.view.start, 1u);
  ASSERT_EQ(m.hits.size(), 3u);
  // Ranked by summed score: 7 (3 + 88), 5 (4 + 40), 6 (4 + 10); values are
  // the quality values.
  EXPECT_EQ(hit_docid(m.hits[0]), 7u);
  EXPECT_EQ(hit_value(m.hits[0]), 3u);
  EXPECT_EQ(hit_docid(m.hits[1]), 5u);
  EXPECT_EQ(hit_docid(m.hits[2]), 6u);
  ASSERT_EQ(m.blocks.size(), 2u);
  ASSERT_EQ(m.blocks[0].size(), 2u);
  // Block entries in ordinal order (5 was entered first: ordinal 3 of 3).
  EXPECT_EQ(hit_docid(m.blocks[0][0]), 7u);
  EXPECT_EQ(hit_value(m.blocks[0][0]), 88u);  // 88 + 1, bounded by the norm
  EXPECT_EQ(hit_docid(m.blocks[0][1]), 5u);
  EXPECT_EQ(hit_value(m.blocks[0][1]), 41u);
  ASSERT_EQ(m.blocks[1].size(), 1u);
  EXPECT_EQ(hit_docid(m.blocks[1][0]), 6u);
  EXPECT_EQ(hit_value(m.blocks[1][0]), 11u);
}

TEST_F(MergeHits, TermsAreMatchedAcrossResponsesAndBoundedToEighty) {
  ResponseFixture a, b;
  a.hits = {hit(1, 1, 4)};
  b.hits = {hit(2, 1, 4)};
  for (int i = 0; i < 50; ++i) a.terms.push_back({"a" + std::to_string(i), 1, 10, {}});
  for (int i = 0; i < 50; ++i) b.terms.push_back({"b" + std::to_string(i), 1, 10, {}});
  b.terms.push_back({"a3", 1, 10, {}});  // seen again, read first here
  b.terms.push_back({"a3", 1, 10, {}});  // repeated within one response: a term of its own
  std::vector<std::vector<uint8_t>> rs = {write_response(a), write_response(b)};
  Merged m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  ASSERT_EQ(m.terms.size(), 80u);
  // The last response is read first: its 52 terms, then a0..a27 (a3 being
  // known already).
  EXPECT_STREQ(m.terms[0].text, "b0");
  EXPECT_STREQ(m.terms[50].text, "a3");
  EXPECT_STREQ(m.terms[51].text, "a3");
  EXPECT_STREQ(m.terms[52].text, "a0");
  EXPECT_STREQ(m.terms[79].text, "a28");
  EXPECT_EQ(term_word_docf(m.terms[50].word), 2u);  // b's a3 and a's a3
  EXPECT_EQ(term_word_docf(m.terms[51].word), 1u);
}

TEST_F(MergeHits, QueryStringAndCollectionOfTheFirstResponse) {
  ResponseFixture a, b;
  a.query = "first";
  a.collection = "c1";
  b.query = "second";
  b.hits = {hit(2, 1, 4)};
  std::vector<std::vector<uint8_t>> rs = {write_response(a), write_response(b)};
  Merged m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  EXPECT_STREQ(response_query(m.view), "first");
  EXPECT_STREQ(response_collection(m.view), "c1");
  // No hits anywhere: the response of no hits, strings kept.
  a.hits.clear();
  b.hits.clear();
  rs = {write_response(a), write_response(b)};
  m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  EXPECT_EQ(m.view.hit_count, 0u);
  EXPECT_EQ(m.view.term_count, 0u);
  EXPECT_EQ(m.view.documents, 0u);
  EXPECT_STREQ(response_query(m.view), "first");
}

TEST_F(MergeHits, DateEntriesFollowTheirHits) {
  ResponseFixture a;
  a.type = kResponseDated;
  a.hits = {hit(1, 1, 10), hit(1, 2, 50)};
  a.dates = {{11, din_day_word(100)}, {22, din_day_word(200)}};
  std::vector<std::vector<uint8_t>> rs = {write_response(a)};
  Merged m = run_merge(rs, 1, 10, 0, kRequestDated);
  ASSERT_EQ(m.result, 1);
  EXPECT_EQ(m.view.type, kResponseDated);
  ASSERT_EQ(m.hits.size(), 2u);
  EXPECT_EQ(hit_docid(m.hits[0]), 2u);
  EXPECT_EQ(response_date(m.view, 0).host_hash, 22u);
  EXPECT_EQ(response_date(m.view, 1).host_hash, 11u);
}

TEST_F(MergeHits, SingleDatabaseResponsesKeepTheirPercentages) {
  ResponseFixture a;
  a.type = kResponseSingle;
  a.merge_flag = 0;
  a.hits = {hit(1, 1, 77), hit(1, 2, 12)};
  a.terms = {{"t", 5, 40, {}}};
  std::vector<std::vector<uint8_t>> rs = {write_response(a)};
  Merged m = run_merge(rs, 1, 10, 1, kRequestSingle);
  ASSERT_EQ(m.result, 1);
  EXPECT_EQ(m.view.type, kResponseSingle);
  EXPECT_EQ(m.view.merge_flag, 0u);
  ASSERT_EQ(m.hits.size(), 2u);
  EXPECT_EQ(hit_value(m.hits[0]), 77u);
  EXPECT_EQ(hit_value(m.hits[1]), 12u);
}

TEST_F(MergeHits, BadInputStopsTheMerge) {
  ResponseFixture good;
  good.hits = {hit(1, 1, 4)};
  good.terms = {{"t", 1, 10, {hit(1, 1, 5)}}};
  const std::vector<uint8_t> base = write_response(good);
  QueryResponseView v;
  ASSERT_TRUE(read_query_response(base.data(), base.size(), &v));
  auto put = [](std::vector<uint8_t>& r, size_t at, uint32_t w) { memcpy(r.data() + at, &w, 4); };
  struct Case {
    const char* what;
    std::vector<uint8_t> response;
  };
  std::vector<Case> cases;
  {
    std::vector<uint8_t> r = base;
    put(r, 0, 4);
    cases.push_back({"size word of 4", r});
  }
  {
    std::vector<uint8_t> r(base.begin(), base.begin() + static_cast<long>(v.end) - 3);
    cases.push_back({"truncated below its size word", r});
  }
  {
    std::vector<uint8_t> r = base;
    put(r, offsetof(QueryResponseHeader, hit_count), 0x10000000u);
    cases.push_back({"hit count beyond the area", r});
  }
  {
    std::vector<uint8_t> r = base;
    put(r, v.blocks_at, 5000);
    cases.push_back({"block count beyond the area", r});
  }
  {
    std::vector<uint8_t> r = base;
    put(r, v.words_at - 4, 3);
    cases.push_back({"term count beyond its strings", r});
  }
  {
    std::vector<uint8_t> r = base;
    put(r, offsetof(QueryResponseHeader, merge_flag), 7);
    cases.push_back({"merge flag of 7", r});
  }
  for (Case& c : cases) {
    ResponseFixture other;
    other.hits = {hit(2, 1, 4)};
    std::vector<std::vector<uint8_t>> rs = {write_response(other), c.response};
    Merged m = run_merge(rs, 1, 10, 0);
    EXPECT_EQ(m.result, 0) << c.what;
  }
  // A cleared area (a database whose evaluation failed early) reads as no
  // hits and the merge goes on.
  std::vector<std::vector<uint8_t>> rs = {std::vector<uint8_t>(4096, 0), base};
  Merged m = run_merge(rs, 1, 10, 0);
  EXPECT_EQ(m.result, 1);
  EXPECT_EQ(m.hits.size(), 1u);
}

TEST_F(MergeHits, NothingIsWrittenBeyondTheOutputArea) {
  ResponseFixture a;
  for (uint32_t d = 0; d < 100; ++d) a.hits.push_back(hit(1, d, 5));
  std::vector<std::vector<uint8_t>> rs = {write_response(a)};
  std::vector<uint8_t*> ptrs = {rs[0].data()};
  std::vector<size_t> sizes = {rs[0].size()};
  std::vector<uint8_t> out(400 + 64, 0xEE);
  memset(out.data(), 0, 8);
  EXPECT_EQ(merge_hits(1, ptrs.data(), sizes.data(), out.data(), 400, 1, 100, 0), 0);
  for (size_t i = 400; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << i;
}

TEST_F(MergeHits, BadRequestTypeAndBoundsOfStartAndCount) {
  ResponseFixture a;
  for (uint32_t d = 0; d < 120; ++d) a.hits.push_back(hit(1, d, 50 - d % 40));
  std::vector<std::vector<uint8_t>> rs = {write_response(a, 16384)};
  EXPECT_EQ(run_merge(rs, 1, 10, 0, 5).result, 0);
  Merged m = run_merge(rs, 0, 0, 0);  // start 1, count 100
  ASSERT_EQ(m.result, 1);
  EXPECT_EQ(m.view.start, 1u);
  EXPECT_EQ(m.hits.size(), 100u);
  m = run_merge(rs, INT_MAX, INT_MAX, 0);  // the end is 500, past every hit
  ASSERT_EQ(m.result, 1);
  EXPECT_EQ(m.hits.size(), 0u);
  EXPECT_EQ(m.view.total, 120);
}

TEST_F(MergeHits, SummedFrequenciesSaturate) {
  ResponseFixture a, b;
  a.hits = {hit(1, 1, 4)};
  b.hits = {hit(2, 1, 4)};
  a.terms = {{"t", 0x1FFFFFF, 10, {}}};
  b.terms = {{"t", 0x1FFFFFF, 10, {}}};
  std::vector<std::vector<uint8_t>> rs = {write_response(a), write_response(b)};
  Merged m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  ASSERT_EQ(m.terms.size(), 1u);
  EXPECT_EQ(term_word_docf(m.terms[0].word), 0x1FFFFFFu);
}

// The largest merge (48 responses of 500 hits, 80 terms with blocks) on a
// thread with a small stack: the merge's tables are not on the stack.
TEST_F(MergeHits, LargestMergeOnASmallStack) {
  std::vector<std::vector<uint8_t>> rs;
  for (uint32_t r = 0; r < 48; ++r) {
    ResponseFixture s;
    s.documents = 100000;
    for (uint32_t d = 0; d < 500; ++d) s.hits.push_back(hit(r + 1, d * 7 + r, 1 + (d * 13 + r) % 100));
    for (int t = 0; t < 80; ++t) {
      TermFixture term{"term" + std::to_string(t), 1000, 40, {}};
      for (uint32_t d = 0; d < 6; ++d) term.block.push_back(hit(r + 1, (d + t) * 7 + r, 30));
      s.terms.push_back(term);
    }
    rs.push_back(write_response(s, 169024));
  }
  struct Job {
    std::vector<std::vector<uint8_t>>* rs;
    Merged m;
  } job{&rs, {}};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* p) -> void* {
                  Job* j = static_cast<Job*>(p);
                  j->m = run_merge(*j->rs, 1, 500, 1, kRequestQuery, 169024);
                  return nullptr;
                },
                &job),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  ASSERT_EQ(job.m.result, 1);
  EXPECT_EQ(job.m.hits.size(), 500u);
  EXPECT_EQ(job.m.terms.size(), 80u);
}

TEST(HitMap, FullMapAndAbsentKeyTerminate) {
  std::vector<unsigned char> memory(hit_map_bytes(3));
  HitMap map = hit_map_init(memory.data(), 3);
  EXPECT_EQ(map_dbdocid(&map, 5, 3, 1, 7 << 7, nullptr), 3);
  EXPECT_EQ(map_dbdocid(&map, 6, 2, 1, 4 << 7, nullptr), 2);
  EXPECT_EQ(map_dbdocid(&map, 7, 1, 2, 7 << 7, nullptr), 1);
  // Full: an absent key is not found, with or without an ordinal.
  EXPECT_EQ(map_dbdocid(&map, 1, 0, 9, 9 << 7, nullptr), 0);
  EXPECT_EQ(map_dbdocid(&map, 1, 1, 9, 9 << 7, nullptr), 0);
  // A present key adds to its sum and keeps its first score.
  EXPECT_EQ(map_dbdocid(&map, 10, 0, 1, 4 << 7, nullptr), 2);
  const HitMapEntry* e = hit_map_ordinal(map, 2);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->sum, 16);
  EXPECT_EQ(e->first, 6);
  EXPECT_EQ(e->docid, 4u);
  // An empty map of no entries finds nothing.
  HitMap empty = hit_map_init(memory.data(), 0);
  EXPECT_EQ(map_dbdocid(&empty, 1, 1, 1, 0, nullptr), 0);
}

// A response of three hits makes a map of three entries, all used; a block
// hit of a document that is not among the hits ends its probe, is logged
// and carries ordinal 0.
TEST_F(MergeHits, BlockHitMissingFromAFullMap) {
  ResponseFixture a;
  a.hits = {hit(1, 1, 4), hit(1, 2, 4), hit(1, 3, 4)};
  a.terms = {{"t", 3, 50, {hit(1, 1, 20), hit(1, 99, 20)}}};
  std::vector<std::vector<uint8_t>> rs = {write_response(a)};
  Merged m = run_merge(rs, 1, 10, 0);
  ASSERT_EQ(m.result, 1);
  EXPECT_EQ(m.hits.size(), 3u);
  EXPECT_EQ(hit_docid(m.hits[0]), 1u);
  QueryResponseView v;
  ASSERT_TRUE(read_query_response(rs[0].data(), rs[0].size(), &v));
  ResponseTermCursor c;
  ResponseTerm t;
  ASSERT_TRUE(response_next_term(v, &c, &t));
  EXPECT_EQ(response_block_hit(v, t, 1).posting >> 7, 0u);
}

}  // namespace
}  // namespace vorlane::engine
