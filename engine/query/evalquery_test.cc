// evalquery and heap2rec on term records built in the test.
#include "engine/query/evalquery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/module/sorn_module.h"
#include "store/testing/log_capture.h"
#include "store/score_tables.h"

namespace vorlane::engine {
namespace {

using Record = std::vector<uint32_t>;

// A record in the cached form: docf and norm, postings docid << 7 | score.
Record rec(uint32_t docf, uint32_t norm, const std::vector<std::pair<uint32_t, uint32_t>>& postings) {
  Record r(kRecHeaderWords);
  rec_set_header(r.data(), 7, 7, docf, norm, static_cast<uint32_t>(postings.size()));
  for (auto [d, s] : postings) r.push_back((d << 7) | s);
  r.push_back(kEndMark);
  return r;
}

// Postings for every docid in docs, all of one score.
Record rec_of(const std::vector<uint32_t>& docs, uint32_t score = 10, uint32_t norm = 20, uint32_t docf = 0) {
  std::vector<std::pair<uint32_t, uint32_t>> p;
  for (uint32_t d : docs) p.push_back({d, score});
  return rec(docf ? docf : static_cast<uint32_t>(docs.size()), norm, p);
}

QueryTerm term(char mark, const Record* r, const char* text = "t") {
  QueryTerm t{};
  t.mark = mark;
  t.field = "";
  t.count = 1;
  t.phrases = 1;
  t.source = t.term = t.display = text;
  t.record = r ? r->data() : nullptr;
  return t;
}

// A phrase term over elements (which must end with an empty record).
QueryTerm phrase(char mark, std::vector<QueryTerm>* elements) {
  QueryTerm t = term(mark, nullptr, "phrase");
  t.count = static_cast<int32_t>(elements->size()) - 1;
  t.elements = elements->data();
  return t;
}

class EvalQuery : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    init_percent_table();
    init_blend_table();
  }
  void SetUp() override {
    saved_m_ = max_hits;
    set_m(100);
    for (int i = 0; i < 8; ++i) saved_q_[i] = quality_offsets[i], quality_offsets[i] = 0;
  }
  void TearDown() override {
    max_hits = saved_m_;
    for (int i = 0; i < 8; ++i) quality_offsets[i] = saved_q_[i];
  }
  void set_m(uint32_t m) {
    max_hits = m;
    heap_.assign(hit_area_entries(m) * 3, HitHeap{0, 0});
    list_.assign(size_t{m} * 2 + 10, 0);
  }
  // Runs the terms (an empty record is appended) as a top-level query part.
  int run(std::vector<QueryTerm> terms, int sorted = 0, int restrict = 0, int32_t wanted = 10) {
    terms.push_back(QueryTerm{});
    terms_ = terms;
    QueryBuffers b{};
    const size_t room = hit_area_entries(max_hits);
    b.heap = heap_.data() + room;  // the first room is the result's
    b.heap_left = static_cast<int32_t>(heap_.size() - room);
    b.list_base = b.list_position = list_.data();
    b.list_size = b.list_room = static_cast<int32_t>(list_.size());
    b.term_base = b.term_position = terms_.data();
    HitHeap* result = heap_.data();
    if (!restrict) {
      hit_base(result) = 0;
      hit_size(result) = max_hits;
    }
    stats_ = EvalStats{1000, 0, 0, 0};
    const int n = evalquery(&b, 1, sorted, restrict, wanted, delmap_, 0, DateMap{}, 0, &stats_, result);
    list_used_ = b.list_used;
    return n;
  }
  HitHeap* result() { return heap_.data(); }
  std::vector<uint32_t> docs() {
    std::vector<uint32_t> d;
    for (uint32_t i = 1; i <= hit_size(result()); ++i) d.push_back(posting_doc(result()[i].posting));
    return d;
  }
  std::set<uint32_t> doc_set() {
    std::vector<uint32_t> d = docs();
    return std::set<uint32_t>(d.begin(), d.end());
  }
  int32_t real(uint32_t i) { return hit_base(result()) + result()[i].score; }

  std::vector<HitHeap> heap_;
  std::vector<uint32_t> list_;
  std::vector<QueryTerm> terms_;
  EvalStats stats_{};
  DeletionMap delmap_{};
  int32_t list_used_ = 0;
  uint32_t saved_m_ = 0;
  int32_t saved_q_[8] = {};
};

TEST_F(EvalQuery, OneOptionalTermKeepsWhatPassesTheFiltersBestFirst) {
  Record a = rec(5, 30, {{1, 5}, {2, 50}, {3, 20}, {4, 9}, {6, 40}});
  std::vector<uint8_t> del(10, 0);
  del[3] = 255;  // deleted
  delmap_ = DeletionMap{del.data(), 5};  // docid 6 lies past the map
  ASSERT_EQ(run({term(' ', &a)}), 3);
  EXPECT_EQ(docs(), (std::vector<uint32_t>{2, 4, 1}));
  EXPECT_EQ(real(1), 50);
  EXPECT_EQ(stats_.total, 3);
  EXPECT_EQ(stats_.estimated, 0);
  EXPECT_EQ(stats_.denominator, 30);
}

TEST_F(EvalQuery, RequiredExcludedAndOptionalTerms) {
  Record a = rec_of({1, 2, 3, 4, 5, 6}, 10, 20);
  Record b = rec_of({2, 3, 4, 6, 8}, 5, 30);
  Record c = rec_of({3, 9}, 7, 40);
  Record o = rec_of({4, 5}, 30, 50);
  Record c_all = rec_of({3, 9});  // holds every document of c
  struct Case {
    const char* what;
    std::vector<QueryTerm> terms;
    std::set<uint32_t> want;
    int32_t denominator;
  } cases[] = {
      {"+a +b", {term('+', &a), term('+', &b)}, {2, 3, 4, 6}, 50},
      {"+a +b -c", {term('+', &a), term('+', &b), term('-', &c)}, {2, 4, 6}, 50},
      {"+a o", {term('+', &a), term(' ', &o)}, {1, 2, 3, 4, 5, 6}, 70},
      {"a -b", {term(' ', &a), term('-', &b)}, {1, 5}, 20},
      {"a b", {term(' ', &a), term(' ', &b)}, {1, 2, 3, 4, 5, 6, 8}, 50},
      {"+c -c_all, every c has c_all", {term('+', &c), term('-', &c_all)}, {}, 0},
  };
  for (Case& c2 : cases) {
    const int n = run(c2.terms);
    EXPECT_EQ(doc_set(), c2.want) << c2.what;
    EXPECT_EQ(n, static_cast<int>(c2.want.size())) << c2.what;
    EXPECT_EQ(stats_.total, static_cast<int32_t>(c2.want.size())) << c2.what;
    EXPECT_EQ(stats_.denominator, c2.denominator) << c2.what;
  }
  // Scores add up: in '+a o' document 4 has 10 + 30, document 1 only 10.
  run({term('+', &a), term(' ', &o)});
  EXPECT_EQ(posting_doc(result()[1].posting), 5u);  // 10 + 30, higher docid first among equals
  EXPECT_EQ(real(1), 40);
  EXPECT_EQ(real(hit_size(result())), 10);
  // A required term that is not indexed gives nothing.
  EXPECT_EQ(run({term('+', &a), term('+', nullptr)}), 0);
  EXPECT_EQ(stats_.total, 0);
  EXPECT_EQ(hit_size(result()), 0u);
}

TEST_F(EvalQuery, CutOptionalListsGiveAnEstimatedTotal) {
  // M = 100: two lists of 80 postings together exceed it; one was cut (docf
  // 500 above its 80 postings).
  std::vector<uint32_t> first, second;
  for (uint32_t d = 0; d < 80; ++d) first.push_back(d * 2), second.push_back(d * 2 + 1);
  Record a = rec_of(first, 10, 20, 500);
  Record b = rec_of(second, 10, 20, 80);
  ASSERT_EQ(run({term(' ', &a), term(' ', &b)}), 10);
  EXPECT_EQ(stats_.total, 500);
  EXPECT_EQ(stats_.estimated, 1);
  // Without the cut: the documents counted, exactly.
  Record c = rec_of(first, 10, 20, 80);
  ASSERT_EQ(run({term(' ', &c), term(' ', &b)}), 10);
  EXPECT_EQ(stats_.total, 160);
  EXPECT_EQ(stats_.estimated, 0);
  // Sorted (a refinement's part): all of them, in document order.
  ASSERT_EQ(run({term(' ', &c), term(' ', &b)}, 1, 0, 100), 100);
  std::vector<uint32_t> d = docs();
  EXPECT_TRUE(std::is_sorted(d.begin(), d.end()));
}

// Optional terms whose lists are whole count exactly the documents that
// pass the filters, however many were deleted; with cut lists the estimate
// stays between the hits found and the documents that pass.
TEST_F(EvalQuery, TotalsCountWhatPassesTheFilters) {
  std::vector<uint8_t> flags(1000, 0);
  delmap_ = DeletionMap{flags.data(), flags.size()};
  for (uint32_t d : {1, 2, 3}) flags[d] = 0xFF;  // three of the four apple documents deleted
  Record apple = rec_of({0, 1, 2, 3}), zebra = rec_of({0, 5}), mango = rec_of({5});
  struct Case {
    const char* what;
    std::vector<QueryTerm> terms;
    int32_t total;
  } exact[] = {
      {"two optional", {term(' ', &apple), term(' ', &zebra)}, 2},
      {"with an exclusion", {term(' ', &apple), term(' ', &zebra), term('-', &mango)}, 1},
      {"one optional", {term(' ', &apple)}, 1},
  };
  for (const Case& c : exact) {
    ASSERT_GT(run(c.terms), 0) << c.what;
    EXPECT_EQ(stats_.total, c.total) << c.what;
    EXPECT_EQ(stats_.estimated, 0) << c.what;
  }

  // Cut lists (docf 500 over 80 postings): all but 30 documents deleted.
  std::vector<uint32_t> even, odd;
  for (uint32_t d = 0; d < 80; ++d) even.push_back(d * 2), odd.push_back(d * 2 + 1);
  Record a = rec_of(even, 10, 20, 500), b = rec_of(odd, 10, 20, 80);
  std::fill(flags.begin(), flags.end(), 0xFF);
  for (uint32_t d = 100; d < 130; ++d) flags[d] = 0;  // 15 of them in the lists
  for (const auto& terms : {std::vector<QueryTerm>{term(' ', &a)}, {term(' ', &a), term(' ', &b)}}) {
    const int n = run(terms);
    ASSERT_EQ(n, 10);
    EXPECT_EQ(stats_.estimated, 1);
    EXPECT_GE(stats_.total, terms.size() == 1 ? 15 : 30);
    EXPECT_LE(stats_.total, 30) << "no more than the documents left";
  }
}

TEST_F(EvalQuery, PhrasesBecomeDerivedRecords) {
  Record x = rec_of({1, 2, 3, 5}, 10, 20);
  Record y = rec_of({2, 3, 4}, 20, 20);
  Record z = rec_of({7, 8}, 20, 20);
  Record other = rec_of({9}, 10, 20);
  std::vector<QueryTerm> together{term('+', &x, "x"), term('+', &y, "y"), QueryTerm{}};
  ASSERT_EQ(run({phrase(' ', &together)}), 2);
  EXPECT_EQ(doc_set(), (std::set<uint32_t>{2, 3}));
  // The phrase now holds a derived record of the two documents.
  const uint32_t* r = terms_[0].record;
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(terms_[0].count, 1);
  EXPECT_EQ(rec_full_count(r), 2u);
  EXPECT_EQ(rec_full_docf(r), 2u);
  EXPECT_EQ(rec_full_norm(r), static_cast<uint32_t>(idf_scale(2, 1000)));
  EXPECT_EQ(r[6], kEndMark);
  EXPECT_EQ(list_used_, 7);

  // Elements that never occur together: no record; required, no result.
  std::vector<QueryTerm> apart{term('+', &x, "x"), term('+', &z, "z"), QueryTerm{}};
  EXPECT_EQ(run({phrase('+', &apart), term(' ', &other)}), 0);
  EXPECT_EQ(stats_.total, 0);
  std::vector<QueryTerm> apart2{term('+', &x, "x"), term('+', &z, "z"), QueryTerm{}};
  EXPECT_EQ(run({phrase(' ', &apart2), term(' ', &other)}), 1);
  EXPECT_EQ(terms_[0].record, nullptr);
}

TEST_F(EvalQuery, RequiredPhraseElementWithACutRecordIsOptional) {
  // M = 100: docf 150 with 100 postings is cut (150 > 100, 50 > 1).
  std::vector<uint32_t> many;
  for (uint32_t d = 0; d < 100; ++d) many.push_back(d);
  Record cut = rec_of(many, 10, 20, 150);
  Record y = rec_of({500, 501}, 10, 20);
  std::vector<QueryTerm> elements{term('+', &cut, "cut"), term('+', &y, "y"), QueryTerm{}};
  // Were the cut element required, the phrase would have no document; as an
  // optional element it only adds score.
  ASSERT_EQ(run({phrase(' ', &elements)}), 2);
  EXPECT_EQ(doc_set(), (std::set<uint32_t>{500, 501}));
  // At the top level the same term stays required.
  EXPECT_EQ(run({term('+', &cut), term('+', &y)}), 0);
}

TEST_F(EvalQuery, TooLittleScratchGivesAnEmptyResult) {
  Record x = rec_of({1, 2}, 10, 20);
  std::vector<QueryTerm> elements{term('+', &x, "x"), term('+', &x, "x2"), QueryTerm{}};
  std::vector<QueryTerm> terms{phrase(' ', &elements), QueryTerm{}};
  QueryBuffers b{};
  b.heap = heap_.data() + hit_area_entries(max_hits);
  b.heap_left = static_cast<int32_t>(hit_area_entries(max_hits) + 10);  // room for the work list only
  b.list_base = b.list_position = list_.data();
  b.list_size = b.list_room = static_cast<int32_t>(list_.size());
  b.term_base = b.term_position = terms.data();
  EvalStats s{1000, 0, 0, 0};
  LogCapture log(LOG_ERROR);
  EXPECT_EQ(evalquery(&b, 1, 0, 0, 10, DeletionMap{}, 0, DateMap{}, 0, &s, heap_.data()), 0);
  EXPECT_TRUE(log.contains("recursive evalquery: insufficient scratch"));
  EXPECT_EQ(hit_size(heap_.data()), 0u);
}

TEST_F(EvalQuery, RefinementKeepsTheHitsThatMatchAnOptionalTerm) {
  Record a = rec_of({1, 2, 3, 4}, 10, 20);
  ASSERT_EQ(run({term(' ', &a)}, 1, 0, 100), 4);  // document order, as a part before a refinement
  Record b = rec_of({2, 4, 9}, 30, 40);
  ASSERT_EQ(run({term(' ', &b)}, 0, 1), 2);
  EXPECT_EQ(doc_set(), (std::set<uint32_t>{2, 4}));
  EXPECT_EQ(real(1), 40);  // both scores
  EXPECT_EQ(stats_.denominator, 40);
  // A refinement with a required term intersects; one that matches nothing
  // gives no result.
  ASSERT_EQ(run({term(' ', &a)}, 1, 0, 100), 4);
  Record c = rec_of({7}, 30, 40);
  EXPECT_EQ(run({term('+', &c)}, 0, 1), 0);
}

TEST_F(EvalQuery, Heap2recScalesScoresAndTreatsNegativeOnesAsZero) {
  std::vector<HitHeap> hits(hit_area_entries(10));
  hit_base(hits.data()) = 1;
  hit_size(hits.data()) = 4;
  hits[1] = {-5, 1u << 7};   // real score -4
  hits[2] = {199, 2u << 7};  // real 200, the largest
  hits[3] = {99, 3u << 7};   // real 100
  hits[4] = {4999, 4u << 7}; // real 5000: beyond the table, still scaled
  std::vector<uint32_t> r(10);
  heap2rec(hits.data(), r.data(), 5, 1000);
  const int norm = idf_scale(5, 1000);
  const int64_t factor = (5000 / 2 + norm * 100) / 5000;
  EXPECT_EQ(r[0], 1u);
  EXPECT_EQ(r[1], 1u);
  EXPECT_EQ(rec_full_docf(r.data()), 5u);
  EXPECT_EQ(rec_full_norm(r.data()), static_cast<uint32_t>(norm));
  EXPECT_EQ(rec_full_count(r.data()), 4u);
  EXPECT_EQ(r[4], 1u << 7);  // negative: 0
  EXPECT_EQ(r[5], (2u << 7) | static_cast<uint32_t>(percent_table[factor][200]));
  EXPECT_EQ(r[7], (4u << 7) | static_cast<uint32_t>(std::min<int64_t>(100, (factor * 5000 + 50) / 100)));
  EXPECT_EQ(r[8], kEndMark);
  // Every score at or below 0: factor 1, no negative index.
  hits[2].score = hits[3].score = hits[4].score = -1;
  heap2rec(hits.data(), r.data(), 5, 1000);
  for (int i = 4; i < 8; ++i) EXPECT_EQ(r[i] & 0x7F, 0u);
}

}  // namespace
}  // namespace vorlane::engine
