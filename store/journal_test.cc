#include "store/journal.h"

#include <cstring>
#include <dirent.h>
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
#include "store/indexing.h"
#include "store/testing/log_capture.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/index_fixture.h"

namespace vorlane {
namespace {

using testing::index_model;
using testing::pair_key;
using testing::read_file;
using testing::synthetic_doc;
using testing::test_doc;

// Every file of a directory and its bytes.
std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') files[e->d_name] = read_file(dir + "/" + e->d_name);
  closedir(d);
  return files;
}

uint64_t file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : ~uint64_t{0};
}

class JournalTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_percent_table(); }
  void SetUp() override { cache_release_arenas(); }
  std::string path() const { return root_.file("db"); }
  std::string jnl() const { return root_.file("db/jnl"); }
  idbm_db* open_incr(uint32_t capacity, idbm_db* catalog = nullptr) {
    return idbm_open_incr(path().c_str(), 0, capacity, 1, catalog);
  }
  // Indexes docs 0..n-1 of the seeded corpus; the journal offset of each
  // record.
  std::vector<uint64_t> index_docs(idbm_db* db, uint32_t n, int normalise, index_model* model = nullptr) {
    std::vector<uint64_t> offsets;
    for (uint32_t i = 0; i < n; ++i) {
      offsets.push_back(file_size(jnl()));
      test_doc d = synthetic_doc(5, i, 300, 40);
      EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, static_cast<uint8_t>(i % 5), i, i * 2, normalise),
                static_cast<int>(i + 1));
      if (model) model->add(d);
    }
    return offsets;
  }
  // Every in-memory record of the model's terms.
  static std::map<pair_key, std::vector<uint32_t>> records(idbm_db* db, const index_model& m) {
    std::map<pair_key, std::vector<uint32_t>> out;
    for (const auto& [k, list] : m.postings) {
      const uint32_t* r = idbm_find(db, k.first, k.second);
      if (r) out[k] = std::vector<uint32_t>(r, r + rec_full_count(r) + 5);
    }
    return out;
  }
  platform::TestRoot root_;
};

TEST_F(JournalTest, ReplayRebuildsTheSameRecordsAndMaps) {
  for (int normalise : {0, 1}) {
    SCOPED_TRACE(normalise);
    index_model m;
    const std::string cat_path = root_.file("cat");
    idbm_db* catalog = nullptr;
    if (normalise) {
      m.write_catalog(cat_path, 5000, {{pair_key{term_hash1("w1"), term_hash2("w1")}, 2000}});
      catalog = idbm_load(cat_path.c_str());
      ASSERT_NE(catalog, nullptr);
    }
    idbm_db* db = open_incr(300, catalog);
    ASSERT_NE(db, nullptr);
    index_docs(db, 120, normalise, &m);
    const auto before = records(db, m);
    EXPECT_EQ(before.size(), m.postings.size());
    const std::string del(static_cast<char*>(db->del.address), db->del.size);
    idbm_close(db);

    db = open_incr(300, catalog);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->ndocs, 120u);
    EXPECT_EQ(records(db, m), before);
    EXPECT_EQ(std::string(static_cast<char*>(db->del.address), db->del.size), del);
    EXPECT_EQ(static_cast<const din_entry*>(db->din.address)[7].day, 14u);
    // The journal goes on after the replayed records.
    test_doc d = synthetic_doc(5, 120, 300, 40);
    EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, normalise), 121);
    idbm_close(db);
    db = open_incr(300, catalog);
    EXPECT_EQ(db->ndocs, 121u);
    idbm_close(db);
    idbm_close(catalog);
    std::filesystem::remove_all(path());
  }
}

TEST_F(JournalTest, CutRecordReplaysTheDocumentsBeforeIt) {
  idbm_db* db = open_incr(50);
  const auto offsets = index_docs(db, 10, 0);
  idbm_close(db);
  const uint64_t size = file_size(jnl());
  ASSERT_EQ(truncate(jnl().c_str(), static_cast<off_t>(size - 3)), 0);
  {
    LogCapture log;
    db = open_incr(50);
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(log.contains("idbm_recover_log: rec read expected"));
    EXPECT_TRUE(log.contains("(9 docs recovered)"));
  }
  EXPECT_EQ(db->ndocs, 9u);
  // The journal is cut where the damaged record began, and the next document
  // is written there.
  EXPECT_EQ(file_size(jnl()), offsets[9]);
  test_doc d;
  d.add(77, 78, 9);
  EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 10);
  EXPECT_EQ(file_size(jnl()), offsets[9] + 4 + 9);
  idbm_close(db);
  db = open_incr(50);
  EXPECT_EQ(db->ndocs, 10u);
  const uint32_t* r = idbm_find(db, 77, 78);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[4], (9u << 7) | 9);
  idbm_close(db);
}

TEST_F(JournalTest, DamagedRecordsStopTheReplay) {
  struct damage {
    const char* name;
    void (*apply)(std::string& jnl, uint64_t at);
    const char* message;
  };
  const damage cases[] = {
      {"cut length", [](std::string& j, uint64_t at) { j.resize(at + 2); }, "reclen read expected 4 got 2"},
      {"reclen not a multiple of 9", [](std::string& j, uint64_t at) { j[at] = static_cast<char>(j[at] + 1); },
       "idbm_recover_log: reclen"},
      {"frequency 0", [](std::string& j, uint64_t at) {
         uint32_t reclen;
         memcpy(&reclen, &j[at], 4);
         j[at + 4 + reclen / 9 * 8] = 0;
       }, "corrupt at offset"},
      {"hash word 0", [](std::string& j, uint64_t at) { memset(&j[at + 4], 0, 4); }, ", term 0, hash 0x00000000"},
      {"empty record of a live document without title",
       [](std::string& j, uint64_t at) { j.resize(at); j.append(4, '\0'); },
       "reclen 0, not deleted, title empty"},
  };
  for (const damage& c : cases) {
    SCOPED_TRACE(c.name);
    idbm_db* db = open_incr(50);
    const auto offsets = index_docs(db, 8, 0);
    idbm_close(db);
    std::string bytes = read_file(jnl());
    c.apply(bytes, offsets[5]);
    std::ofstream(jnl(), std::ios::binary | std::ios::trunc) << bytes;
    LogCapture log;
    db = open_incr(50);
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(log.contains(c.message));
    EXPECT_EQ(db->ndocs, 5u);
    EXPECT_EQ(file_size(jnl()), offsets[5]);
    idbm_close(db);
    std::filesystem::remove_all(path());
  }
}

TEST_F(JournalTest, EmptyRecordOfADeletedDocumentOnlyTakesItsDocid) {
  idbm_db* db = open_incr(10);
  index_docs(db, 2, 0);
  ASSERT_EQ(idbm_delete(db, 1), 1);
  idbm_close(db);
  // A third record without terms for a document marked deleted.
  {
    std::ofstream out(jnl(), std::ios::binary | std::ios::app);
    out.write("\0\0\0\0", 4);
  }
  db = open_incr(10);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->ndocs, 2u);  // docid 2's byte is 0 and its title empty: corrupt
  static_cast<uint8_t*>(db->del.address)[2] = 255;
  idbm_close(db);
  {
    std::ofstream out(jnl(), std::ios::binary | std::ios::app);
    out.write("\0\0\0\0", 4);
  }
  db = open_incr(10);
  EXPECT_EQ(db->ndocs, 3u);
  // The deleted document 1 kept its record but is not indexed again.
  const test_doc d1 = synthetic_doc(5, 1, 300, 40);
  for (const hash_pair& p : d1.pairs) {
    const uint32_t* r = idbm_find(db, p.hash1, p.hash2);
    for (uint32_t i = 0; r && i < rec_full_count(r); ++i) EXPECT_NE(r[4 + i] >> 7, 1u);
  }
  idbm_close(db);
}

// A capacity below the journal's documents is refused and every file is left
// as it was, the journal's later records included.
TEST_F(JournalTest, ReopenWithASmallerCapacityIsRefusedWithFilesUntouched) {
  idbm_db* db = open_incr(20);
  index_docs(db, 12, 0);
  idbm_close(db);
  const auto before = snapshot(path());
  LogCapture log;
  EXPECT_EQ(open_incr(11), nullptr);
  EXPECT_TRUE(log.contains("too many docs"));
  EXPECT_EQ(snapshot(path()), before);
  db = open_incr(12);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->ndocs, 12u);
  idbm_close(db);
}

TEST_F(JournalTest, AHandleWithoutJournalRefusesDocuments) {
  idbm_db* db = open_incr(10);
  index_docs(db, 3, 0);
  fclose(db->jnl_stream);
  db->jnl_stream = nullptr;
  LogCapture log;
  test_doc d;
  d.add(1, 2, 3);
  EXPECT_EQ(idbm_index_and_log(db, d.terms(), nullptr, 0, 0, 0, 0), 0);
  EXPECT_TRUE(log.contains("no journal open"));
  EXPECT_EQ(db->ndocs, 3u);
  EXPECT_EQ(idbm_find(db, 1, 2), nullptr);
  idbm_close(db);
}

}  // namespace
}  // namespace vorlane
