// query_each on a small database written through the store, with requests
// built by the format's writer and by hand.
#include "engine/query/query_each.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/query/hit_percent.h"
#include "engine/testing/query_testing.h"
#include "engine/query/query_transform.h"
#include "platform/testing/test_root.h"
#include "store/checksum.h"
#include "store/indexing.h"
#include "store/testing/log_capture.h"
#include "store/mapfile.h"

namespace vorlane::engine {
namespace {

using namespace query_testing;

const char* kChecksum = "0123456776543210";
const char* kChecksum2 = "1234567811223344";

// 79 distinct words of document 0.
std::string filler_word(int i) { return std::string("zz") + char('a' + i / 26) + char('a' + i % 26); }

// 40 documents: "banana" in all, "cherry" in 0..11, "apple" in the even
// ones, "grape" in 0..2; the checksum kChecksum in 0..4, kChecksum2 in 5..7.
// Document 3 is demoted (quality bits 0x10), 39 deleted.
std::vector<Doc> corpus(const zop_handle& h) {
  std::vector<Doc> docs;
  for (int i = 0; i < 40; ++i) {
    std::string text = "banana";
    if (i < 12) text += " cherry";
    if (i % 2 == 0) text += " apple";
    if (i < 3) text += " grape";
    for (int k = 0; i == 0 && k < 79; ++k) text += " " + filler_word(k);
    for (int k = 0; k < i % 4; ++k) text += " banana";
    Doc d;
    d.terms = index_terms(text, h);
    if (i < 5) d.pairs.push_back(pair_from_u64(parse_checksum(kChecksum)));
    if (i >= 5 && i < 8) d.pairs.push_back(pair_from_u64(parse_checksum(kChecksum2)));
    d.day = 1000 + i;
    if (i == 3) d.flag = 0x10;
    if (i == 39) d.flag = 255;
    docs.push_back(d);
  }
  return docs;
}

class QueryEach : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    init_percent_table();
    init_blend_table();
    if (!english().stemmer) return;
    cache_release_arenas();
    cache_init_default(max_hits);
    cache_add_arena(64, 500);  // room for the records of a query of 79 terms
    root_ = new platform::TestRoot;
    path_ = root_->file("db");
    ASSERT_EQ(write_database(path_, corpus(english())), 1);
    db_ = open_query_db(path_, 7, true);
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
    for (int i = 0; i < 8; ++i) quality_offsets[i] = i;
  }
  int run(const std::vector<uint8_t>& request, int merge = 0) { return q_.run(db_, request, merge, english()); }
  std::vector<uint32_t> docids() {
    QueryResponseView v = q_.view();
    std::vector<uint32_t> d;
    for (uint32_t i = 0; i < v.hit_count; ++i) d.push_back(hit_docid(response_hit(v, i)));
    return d;
  }

  static platform::TestRoot* root_;
  static std::string path_;
  static idbm_db* db_;
  QueryRun q_;
};
platform::TestRoot* QueryEach::root_ = nullptr;
std::string QueryEach::path_;
idbm_db* QueryEach::db_ = nullptr;

void set_word(std::vector<uint8_t>* b, size_t at, uint32_t w) { memcpy(b->data() + at, &w, 4); }

TEST_F(QueryEach, EveryRejectedRequestIsReportedAndLeavesAClearedResponse) {
  const std::vector<uint8_t> good = request("banana");
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    size_t length;
    const char* message;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, auto change, const char* message, size_t length = 0) {
    std::vector<uint8_t> b = good;
    change(&b);
    cases.push_back({what, b, length ? length : b.size(), message});
  };
  add("type 1", [](auto* b) { set_word(b, 4, 1); }, "bad request type");
  add("type 7", [](auto* b) { set_word(b, 4, 7); }, "bad request type");
  add("size past the length", [](auto* b) { set_word(b, 0, static_cast<uint32_t>(b->size() + 8)); },
      "ilen < size in header");
  add("length 4", [](auto*) {}, "ilen < size in header", 4);
  add("last byte not 0", [](auto* b) { b->back() = 'x'; }, "ibuf not ending in null terminated string");
  add("size below the header", [](auto* b) { set_word(b, 0, 48); (*b)[47] = 0; }, "ibuf string overflow or corruption");
  add("no collection", [](auto* b) { set_word(b, 0, 56 + 7); }, "ibuf string overflow or corruption");
  add("type 2, P past the size", [](auto* b) { set_word(b, 4, 2); set_word(b, 36, 100); },
      "ibuf string overflow or corruption");
  for (const Case& c : cases) {
    memset(q_.response.data(), 0xEE, q_.response.size());
    LogCapture log(LOG_WARNING | LOG_ERROR);
    EXPECT_EQ(q_.run(db_, std::vector<uint8_t>(c.bytes.begin(), c.bytes.begin() + c.length), 0, english()), 0)
        << c.what;
    EXPECT_TRUE(log.contains(std::string("query_each: ") + c.message)) << c.what << ": " << log.all();
    QueryResponseView v;
    ASSERT_TRUE(read_query_response(q_.response.data(), q_.response.size(), &v)) << c.what;
    EXPECT_FALSE(v.complete);
    EXPECT_EQ(v.hit_count, 0u);
    EXPECT_EQ(v.term_count, 0u);
  }
  // A null database, and a hit heap below three lists.
  LogCapture log(LOG_WARNING | LOG_ERROR);
  EXPECT_EQ(q_.run(nullptr, good, 0, english()), 0);
  EXPECT_TRUE(log.contains("query_each: null db pointer"));
  QueryBuffers* a = q_.areas();
  a->heap_left -= 1;
  EXPECT_EQ(query_each(db_, good.data(), good.size(), q_.response.data(), q_.response.size(), a, 0, english()), 0);
  EXPECT_TRUE(log.contains("heapbuf too small for ProcessQuery"));
}

TEST_F(QueryEach, StartAndHitsAreResetAndTheEndBounded) {
  {
    LogCapture log(LOG_ERROR | LOG_TRACE);
    ASSERT_EQ(run(request("banana", 0, 0)), 1);
    EXPECT_TRUE(log.contains("query_each(start=0) reset to 1"));
    EXPECT_TRUE(log.contains("query_each(nhits=0) reset to 100"));
    QueryResponseView v = q_.view();
    EXPECT_EQ(v.start, 1u);
    EXPECT_EQ(v.hit_count, 39u);  // every document but the deleted one
    EXPECT_EQ(v.total, 39);
  }
  {
    LogCapture log(LOG_TRACE);
    ASSERT_EQ(run(request("banana", 495, 10)), 1);
    EXPECT_TRUE(log.contains("query_each() size=504 reset to 500"));
    EXPECT_EQ(q_.view().hit_count, 0u);
  }
  {
    LogCapture log(LOG_WARNING);
    ASSERT_EQ(run(request("banana", 501, 10)), 1);
    EXPECT_TRUE(log.contains("query_each(start=501) return no hits"));
    QueryResponseView v = q_.view();
    EXPECT_TRUE(v.complete);
    EXPECT_EQ(v.hit_count, 0u);
    EXPECT_EQ(v.total, 0);
    EXPECT_EQ(std::string(response_query(v)), "banana");
    EXPECT_EQ(std::string(response_collection(v)), "coll");
  }
  // Beyond the matches: no hits, the total still given.
  ASSERT_EQ(run(request("cherry", 20, 10)), 1);
  QueryResponseView v = q_.view();
  EXPECT_EQ(v.hit_count, 0u);
  EXPECT_EQ(v.total, 12);
  EXPECT_EQ(v.start, 20u);
  EXPECT_EQ(v.type, kResponseSingle);
  EXPECT_EQ(v.merge_flag, 0u);
  // A page: hits 5..8 of the 12.
  ASSERT_EQ(run(request("cherry", 5, 4)), 1);
  v = q_.view();
  EXPECT_EQ(v.hit_count, 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    const uint32_t p = hit_value(response_hit(v, i));
    EXPECT_GE(p, 1u);
    EXPECT_LE(p, 100u);
  }
}

TEST_F(QueryEach, ATrailingNewlineIsDroppedAndTheTextCut) {
  ASSERT_EQ(run(request("cherry\n")), 1);
  QueryResponseView v = q_.view();
  EXPECT_EQ(std::string(response_query(v)), "cherry");
  EXPECT_EQ(v.hit_count, 12u);
  // A text of 3,000 bytes is evaluated and echoed as its first 2,033.
  std::string long_text = "cherry " + std::string(2993, 'x');
  ASSERT_EQ(run(request(long_text)), 1);
  v = q_.view();
  EXPECT_EQ(strlen(response_query(v)), kMaxQueryText);
}

TEST_F(QueryEach, MergeFormCarriesTheTopListQualitiesAndTermBlocks) {
  ASSERT_EQ(run(request("banana grape", 11, 10, kRequestQuery), 1), 1);
  QueryResponseView v = q_.view();
  EXPECT_EQ(v.type, kResponseQuery);
  EXPECT_EQ(v.merge_flag, 1u);
  EXPECT_EQ(v.start, 1u);
  ASSERT_EQ(v.hit_count, 20u);
  std::set<uint32_t> top;
  for (uint32_t i = 0; i < v.hit_count; ++i) {
    const Hit h = response_hit(v, i);
    EXPECT_EQ(h.db, 7u);
    // Quality 4 at the default offsets; document 3 has level 1: 5.
    EXPECT_EQ(hit_value(h), hit_docid(h) == 3 ? 5u : 4u) << hit_docid(h);
    top.insert(hit_docid(h));
  }
  ResponseTermCursor c;
  ResponseTerm t;
  std::vector<std::string> names;
  while (response_next_term(v, &c, &t)) {
    names.push_back(t.text);
    for (uint32_t k = 0; k < t.block_count; ++k) {
      const Hit h = response_block_hit(v, t, k);
      EXPECT_TRUE(top.count(hit_docid(h))) << t.text;
      EXPECT_GE(hit_value(h), 2u);  // the term's score + 1
      if (k > 0) {
        EXPECT_LT(hit_docid(response_block_hit(v, t, k - 1)), hit_docid(h));
      }
    }
    if (std::string(t.text) == "grape") {
      EXPECT_EQ(t.block_count, 3u);
    } else if (std::string(t.text) == "banana") {
      EXPECT_EQ(t.block_count, 20u);
    }
  }
  EXPECT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], "banana");
  EXPECT_EQ(names[1], "grape");
  EXPECT_EQ(term_word_docf(response_term_word(v, 1)), 3u);

  // Type 4 never carries blocks.
  ASSERT_EQ(run(request("banana grape", 1, 10, kRequestSingle), 1), 1);
  v = q_.view();
  EXPECT_EQ(v.type, kResponseSingle);
  EXPECT_EQ(v.merge_flag, 0u);
  EXPECT_EQ(v.blocks_at, 0u);
}

TEST_F(QueryEach, PercentagesBlendAndEqualOnesKeepTheirOrder) {
  EXPECT_EQ(blended_percent(250, 88), 175);
  uint8_t out[8];
  pack_hit(out, 1, 2, blended_percent(250, 88));
  Hit h;
  memcpy(&h, out, 8);
  EXPECT_EQ(hit_value(h), 100u);
  EXPECT_EQ(blended_percent(40, 488), 8);
  EXPECT_EQ(blended_percent(0, 10), 0);
  EXPECT_EQ(blended_percent(600, 10), hit_percent(600, 12, 10));
  std::vector<HitHeap> list{{0, 6}, {5, 1}, {9, 2}, {5, 3}, {9, 4}, {7, 5}, {5, 6}};
  sort_hits_stable(list.data(), 1, 6);
  std::vector<uint32_t> order;
  for (int i = 1; i <= 6; ++i) order.push_back(list[i].posting);
  EXPECT_EQ(order, (std::vector<uint32_t>{2, 4, 5, 1, 3, 6}));
  // Through query_each: hits of one percentage stay in the evaluation's order
  // (best score first, then the higher docid), run after run.
  ASSERT_EQ(run(request("apple")), 1);
  const std::vector<uint32_t> first = docids();
  ASSERT_EQ(run(request("apple")), 1);
  EXPECT_EQ(docids(), first);
  QueryResponseView v = q_.view();
  for (uint32_t i = 1; i < v.hit_count; ++i) {
    EXPECT_GE(hit_value(response_hit(v, i - 1)), hit_value(response_hit(v, i)));
  }
}

TEST_F(QueryEach, DemotionByChecksum) {
  const std::vector<uint8_t> bytes(static_cast<const uint8_t*>(db_->del.address),
                                   static_cast<const uint8_t*>(db_->del.address) + db_->del.size);
  std::string text = std::string("checksum:") + kChecksum;
  // 5 documents share the checksum: a collision, nothing demoted.
  {
    LogCapture log(LOG_ERROR | LOG_NOTICE);
    QueryRequestFields f;
    f.type = kRequestDemote;
    f.demote_value = 0x120;
    f.text = text.c_str();
    f.text_length = text.size();
    std::vector<uint8_t> r(200);
    r.resize(write_query_request(r.data(), r.size(), f));
    ASSERT_EQ(run(r), 1);
    EXPECT_TRUE(log.contains("Checksum Collision in query_each(" + text + "): 5 hits in " + path_));
    EXPECT_EQ(q_.view().hit_count, 0u);
    EXPECT_EQ(std::vector<uint8_t>(static_cast<const uint8_t*>(db_->del.address),
                                   static_cast<const uint8_t*>(db_->del.address) + db_->del.size),
              bytes);
  }
  // 3 documents, two of them excepted: one demoted, and counted once.
  text = std::string("checksum:") + kChecksum2;
  ExceptedDoc ex[2] = {{7, 5}, {7, 7}};
  QueryRequestFields f;
  f.type = kRequestDemote;
  f.demote_value = 0x120;  // low 8 bits: 0x20
  f.excepted = ex;
  f.excepted_count = 2;
  f.text = text.c_str();
  f.text_length = text.size();
  std::vector<uint8_t> r(200);
  r.resize(write_query_request(r.data(), r.size(), f));
  {
    LogCapture log(LOG_NOTICE);
    ASSERT_EQ(run(r), 1);
    EXPECT_TRUE(log.contains(path_ + ": 1 demoted to 20 (" + text + ")")) << log.all();
    const uint8_t* del = static_cast<const uint8_t*>(db_->del.address);
    EXPECT_EQ(del[6], 0x20);
    EXPECT_EQ(del[5], 0);
    EXPECT_EQ(del[7], 0);
    EXPECT_EQ(q_.view().type, kResponseDemote);
  }
  {
    // Again: the byte is already 0x20, so nothing changed and nothing is told.
    LogCapture log(LOG_NOTICE);
    ASSERT_EQ(run(r), 1);
    EXPECT_FALSE(log.contains("demoted")) << log.all();
  }
  ASSERT_EQ(idbm_demote(db_, 6, 0), 1);
}

TEST_F(QueryEach, DatedRequestsCarryEntriesWithTheDeletionByte) {
  ASSERT_EQ(run(request("cherry", 1, 20, kRequestDated)), 1);
  QueryResponseView v = q_.view();
  EXPECT_EQ(v.type, kResponseDated);
  ASSERT_EQ(v.hit_count, 12u);
  for (uint32_t i = 0; i < 12; ++i) {
    const uint32_t d = hit_docid(response_hit(v, i));
    const din_entry e = response_date(v, i);
    EXPECT_EQ(e.day >> 16, 1000 + d);
    EXPECT_EQ(e.day & 0xFF, d == 3 ? 0x10u : 0u);
  }
}

TEST_F(QueryEach, DateWindowAndModeWordFilter) {
  QueryRequestFields f;
  f.type = kRequestSingle;
  f.hits = 100;
  f.text = "cherry";
  f.text_length = 6;
  f.window_low = (1010u << 16) | 1005u;  // days 1005..1010
  std::vector<uint8_t> r(200);
  r.resize(write_query_request(r.data(), r.size(), f));
  ASSERT_EQ(run(r), 1);
  std::vector<uint32_t> d = docids();
  EXPECT_EQ(std::set<uint32_t>(d.begin(), d.end()), (std::set<uint32_t>{5, 6, 7, 8, 9, 10}));
  f.window_low = 1008u;  // no latest day
  r.assign(200, 0);
  r.resize(write_query_request(r.data(), r.size(), f));
  ASSERT_EQ(run(r), 1);
  EXPECT_EQ(docids().size(), 4u);  // 8..11
  f.window_low = 0;
  f.mode = 0x10;  // the documents whose deletion byte has the bit
  r.assign(200, 0);
  r.resize(write_query_request(r.data(), r.size(), f));
  ASSERT_EQ(run(r), 1);
  EXPECT_EQ(docids(), (std::vector<uint32_t>{3}));
}

TEST_F(QueryEach, RefinementsAndTransformations) {
  ASSERT_EQ(run(request("cherry | apple")), 1);
  std::vector<uint32_t> d = docids();
  EXPECT_EQ(std::set<uint32_t>(d.begin(), d.end()), (std::set<uint32_t>{0, 2, 4, 6, 8, 10}));
  QueryResponseView v = q_.view();
  EXPECT_EQ(v.total, 6);
  EXPECT_EQ(v.term_count, 2u);  // both parts' terms
  ASSERT_EQ(run(request("cherry || apple")), 1);
  v = q_.view();
  EXPECT_EQ(v.hit_count, 6u);
  EXPECT_EQ(v.term_count, 1u);  // only the refinement's
  ASSERT_EQ(run(request("grape | cherry | apple")), 1);
  EXPECT_EQ(docids().size(), 2u);
  ASSERT_EQ(run(request("apple |")), 1);
  EXPECT_EQ(q_.view().hit_count, 20u);
  ASSERT_EQ(run(request("grape | nosuchword")), 1);
  EXPECT_EQ(q_.view().hit_count, 0u);

  // A replacement far longer than the part.
  const std::string replacement = "grape " + std::string(140, ' ') + "grape";
  ASSERT_EQ(add_query_transform("fruit", replacement.c_str(), 0, 0), 1);
  LogCapture log(LOG_INFO);
  ASSERT_EQ(run(request("fruit")), 1);
  EXPECT_TRUE(log.contains("transforming query fruit to grape"));
  EXPECT_EQ(q_.view().hit_count, 3u);
  EXPECT_EQ(std::string(response_query(q_.view())), "fruit");
}

TEST_F(QueryEach, ARefinementWithOneFreeTermSlotKeepsTheResult) {
  // 79 terms fill all but the terminator's slot; the refinement then has one
  // slot, for no term: it stops with the message and the first part stands.
  // The message names the whole query as given and the refinement alone.
  std::string words;
  for (int i = 0; i < 78; ++i) words += filler_word(i) + " ";
  const std::pair<const char*, const char*> cases[] = {
      {"cherry | apple", "apple"},
      {"cherry | apple || grape", "apple "},  // the part runs to its separator
      {"cherry |  apple | grape", "apple "},
  };
  for (const auto& [rest, part] : cases) {
    const std::string text = words + rest;
    SCOPED_TRACE(rest);
    LogCapture log(LOG_ERROR);
    ASSERT_EQ(run(request(text)), 1) << log.all();
    EXPECT_TRUE(log.contains("Out of query buffer space in refinement. full query: '" + text + "'. refining with '" +
                             part + "'."))
        << log.all();
    // Only the 40 lists of smallest docf take part: the words of document 0.
    ASSERT_EQ(q_.view().hit_count, 1u);
    EXPECT_EQ(hit_docid(response_hit(q_.view(), 0)), 0u);
    EXPECT_EQ(std::string(response_query(q_.view())), text);
  }
}

TEST_F(QueryEach, SmallResponseAreasAreNeverOverrun) {
  ASSERT_EQ(run(request("banana cherry apple grape", 1, 30, kRequestQuery), 1), 1);
  const size_t full = q_.view().end;
  LogCapture quiet(LOG_ERROR);
  for (size_t size = 0; size <= full + 8; size += (size < 120 ? 1 : 7)) {
    std::vector<uint8_t> area(size + 64, 0xEE);
    const std::vector<uint8_t> r = request("banana cherry apple grape", 1, 30, kRequestQuery);
    const int ok = query_each(db_, r.data(), r.size(), area.data(), size, q_.areas(), 1, english());
    for (size_t i = size; i < area.size(); ++i) ASSERT_EQ(area[i], 0xEE) << size;
    if (size < kMinResponseSize) continue;
    QueryResponseView v;
    ASSERT_TRUE(read_query_response(area.data(), size, &v)) << size;
    EXPECT_EQ(ok == 1, v.complete) << size;
    EXPECT_EQ(ok == 1, size >= full) << size;
  }
}

TEST_F(QueryEach, EveryPinIsReleased) {
  ASSERT_EQ(run(request("banana cherry \"apple banana\" | grape")), 1);
  for (int a = 0; a < kMaxArenas && arenas[a]; ++a) {
    for (uint32_t s = 0; s < arenas[a]->count; ++s) EXPECT_EQ(arenas[a]->slots[s].pins, 0u);
  }
}

}  // namespace
}  // namespace vorlane::engine
