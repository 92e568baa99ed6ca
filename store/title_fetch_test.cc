#include "store/title_fetch.h"

#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/testing/test_root.h"
#include "store/db_handle.h"
#include "store/testing/log_capture.h"
#include "store/testing/db_image.h"

namespace vorlane {
namespace {

std::vector<unsigned char> packed(const char* url_text, const char* title_text, uint32_t doctype) {
  std::vector<unsigned char> rec(kTitleRecordSize);
  char url[256], title[128], summary[8] = "sum", publisher[8] = "pub", terms[8] = "";
  snprintf(url, sizeof url, "%s", url_text);
  snprintf(title, sizeof title, "%s", title_text);
  title_pack(rec.data(), url, title, summary, publisher, terms, 77, 1000, 0x11, 0x22, 0, static_cast<uint16_t>(doctype),
             nullptr, nullptr, nullptr, 0);
  return rec;
}

TEST(TitleFetch, FromTheRightTitleFile) {
  platform::TestRoot root;
  testing::image_options o;
  o.ndocs = 0x400000 + 2;  // two title files, sparse
  o.titles[3] = packed("http://a/", "first", 1);
  o.titles[0x400000] = packed("http://b/", "second file, offset 0", 2);
  o.titles[0x400001] = packed("http://c/", "second file, offset 448", 3);
  testing::write_db_image(root.file("db"), {{5, 5, {1u << 7 | 1}, 0}}, o);
  idbm_db* db = idbm_open(root.file("db").c_str(), 0, 0, 0, nullptr);
  ASSERT_NE(db, nullptr);
  unsigned char buf[kTitleRecordSize];
  title_host host;
  ASSERT_EQ(idbm_title_record(db, 0x400001, buf, &host), 1);
  EXPECT_STREQ(host.title, "second file, offset 448");
  EXPECT_EQ(host.doctype, 3);
  EXPECT_STREQ(idbm_title_url(db, 0x400000, buf), "http://b/");
  EXPECT_STREQ(idbm_title_publisher(db, 3, buf), "pub");
  EXPECT_EQ(idbm_title_doctype(db, 3, buf), 1u);
  uint32_t checksum[2] = {}, extra = 0, date = 0;
  EXPECT_STREQ(idbm_title_fields(db, 3, buf, checksum, &extra, &date), "first");
  EXPECT_EQ(checksum[0], 0x11u);
  EXPECT_EQ(checksum[1], 0x22u);
  EXPECT_EQ(extra, 77u);
  EXPECT_EQ(date, 1000u);
  // A record never written reads as zeros: an empty title.
  ASSERT_EQ(idbm_title_record(db, 5, buf, &host), 1);
  EXPECT_STREQ(host.title, "");

  LogCapture log;
  EXPECT_EQ(idbm_title_record(db, 0x400002, buf, &host), 0);
  EXPECT_TRUE(log.contains("idbm_title_record: docid out of range"));
  EXPECT_EQ(idbm_title_record(db, 1, nullptr, &host), 0);
  EXPECT_TRUE(log.contains("idbm_title_record: null buffer"));
  // A title file cut short after the open: the short read is an error.
  truncate(root.file("db/ti1").c_str(), 448 + 100);
  EXPECT_EQ(idbm_title_record(db, 0x400001, buf, &host), 0);
  EXPECT_TRUE(log.contains("idbm_title_record: cannot read title"));
  idbm_close(db);
}

TEST(TitleFetch, FromTheMappedTitlesOfAnIncrementalDatabase) {
  platform::TestRoot root;
  idbm_db* db = idbm_newdb(root.file("db").c_str(), 0);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(idbm_trunc_titles(db, 2), 1);
  auto rec = packed("http://x/", "mapped", 4);
  memcpy(static_cast<unsigned char*>(db->ti0.address) + 448, rec.data(), 448);
  db->ndocs = 3;  // one more than the map holds
  unsigned char buf[kTitleRecordSize];
  title_host host;
  ASSERT_EQ(idbm_title_record(db, 1, buf, &host), 1);
  EXPECT_STREQ(host.title, "mapped");
  LogCapture log;
  EXPECT_EQ(idbm_title_record(db, 2, buf, &host), 0);
  EXPECT_TRUE(log.contains("idbm_title_record: docid beyond titles map"));
  idbm_close(db);
}

}  // namespace
}  // namespace vorlane
