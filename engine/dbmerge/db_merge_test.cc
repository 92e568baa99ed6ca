#include "engine/dbmerge/db_merge.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "engine/dbmerge/adj_file.h"
#include "platform/testing/test_root.h"
#include "store/date_entry.h"
#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_reader.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/testing/db_check.h"
#include "store/testing/log_capture.h"
#include "store/mapfile.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/index_fixture.h"
#include "store/testing/lookup_fixture.h"
#include "store/title_record.h"
#include "store/testing/handle_testing.h"

namespace vorlane::engine {
namespace {

using testing::read_file;
using testing::synthetic_doc;

constexpr uint32_t kSeed = 29;

// The title record of corpus document g: url "http://host<g % 3>/doc<g>",
// or none with no_url.
std::vector<unsigned char> title_of(uint32_t g, bool no_url) {
  std::string url = no_url ? "" : "http://host" + std::to_string(g % 3) + "/doc" + std::to_string(g);
  std::string title = "Document " + std::to_string(g), summary = "about " + std::to_string(g), publisher, terms;
  std::vector<unsigned char> rec(kTitleRecordSize);
  title_pack(rec.data(), url.data(), title.data(), summary.data(), publisher.data(), terms.data(), 0,
             86400 * (12000 + g), 0, 0, 0, 0, nullptr, nullptr, nullptr, 0);
  return rec;
}

// The date entry a source stores for document g (not the one a merge would
// recompute, so that copying and recomputing can be told apart).
din_entry stored_din(uint32_t g) { return {0x1000 + g, g << 16}; }

class DbMergeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_percent_table(); }
  void SetUp() override {
    cache_release_arenas();
    cache_add_arena(0, 64);
    cache_add_arena(kDefaultPostingLimit, 16);
  }
  void TearDown() override {
    merge_db_step = nullptr;
    durable_hook = nullptr;
    idbm_part_limit = kPartLimit;
    for (idbm_db* db : open_) idbm_close(db);
    cache_release_arenas();
  }

  // Indexes documents first .. first + pattern.size() - 1 of the corpus into
  // a new database (raw frequencies), saves it and opens it for querying;
  // then deletes the documents marked D. U marks a document without a url, K
  // one that is kept.
  idbm_db* source(const std::string& name, uint32_t first, const std::string& pattern) {
    const std::string path = root_.file(name);
    idbm_db* db = idbm_open_incr(path.c_str(), 0, static_cast<uint32_t>(pattern.size()), 1, nullptr);
    EXPECT_NE(db, nullptr);
    if (!db) return nullptr;
    for (uint32_t j = 0; j < pattern.size(); ++j) {
      const uint32_t g = first + j;
      testing::test_doc d = synthetic_doc(kSeed, g, 60, 20);
      const din_entry e = stored_din(g);
      EXPECT_EQ(idbm_index_and_log(db, d.terms(), title_of(g, pattern[j] == 'U').data(), 0, e.host_hash, e.day, 0),
                static_cast<int>(j + 1));
    }
    EXPECT_EQ(idbm_write(db, 1), 1);
    idbm_close(db);
    return open_query(path, pattern);
  }
  idbm_db* open_query(const std::string& path, const std::string& pattern = "") {
    idbm_db* db = idbm_open(path.c_str(), 0, 0, 0, nullptr, static_cast<uint32_t>(open_.size() + 1));
    EXPECT_NE(db, nullptr) << path;
    if (!db) return nullptr;
    EXPECT_EQ(idbm_cache(db, 4 * cache_total_slots()), 1);
    open_.push_back(db);
    for (uint32_t j = 0; j < pattern.size(); ++j)
      if (pattern[j] == 'D') {
        EXPECT_EQ(idbm_delete(db, j), 1);
      }
    return db;
  }
  // A database of the given corpus documents alone, indexed in that order.
  idbm_db* reference(const std::string& name, const std::vector<uint32_t>& globals) {
    const std::string path = root_.file(name);
    idbm_db* db = idbm_open_incr(path.c_str(), 0, static_cast<uint32_t>(globals.size()), 1, nullptr);
    for (uint32_t g : globals) {
      testing::test_doc d = synthetic_doc(kSeed, g, 60, 20);
      EXPECT_GT(idbm_index_and_log(db, d.terms(), title_of(g, false).data(), 0, 0, 0, 0), 0);
    }
    EXPECT_EQ(idbm_write(db, 1), 1);
    idbm_close(db);
    return open_query(path);
  }
  merge_outcome merge(const std::string& name, const std::vector<idbm_db*>& sources, bool adj = true,
                      bool recompute = false) {
    std::vector<uint32_t> counts;
    for (idbm_db* db : sources) counts.push_back(db->ndocs);
    return merge_databases(root_.file(name).c_str(), sources, counts, kDefaultPostingLimit, adj, recompute);
  }
  // Every term record of a database: pair, docf, count, postings.
  static std::map<std::pair<uint32_t, uint32_t>, std::vector<uint32_t>> records(idbm_db* db) {
    std::map<std::pair<uint32_t, uint32_t>, std::vector<uint32_t>> out;
    idbm_reader* r = idbm_buffer(db);
    if (!r) return out;
    while (const uint32_t* rec = idbm_record(db, r)) {
      std::vector<uint32_t> w = {rec_docf(rec), rec_count(rec)};
      for (uint32_t i = 0; i < rec_count(rec); ++i) w.push_back(rec_postings(rec)[i]);
      out[{rec_hash1(rec), rec_hash2(rec)}] = w;
    }
    EXPECT_TRUE(idbm_reader_at_end(r));
    idbm_buffer_free(r);
    return out;
  }

  platform::TestRoot root_;
  std::vector<idbm_db*> open_;
};

std::vector<int32_t> captured_map;
void capture_map(const char* step, const int32_t* map, uint64_t n) {
  if (strcmp(step, "map") == 0) captured_map.assign(map, map + n);
}

TEST_F(DbMergeTest, KeptDeletedPatternGivesMapAdjAndLog) {
  // K K D K D D K K K over two sources; one D lacks a url instead.
  idbm_db* a = source("a", 0, "KKDKU");
  idbm_db* b = source("b", 5, "DKKK");
  captured_map.clear();
  merge_db_step = capture_map;
  LogCapture log;
  ASSERT_TRUE(merge("m", {a, b}).ok);
  EXPECT_EQ(captured_map, (std::vector<int32_t>{0, 0, -1, 128, -1, -1, 384, 384, 384}));
  EXPECT_TRUE(log.contains("expunging 3 docs out of 9, keeping 6 (66%)")) << log.all();
  EXPECT_FALSE(log.contains("propagated"));
  EXPECT_EQ(read_file(root_.file("m/adj")), std::string("\x09\x00\x00\x00\x02\x01\x00\x03", 8));

  // Titles, deletion bytes and (copied) date entries of the kept documents.
  const std::vector<uint32_t> kept = {0, 1, 3, 6, 7, 8};
  std::string titles, dins;
  for (uint32_t g : kept) {
    std::vector<unsigned char> t = title_of(g, false);
    titles.append(t.begin(), t.end());
    din_entry e = stored_din(g);
    dins.append(reinterpret_cast<const char*>(&e), sizeof e);
  }
  EXPECT_EQ(read_file(root_.file("m/ti0")), titles);
  EXPECT_EQ(read_file(root_.file("m/din")), dins);
  EXPECT_EQ(read_file(root_.file("m/del")), std::string(6, '\0'));
  EXPECT_EQ(read_file(root_.file("m/inf")), std::string("\x01\x00\x00\x00", 4));

  // Later deletions in the sources reach the merged database through "adj".
  idbm_db* m = open_query(root_.file("m"));
  ASSERT_EQ(m->ndocs, 6u);
  ASSERT_EQ(idbm_delete(b, 2), 1);  // global 7: new docid 4
  ASSERT_EQ(idbm_delete(a, 3), 1);  // global 3: new docid 2
  {
    LogCapture log2;
    ASSERT_TRUE(merge_deletion_map(m, {a, b}).ok);
    EXPECT_TRUE(log2.contains("propagated 2 new doc deletions")) << log2.all();
  }
  EXPECT_EQ(read_file(root_.file("m/del")), std::string("\0\0\xff\0\xff\0", 6));
  {
    LogCapture log3;  // nothing new: nothing logged
    ASSERT_TRUE(merge_deletion_map(m, {a, b}).ok);
    EXPECT_FALSE(log3.contains("propagated"));
  }

  // A corrupt "adj" is refused and nothing is copied.
  ASSERT_EQ(idbm_delete(b, 3), 1);
  const std::string good = read_file(root_.file("m/adj"));
  for (const std::string& bad : {std::string("\x09\x00\x00\x00\x02\x01\x00\x01", 8),
                                 std::string("\x09\x00\x00\x00\x02\x01\x00\x04", 8), std::string("\x09\x00", 2)}) {
    FILE* f = fopen(root_.file("m/adj").c_str(), "wb");
    fwrite(bad.data(), 1, bad.size(), f);
    fclose(f);
    merge_outcome r = merge_deletion_map(m, {a, b});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "adj corrupt");
  }
  EXPECT_EQ(read_file(root_.file("m/del")), std::string("\0\0\xff\0\xff\0", 6));
  // Sources that don't cover the file's documents.
  FILE* f = fopen(root_.file("m/adj").c_str(), "wb");
  fwrite(good.data(), 1, good.size(), f);
  fclose(f);
  EXPECT_EQ(merge_deletion_map(m, {a}).message, "adj does not match the databases");
  f = fopen(root_.file("m/adj").c_str(), "wb");
  fwrite("\x09\x00\x00\x00\x09", 1, 5, f);  // sound, but keeps all 9
  fclose(f);
  EXPECT_EQ(merge_deletion_map(m, {a, b}).message, "adj does not match the databases");
  f = fopen(root_.file("m/adj").c_str(), "wb");
  fwrite(good.data(), 1, good.size(), f);
  fclose(f);
  EXPECT_TRUE(merge_deletion_map(m, {a, b}).ok);
  EXPECT_EQ(read_file(root_.file("m/del")), std::string("\0\0\xff\0\xff\xff", 6));
  // Without an "adj" file.
  unlink(root_.file("m/adj").c_str());
  EXPECT_EQ(merge_deletion_map(m, {a, b}).message.rfind("adj open: ", 0), 0u);
}

TEST_F(DbMergeTest, TermRecordsEqualThoseOfTheKeptDocumentsIndexedAlone) {
  std::mt19937 rng(7);
  std::string pa, pb;
  for (int i = 0; i < 70; ++i) pa += "KKKDU"[rng() % 5 < 3 ? 0 : rng() % 5];
  for (int i = 0; i < 50; ++i) pb += rng() % 4 == 0 ? 'D' : 'K';
  pb.back() = 'D';  // a last document dropped
  idbm_db* a = source("a", 0, pa);
  idbm_db* b = source("b", 70, pb);
  std::vector<uint32_t> kept;
  const std::string all = pa + pb;
  for (uint32_t g = 0; g < all.size(); ++g)
    if (all[g] == 'K') kept.push_back(g);
  ASSERT_TRUE(merge("m", {a, b}, true, true).ok);
  idbm_db* ref = reference("ref", kept);
  idbm_db* m = open_query(root_.file("m"));
  ASSERT_EQ(m->ndocs, kept.size());

  const auto want = records(ref);
  const auto got = records(m);
  ASSERT_GT(want.size(), 30u);
  EXPECT_EQ(got, want);
  // And so the same lookups.
  for (const auto& [pair, words] : want) {
    const uint32_t* r1 = idbm_find(ref, pair.first, pair.second);
    const uint32_t* r2 = idbm_find(m, pair.first, pair.second);
    ASSERT_NE(r2, nullptr);
    EXPECT_EQ(testing::record_words(r2), testing::record_words(r1));
    unpin_record(r1);
    unpin_record(r2);
  }
  // Date entries recomputed from the titles.
  std::string dins;
  for (uint32_t g : kept) {
    std::vector<unsigned char> t = title_of(g, false);
    title_host h;
    title_unpack(t.data(), &h);
    din_entry e = make_date_entry(h.url, strlen(h.url), h.date);
    dins.append(reinterpret_cast<const char*>(&e), sizeof e);
  }
  EXPECT_EQ(read_file(root_.file("m/din")), dins);
  EXPECT_EQ(read_file(root_.file("m/ti0")), read_file(root_.file("ref/ti0")));
  // The adj file walks the 120 documents back to the kept ones.
  std::vector<uint8_t> marks;
  bool oom;
  ASSERT_EQ(read_adj_file(root_.file("m/adj"), &marks, &oom), "");
  ASSERT_EQ(marks.size(), all.size());
  for (size_t g = 0; g < all.size(); ++g) EXPECT_EQ(marks[g] == 0, all[g] == 'K') << g;
}

TEST_F(DbMergeTest, SourceWithoutDateMapGivesZeroEntries) {
  idbm_db* a = source("a", 0, "KKK");
  // Reopened without its "din".
  idbm_close(a);
  open_.erase(open_.begin());
  unlink(root_.file("a/din").c_str());
  a = open_query(root_.file("a"));
  ASSERT_EQ(a->din.address, nullptr);
  ASSERT_TRUE(merge("m", {a}, false).ok);
  EXPECT_EQ(read_file(root_.file("m/din")), std::string(24, '\0'));
  struct stat st;
  EXPECT_NE(stat(root_.file("m/adj").c_str(), &st), 0);  // not asked for
}

TEST_F(DbMergeTest, OnlyDeletedDocumentsGiveAnEmptyResult) {
  idbm_db* a = source("a", 0, "DDU");
  LogCapture log;
  merge_outcome r = merge("m", {a});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "empty merge result");
  EXPECT_FALSE(log.contains("expunging"));
  for (const char* name : {"dir", "ti0", "del", "din", "tf0", "cat"})
    EXPECT_EQ(read_file(root_.file(std::string("m/") + name)), "") << name;
  EXPECT_EQ(idbm_open_plain(root_.file("m").c_str(), nullptr), nullptr);
}

TEST_F(DbMergeTest, AReusedTargetKeepsNothingOfWhatItHeld) {
  // The target held a bigger database with another score setting, a journal
  // and an "adj".
  idbm_db* big = source("m", 100, "KKKKKKKK");
  idbm_close(big);
  open_.clear();
  for (const char* name : {"jnl", "adj"}) {
    FILE* f = fopen(root_.file(std::string("m/") + name).c_str(), "wb");
    fputs("stale", f);
    fclose(f);
  }
  FILE* f = fopen(root_.file("m/inf").c_str(), "wb");
  const int32_t other = 5;
  fwrite(&other, 4, 1, f);
  fclose(f);

  idbm_db* a = source("a", 0, "KDK");
  ASSERT_TRUE(merge("m", {a}, false).ok);
  struct stat st;
  EXPECT_NE(stat(root_.file("m/jnl").c_str(), &st), 0);
  EXPECT_NE(stat(root_.file("m/adj").c_str(), &st), 0);
  EXPECT_EQ(read_file(root_.file("m/ti0")).size(), 2 * kTitleRecordSize);
  EXPECT_EQ(read_file(root_.file("m/del")).size(), 2u);
  EXPECT_EQ(read_file(root_.file("m/din")).size(), 16u);
  EXPECT_EQ(read_file(root_.file("m/inf")), std::string("\x01\x00\x00\x00", 4));
  idbm_db* m = open_query(root_.file("m"));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->ndocs, 2u);
  EXPECT_EQ(m->icube, nullptr);  // a query database, not a replayed journal
}

long hook_steps = 0;
long hook_fail_at = -1;
int fail_at_step(const char*, const char*) { return ++hook_steps == hook_fail_at ? EIO : 0; }

// A merge into a directory that holds a database, failing at each of its
// steps in turn (every write, sync, rename and removal): each failure is
// reported, and the directory then holds the old database or the new one,
// file for file. The old one has three term-file parts, an "adj" and a
// journal (of documents indexed since, say), the new one more documents in
// one part, no "adj" and no journal.
TEST_F(DbMergeTest, AMergeIntoAUsedDirectoryFailingAtAnyStepLeavesTheOldOrTheNewDatabase) {
  idbm_part_limit = 100;
  idbm_db* old_source = source("o", 40, "KKDKK");
  ASSERT_TRUE(merge("m", {old_source}).ok);
  idbm_part_limit = kPartLimit;
  FILE* jnl = fopen(root_.file("m/jnl").c_str(), "wb");
  ASSERT_NE(jnl, nullptr);
  fwrite("\0\0\0\0", 1, 4, jnl);  // one document without terms
  fclose(jnl);
  idbm_db* b = source("b", 0, "KKKKDKKUKKKK");
  idbm_db* c = source("c", 12, "KKKKKKKKD");
  const auto old_db = testing::dir_snapshot(root_.file("m"));
  ASSERT_GT(old_db.count("tf2"), 0u);
  ASSERT_GT(old_db.count("adj"), 0u);

  testing::copy_dir(root_.file("m"), root_.file("want"));
  ASSERT_TRUE(merge("want", {b, c}, false, true).ok);
  const auto new_db = testing::dir_snapshot(root_.file("want"));
  EXPECT_EQ(new_db.count("tf1"), 0u);
  EXPECT_EQ(new_db.count("adj"), 0u);
  EXPECT_EQ(new_db.count("jnl"), 0u);
  EXPECT_EQ(new_db.at("ti0").size(), 18 * kTitleRecordSize);

  testing::copy_dir(root_.file("m"), root_.file("run"));
  hook_steps = 0;
  hook_fail_at = -1;
  durable_hook = fail_at_step;
  ASSERT_TRUE(merge("run", {b, c}, false, true).ok);
  durable_hook = nullptr;
  const long steps = hook_steps;
  ASSERT_GT(steps, 40);
  EXPECT_EQ(testing::settled_snapshot(root_.file("run")), new_db);

  int kept_old = 0, got_new = 0;
  for (long at = 1; at <= steps; ++at) {
    SCOPED_TRACE(at);
    testing::copy_dir(root_.file("m"), root_.file("run"));
    hook_steps = 0;
    hook_fail_at = at;
    durable_hook = fail_at_step;
    merge_outcome r;
    {
      LogCapture quiet;
      r = merge("run", {b, c}, false, true);
    }
    durable_hook = nullptr;
    EXPECT_FALSE(r.ok);
    const auto now = testing::settled_snapshot(root_.file("run"));
    const bool is_old = now == old_db, is_new = now == new_db;
    EXPECT_TRUE(is_old || is_new) << r.message;
    kept_old += is_old;
    got_new += is_new;
  }
  EXPECT_GT(kept_old, 0);
  EXPECT_GT(got_new, 0);
  std::printf("%ld steps: %d failures left the old database, %d the new one\n", steps, kept_old, got_new);
}

TEST_F(DbMergeTest, TargetsInsideASourceAndSourcesOpenForIndexingAreRefused) {
  idbm_db* a = source("a", 0, "KK");
  std::map<std::string, std::string> before;
  for (const auto& e : std::filesystem::directory_iterator(root_.file("a")))
    before[e.path().filename()] = read_file(e.path());
  ASSERT_EQ(symlink(root_.file("a").c_str(), root_.file("link").c_str()), 0);
  for (const std::string& target : {root_.file("a"), root_.file("a/"), root_.file("a/tf0"), root_.file("a/sub"),
                                    root_.file("link"), root_.file("x/../a"), root_.file("link/sub/deeper")}) {
    EXPECT_EQ(merge_precheck(target.c_str(), {a}, {}), "Merge target lies in database 1") << target;
  }
  EXPECT_EQ(merge_precheck(root_.file("ab").c_str(), {a}, {}), "");
  EXPECT_EQ(merge_precheck(root_.path().c_str(), {a}, {}), "");  // a parent of the source is no source

  idbm_db* incr = idbm_open_incr(root_.file("i").c_str(), 0, 4, 1, nullptr);
  ASSERT_NE(incr, nullptr);
  testing::set_db_id(incr, 7);
  EXPECT_EQ(merge_precheck(root_.file("m").c_str(), {a, incr}, {}), "Database open for indexing: 7");
  idbm_close(incr);

  std::map<std::string, std::string> after;
  for (const auto& e : std::filesystem::directory_iterator(root_.file("a")))
    after[e.path().filename()] = read_file(e.path());
  EXPECT_EQ(after, before);
}

TEST_F(DbMergeTest, DeletionOnAnotherThreadDuringTheMergeShowsUp) {
  idbm_db* a = source("a", 0, "KKDK");
  static idbm_db* to_delete;
  to_delete = a;
  merge_db_step = [](const char* step, const int32_t*, uint64_t) {
    if (strcmp(step, "map") != 0) return;
    std::thread([] { idbm_delete(to_delete, 3); }).join();  // new docid 2
  };
  LogCapture log;
  ASSERT_TRUE(merge("m", {a}).ok);
  EXPECT_TRUE(log.contains("propagated 1 new doc deletions made while merging")) << log.all();
  EXPECT_EQ(read_file(root_.file("m/del")), std::string("\0\0\xff", 3));
}

TEST_F(DbMergeTest, DeletionsNeverGoIntoAReadOnlyMap) {
  idbm_db* a = source("a", 0, "KKK");
  ASSERT_TRUE(merge("m", {a}).ok);
  idbm_db* m = open_query(root_.file("m"));
  // As on a read-only file system: the deletion map falls back to read-only.
  ASSERT_TRUE(testing::remap_del_read_only(m));
  EXPECT_TRUE(merge_deletion_map(m, {a}).ok);  // nothing to change
  ASSERT_EQ(idbm_delete(a, 1), 1);
  merge_outcome r = merge_deletion_map(m, {a});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "Failed: idbm_demote");
  EXPECT_EQ(read_file(root_.file("m/del")), std::string(3, '\0'));
}

TEST_F(DbMergeTest, FailedWritesAreReportedAsFailures) {
  idbm_db* a = source("a", 0, "KKK");
  struct stat st;
  if (stat("/dev/full", &st) != 0) GTEST_SKIP() << "no /dev/full";
  // Each file of the new database in turn on a device that is always full:
  // the file it is written as until the commit is made a link to it once
  // the merge has begun.
  static std::string full_path;
  merge_db_step = [](const char* step, const int32_t*, uint64_t) {
    if (strcmp(step, "begun") == 0) symlink("/dev/full", full_path.c_str());
  };
  const struct {
    const char* file;
    const char* message;
  } cases[] = {{"ti0", "ti0 fwrite: No space left on device"},
               {"del", "del fputc: No space left on device"},
               {"din", "din fwrite: No space left on device"}};
  for (const auto& c : cases) {
    const std::string dir = root_.file(std::string("m-") + c.file);
    ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
    full_path = dir + "/." + c.file + ".new";
    merge_outcome r = merge(std::string("m-") + c.file, {a});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, c.message);
  }
  // The "adj" file.
  static std::string adj_path;
  adj_path = root_.file("m-adj/.adj.new");
  merge_db_step = [](const char* step, const int32_t*, uint64_t) {
    if (strcmp(step, "merged") == 0) symlink("/dev/full", adj_path.c_str());
  };
  merge_outcome r = merge("m-adj", {a});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "adj fwrite: No space left on device");
}

}  // namespace
}  // namespace vorlane::engine
