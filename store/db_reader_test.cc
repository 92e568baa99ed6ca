#include "store/db_reader.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/testing/test_root.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/testing/log_capture.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane {
namespace {

using testing::image_options;
using testing::image_term;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DbReaderTest : public ::testing::Test {
 protected:
  platform::TestRoot root_;
};

TEST_F(DbReaderTest, ReadsEveryRecordOfEveryPart) {
  image_options options;
  options.part_limit = 6000;
  auto g = testing::make_generated_db(root_.file("db"), 400, 3000, 20, 21, options);
  ASSERT_GT(g.records.back().part, 1u);
  idbm_db* db = idbm_open_plain(root_.file("db").c_str(), nullptr);
  ASSERT_NE(db, nullptr);
  idbm_reader* r = idbm_buffer(db);
  ASSERT_NE(r, nullptr);
  size_t i = 0;
  while (const uint32_t* rec = idbm_record(db, r)) {
    ASSERT_LT(i, g.records.size());
    const auto& want = g.records[i];
    EXPECT_EQ(rec_hash1(rec), want.hash1);
    EXPECT_EQ(r->record_part, want.part);
    EXPECT_EQ(r->record_offset, want.offset);
    EXPECT_EQ(rec_size(rec), want.size);
    ++i;
  }
  EXPECT_TRUE(idbm_reader_at_end(r));
  EXPECT_EQ(i, g.records.size());
  idbm_buffer_free(r);
  idbm_close(db);
}

TEST_F(DbReaderTest, RecordLongerThanTheOpeningLimit) {
  // Written with a posting limit of 5000, opened with 10: the buffer grows
  // to the record instead of overrunning.
  image_term big{9, 9, {}, 0};
  for (uint32_t d = 0; d < 5000; ++d) big.postings.push_back((d << 7) | 5);
  image_options options;
  options.ndocs = 5000;
  options.posting_limit = 5000;
  testing::write_db_image(root_.file("db"), {{3, 3, {1u << 7 | 1}, 0}, big, {11, 1, {2u << 7 | 1}, 0}}, options);
  idbm_db* db = idbm_openInner(root_.file("db").c_str(), 0, 10, 0, 0, nullptr, 0);
  ASSERT_NE(db, nullptr);
  idbm_reader* r = idbm_buffer(db);
  ASSERT_NE(r, nullptr);
  std::vector<uint32_t> counts;
  while (const uint32_t* rec = idbm_record(db, r)) counts.push_back(rec_count(rec));
  EXPECT_EQ(counts, (std::vector<uint32_t>{1, 5000, 1}));
  EXPECT_TRUE(idbm_reader_at_end(r));
  idbm_buffer_free(r);
  idbm_close(db);
}

TEST_F(DbReaderTest, DamagedRecordsEndTheReading) {
  struct Case {
    const char* message;
    std::vector<image_term> terms;
    int cut;  // bytes cut from the end of tf0
  };
  const std::vector<Case> cases = {
      {"idbm_record: record cut at end of part:", {{3, 3, {1u << 7 | 1, 2u << 7 | 1, 3u << 7 | 1}, 0}}, 4},
      {"idbm_record: record cut at end of part:", {{3, 3, {1u << 7 | 1}, 0}}, 2},
      {"idbm_record: invalid docid:", {{3, 3, {1u << 7 | 1, 2u << 7 | 1, 50u << 7 | 1}, 0}}, 0},
      {"idbm_record: invalid 1st docid:", {{3, 3, {50u << 7 | 1}, 0}}, 0},
      {"idbm_record: invalid 2nd docid:", {{3, 3, {1u << 7 | 1, 50u << 7 | 1}, 0}}, 0},
      {"idbm_record: docids out of order:", {{3, 3, {2u << 7 | 1, 1u << 7 | 1}, 0}}, 0},
      {"idbm_record: docids out of order:", {{3, 3, {1u << 7 | 1, 3u << 7 | 1, 2u << 7 | 1}, 0}}, 0},
      {"idbm_record: invalid size or docf:", {{3, 3, {1u << 7 | 1, 2u << 7 | 1, 3u << 7 | 1}, 11}}, 0},
      {"idbm_record: zero hash:", {{0, 3, {1u << 7 | 1}, 0}}, 0},
  };
  for (const Case& c : cases) {
    image_options options;
    options.ndocs = 10;
    testing::write_db_image(root_.file("db"), c.terms, options);
    const std::string tf0 = root_.file("db/tf0");
    if (c.cut) truncate(tf0.c_str(), static_cast<off_t>(slurp(tf0).size() - c.cut));
    idbm_db* db = idbm_open_plain(root_.file("db").c_str(), nullptr);
    ASSERT_NE(db, nullptr);
    LogCapture log;
    idbm_reader* r = idbm_buffer(db);
    ASSERT_NE(r, nullptr) << c.message;
    EXPECT_EQ(idbm_record(db, r), nullptr) << c.message;
    EXPECT_FALSE(idbm_reader_at_end(r));
    EXPECT_TRUE(log.contains(c.message)) << c.message << "\n" << log.all();
    idbm_buffer_free(r);
    idbm_close(db);
  }
  // A missing end mark.
  image_options options;
  options.ndocs = 10;
  testing::write_db_image(root_.file("db"), {{3, 3, {1u << 7 | 1, 2u << 7 | 1, 3u << 7 | 1}, 0}}, options);
  FILE* f = fopen(root_.file("db/tf0").c_str(), "r+b");
  fseek(f, 28, SEEK_SET);
  uint32_t zero = 0;
  fwrite(&zero, 4, 1, f);
  fclose(f);
  idbm_db* db = idbm_open_plain(root_.file("db").c_str(), nullptr);
  LogCapture log;
  idbm_reader* r = idbm_buffer(db);
  EXPECT_EQ(idbm_record(db, r), nullptr);
  EXPECT_TRUE(log.contains("idbm_record: missing sentinel:"));
  idbm_buffer_free(r);
  idbm_close(db);
  // An empty first part.
  truncate(root_.file("db/tf0").c_str(), 0);
  db = idbm_open_plain(root_.file("db").c_str(), nullptr);
  EXPECT_EQ(idbm_buffer(db), nullptr);
  EXPECT_TRUE(log.contains("idbm_buffer: empty file"));
  idbm_close(db);
}

TEST_F(DbReaderTest, DirectoryRebuildMatchesTheWrittenOne) {
  image_options options;
  options.part_limit = 9000;
  testing::make_generated_db(root_.file("db"), 600, 2000, 25, 8, options);
  const std::string before = slurp(root_.file("db/dir"));
  idbm_db* db = idbm_open(root_.file("db").c_str(), 0, 0, 0, nullptr);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(idbm_mkdir(db), 1);
  EXPECT_EQ(slurp(root_.file("db/dir")), before);
  EXPECT_EQ(slurp(root_.file("db/dir~")), before);
  EXPECT_EQ(access(root_.file("db/.dir").c_str(), F_OK), -1);
  EXPECT_EQ(db->dir.size, before.size());
  idbm_close(db);
}

}  // namespace
}  // namespace vorlane
