#include "store/db_write.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/testing/test_root.h"
#include "store/catalog.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_reader.h"
#include "store/indexing.h"
#include "store/testing/log_capture.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/index_fixture.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane {
namespace {

using testing::index_model;
using testing::pair_key;
using testing::read_file;
using testing::synthetic_doc;
using testing::test_doc;

std::vector<uint32_t> read_words(const std::string& path) {
  std::string b = read_file(path);
  std::vector<uint32_t> w(b.size() / 4);
  if (!w.empty()) memcpy(w.data(), b.data(), w.size() * 4);
  return w;
}

class DbWriteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_percent_table(); }
  void SetUp() override { cache_release_arenas(); }
  void TearDown() override {
    cache_release_arenas();
    idbm_part_limit = kPartLimit;
  }
  std::string path() const { return root_.file("db"); }
  idbm_db* open_incr(uint32_t capacity, int32_t limit = 0, idbm_db* catalog = nullptr) {
    return idbm_open_incr(path().c_str(), limit, capacity, 1, catalog);
  }
  // A query handle with a term cache over arenas large enough for limit.
  idbm_db* open_query(uint32_t limit) {
    cache_release_arenas();
    cache_add_arena(0, 64);
    cache_add_arena(limit, 64);
    idbm_db* db = idbm_open(path().c_str(), 0, 0, 0, nullptr);
    if (db && !idbm_cache(db, 4 * cache_total_slots())) return nullptr;
    return db;
  }
  platform::TestRoot root_;
};

TEST_F(DbWriteTest, AppendWritesCompactAndFullFormsWithTheirEntries) {
  idbm_db* db = idbm_newdb(path().c_str(), 100);
  ASSERT_NE(db, nullptr);
  db->ndocs = 10;
  fwrite("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 1, 16, db->dir_stream);
  idbm_position pos;
  const uint32_t one[] = {3, 4, 1, 1u << 15, (2u << 7) | 5, kRecEndMark};
  const uint32_t two[] = {5, 6, 2, 2u << 15, (2u << 7) | 5, (7u << 7) | 1, kRecEndMark};
  const uint32_t three[] = {7, 8, 9, (3u << 15) | 2, (1u << 7) | 5, (3u << 7) | 6, (9u << 7) | 7, kRecEndMark, 0, 0};
  const uint32_t none[] = {9, 9, 0, 0, kRecEndMark};
  EXPECT_EQ(idbm_append(db, one, &pos), 1);
  EXPECT_EQ(pos.offset, 0u);
  EXPECT_EQ(pos.size_part, 12u << 8);
  EXPECT_EQ(idbm_append(db, two, &pos), 1);
  EXPECT_EQ(pos.offset, 12u);
  EXPECT_EQ(pos.size_part, 16u << 8);
  EXPECT_EQ(idbm_append(db, three, &pos), 1);
  EXPECT_EQ(pos.size_part, 32u << 8);
  EXPECT_EQ(idbm_append(db, none, &pos), 0);  // nothing written
  fflush(db->tf_stream);
  fflush(db->dir_stream);
  // Before a commit the records go to the temporaries.
  EXPECT_EQ(read_words(path() + "/.tf0.new"),
            (std::vector<uint32_t>{3 | kCompactFlag, 4, (2u << 7) | 5,                                  //
                                   5 | kCompactFlag, 6 | kCompactFlag, (2u << 7) | 5, (7u << 7) | 1,  //
                                   7, 8, 9, 3u << 15, (1u << 7) | 5, (3u << 7) | 6, (9u << 7) | 7, kRecEndMark}));
  // Only the record at offset 0 starts a new page.
  EXPECT_EQ(read_words(path() + "/.dir.new"), (std::vector<uint32_t>{0, 0, 0, 0, 3, 4, 0, 12u << 8}));

  struct bad {
    std::vector<uint32_t> rec;
    const char* message;
  };
  const bad cases[] = {
      {{7, 8, 9, 3u << 15, (1u << 7) | 5, (1u << 7) | 6, (9u << 7) | 7, kRecEndMark}, "docids out of order"},
      {{7, 8, 9, 3u << 15, (1u << 7) | 5, (3u << 7), (9u << 7) | 7, kRecEndMark}, "zero score"},
      {{7, 8, 9, 3u << 15, (1u << 7) | 5, (3u << 7) | 1, (10u << 7) | 7, kRecEndMark}, "10 >= 10"},
      {{7, 8, 9, 3u << 15, (1u << 7) | 5, (3u << 7) | 1, (9u << 7) | 7, 0}, "missing sentinel"},
      {{7, 8, 11, 3u << 15, (1u << 7) | 5, (3u << 7) | 1, (9u << 7) | 7, kRecEndMark}, "invalid size or docf"},
      {{7, 8, 1, 2u << 15, (1u << 7) | 5, (3u << 7) | 1, kRecEndMark}, "invalid size or docf"},
      {{0, 8, 1, 1u << 15, (1u << 7) | 5, kRecEndMark}, "negative hash"},
      {{7, 8, 2, 2u << 15, (3u << 7) | 5, (3u << 7) | 1, kRecEndMark}, "pair docids out of order"},
      {{7, 8, 1, 1u << 15, (12u << 7) | 5, kRecEndMark}, "invalid 1st docid"},
  };
  for (const bad& c : cases) {
    LogCapture log;
    idbm_position p = pos;
    EXPECT_EQ(idbm_append(db, c.rec.data(), &p), 0) << c.message;
    EXPECT_TRUE(log.contains(c.message)) << c.message;
  }
  idbm_close(db);
}

TEST_F(DbWriteTest, AppendStopsAfterTheLastPart) {
  idbm_part_limit = 20;  // one 12-byte record per part
  idbm_db* db = idbm_newdb(path().c_str(), 100);
  db->ndocs = 10;
  idbm_position pos;
  for (uint32_t i = 0; i < kMaxParts; ++i) {
    const uint32_t rec[] = {3 + i, 4, 1, 1u << 15, (2u << 7) | 5, kRecEndMark};
    ASSERT_EQ(idbm_append(db, rec, &pos), 1) << i;
    EXPECT_EQ(pos.offset, 0u);
    EXPECT_EQ(pos.size_part, (12u << 8) | i);
  }
  LogCapture log;
  const uint32_t rec[] = {200, 4, 1, 1u << 15, (2u << 7) | 5, kRecEndMark};
  EXPECT_EQ(idbm_append(db, rec, &pos), 0);
  EXPECT_TRUE(log.contains("too many parts"));
  idbm_close(db);
}

TEST_F(DbWriteTest, NormalisedRecordsAreRescaledIntoStoredClasses) {
  idbm_db* db = idbm_newdb(path().c_str(), 100);
  db->ndocs = 10;
  idbm_position pos;
  // Norm 40: the scores 40 and 12 are 100% and 30% of it.
  const uint32_t rec[] = {7, 8, (40u << 25) | 3, 3u << 15, (1u << 7) | 40, (3u << 7) | 12, (9u << 7) | 0, kRecEndMark};
  ASSERT_EQ(idbm_append(db, rec, &pos), 1);
  fflush(db->tf_stream);
  const auto w = read_words(path() + "/.tf0.new");
  ASSERT_EQ(w.size(), 8u);
  EXPECT_EQ(w[2], 3u);  // norm cleared, docf kept
  EXPECT_EQ(w[4], (1u << 7) | static_cast<uint32_t>(db->score_map[100]));
  EXPECT_EQ(w[5], (3u << 7) | static_cast<uint32_t>(db->score_map[30]));
  EXPECT_EQ(w[6], (9u << 7) | static_cast<uint32_t>(db->score_map[0]));
  idbm_close(db);
}

// The rescaling copy holds the database's posting limit, not a fixed 40,000.
TEST_F(DbWriteTest, NormalisedRecordOverFortyThousandPostingsIsWrittenWhole) {
  const uint32_t n = 45000;
  idbm_db* db = idbm_newdb(path().c_str(), 50000);
  ASSERT_NE(db, nullptr);
  db->ndocs = n;
  std::vector<uint32_t> rec = {7, 8, (40u << 25) | n, n << 15};
  for (uint32_t d = 0; d < n; ++d) rec.push_back((d << 7) | (d % 2 ? 40u : 12u));
  rec.push_back(kRecEndMark);
  idbm_position pos;
  ASSERT_EQ(idbm_append(db, rec.data(), &pos), 1);
  EXPECT_EQ(pos.size_part, (n * 4 + 20) << 8);
  fflush(db->tf_stream);
  const auto w = read_words(path() + "/.tf0.new");
  ASSERT_EQ(w.size(), n + 5);
  EXPECT_EQ(w[2], n);
  EXPECT_EQ(w[3], n << 15);
  EXPECT_EQ(w[4], static_cast<uint32_t>(db->score_map[30]));
  EXPECT_EQ(w[4 + n - 1], ((n - 1) << 7) | static_cast<uint32_t>(db->score_map[100]));
  EXPECT_EQ(w[4 + n], kRecEndMark);
  idbm_close(db);
}

// Documents indexed, saved and reopened for querying: every term's postings,
// scores and document frequency are what a model of the documents computes,
// each record cut to its first posting_limit postings by docid.
TEST_F(DbWriteTest, SavedDatabaseMatchesTheModel) {
  const uint32_t limit = 60, ndocs = 400;
  for (int normalise : {0, 1}) {
    SCOPED_TRACE(normalise);
    index_model m;
    idbm_db* catalog = nullptr;
    if (normalise) {
      std::map<pair_key, uint32_t> docfs;
      for (int k : {0, 1, 5, 40}) {
        const std::string w = "w" + std::to_string(k);
        docfs[{term_hash1(w.c_str()), term_hash2(w.c_str())}] = 30000u / (k + 1);
      }
      m.write_catalog(root_.file("cat"), 60000, docfs);
      catalog = idbm_load(root_.file("cat").c_str());
      ASSERT_NE(catalog, nullptr);
    }
    idbm_db* db = open_incr(ndocs, limit, catalog);
    ASSERT_NE(db, nullptr);
    for (uint32_t i = 0; i < ndocs; ++i) {
      test_doc d = synthetic_doc(11, i, 500, 30);
      ASSERT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, normalise), static_cast<int>(i + 1));
      m.add(d);
    }
    int32_t score_map[101];
    memcpy(score_map, db->score_map, sizeof score_map);
    ASSERT_EQ(idbm_write(db, 0), 1);  // keeps the setting given at open
    EXPECT_NE(access((path() + "/jnl").c_str(), F_OK), 0);  // deleted
    idbm_close(db);

    db = open_query(limit);
    ASSERT_NE(db, nullptr);
    const uint32_t* header = idbm_dir_words(db);
    EXPECT_EQ(header[1], m.postings.size());
    EXPECT_EQ(header[2], ndocs);
    EXPECT_EQ(header[3], limit);
    EXPECT_EQ(db->score_incr, 1);
    bool cut = false;
    for (const auto& [k, list] : m.postings) {
      cut |= list.size() > limit;
      const uint32_t* r = idbm_find(db, k.first, k.second);
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(testing::record_words(r), testing::expected_found(m, k, normalise, score_map, limit));
      unpin_record(r);
    }
    EXPECT_TRUE(cut);  // frequent words were cut to the posting limit
    EXPECT_EQ(idbm_find(db, 1, 1), nullptr);
    idbm_close(db);
    idbm_close(catalog);
    std::filesystem::remove_all(path());
  }
}

// After a save the handle has no journal: a document is refused, and saving
// again rewrites the same database from part 0.
TEST_F(DbWriteTest, SecondSaveRewritesTheSameDatabase) {
  idbm_part_limit = 2000;  // several parts
  idbm_db* db = open_incr(200);
  ASSERT_NE(db, nullptr);
  for (uint32_t i = 0; i < 200; ++i) {
    test_doc d = synthetic_doc(3, i, 400, 20);
    ASSERT_GT(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 0);
  }
  ASSERT_EQ(idbm_write(db, 1), 1);
  const std::vector<std::string> files = {"dir", "cat", "tf0", "tf1", "tf2", "inf", "ti0", "del"};
  std::map<std::string, std::string> first;
  for (const auto& f : files) first[f] = read_file(path() + "/" + f);
  EXPECT_GT(read_words(path() + "/dir")[0], 2u);
  {
    LogCapture log;
    test_doc d;
    d.add(1, 2, 3);
    EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 0);
    EXPECT_TRUE(log.contains("no journal open"));
  }
  ASSERT_EQ(idbm_write(db, 1), 1);
  for (const auto& f : files) EXPECT_EQ(read_file(path() + "/" + f), first[f]) << f;
  idbm_close(db);
}

TEST_F(DbWriteTest, PartsRollOverAndTheDirectoryRebuildIsIdentical) {
  idbm_part_limit = 3000;
  idbm_db* db = open_incr(301);
  index_model m;
  for (uint32_t i = 0; i < 300; ++i) {
    test_doc d = synthetic_doc(8, i, 2000, 25);
    ASSERT_GT(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 0);
    m.add(d);
  }
  // The last document has no terms: ndocs still counts it.
  ASSERT_EQ(idbm_index_and_log(db, nullptr, nullptr, 0, 0, 0, 0), 301);
  m.skip();
  ASSERT_EQ(idbm_write(db, 1), 1);
  idbm_close(db);
  const std::string dir_bytes = read_file(path() + "/dir");
  const auto header = read_words(path() + "/dir");
  EXPECT_GE(header[0], 5u);
  EXPECT_EQ(header[2], 301u);
  for (uint32_t p = 0; p < header[0]; ++p) {
    struct stat st;
    ASSERT_EQ(stat(db_part_path(path().c_str(), p).c_str(), &st), 0);
    EXPECT_LT(static_cast<uint64_t>(st.st_size), idbm_part_limit);
  }

  db = open_query(kDefaultPostingLimit);
  ASSERT_NE(db, nullptr);
  int32_t score_map[101];
  memcpy(score_map, db->score_map, sizeof score_map);
  for (const auto& [k, list] : m.postings) {
    const uint32_t* r = idbm_find(db, k.first, k.second);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(testing::record_words(r), testing::expected_found(m, k, false, score_map, kDefaultPostingLimit));
    unpin_record(r);
  }
  ASSERT_EQ(idbm_mkdir(db), 1);
  EXPECT_EQ(read_file(path() + "/dir"), dir_bytes);
  idbm_close(db);
}

TEST_F(DbWriteTest, ScoreSetting) {
  idbm_db* db = idbm_newdb(path().c_str(), 0);
  ASSERT_NE(db, nullptr);
  {
    LogCapture log;
    EXPECT_EQ(idbm_write_score_incr(db, 0), 0);
    EXPECT_TRUE(log.contains("Invalid score_incr(0) for db"));
  }
  EXPECT_EQ(idbm_write_score_incr(db, 4), 1);
  EXPECT_EQ(idbm_write_score_incr(db, 0), 1);  // keeps the stored 4
  EXPECT_EQ(read_words(path() + "/inf"), std::vector<uint32_t>{4});
  {
    LogCapture log;
    EXPECT_EQ(idbm_write_score_incr(db, 5), 0);
    EXPECT_TRUE(log.contains("score_incr does not match db"));
  }
  FILE* inf = db->inf_stream;
  db->inf_stream = nullptr;
  {
    LogCapture log;
    EXPECT_EQ(idbm_write_score_incr(db, 4), 0);
    EXPECT_EQ(idbm_write(db, 4), 0);
    EXPECT_TRUE(log.contains("inf file not already open"));
    EXPECT_TRUE(log.contains("idbm_write: db files not already open"));
  }
  db->inf_stream = inf;
  idbm_close(db);
}

}  // namespace
}  // namespace vorlane
