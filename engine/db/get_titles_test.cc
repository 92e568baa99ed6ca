#include "engine/db/get_titles.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "engine/db/title_cache.h"
#include "platform/testing/test_root.h"
#include "store/db_handle.h"
#include "store/testing/log_capture.h"
#include "store/mapfile.h"
#include "store/testing/db_image.h"
#include "store/title_fetch.h"
#include "store/testing/handle_testing.h"

namespace vorlane::engine {
namespace {

using Record = std::vector<unsigned char>;

Record make_title(const std::string& title, const std::string& url, uint32_t extra) {
  Record r(kTitleRecordSize);
  std::string t = title, u = url, s = "summary of " + title, p = "", k = "";
  title_pack(r.data(), u.data(), t.data(), s.data(), p.data(), k.data(), extra, 0, 0, 0, 0, 0, nullptr, nullptr,
             nullptr, 0);
  return r;
}

std::atomic<int> nowait_calls{0};
int nowait_errno = 0;  // 0: the real read; else fail with this errno

ssize_t counting_read(int fd, void* buffer, size_t count, uint64_t offset) {
  ++nowait_calls;
  if (nowait_errno) {
    errno = nowait_errno;
    return -1;
  }
  return ::pread(fd, buffer, count, static_cast<off_t>(offset));
}

ssize_t (*const real_read_nowait)(int, void*, size_t, uint64_t) = title_read_nowait;

class GetTitles : public ::testing::Test {
 protected:
  void SetUp() override {
    title_read_nowait = counting_read;
    nowait_calls = 0;
    nowait_errno = 0;
    cache = title_cache_create(580 * 1000);
    the_title_cache.store(cache);
  }
  void TearDown() override {
    title_read_nowait = real_read_nowait;
    for (idbm_db* db : handles) idbm_close(db);
    the_title_cache.store(nullptr);
    title_cache_free(cache);
  }

  // A database of ndocs documents whose titles are given for some docids.
  idbm_db* make_db(const std::string& name, uint32_t ndocs, const std::map<uint32_t, Record>& titles) {
    const std::string dir = root.path() + "/" + name;
    testing::image_options o;
    o.ndocs = ndocs;
    for (const auto& [d, r] : titles) o.titles[d] = r;
    testing::write_db_image(dir, {{5, 7, {(0u << 7) | 3}, 0}}, o);
    idbm_db* db = idbm_open_plain(dir.c_str(), nullptr);
    if (db) handles.push_back(db);
    return db;
  }

  std::vector<Record> fetch(idbm_db* db, const std::vector<int32_t>& docids) {
    std::vector<idbm_db*> dbs(docids.size(), db);
    std::vector<unsigned char> out(docids.size() * kTitleRecordSize, 0xAA);
    get_titles(dbs.data(), docids.data(), reinterpret_cast<unsigned char (*)[kTitleRecordSize]>(out.data()),
               static_cast<int>(docids.size()));
    std::vector<Record> records;
    for (size_t i = 0; i < docids.size(); ++i)
      records.emplace_back(out.begin() + i * kTitleRecordSize, out.begin() + (i + 1) * kTitleRecordSize);
    return records;
  }

  platform::TestRoot root;
  title_cache* cache = nullptr;
  std::vector<idbm_db*> handles;
  const Record zero = Record(kTitleRecordSize, 0);
};

TEST_F(GetTitles, ReadsCachesAndZeroesWhatCannotBeHad) {
  Record t0 = make_title("zero", "http://a/0", 10), t2 = make_title("two", "http://a/2", 12);
  idbm_db* db = make_db("db", 3, {{0, t0}, {2, t2}});
  ASSERT_NE(db, nullptr);
  auto got = fetch(db, {2, 0, 3, -1, 1});
  EXPECT_EQ(got[0], t2);
  EXPECT_EQ(got[1], t0);
  EXPECT_EQ(got[2], zero);  // docid == ndocs
  EXPECT_EQ(got[3], zero);
  EXPECT_EQ(got[4], zero);  // never written: a record of zeros in the file
  EXPECT_EQ(nowait_calls.load(), 3);
  // The second time the cache serves them: no read.
  got = fetch(db, {0, 2});
  EXPECT_EQ(got[0], t0);
  EXPECT_EQ(got[1], t2);
  EXPECT_EQ(nowait_calls.load(), 3);
  EXPECT_EQ(cache->hits.load(), 2);
}

// The non-blocking read of the running system (or its plain fallback).
TEST_F(GetTitles, RealReads) {
  title_read_nowait = real_read_nowait;
  Record t0 = make_title("zero", "http://a/0", 10), t1 = make_title("one", "http://a/1", 11);
  idbm_db* db = make_db("db", 2, {{0, t0}, {1, t1}});
  auto got = fetch(db, {1, 0, 1});
  EXPECT_EQ(got[0], t1);
  EXPECT_EQ(got[1], t0);
  EXPECT_EQ(got[2], t1);
}

TEST_F(GetTitles, OnlyFiveHundredPerCall) {
  Record t0 = make_title("zero", "http://a/0", 10);
  idbm_db* db = make_db("db", 1, {{0, t0}});
  std::vector<int32_t> docids(501, 0);
  auto got = fetch(db, docids);
  EXPECT_EQ(got[499], t0);
  EXPECT_EQ(got[500], zero);
}

TEST_F(GetTitles, ReadsThatWouldBlockAreReadInTheSecondPass) {
  Record t0 = make_title("zero", "http://a/0", 10), t1 = make_title("one", "http://a/1", 11);
  idbm_db* db = make_db("db", 2, {{0, t0}, {1, t1}});
  for (int error : {EAGAIN, EOPNOTSUPP}) {
    title_cache_purge(cache, db->name);
    nowait_errno = error;
    auto got = fetch(db, {1, 0, 1});
    EXPECT_EQ(got[0], t1) << error;
    EXPECT_EQ(got[1], t0) << error;
    EXPECT_EQ(got[2], t1) << error;
  }
  // What the second pass read is cached.
  nowait_errno = 0;
  nowait_calls = 0;
  EXPECT_EQ(fetch(db, {0})[0], t0);
  EXPECT_EQ(nowait_calls.load(), 0);
}

TEST_F(GetTitles, FailedReadIsLoggedAndZeroed) {
  Record t0 = make_title("zero", "http://a/0", 10);
  idbm_db* db = make_db("db", 1, {{0, t0}});
  nowait_errno = EIO;
  LogCapture log;
  EXPECT_EQ(fetch(db, {0})[0], zero);
  EXPECT_TRUE(log.contains("offset=0 count=448 ReadFile: "));
  // A descriptor that fails in the blocking pass too.
  nowait_errno = EAGAIN;
  const int fd = testing::set_title_fd(db, 0, 9999);
  EXPECT_EQ(fetch(db, {0})[0], zero);
  testing::set_title_fd(db, 0, fd);
  EXPECT_TRUE(log.contains("offset=0 count=448 GetOverlappedResult: "));
}

TEST_F(GetTitles, SecondTitleFileAndTheMapping) {
  Record t0 = make_title("zero", "http://a/0", 10), tn = make_title("second", "http://a/n", 11);
  const uint32_t second = kTitlesPerFile;  // docid 4,194,304
  idbm_db* db = make_db("big", second + 1, {{0, t0}, {second, tn}});
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->ntitle_files, 2u);
  auto got = fetch(db, {static_cast<int32_t>(second), 0});
  EXPECT_EQ(got[0], tn);
  EXPECT_EQ(got[1], t0);

  // With the first file mapped, docids below 4,194,304 come from the mapping
  // only; the second file is still read.
  ASSERT_TRUE(idbm_map_titles(db));
  title_cache_purge(cache, db->name);
  nowait_calls = 0;
  got = fetch(db, {0, static_cast<int32_t>(second)});
  EXPECT_EQ(got[0], t0);
  EXPECT_EQ(got[1], tn);
  EXPECT_EQ(nowait_calls.load(), 1);
  // Beyond the mapped size: zeros.
  testing::set_title_map_size(db, kTitleRecordSize);
  EXPECT_EQ(fetch(db, {1})[0], zero);
  testing::set_title_map_size(db, uint64_t{kTitlesPerFile} * kTitleRecordSize);
}

// A merge in another process put new files under a database's names while
// a handle kept the old ones open, and a second handle opened the new ones:
// each handle gets the titles of its own files, from the file or the cache,
// whichever handle read a docid first. Handles of the same files share the
// cached records.
TEST_F(GetTitles, HandlesOfOnePathOverDifferentFilesGetTheirOwnTitles) {
  const Record old0 = make_title("old zero", "http://a/0", 10), old1 = make_title("old one", "http://a/1", 11);
  const Record new0 = make_title("new zero", "http://a/0", 20), new1 = make_title("new one", "http://a/1", 21);
  idbm_db* old_db = make_db("db", 2, {{0, old0}, {1, old1}});
  ASSERT_NE(old_db, nullptr);
  const std::string dir = root.path() + "/db", next = root.path() + "/next";
  idbm_db* same = idbm_open_plain(dir.c_str(), nullptr);  // the same files
  ASSERT_NE(same, nullptr);
  handles.push_back(same);
  EXPECT_EQ(fetch(old_db, {0})[0], old0);
  EXPECT_EQ(nowait_calls.load(), 1);
  EXPECT_EQ(fetch(same, {0})[0], old0);
  EXPECT_EQ(nowait_calls.load(), 1);

  testing::image_options o;
  o.ndocs = 2;
  o.titles[0] = new0;
  o.titles[1] = new1;
  testing::write_db_image(next, {{5, 7, {(0u << 7) | 3}, 0}}, o);
  for (const auto& e : std::filesystem::directory_iterator(next))
    ASSERT_EQ(rename(e.path().c_str(), (dir + "/" + e.path().filename().string()).c_str()), 0);
  idbm_db* new_db = idbm_open_plain(dir.c_str(), nullptr);
  ASSERT_NE(new_db, nullptr);
  handles.push_back(new_db);

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);  // the second round from the cache
    EXPECT_EQ(fetch(new_db, {0})[0], new0);
    EXPECT_EQ(fetch(new_db, {1})[0], new1);
    EXPECT_EQ(fetch(old_db, {1})[0], old1);
    EXPECT_EQ(fetch(same, {1})[0], old1);
    EXPECT_EQ(fetch(old_db, {0})[0], old0);
  }
}

// Readers on other threads while two threads map the first title file: every
// read gives the record, from the file or from the one mapping made.
TEST_F(GetTitles, MappingWhileOthersRead) {
  title_read_nowait = real_read_nowait;
  the_title_cache.store(nullptr);  // every read goes to the file or the mapping
  Record t0 = make_title("zero", "http://a/0", 10), t1 = make_title("one", "http://a/1", 11);
  idbm_db* db = make_db("db", 2, {{0, t0}, {1, t1}});
  ASSERT_NE(db, nullptr);
  std::atomic<bool> mapped{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r)
    readers.emplace_back([&] {
      // Reads until the mapping is seen, and a few rounds beyond.
      for (int i = 0, after = 0; after < 50 && i < 200000; ++i) {
        const auto got = fetch(db, {1, 0});
        if (got[0] != t1 || got[1] != t0) ++wrong;
        if (mapped.load()) ++after;
      }
    });
  std::thread first([&] { EXPECT_TRUE(idbm_map_titles(db)); });
  EXPECT_TRUE(idbm_map_titles(db));
  first.join();
  mapped = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  const titles_view view = idbm_titles_view(db);
  ASSERT_NE(view.records, nullptr);
  EXPECT_EQ(view.size, 2u * kTitleRecordSize);
}

}  // namespace
}  // namespace vorlane::engine
