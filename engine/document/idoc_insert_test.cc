// Inserting documents into a database opened for indexing: the room checks,
// the date entry and the store's refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "engine/document/idoc.h"
#include "platform/testing/test_root.h"
#include "store/date_entry.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/indexing.h"
#include "store/testing/log_capture.h"
#include "store/score_tables.h"
#include "store/term_hash.h"
#include "store/testing/index_fixture.h"

namespace vorlane::engine {
namespace {

void write_file(const std::string& path, const void* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  if (size) fwrite(data, 1, size, f);
  fclose(f);
}

class IdocInsert : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_percent_table(); }
  void TearDown() override {
    idbm_close(db_);
    idoc_doc_release(&doc_);
  }

  // An empty database with an empty journal, opened for indexing.
  idbm_db* open(uint32_t capacity) {
    const std::string dir = root_.file("db");
    mkdir(dir.c_str(), 0777);
    const uint32_t header[4] = {1, 0, 0, kDefaultPostingLimit};
    const int32_t incr = 1;
    write_file(dir + "/dir", header, sizeof header);
    for (const char* name : {"tf0", "ti0", "del", "jnl"}) write_file(dir + "/" + name, nullptr, 0);
    write_file(dir + "/inf", &incr, sizeof incr);
    db_ = idbm_open(dir.c_str(), kDefaultPostingLimit, capacity, 1, nullptr);
    return db_;
  }

  int insert(const char* url = "http://www.example.org/x") {
    std::string title = "t", summary = "s", publisher = "p", terms = "i", u = url;
    idoc_record_args a{};
    a.title = title.data();
    a.summary = summary.data();
    a.publisher = publisher.data();
    a.url = u.data();
    a.index_terms = terms.data();
    a.date = 86400 * 40;
    return idoc_insert(db_, &doc_, &a);
  }

  platform::TestRoot root_;
  idbm_db* db_ = nullptr;
  idoc_doc doc_{};
};

TEST_F(IdocInsert, StoresTheTermsAndTheDateEntry) {
  ASSERT_NE(open(10), nullptr);
  ASSERT_TRUE(idoc_doc_init(&doc_));
  ASSERT_EQ(idbm_incr_text(&doc_.terms, "dogs", 3, -1, 1), 1);
  EXPECT_EQ(insert(), 1);
  EXPECT_EQ(doc_.state, IDOC_INSERTED);
  EXPECT_EQ(doc_.terms.size, 1);
  const auto* e = static_cast<const din_entry*>(db_->din.address);
  EXPECT_EQ(e[0].host_hash, term_hash1("www.example.org"));
  EXPECT_EQ(din_day(e[0]), local_day_number(86400 * 40));
}

TEST_F(IdocInsert, NoRoomLeavesTheDocumentUnstored) {
  ASSERT_NE(open(1), nullptr);
  ASSERT_TRUE(idoc_doc_init(&doc_));
  EXPECT_EQ(insert(), 1);
  idoc_doc_release(&doc_);
  ASSERT_TRUE(idoc_doc_init(&doc_));
  EXPECT_EQ(insert(), -1);  // the title map holds one record
  EXPECT_EQ(doc_.state, IDOC_COMPACTED);
  EXPECT_EQ(db_->ndocs, 1u);
}

TEST_F(IdocInsert, RoomForTheTermsOnceTheDatabaseHoldsDocuments) {
  ASSERT_NE(open(4), nullptr);
  ASSERT_TRUE(idoc_doc_init(&doc_));
  EXPECT_EQ(insert(), 1);
  EXPECT_TRUE(idoc_room(db_, 0));
  const int32_t free_cells = db_->cache_free.load();
  const int32_t left = static_cast<int32_t>(db_->icube_limit - db_->icube_used);
  ASSERT_LT(left / 20, free_cells);  // the record buffer is the tighter bound here
  EXPECT_TRUE(idoc_room(db_, (left - 1) / 20));
  EXPECT_FALSE(idoc_room(db_, (left + 19) / 20));
  EXPECT_FALSE(idoc_room(db_, free_cells));
}

TEST_F(IdocInsert, TheStoreRefusesMoreTermsThanAJournalRecordHolds) {
  ASSERT_NE(open(1000), nullptr);
  testing::test_doc big;
  for (uint32_t i = 0; i <= static_cast<uint32_t>(kDocTermCells); ++i) big.add(i + 1, i + 7, 1);
  LogCapture log(LOG_WARNING);
  EXPECT_EQ(idbm_index_and_log(db_, big.terms(), nullptr, 0, 0, 0, 0), 0);
  EXPECT_TRUE(log.contains("idbm_index_and_log: too many terms for one journal record"));
  EXPECT_EQ(db_->ndocs, 0u);
}

}  // namespace
}  // namespace vorlane::engine
