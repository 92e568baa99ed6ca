// All-hits evaluation, document cursors and the pin log, on databases the
// store writes (stems from the default English set; skipped without it).
#include "engine/query/allhits.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/module/cache_setup.h"
#include "engine/query/doc_cursor.h"
#include "engine/query/hit_heap.h"
#include "engine/query/query_parser.h"
#include "engine/testing/query_testing.h"
#include "engine/module/sorn_module.h"
#include "platform/testing/test_root.h"
#include "store/testing/log_capture.h"
#include "store/score_tables.h"
#include "store/testing/handle_testing.h"

namespace vorlane::engine {
namespace {

using query_testing::Doc;
using query_testing::ParseAreas;
using Ids = std::vector<uint32_t>;

const std::string kEnglish = std::string(VORLANE_ENGLISH_DIR) + "/english";

// A record image of postings for the cursor tests (docids only).
std::vector<uint32_t> record_of(const Ids& docids) {
  std::vector<uint32_t> r(kRecHeaderWords);
  const auto n = static_cast<uint32_t>(docids.size());
  rec_set_header(r.data(), 1, 1, n, 0, n);
  for (uint32_t d : docids) r.push_back(d << 7 | 1);
  r.push_back(kEndMark);
  return r;
}

Ids drain(DocCursor* c) {
  Ids out;
  while (DocCursorPeek(c) != kCursorEnd) out.push_back(posting_docid(DocCursorNext(c)));
  return out;
}

TEST(DocCursor, UnionsAndIntersectionsCountEachCursorOnce) {
  auto a = record_of({1, 3, 5, 7}), b = record_of({3, 4, 5}), c = record_of({5, 7, 9});
  CursorGroup g{}, inner{}, outer{};
  DocCursor gc = group_cursor(&g);
  for (auto* r : {&a, &b, &c}) {
    DocCursor l = list_cursor(r->data());
    ASSERT_EQ(DocCursorInsert(&g, &l), 1);
  }
  g.need = 1;
  DocCursorAdvance(&gc);
  EXPECT_EQ(drain(&gc), (Ids{1, 3, 4, 5, 7, 9}));

  g.used = 0;
  for (auto* r : {&a, &b, &c}) {
    DocCursor l = list_cursor(r->data());
    DocCursorInsert(&g, &l);
  }
  g.need = 3;
  DocCursorAdvance(&gc);
  EXPECT_EQ(drain(&gc), (Ids{5}));

  // A union of a and b inside an intersection with c: 3 is in a and b but
  // not in c, so the union alone must not satisfy the intersection.
  DocCursor ic = group_cursor(&inner);
  for (auto* r : {&a, &b}) {
    DocCursor l = list_cursor(r->data());
    DocCursorInsert(&inner, &l);
  }
  inner.need = 1;
  DocCursorAdvance(&ic);
  DocCursor oc = group_cursor(&outer);
  DocCursor lc = list_cursor(c.data());
  DocCursorInsert(&outer, &ic);
  DocCursorInsert(&outer, &lc);
  outer.need = 2;
  DocCursorAdvance(&oc);
  EXPECT_EQ(drain(&oc), (Ids{5, 7}));

  DocCursor l = list_cursor(a.data());
  EXPECT_EQ(DocCursorSkipTo(4, &l), 0);
  EXPECT_EQ(posting_docid(DocCursorPeek(&l)), 5u);
  EXPECT_EQ(DocCursorSkipTo(5, &l), 1);
  EXPECT_EQ(DocCursorSkipTo(8, &l), 0);
  EXPECT_EQ(DocCursorPeek(&l), kCursorEnd);
  DocCursor empty = list_cursor(nullptr);
  EXPECT_EQ(DocCursorInsert(&g, &empty), 0);
}

class AllHitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kEnglish + ".hmm")) GTEST_SKIP() << "no default English resource set";
    english_ = query_testing::english_set(kEnglish);
    ASSERT_NE(english_.stemmer, nullptr);
    init_percent_table();
    cache_release_arenas();
  }
  void TearDown() override {
    for (idbm_db* db : dbs_) idbm_close(db);
    cache_release_arenas();
  }
  // The arenas cache_init(memory, hits, 0) makes.
  void arenas_for(uint32_t memory, uint32_t hits) {
    const CachePlan plan = cache_plan(memory, hits, 0);
    for (int i = 0; i < plan.arena_count; ++i) cache_add_arena(plan.arenas[i].postings, plan.arenas[i].count);
  }
  idbm_db* database(const std::vector<std::string>& texts, const Ids& deleted = {}, int32_t posting_limit = 0) {
    std::vector<Doc> docs;
    for (const std::string& t : texts) {
      Doc d;
      d.terms = query_testing::index_terms(t, english_);
      docs.push_back(d);
    }
    const std::string path = root_.file("db" + std::to_string(dbs_.size()));
    if (query_testing::write_database(path, docs, deleted, posting_limit) != 1) return nullptr;
    idbm_db* db = query_testing::open_query_db(path);
    if (db) dbs_.push_back(db);
    return db;
  }
  // query_each2 with the work areas query_allhits gives it; the docids, or
  // {kFailed} for a failed evaluation.
  static constexpr uint32_t kFailed = 0xFFFFFFFFu;
  Ids allhits(idbm_db* db, const std::string& query) {
    std::vector<HitHeap> heap(hit_area_entries(max_hits) * 3);
    std::vector<uint32_t> list(max_hits * 2 + 10);
    QueryBuffers b{};
    b.heap = heap.data();
    b.heap_left = static_cast<int32_t>(heap.size());
    b.list_base = b.list_position = list.data();
    b.list_size = b.list_room = static_cast<int32_t>(list.size());
    std::string text = query;
    uint32_t* docids = nullptr;
    const int n = query_each2(db, text.data(), &b, english_, &docids);
    if (n < 0) return {kFailed};
    Ids out(docids, docids + (n > 0 ? n : 0));
    free(docids);
    return out;
  }
  zop_handle english_;
  platform::TestRoot root_;
  std::vector<idbm_db*> dbs_;
};

TEST_F(AllHitsTest, BooleanPhraseAndDeletion) {
  arenas_for(1 << 22, 1000);
  idbm_db* db = database({"apple pie", "apple tart", "cherry pie", "apple cherry pie", "apple pie",
                          "sweet cherry jam", "plum jam"},
                         {4});
  ASSERT_NE(db, nullptr);
  const uint64_t pins = query_testing::pinned_slots();
  struct Case {
    const char* query;
    Ids expected;
  };
  const Case cases[] = {
      {"apple pie", {0, 1, 2, 3}},         // deleted document 4 is left out
      {"+apple +pie", {0, 3}},
      {"apple AND pie", {0, 3}},
      {"+apple -cherry", {0, 1}},
      {"apple | cherry", {0, 1, 3}},       // only the part before the '|'
      {"+apple +\"apple cherry pie\"", {3}},
      {"apple -\"apple cherry pie\"", {0, 1}},  // an excluded phrase
      // A required phrase that matches no document keeps the intersection
      // empty.
      {"+apple +\"sweet cherry pie\"", {}},
      {"zzqqnothing", {}},
      {"", {kFailed}},
      {"  \n", {kFailed}},
      {"| apple", {kFailed}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(allhits(db, c.query), c.expected);
    EXPECT_EQ(query_testing::pinned_slots(), pins) << "pins left after the run";
  }
}

// A quoted phrase of three words is a term of two elements; its mark means
// what a word's mark means, as in the ranked evaluation.
TEST_F(AllHitsTest, PhrasesOfThreeWordsKeepTheirMarks) {
  arenas_for(1 << 22, 1000);
  idbm_db* db = database({"apple banana cherry dragon eagle falcon", "apple banana cherry", "dragon eagle falcon",
                          "apple", "banana cherry dragon"});
  ASSERT_NE(db, nullptr);
  {
    ParseAreas areas;
    int32_t found = 0, missing = 0;
    ASSERT_EQ(ParseQuery(db, "\"apple banana cherry\"", english_, &areas.buffers, &found, &missing), 1);
    ASSERT_EQ(areas.terms[0].count, 2) << "the fixture needs a phrase of elements";
    ASSERT_NE(areas.terms[0].elements, nullptr);
  }
  struct Case {
    const char* query;
    Ids expected;
  };
  const Case cases[] = {
      {"+\"apple banana cherry\" +\"dragon eagle falcon\"", {0}},  // both required: the intersection
      {"\"apple banana cherry\" \"dragon eagle falcon\"", {0, 1, 2}},
      {"+\"apple banana cherry\" \"dragon eagle falcon\"", {0, 1}},
      {"+apple \"banana cherry dragon\"", {0, 1, 3}},  // the optional phrase decides nothing
      {"+apple +\"banana cherry dragon\"", {0}},
      {"+apple -\"banana cherry dragon\"", {1, 3}},
      {"\"banana cherry dragon\" AND \"dragon eagle falcon\"", {0}},
      {"\"banana cherry dragon\" OR \"dragon eagle falcon\"", {0, 2, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(allhits(db, c.query), c.expected);
  }
}

// A required term whose list was cut at the posting limit cannot decide an
// intersection: it is treated as optional.
TEST_F(AllHitsTest, ARequiredListCutAtThePostingLimitIsOptional) {
  arenas_for(1 << 22, 1000);
  idbm_db* db = database({"apple pie", "apple", "apple tart", "plum pie", "apple tart"}, {}, 3);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(allhits(db, "+apple +pie"), (Ids{0, 3}));  // the documents of pie
  EXPECT_EQ(allhits(db, "+tart +pie"), (Ids{}));       // two whole lists
}

TEST_F(AllHitsTest, DocidsPastTheDeletionMapAreDropped) {
  arenas_for(1 << 22, 1000);
  idbm_db* db = database({"apple", "apple", "apple"});
  ASSERT_NE(db, nullptr);
  ASSERT_GE(db->del.size, 3u);
  const uint64_t saved = testing::set_del_size(db, 2);  // a map shorter than the postings
  EXPECT_EQ(allhits(db, "apple"), (Ids{0, 1}));
  testing::set_del_size(db, saved);
  EXPECT_EQ(allhits(db, "apple"), (Ids{0, 1, 2}));
}

// After cache_init(0, 0, 0) records of 2 to 15 postings share one arena of
// 50 slots: a query needing more of them than that runs out of slots, which
// must be reported as a failed run, never as a query that matched nothing.
TEST_F(AllHitsTest, PinShortageFailsTheRunAndEveryPinIsReleased) {
  arenas_for(0, 0);
  std::vector<std::string> texts;
  std::string words;
  for (int i = 0; i < 60; ++i) words += std::string("pq") + static_cast<char>('a' + i / 26) +
                                        static_cast<char>('a' + i % 26) + " ";
  // Each word in three documents: records of three postings.
  for (int d = 0; d < 3; ++d) texts.push_back(words);
  idbm_db* db = database(texts);
  ASSERT_NE(db, nullptr);
  const uint64_t pins = query_testing::pinned_slots();

  std::string sixty, forty;
  std::istringstream in(words);
  int i = 0;
  for (std::string w; in >> w; ++i) {
    sixty += "+" + w + " ";
    if (i < 40) forty += "+" + w + " ";
  }
  {
    LogCapture log(2);
    EXPECT_EQ(allhits(db, sixty), (Ids{kFailed}));
    EXPECT_TRUE(log.contains("ParsePhrase: no room for term records")) << log.all();
  }
  EXPECT_EQ(query_testing::pinned_slots(), pins);

  ParseAreas areas;
  int32_t found = 0, missing = 0;
  EXPECT_EQ(ParseQuery(db, sixty.c_str(), english_, &areas.buffers, &found, &missing), 0);
  EXPECT_EQ(areas.pins.get()->shortage, 1);
  areas.reset();
  EXPECT_EQ(query_testing::pinned_slots(), pins);

  EXPECT_EQ(ParseQuery(db, forty.c_str(), english_, &areas.buffers, &found, &missing), 40);
  EXPECT_EQ(found, 40);
  EXPECT_EQ(areas.pins.get()->shortage, 0);
  EXPECT_EQ(query_testing::pinned_slots(), pins + 40);
  // A rewind to a mark gives back the pins taken after it.
  release_pins_to(areas.pins.get(), 10);
  EXPECT_EQ(query_testing::pinned_slots(), pins + 10);
  areas.reset();
  EXPECT_EQ(query_testing::pinned_slots(), pins);

  EXPECT_EQ(allhits(db, forty), (Ids{0, 1, 2}));
  EXPECT_EQ(query_testing::pinned_slots(), pins);
  // Run after run, the slots stay usable.
  for (int k = 0; k < 5; ++k) EXPECT_EQ(allhits(db, forty), (Ids{0, 1, 2}));
  EXPECT_EQ(query_testing::pinned_slots(), pins);
}

}  // namespace
}  // namespace vorlane::engine
