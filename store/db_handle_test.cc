#include "store/db_handle.h"

#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/testing/test_root.h"
#include "store/catalog.h"
#include "store/db_files.h"
#include "store/testing/log_capture.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/db_image.h"

namespace vorlane {
namespace {

using testing::image_options;
using testing::image_term;

void write_words(const std::string& path, const std::vector<uint32_t>& words) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!words.empty()) fwrite(words.data(), 4, words.size(), f);
  fclose(f);
}

uint64_t file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : ~uint64_t{0};
}

uint32_t read_word(const std::string& path) {
  uint32_t w = 0;
  FILE* f = fopen(path.c_str(), "rb");
  if (f) {
    if (fread(&w, 4, 1, f) != 1) w = 0;
    fclose(f);
  }
  return w;
}

class DbHandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cache_release_arenas();
    cache_add_arena(0, 8);
    cache_add_arena(100, 8);
  }
  void TearDown() override { cache_release_arenas(); }
  std::string make_db(uint32_t ndocs = 10, std::vector<image_term> terms = {}) {
    if (terms.empty()) terms = {{5, 6, {(1u << 7) | 3}, 0}, {7, 8, {(1u << 7) | 3, (2u << 7) | 4, (3u << 7) | 5}, 0}};
    image_options o;
    o.ndocs = ndocs;
    o.score_incr = 3;
    testing::write_db_image(root_.file("db"), terms, o);
    return root_.file("db");
  }
  // Opens with flags, expecting a refusal with the message.
  void expect_refused(const std::string& dir, uint32_t flags, const char* message) {
    LogCapture log;
    idbm_db* db = idbm_openInner(dir.c_str(), 0, 0, 0, 0, nullptr, flags);
    EXPECT_EQ(db, nullptr) << message;
    EXPECT_TRUE(log.contains(message)) << log.all();
    idbm_close(db);
  }
  platform::TestRoot root_;
};

TEST_F(DbHandleTest, OpenForQueries) {
  const std::string dir = make_db();
  idbm_db* db = idbm_open(dir.c_str(), 0, 0, 0, nullptr);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->ndocs, 10u);
  EXPECT_EQ(db->posting_limit, 40000);
  EXPECT_EQ(db->score_incr, 3);
  EXPECT_EQ(db->nparts, 1u);
  EXPECT_GE(db->parts[0].fd, 0);
  EXPECT_EQ(db->parts[0].size, 12u + 32u);
  EXPECT_FALSE(db->dir_copy);
  EXPECT_NE(db->del.address, nullptr);
  EXPECT_EQ(db->din.address, nullptr);  // no "din": optional
  EXPECT_EQ(db->ntitle_files, 1u);
  EXPECT_EQ(db->raw_score[127], 100);
  EXPECT_EQ(std::string(db->name), dir);
  EXPECT_EQ(idbm_close(db), 1);

  // A posting limit given to the open wins over the directory's.
  db = idbm_open(dir.c_str(), 500, 0, 0, nullptr);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->posting_limit, 500);
  idbm_close(db);

  // Without 0x100 only the directory's header is kept and no part is open.
  db = idbm_open_plain(dir.c_str(), nullptr);
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(db->dir_copy);
  EXPECT_EQ(idbm_dir_words(db)[2], 10u);
  EXPECT_EQ(db->parts[0].fd, -1);
  EXPECT_EQ(std::string(db->parts[0].name), dir + "/tf0");
  EXPECT_EQ(idbm_close(db), 1);
}

TEST_F(DbHandleTest, BadDirectoriesAreRefused) {
  const std::string dir = make_db();
  const std::string dirfile = dir + "/dir";
  std::vector<uint32_t> good;
  {
    std::ifstream in(dirfile, std::ios::binary);
    uint32_t w;
    while (in.read(reinterpret_cast<char*>(&w), 4)) good.push_back(w);
  }
  ASSERT_EQ(good.size(), 8u);  // header and one entry

  // 15 bytes.
  FILE* f = fopen(dirfile.c_str(), "wb");
  fwrite(good.data(), 1, 15, f);
  fclose(f);
  expect_refused(dir, 0x1300, "idbm_openInner: bad directory");
  // nparts 0 and 101.
  for (uint32_t nparts : {0u, 101u}) {
    auto bad = good;
    bad[0] = nparts;
    write_words(dirfile, bad);
    expect_refused(dir, 0x1300, "idbm_openInner: bad directory");
  }
  // An entry naming a part the database does not have, a record running past
  // its part, a size too small for any record.
  for (int which = 0; which < 3; ++which) {
    auto bad = good;
    if (which == 0) bad[7] = (12u << 8) | 1;
    if (which == 1) bad[6] = 40;
    if (which == 2) bad[7] = (8u << 8);
    write_words(dirfile, bad);
    expect_refused(dir, 0x1300, "idbm_openInner: bad directory");
  }
  // Entries out of order.
  {
    auto bad = good;
    bad.insert(bad.end(), {3, 3, 12, (32u << 8)});
    write_words(dirfile, bad);
    expect_refused(dir, 0x1300, "idbm_openInner: bad directory");
  }
  // A missing directory.
  unlink(dirfile.c_str());
  expect_refused(dir, 0x1300, "idbm_openInner: can't map directory");
  expect_refused(root_.file("nowhere"), 0x1300, "idbm_openInner: can't map directory");
  {
    LogCapture log;
    EXPECT_EQ(idbm_openInner(nullptr, 0, 0, 0, 0, nullptr, 0x1300), nullptr);
    EXPECT_TRUE(log.contains("null db name"));
  }
}

TEST_F(DbHandleTest, DeletionAndDateMaps) {
  const std::string dir = make_db(10);
  // A "del" shorter than the document count.
  truncate((dir + "/del").c_str(), 9);
  expect_refused(dir, 0x1300, "idbm_openInner: del file too short");
  // Missing: refused only when required.
  unlink((dir + "/del").c_str());
  idbm_db* db = idbm_open(dir.c_str(), 0, 0, 0, nullptr);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->del.address, nullptr);
  idbm_close(db);
  expect_refused(dir, 0x1311, "idbm_openInner: can't map del file");
  write_words(dir + "/del", {0, 0, 0});  // 12 bytes
  // A read-only "del" is mapped read-only unless it must be writable.
  chmod((dir + "/del").c_str(), 0444);
  if (geteuid() != 0) {
    db = idbm_openInner(dir.c_str(), 0, 0, 0, 0, nullptr, 0x1301);
    ASSERT_NE(db, nullptr);
    idbm_close(db);
    expect_refused(dir, 0x1302, "idbm_openInner: can't map del file");
  }
  chmod((dir + "/del").c_str(), 0644);

  // "din": shorter than ndocs x 8, required and missing.
  expect_refused(dir, 0x1310, "idbm_openInner: can't map din file");
  write_words(dir + "/din", std::vector<uint32_t>(19, 0));
  expect_refused(dir, 0x1300, "idbm_openInner: din file too short");
  write_words(dir + "/din", std::vector<uint32_t>(20, 0));
  db = idbm_open_full(dir.c_str(), 42, 0, 0, 0, nullptr);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->id, 42u);
  EXPECT_EQ(db->din.size, 80u);
  EXPECT_EQ(idbm_close(db), 1);
  // "inf" must be readable.
  unlink((dir + "/inf").c_str());
  expect_refused(dir, 0x1300, "idbm_openInner: cannot open");
}

TEST_F(DbHandleTest, TitleFilesOfALargeDatabase) {
  // 0x400000 + 1 documents: "ti0" must hold 0x400000 records and "ti1" exist.
  const uint32_t ndocs = 0x400001;
  const std::string dir = make_db(ndocs);
  EXPECT_EQ(file_size(dir + "/ti0"), uint64_t{0x400000} * 448);
  EXPECT_EQ(file_size(dir + "/ti1"), 448u);
  idbm_db* db = idbm_open(dir.c_str(), 0, 0, 0, nullptr);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->ntitle_files, 2u);
  idbm_close(db);
  truncate((dir + "/ti0").c_str(), uint64_t{0x400000} * 448 - 448);
  expect_refused(dir, 0x1300, "idbm_openInner: titles file too short");
  truncate((dir + "/ti0").c_str(), uint64_t{0x400000} * 448);
  unlink((dir + "/ti1").c_str());
  expect_refused(dir, 0x1300, "idbm_openInner: cannot open");
}

TEST_F(DbHandleTest, CloseOfAnEmptyHandle) {
  EXPECT_EQ(idbm_close(nullptr), 1);
  EXPECT_EQ(idbm_close(new idbm_db), 1);
}

TEST_F(DbHandleTest, NewDatabase) {
  const std::string dir = root_.file("fresh");
  idbm_db* db = idbm_newdb(dir.c_str(), 0);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->posting_limit, 40000);
  EXPECT_EQ(db->score_incr, 0);
  for (const char* name : {"ti0", "del", "din", "inf"}) EXPECT_EQ(file_size(dir + "/" + name), 0u) << name;
  // Term files, directory and catalog start under temporary names; the
  // database has no "dir" until a save or merge commits one.
  for (const char* name : {".dir.new", ".cat.new", ".tf0.new"}) EXPECT_EQ(file_size(dir + "/" + name), 0u) << name;
  EXPECT_EQ(file_size(dir + "/dir"), ~uint64_t{0});
  EXPECT_NE(db->tf_stream, nullptr);
  EXPECT_NE(db->inf_stream, nullptr);
  EXPECT_EQ(db->sum_stream, nullptr);

  // The truncations set the capacity and map the files read-write.
  ASSERT_EQ(idbm_trunc_titles(db, 3), 1);
  ASSERT_EQ(idbm_trunc_del(db, 3), 1);
  ASSERT_EQ(idbm_trunc_din(db, 3), 1);
  EXPECT_EQ(file_size(dir + "/ti0"), 3u * 448);
  EXPECT_EQ(file_size(dir + "/del"), 3u);
  EXPECT_EQ(file_size(dir + "/din"), 24u);
  static_cast<unsigned char*>(db->del.address)[2] = 255;
  EXPECT_EQ(db->ti_stream, nullptr);
  EXPECT_EQ(idbm_close(db), 1);

  // An existing database directory is reused as it stands; "inf" is read.
  write_words(dir + "/inf", {7});
  db = idbm_newdb(dir.c_str(), 12);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->score_incr, 7);
  EXPECT_EQ(db->posting_limit, 12);
  EXPECT_EQ(file_size(dir + "/del"), 3u);  // kept
  EXPECT_EQ(idbm_close(db), 1);

  // A path that is not a writable directory is moved aside first.
  const std::string file = root_.file("plain");
  write_words(file, {1});
  {
    LogCapture log;
    db = idbm_newdb(file.c_str(), 0);
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(log.contains("idbm_newdb backing up database " + file + " as " + file + "."));
    EXPECT_TRUE(log.contains("idbm_newdb creating new database " + file));
  }
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  int backups = 0;
  DIR* d = opendir(root_.path().c_str());
  while (dirent* e = readdir(d))
    if (std::string(e->d_name).rfind("plain.", 0) == 0) ++backups;
  closedir(d);
  EXPECT_EQ(backups, 1);
  idbm_close(db);
}

TEST_F(DbHandleTest, IncrementalOpenOfAnEmptyJournal) {
  const std::string dir = make_db(0, {{5, 6, {(0u << 7) | 3}, 0}});
  write_words(dir + "/jnl", {});
  write_words(dir + "/inf", {0});
  // Flags 0x1300 with a journal give an incremental handle at the capacity.
  idbm_db* db = idbm_openInner(dir.c_str(), 0, 0, 5, 9, nullptr, 0x1300);
  ASSERT_NE(db, nullptr);
  EXPECT_NE(db->icube, nullptr);
  EXPECT_EQ(db->ndocs, 0u);
  EXPECT_EQ(db->ti0.size, 5u * 448);
  EXPECT_EQ(db->del.size, 5u);
  EXPECT_EQ(db->din.size, 40u);
  EXPECT_NE(db->jnl_stream, nullptr);
  EXPECT_EQ(file_size(dir + "/tf0"), 12u);  // the saved files stay until a save replaces them
  EXPECT_EQ(read_word(dir + "/inf"), 9u);  // the setting is written at once
  EXPECT_EQ(idbm_find(db, 5, 6), nullptr);
  EXPECT_EQ(idbm_close(db), 1);

  // Reopening with another setting is an "incr conflict".
  LogCapture log;
  EXPECT_EQ(idbm_open_incr(dir.c_str(), 0, 5, 4, nullptr), nullptr);
  EXPECT_TRUE(log.contains("incr conflict"));
}

TEST_F(DbHandleTest, IncrementalOpenKeepsEveryJournaledTitle) {
  const std::string dir = make_db(4);
  // A journal of 4 documents without terms, and title records for them.
  write_words(dir + "/jnl", {0, 0, 0, 0});
  truncate((dir + "/ti0").c_str(), 4 * 448);
  // A capacity larger than one title file is refused, files untouched.
  {
    LogCapture log;
    EXPECT_EQ(idbm_open_incr(dir.c_str(), 0, 0x400001, 1, nullptr), nullptr);
    EXPECT_TRUE(log.contains("capacity larger than one title file"));
    EXPECT_EQ(file_size(dir + "/tf0"), 12u + 32u);
  }
  // A capacity below the journal's count is refused before any file is
  // touched: no title of a journaled document is cut.
  LogCapture log;
  EXPECT_EQ(idbm_open_incr(dir.c_str(), 0, 2, 3, nullptr), nullptr);
  EXPECT_TRUE(log.contains("too many docs"));
  EXPECT_EQ(file_size(dir + "/ti0"), 4u * 448);
  EXPECT_EQ(file_size(dir + "/del"), 4u);
  EXPECT_EQ(file_size(dir + "/jnl"), 16u);
  EXPECT_EQ(file_size(dir + "/tf0"), 12u + 32u);
}

TEST(ScoreMap, PublishedValues) {
  auto* db = new idbm_db;
  idbm_score_map(db);
  for (int s = 0; s <= 18; ++s) EXPECT_EQ(db->score_map[s], 1) << s;
  for (int s = 19; s <= 25; ++s) EXPECT_EQ(db->score_map[s], 2) << s;
  for (int s = 26; s <= 30; ++s) EXPECT_EQ(db->score_map[s], 3) << s;
  EXPECT_EQ(db->score_map[99], 121);
  EXPECT_EQ(db->score_map[100], 127);
  for (int s = 1; s <= 100; ++s) EXPECT_GE(db->score_map[s], db->score_map[s - 1]) << s;
  // Every score that some class has maps to the first such class.
  for (int v = 1; v < 128; ++v) EXPECT_EQ(db->raw_score[db->score_map[db->raw_score[v]]], db->raw_score[v]) << v;
  EXPECT_EQ(db->raw_score[0], 0);
  EXPECT_EQ(db->raw_score[1], 14);
  EXPECT_EQ(db->raw_score[2], 22);
  delete db;
}

TEST(Catalog, LoadAndProbe) {
  platform::TestRoot root;
  const std::string path = root.file("cat");
  // Header, then three terms: (docf << 7) + highest, (count << 7) + mean.
  write_words(path, {0x80000000u, 0x80000000u, 300u << 7, 0,                      //
                     0x80000005u, 0x80000006u, (40u << 7) + 90, (40u << 7) + 50,   //
                     0x80000005u, 0x80000009u, (7u << 7) + 30, (7u << 7) + 25,     //
                     0x80000100u, 0x80000001u, (299u << 7) + 127, (299u << 7) + 60});
  idbm_db* cat = idbm_load(path.c_str());
  ASSERT_NE(cat, nullptr);
  EXPECT_EQ(cat->ndocs, 300u);  // word 2 >> 7
  const cat_entry* e = idbm_cat_find(cat, 5, 9);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(cat_docf(*e), 7u);
  ASSERT_NE(idbm_cat_find(cat, 0x100, 1), nullptr);
  EXPECT_EQ(cat_docf(*idbm_cat_find(cat, 5, 6)), 40u);
  EXPECT_EQ(idbm_cat_find(cat, 5, 7), nullptr);
  EXPECT_EQ(idbm_cat_find(nullptr, 5, 6), nullptr);
  EXPECT_EQ(cat->raw_score[127], 100);
  EXPECT_EQ(idbm_close(cat), 1);
  LogCapture log;
  EXPECT_EQ(idbm_load(root.file("none").c_str()), nullptr);
  EXPECT_TRUE(log.contains("idbm_load: can't map catalog"));
}

}  // namespace
}  // namespace vorlane
