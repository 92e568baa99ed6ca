#include "engine/query/query_details.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/query/hit_table.h"
#include "store/db_handle.h"
#include "store/testing/handle_testing.h"

namespace vorlane::engine {
namespace {

TEST(HitTable, ProbesWrapAndStopAtTheKeyOrAFreeSlot) {
  HitTable t;
  hit_table_clear(&t);
  // (1, 748) and (2, 747) share slot 749; the second wraps to slot 0.
  HitSlot* a = hit_table_insert(&t, 1, 748, 0);
  HitSlot* b = hit_table_insert(&t, 2, 747, 1);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a - t.slots, 749);
  EXPECT_EQ(b - t.slots, 0);
  EXPECT_EQ(hit_table_find(&t, 2, 747), b);
  EXPECT_EQ(hit_table_find(&t, 1, 748), a);
  EXPECT_EQ(hit_table_find(&t, 3, 746), nullptr);  // probes 749, 0, then the free slot 1
  // A full table: inserts refuse and lookups of absent keys end.
  for (uint32_t d = 0; d < kHitTableSlots - 2; ++d) ASSERT_NE(hit_table_insert(&t, 5, 1000 + d, 2), nullptr);
  EXPECT_EQ(hit_table_insert(&t, 6, 1, 3), nullptr);
  EXPECT_EQ(hit_table_find(&t, 6, 1), nullptr);
}

TEST(TermDetails, IndexAndFractionAreBounded) {
  struct Case {
    int32_t s, norm;
    int want;
  } cases[] = {
      {1, 50, 1}, {26, 50, 51}, {50, 50, 99}, {51, 50, 100}, {100, 1, 100}, {40, 0, 1}, {0, 20, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(detail_index(c.s, c.norm), c.want) << c.s << "/" << c.norm;

  idbm_db db;
  testing::set_scores(&db, 6, 3);
  EXPECT_DOUBLE_EQ(detail_fraction(&db, 26, 50), 51 * 3 / 6.0);
  testing::set_scores(&db, 0, 3);
  EXPECT_EQ(detail_fraction(&db, 26, 50), 0.0);
  EXPECT_EQ(detail_fraction(nullptr, 26, 50), 0.0);
}

// The second merge's output: hits with quality values, blocks of the hits
// that hold each term.
TEST(TermDetails, CollectedPerHitInTermOrder) {
  std::vector<uint8_t> area(4096);
  ResponseWriter w;
  ASSERT_TRUE(response_begin(&w, area.data(), area.size(), kResponseQuery, 1, 1, 100));
  const Hit all[] = {{1, 7u << 7 | 4}, {2, 3u << 7 | 6}, {1, 9u << 7 | 2}};
  uint8_t* p = response_hit_area(&w, 3);
  for (const Hit& h : all) p = pack_hit(p, h.db, hit_docid(h), static_cast<int32_t>(hit_value(h)));
  response_commit_hits(&w, 3);
  const uint32_t words[] = {term_word(5, 50), term_word(2, 0)};
  ASSERT_TRUE(response_put_term_words(&w, words, 2));
  const Hit block0[] = {{1, 7u << 7 | 26}, {2, 3u << 7 | 1}, {9, 1u << 7 | 5}};
  const Hit block1[] = {{2, 3u << 7 | 40}};
  for (const auto& [b, n] : {std::pair{block0, 3u}, std::pair{block1, 1u}}) {
    ASSERT_TRUE(response_open_block(&w));
    memcpy(response_block_area(&w, n), b, n * sizeof(Hit));
    response_commit_block_hits(&w, n);
  }
  for (const char* s : {"alpha", "beta", "q", ""}) ASSERT_TRUE(response_put_string(&w, s, strlen(s)));
  ASSERT_TRUE(response_finish(&w));
  QueryResponseView v;
  ASSERT_TRUE(read_query_response(area.data(), area.size(), &v));

  std::vector<ResultTerm> terms = result_terms(v);
  ASSERT_EQ(terms.size(), 2u);
  EXPECT_EQ(terms[0].text, "alpha");
  EXPECT_EQ(terms[0].count, 5u);

  idbm_db db1, db2;
  testing::set_scores(&db1, 1, 1);
  testing::set_scores(&db2, 2, 1);
  idbm_db* db_of[128] = {};
  db_of[1] = &db1;
  db_of[2] = &db2;
  // The page is hits 2..3 of the output (start 2 against the output's 1).
  const Hit page[] = {all[1], all[2]};
  HitDetails details[2];
  collect_details(v, 1, page, 2, db_of, details);
  EXPECT_EQ(details[0].quality, 6);
  EXPECT_EQ(details[1].quality, 2);
  ASSERT_EQ(details[0].terms.size(), 2u);
  EXPECT_EQ(details[0].terms[0].term, 0);
  EXPECT_DOUBLE_EQ(details[0].terms[0].fraction, 0.5);  // idx 1, score_map 1, incr 2
  EXPECT_EQ(details[0].terms[1].term, 1);
  EXPECT_DOUBLE_EQ(details[0].terms[1].fraction, 0.5);  // norm 0: idx 1
  EXPECT_TRUE(details[1].terms.empty());
}

}  // namespace
}  // namespace vorlane::engine
