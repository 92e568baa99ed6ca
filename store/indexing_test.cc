#include "store/indexing.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include "platform/testing/test_root.h"
#include "store/alloc.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/icube.h"
#include "store/testing/log_capture.h"
#include "store/mapfile.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/index_fixture.h"

namespace vorlane {
namespace {

using testing::test_doc;

class IndexingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_percent_table(); }
  void SetUp() override { cache_release_arenas(); }
  idbm_db* open_incr(uint32_t capacity, int32_t limit = 0, idbm_db* catalog = nullptr) {
    return idbm_open_incr(path().c_str(), limit, capacity, 1, catalog);
  }
  std::string path() const { return root_.file("db"); }
  // The in-memory record of a pair (full form with room), as words.
  static std::vector<uint32_t> words(idbm_db* db, uint32_t h1, uint32_t h2) {
    const uint32_t* r = idbm_find(db, h1, h2);
    if (!r) return {};
    return std::vector<uint32_t>(r, r + rec_full_count(r) + rec_full_free(r) + 5);
  }
  platform::TestRoot root_;
};

TEST_F(IndexingTest, RecordsGrowByDoublingInTheIcube) {
  idbm_db* db = open_incr(10);
  ASSERT_NE(db, nullptr);
  test_doc d;
  d.add(11, 12, 5);
  EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 1);  // docid 0
  EXPECT_EQ(words(db, 11, 12), (std::vector<uint32_t>{11, 12, 1, (1u << 15) | 1, (0u << 7) | 5, kRecEndMark, 0}));
  d.freqs[0] = 7;
  EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 2);
  // Count 2, free 0: the record is full.
  EXPECT_EQ(words(db, 11, 12), (std::vector<uint32_t>{11, 12, 2, 2u << 15, 5, (1u << 7) | 7, kRecEndMark}));
  const uint32_t used = db->icube_used;
  d.freqs[0] = 9;
  EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 3);
  // Copied into a record of room 4: count 3, free 1.
  EXPECT_EQ(db->icube_used, used + 4 + 5);
  EXPECT_EQ(words(db, 11, 12),
            (std::vector<uint32_t>{11, 12, 3, (3u << 15) | 1, 5, (1u << 7) | 7, (2u << 7) | 9, kRecEndMark, 0}));
  EXPECT_EQ(db->cache_used.load(), 1);
  idbm_close(db);
}

// Records of a term in more documents than the 15-bit free field counts, and
// past the 17-bit count, stay well formed; records of a second term
// interleave with them in the icube and are never overwritten.
TEST_F(IndexingTest, GrowthStaysWithinTheRecordFields) {
  const uint32_t docs = kMaxRecCount + 30;
  idbm_db* db = open_incr(docs + 1);
  ASSERT_NE(db, nullptr);
  // A smaller icube than the capacity gives: two terms need far less.
  vfree(db->icube, 0);
  db->icube = nullptr;
  ASSERT_EQ(idbm_icube(db, 4u << 20), 1);
  test_doc d;
  d.add("url:http", 3);
  d.add("b", 4);
  const hash_pair a = d.pairs[0], b = d.pairs[1];
  auto check = [&](uint32_t n) {
    for (hash_pair p : {a, b}) {
      const uint32_t* r = idbm_find(db, p.hash1, p.hash2);
      ASSERT_NE(r, nullptr);
      const uint32_t count = rec_full_count(r), free_words = rec_full_free(r);
      ASSERT_EQ(count, std::min(n, kMaxRecCount)) << n;
      ASSERT_EQ(rec_full_docf(r), n);
      for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(r[4 + i] >> 7, i) << n;
      ASSERT_EQ(r[4 + count], kRecEndMark) << n;
      for (uint32_t i = 0; i < free_words; ++i) ASSERT_EQ(r[5 + count + i], 0u) << n;
    }
  };
  for (uint32_t n = 1; n <= docs; ++n) {
    ASSERT_EQ(idbm_index(db, d.terms(), nullptr, 0, 0, 0, 0), static_cast<int>(n));
    if (n == 32767 || n == 32768 || n == 32769 || n == 65536 + 1 || n == kMaxRecCount || n == docs) check(n);
  }
  // Saved, the record keeps its first posting_limit postings and its docf.
  ASSERT_EQ(idbm_write(db, 1), 1);
  idbm_close(db);
  cache_add_arena(0, 4);
  cache_add_arena(kDefaultPostingLimit, 4);
  db = idbm_open(path().c_str(), 0, 0, 0, nullptr);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(idbm_cache(db, 4 * cache_total_slots()), 1);
  const uint32_t* r = idbm_find(db, a.hash1, a.hash2);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(rec_full_count(r), kDefaultPostingLimit);
  EXPECT_EQ(rec_full_docf(r), docs);
  EXPECT_EQ(r[4 + kDefaultPostingLimit - 1] >> 7, kDefaultPostingLimit - 1);
  unpin_record(r);
  idbm_close(db);
  cache_release_arenas();
}

// The term table and icube of a closed handle serve the next handle opened
// for indexing: it starts as empty as a fresh one, nothing the first left in
// them is found, and a term they held gets a record of its own.
TEST_F(IndexingTest, AHandleAfterAClosedOneStartsEmpty) {
  idbm_db* first = open_incr(60);
  ASSERT_NE(first, nullptr);
  std::vector<test_doc> docs;
  for (uint32_t n = 0; n < 50; ++n) {
    docs.push_back(testing::synthetic_doc(5, n, 3000, 80));
    ASSERT_EQ(idbm_index(first, docs.back().terms(), nullptr, 0, 0, 0, 0), static_cast<int>(n + 1));
  }
  ASSERT_GT(first->cache_used.load(), 500);
  ASSERT_GT(first->icube_used, 5000u);
  const void* table = first->cache_table;
  const uint32_t* icube = first->icube;
  idbm_close(first);  // never saved

  idbm_db* db = idbm_open_incr(root_.file("other").c_str(), 0, 60, 1, nullptr);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(static_cast<const void*>(db->cache_table), table) << "the closed handle's table is taken again";
  EXPECT_EQ(db->icube, icube) << "and its icube";
  EXPECT_EQ(db->cache_used.load(), 0);
  EXPECT_EQ(db->icube_used, 0u);
  for (const test_doc& d : docs)
    for (const hash_pair& p : d.pairs) ASSERT_EQ(idbm_find(db, p.hash1, p.hash2), nullptr);
  const hash_pair p = docs[7].pairs[3];
  test_doc d;
  d.add(p.hash1, p.hash2, 5);
  ASSERT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 1);
  EXPECT_EQ(words(db, p.hash1, p.hash2),
            (std::vector<uint32_t>{p.hash1, p.hash2, 1, (1u << 15) | 1, (0u << 7) | 5, kRecEndMark, 0}));
  EXPECT_EQ(db->cache_used.load(), 1);
  idbm_close(db);
}

TEST_F(IndexingTest, MixedNormalisationIsRefusedWhole) {
  idbm_db* db = open_incr(10);
  test_doc d;
  d.add(11, 12, 5);
  ASSERT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 1), 1);
  LogCapture log;
  EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 0);
  EXPECT_TRUE(log.contains("idbm_index: inconsistent normalization"));
  EXPECT_EQ(db->ndocs, 1u);  // nothing taken
  EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 1), 2);
  idbm_close(db);
}

TEST_F(IndexingTest, UnstorableTermsAreSkippedAndLeftOutOfTheJournal) {
  idbm_db* db = open_incr(10);
  test_doc d;
  d.add(11, 12, 5);
  d.add(0, 12, 5);           // hash word 0
  d.add(13, 0x80000001, 5);  // hash word above 31 bits
  d.add(14, 15, 0);          // frequency 0
  LogCapture log;
  ASSERT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 1);
  EXPECT_TRUE(log.contains("idbm_index: illegal hash"));
  EXPECT_TRUE(log.contains("idbm_index: illegal score"));
  EXPECT_EQ(db->cache_used.load(), 1);
  idbm_close(db);
  struct stat st;
  ASSERT_EQ(stat((path() + "/jnl").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 4 + 9);  // one term
  db = open_incr(10);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->ndocs, 1u);
  EXPECT_NE(idbm_find(db, 11, 12), nullptr);
  idbm_close(db);
}

// A document that fails after its docid was taken is journaled without terms:
// on replay it stays deleted and the documents after it keep their docids.
TEST_F(IndexingTest, FailedInsertKeepsLaterDocidsAligned) {
  idbm_db* db = open_incr(4);
  ASSERT_NE(db, nullptr);
  test_doc first, huge, last;
  first.add(1, 1, 3);
  for (uint32_t i = 0; i < static_cast<uint32_t>(db->cache_free.load()) + 1; ++i) huge.add(100 + i, 7, 2);
  last.add(2, 2, 4);
  ASSERT_EQ(idbm_index_and_log(db, first.terms(), nullptr, 7, 0, 0, 0), 1);
  EXPECT_EQ(idbm_index_and_log(db, huge.terms(), nullptr, 7, 0, 0, 0), -1);
  EXPECT_EQ(idbm_index_and_log(db, last.terms(), nullptr, 7, 0, 0, 0), 3);
  const auto* del = static_cast<const uint8_t*>(db->del.address);
  EXPECT_EQ(del[1], 255);
  idbm_close(db);
  // The journal: docid 0's record, an empty record for the failed docid 1,
  // then docid 2's record.
  struct stat st;
  ASSERT_EQ(stat((path() + "/jnl").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, (4 + 9) + 4 + (4 + 9));
  FILE* jnl = fopen((path() + "/jnl").c_str(), "rb");
  ASSERT_NE(jnl, nullptr);
  uint32_t reclen = 0xFFFFFFFFu;
  fseek(jnl, 4 + 9, SEEK_SET);
  ASSERT_EQ(fread(&reclen, 4, 1, jnl), 1u);
  fclose(jnl);
  EXPECT_EQ(reclen, 0u);

  db = open_incr(4);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->ndocs, 3u);
  del = static_cast<const uint8_t*>(db->del.address);
  EXPECT_EQ(del[0], 7);
  EXPECT_EQ(del[1], 255);
  EXPECT_EQ(del[2], 7);
  const uint32_t* r = idbm_find(db, 2, 2);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[4], (2u << 7) | 4);
  idbm_close(db);
}

TEST_F(IndexingTest, DocumentsBeyondTheCapacityTakeNothing) {
  idbm_db* db = open_incr(2);
  test_doc d;
  d.add(1, 1, 3);
  EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 1);
  EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 2);
  EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), -1);
  EXPECT_EQ(db->ndocs, 2u);
  idbm_close(db);
}

TEST_F(IndexingTest, TitleFlagAndDateGoToTheMaps) {
  idbm_db* db = open_incr(3);
  unsigned char title[kTitleBytes];
  for (uint32_t i = 0; i < kTitleBytes; ++i) title[i] = static_cast<unsigned char>(i * 7 + 1);
  test_doc d;
  d.add(1, 1, 3);
  ASSERT_EQ(idbm_index_and_log(db, d.terms(), title, 0x30, 0xABCD, 0x00120000, 0), 1);
  ASSERT_EQ(idbm_index_and_log(db, d.terms(), title, 0x10, 5, 6, 0), 2);
  EXPECT_EQ(memcmp(static_cast<unsigned char*>(db->ti0.address) + kTitleBytes, title, kTitleBytes), 0);
  EXPECT_EQ(static_cast<uint8_t*>(db->del.address)[0], 0x30);
  const auto* din = static_cast<const din_entry*>(db->din.address);
  EXPECT_EQ(din[0].host_hash, 0xABCDu);
  EXPECT_EQ(din[0].day, 0x00120000u);
  EXPECT_EQ(din[1].host_hash, 5u);
  idbm_close(db);
}

TEST_F(IndexingTest, DemoteAndDelete) {
  idbm_db* db = open_incr(3);
  test_doc d;
  d.add(1, 1, 3);
  ASSERT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0x20, 0, 0, 0), 1);
  const std::string del_path = path() + "/del";
  struct utimbuf old_times{1000000, 1000000};
  auto mtime = [&] {
    struct stat st;
    stat(del_path.c_str(), &st);
    return st.st_mtime;
  };
  EXPECT_EQ(idbm_demote(db, 0, 0x50), 1);
  EXPECT_EQ(static_cast<uint8_t*>(db->del.address)[0], 0x50);
  EXPECT_EQ(idbm_demote(db, 3, 0x50), 0);  // beyond the map
  ASSERT_EQ(utime(del_path.c_str(), &old_times), 0);
  EXPECT_EQ(idbm_delete(db, 0), 1);
  EXPECT_EQ(static_cast<uint8_t*>(db->del.address)[0], 255);
  EXPECT_GT(mtime(), 1000000);  // set to now
  // An already deleted document: 1 at once, the file's time untouched.
  ASSERT_EQ(utime(del_path.c_str(), &old_times), 0);
  EXPECT_EQ(idbm_delete(db, 0), 1);
  EXPECT_EQ(mtime(), 1000000);
  EXPECT_EQ(idbm_delete(db, 9), 0);
  idbm_close(db);

  // A deletion map mapped read-only is never written.
  idbm_db ro;
  ASSERT_EQ(fmap(del_path.c_str(), &ro.del), 1);
  LogCapture log;
  EXPECT_EQ(idbm_demote(&ro, 1, 0x40), 0);
  EXPECT_EQ(idbm_delete(&ro, 1), 0);
  EXPECT_TRUE(log.contains("read-only"));
  EXPECT_EQ(static_cast<uint8_t*>(ro.del.address)[1], 0);
  funmap(&ro.del);
  close(ro.del.fd);
}

}  // namespace
}  // namespace vorlane
