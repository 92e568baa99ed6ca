// Failures while a database is written: a journal write that hits the file
// size limit, a term-file part that cannot be synced, a directory sync or a
// rename that fails, and a reopen whose capacity is too small. Each call
// reports the failure, nothing acknowledged is lost and docids stay aligned.
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/testing/test_root.h"
#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_reader.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/testing/log_capture.h"
#include "store/score_tables.h"
#include "store/term_cache.h"
#include "store/term_merge.h"
#include "store/testing/db_check.h"
#include "store/testing/index_fixture.h"

namespace vorlane {
namespace {

using testing::index_model;
using testing::synthetic_doc;
using testing::test_doc;

constexpr uint32_t kCapacity = 200;
constexpr uint32_t kSeed = 5;

test_doc doc(uint32_t docid) { return synthetic_doc(kSeed, docid, 300, 25); }

uint64_t file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// The injected failure: op on a path that ends with suffix fails with EIO,
// once armed_after renames to a path ending in after_rename have been seen.
struct injection {
  std::string op;
  std::string suffix;
  std::string after_rename;  // empty: from the start
  bool seen = false;
};
injection inject;

bool ends_with(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

int failing_hook(const char* op, const char* path) {
  if (!inject.after_rename.empty() && !inject.seen) {
    if (strcmp(op, "rename") == 0 && ends_with(path, inject.after_rename)) inject.seen = true;
    return 0;
  }
  return inject.op == op && ends_with(path, inject.suffix) ? EIO : 0;
}

class DurabilityTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_percent_table(); }
  void TearDown() override {
    durable_hook = nullptr;
    idbm_part_limit = kPartLimit;
  }
  std::string path() const { return root_.file("db"); }
  idbm_db* open_incr(uint32_t capacity = kCapacity) {
    return idbm_open_incr(path().c_str(), 0, capacity, 1, nullptr);
  }
  // Indexes documents first..first+n-1 into the model too.
  void index(idbm_db* db, uint32_t first, uint32_t n, index_model& m) {
    for (uint32_t d = first; d < first + n; ++d) {
      test_doc t = doc(d);
      ASSERT_EQ(idbm_index_and_log(db, t.terms(), nullptr, 0, 0, 0, 0), static_cast<int>(d + 1));
      m.add(t);
    }
  }
  // The database of documents 0..n-1 at path(), saved; the model gets them.
  void save_new(uint32_t n, index_model& m) {
    idbm_db* db = open_incr();
    ASSERT_NE(db, nullptr);
    index(db, 0, n, m);
    ASSERT_EQ(idbm_write(db, 1), 1);
    idbm_close(db);
  }
  platform::TestRoot root_;
};

// A journal write cut by the file size limit: the record is rolled back to an
// empty one and the document deleted, so the next document keeps its docid on
// replay. When not even the empty record fits, the handle takes no more.
TEST_F(DurabilityTest, FailedJournalWriteKeepsDocidsAligned) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto cap_files_at = [&](uint64_t bytes) {
    rlimit r = saved;
    r.rlim_cur = bytes;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &r), 0);
  };
  const std::string jnl = path() + "/jnl";
  index_model m;
  idbm_db* db = open_incr();
  ASSERT_NE(db, nullptr);
  index(db, 0, 10, m);

  // Room for 8 more bytes: the record is cut, the empty record fits.
  cap_files_at(file_size(jnl) + 8);
  {
    LogCapture log;
    test_doc failed = doc(10);
    EXPECT_EQ(idbm_index_and_log(db, failed.terms(), nullptr, 0, 0, 0, 0), 0);
    EXPECT_TRUE(log.contains("idbm_index_and_log: log"));
  }
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_EQ(db->ndocs, 11u);
  EXPECT_EQ(static_cast<const uint8_t*>(db->del.address)[10], 255);
  m.skip();
  index(db, 11, 5, m);

  // No room at all: the journal ends before the document, later ones are
  // refused.
  const uint64_t before = file_size(jnl);
  cap_files_at(before);
  test_doc failed = doc(16);
  EXPECT_EQ(idbm_index_and_log(db, failed.terms(), nullptr, 0, 0, 0, 0), 0);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  {
    LogCapture log;
    test_doc later = doc(17);
    EXPECT_EQ(idbm_index_and_log(db, later.terms(), nullptr, 0, 0, 0, 0), 0);
    EXPECT_TRUE(log.contains("refuses documents"));
  }
  EXPECT_EQ(file_size(jnl), before);
  idbm_close(db);

  // The replay gives back every acknowledged document under its own docid.
  db = open_incr();
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(testing::incremental_matches(db, m));
  EXPECT_EQ(static_cast<const uint8_t*>(db->del.address)[10], 255);
  ASSERT_EQ(idbm_write(db, 1), 1);
  idbm_close(db);
  EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));
}

// A read error in the middle of the journal is not a torn tail: the open
// fails and no record is cut; the next open replays them all.
TEST_F(DurabilityTest, ReadErrorInTheJournalCutsNothing) {
  index_model m;
  idbm_db* db = open_incr();
  index(db, 0, 10, m);
  idbm_close(db);
  const std::string jnl = testing::read_file(path() + "/jnl");
  static int reads = 0;
  reads = 0;
  durable_hook = [](const char* op, const char*) { return strcmp(op, "read") == 0 && ++reads == 5 ? EIO : 0; };
  {
    LogCapture log;
    EXPECT_EQ(open_incr(), nullptr);
    EXPECT_TRUE(log.contains("idbm_recover_log: read error"));
  }
  durable_hook = nullptr;
  EXPECT_EQ(testing::read_file(path() + "/jnl"), jnl);
  db = open_incr();
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(testing::incremental_matches(db, m));
  idbm_close(db);
}

// Failures of a save's own steps: before the commit point the old files (and
// the journal) stay as they were; after it the new directory is whole, and
// the journal stays until the save has reported success.
TEST_F(DurabilityTest, FailedSaveStepsReportFailureAndLoseNothing) {
  const struct {
    const char* what;
    injection fail;
    bool committed;  // the new files are in place although the save failed
  } cases[] = {
      {"part flush", {"sync", ".tf0.new", ""}, false},
      {"last part sync", {"sync", ".tf3.new", ""}, false},
      {"part close", {"close", ".tf1.new", ""}, false},
      {"catalog sync", {"sync", ".cat.new", ""}, false},
      {"directory sync before writing", {"dirsync", "db", ""}, false},
      {"commit rename", {"rename", "/dir", ""}, false},
      {"directory sync after the commit", {"dirsync", "db", "/dir"}, true},
      {"part rename after the commit", {"rename", "/tf2", "/dir"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(path());
    idbm_part_limit = 1024;  // several parts
    index_model m;
    idbm_db* db = open_incr();
    ASSERT_NE(db, nullptr);
    index(db, 0, 60, m);

    // A failed first save: the journal still holds every document.
    inject = c.fail;
    durable_hook = failing_hook;
    {
      LogCapture log;
      EXPECT_EQ(idbm_write(db, 1), 0);
    }
    durable_hook = nullptr;
    EXPECT_EQ(access((path() + "/jnl").c_str(), F_OK), 0);
    if (c.committed) {
      EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));
    } else {
      EXPECT_NE(access((path() + "/dir").c_str(), F_OK), 0);
    }
    // More documents after the failed save, then a save that works.
    index(db, 60, 5, m);
    ASSERT_EQ(idbm_write(db, 1), 1);
    EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));

    // A failed second save leaves the saved database whole.
    inject = c.fail;
    durable_hook = failing_hook;
    EXPECT_EQ(idbm_write(db, 1), 0);
    durable_hook = nullptr;
    idbm_close(db);
    EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));
    for (const char* tmp : {"/.dir.new", "/.cat.new", "/.tf0.new"})
      EXPECT_NE(access((path() + tmp).c_str(), F_OK), 0) << tmp;
  }
}

// A save that fails after its commit point has given up the directory's
// marker, yet its handle still takes documents into the journal. It takes
// the directory again (finishing the commit cut short) before its next
// document, so it stays the one writer: an open for indexing that comes
// after is refused, and one that comes first (it replays the journal) makes
// the handle refuse further documents.
TEST_F(DurabilityTest, AHandleWhoseSaveFailedAfterItsCommitStaysTheOnlyWriter) {
  const injection failures[] = {{"dirsync", "db", "/dir"}, {"rename", "/tf2", "/dir"}};
  for (const injection& fail : failures) {
    for (const bool other_first : {false, true}) {
      SCOPED_TRACE(fail.op + " " + fail.suffix + (other_first ? ", the other open first" : ""));
      std::filesystem::remove_all(path());
      idbm_part_limit = 1024;  // several parts
      index_model m;
      idbm_db* db = open_incr();
      ASSERT_NE(db, nullptr);
      index(db, 0, 60, m);
      inject = fail;
      durable_hook = failing_hook;
      {
        LogCapture log;
        EXPECT_EQ(idbm_write(db, 1), 0);
      }
      durable_hook = nullptr;
      if (!other_first) {
        index(db, 60, 5, m);
        LogCapture log;
        EXPECT_EQ(open_incr(), nullptr);
        EXPECT_TRUE(log.contains("idbm: another handle is writing")) << log.all();
        ASSERT_EQ(idbm_write(db, 1), 1);
        idbm_close(db);
      } else {
        idbm_db* other = open_incr();
        ASSERT_NE(other, nullptr);
        EXPECT_TRUE(testing::incremental_matches(other, m));
        {
          LogCapture log;
          test_doc t = doc(60);
          EXPECT_EQ(idbm_index_and_log(db, t.terms(), nullptr, 0, 0, 0, 0), 0);
          EXPECT_TRUE(log.contains("idbm: another handle is writing")) << log.all();
        }
        idbm_close(db);
        index(other, 60, 5, m);
        ASSERT_EQ(idbm_write(other, 1), 1);
        idbm_close(other);
      }
      EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));
    }
  }
}

// A merge whose part cannot be synced reports failure and leaves the
// database that was in the directory.
TEST_F(DurabilityTest, FailedMergeLeavesTheOldDatabase) {
  index_model m;
  save_new(40, m);
  const std::string other = root_.file("other");
  idbm_db* db = idbm_open_incr(other.c_str(), 0, kCapacity, 1, nullptr);
  index_model ignored;
  index(db, 0, 30, ignored);
  ASSERT_EQ(idbm_write(db, 1), 1);
  idbm_close(db);

  idbm_db* src = idbm_openInner(other.c_str(), 0, 0, 0, 0, nullptr, 0);
  ASSERT_NE(src, nullptr);
  idbm_db* out = idbm_newdb(path().c_str(), 0);
  ASSERT_NE(out, nullptr);
  out->ndocs = src->ndocs;
  inject = {"sync", ".tf0.new", ""};
  durable_hook = failing_hook;
  {
    LogCapture log;
    EXPECT_EQ(idbm_merge(1, &src, out, nullptr), 0);
  }
  durable_hook = nullptr;
  idbm_close(out);
  idbm_close(src);
  EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));
}

// One writer at a time in a directory: while a handle writes new files a
// second one is refused, and a writer that is gone (its files left as a
// killed process leaves them) is discarded by the next open or writer.
TEST_F(DurabilityTest, OneWriterAtATimeAndAGoneOneIsDiscarded) {
  index_model m;
  save_new(20, m);
  const auto saved = testing::dir_snapshot(path());

  idbm_db* writer = idbm_newdb(path().c_str(), 0);
  ASSERT_NE(writer, nullptr);
  {
    LogCapture log;
    EXPECT_EQ(idbm_newdb(path().c_str(), 0), nullptr);
    EXPECT_TRUE(log.contains("idbm: another handle is writing")) << log.all();
  }
  // Readers meanwhile see the saved database and leave the writing alone.
  EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));
  EXPECT_EQ(access((path() + "/.dir.new").c_str(), F_OK), 0);
  idbm_close(writer);
  EXPECT_EQ(testing::dir_snapshot(path()), saved);

  // What a killed writer leaves: the marker (no longer locked) and
  // temporaries of every kind.
  for (const char* tmp : {"/.dir.new", "/.cat.new", "/.tf0.new", "/.tf3.new", "/.ti0.new", "/.del.new", "/.adj.new"}) {
    FILE* f = fopen((path() + tmp).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("unfinished", f);
    fclose(f);
  }
  {
    LogCapture log;
    EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));
    EXPECT_TRUE(log.contains("idbm: discarded the unfinished writing of")) << log.all();
  }
  EXPECT_EQ(testing::dir_snapshot(path()), saved);
}

// A rebuild whose new directory cannot be synced keeps the old "dir".
TEST_F(DurabilityTest, FailedRebuildKeepsTheDirectory) {
  index_model m;
  save_new(40, m);
  const std::string before = testing::read_file(path() + "/dir");
  idbm_db* db = idbm_openInner(path().c_str(), 0, 0, 0, 0, nullptr, IDBM_KEEP_DIR);
  ASSERT_NE(db, nullptr);
  inject = {"sync", "/.dir", ""};
  durable_hook = failing_hook;
  {
    LogCapture log;
    EXPECT_EQ(idbm_mkdir(db), 0);
  }
  durable_hook = nullptr;
  EXPECT_EQ(testing::read_file(path() + "/dir"), before);
  ASSERT_EQ(idbm_mkdir(db), 1);
  EXPECT_EQ(testing::read_file(path() + "/dir"), before);
  EXPECT_EQ(testing::read_file(path() + "/dir~"), before);
  idbm_close(db);
  EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));
}

// A reopen whose capacity holds the journal's records but not their terms is
// refused before anything is written; a large enough one gets every document.
TEST_F(DurabilityTest, ReopenWithTooSmallACapacityIsRefused) {
  constexpr uint32_t kDocs = 6, kTerms = 1000;
  index_model m;
  idbm_db* db = open_incr(100);
  ASSERT_NE(db, nullptr);
  for (uint32_t d = 0; d < kDocs; ++d) {
    test_doc t;
    for (uint32_t i = 0; i < kTerms; ++i) t.add(d * kTerms + i + 1, 7, static_cast<uint8_t>(1 + i % 100));
    ASSERT_EQ(idbm_index_and_log(db, t.terms(), nullptr, static_cast<uint8_t>(d), 0, 0, 0), static_cast<int>(d + 1));
    m.add(t);
  }
  idbm_close(db);
  const auto before = testing::dir_snapshot(path());
  {
    LogCapture log;
    EXPECT_EQ(open_incr(kDocs), nullptr);  // as many documents, too few terms
    EXPECT_TRUE(log.contains("the capacity is too small"));
  }
  EXPECT_EQ(testing::dir_snapshot(path()), before);
  db = open_incr(100);
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(testing::incremental_matches(db, m));
  for (uint32_t d = 0; d < kDocs; ++d) EXPECT_EQ(static_cast<const uint8_t*>(db->del.address)[d], d);
  idbm_close(db);
}

// An open for indexing refused after it has set the files to its capacity
// (a score setting that conflicts, here) sets their sizes back while it still
// holds the directory, so that no other open for indexing can have mapped
// them at the larger size meanwhile.
TEST_F(DurabilityTest, ARefusedOpenSetsTheSizesBackBeforeItLetsGoOfTheDirectory) {
  index_model m;
  idbm_db* db = open_incr(100);
  ASSERT_NE(db, nullptr);
  index(db, 0, 5, m);
  idbm_close(db);  // unsaved: the journal holds the documents
  const auto before = testing::dir_snapshot(path());

  static std::string marker, seen;
  marker = path() + "/.dir.new";
  seen.clear();
  durable_hook = [](const char* op, const char* file) {
    if (strcmp(op, "truncate") == 0)
      seen += std::string(testing::lock_free(marker) || access(marker.c_str(), F_OK) != 0 ? "free " : "held ") + file + "; ";
    return 0;
  };
  {
    LogCapture log;
    EXPECT_EQ(idbm_open_incr(path().c_str(), 0, 150, 2, nullptr), nullptr);
    EXPECT_TRUE(log.contains("incr conflict"));
  }
  durable_hook = nullptr;
  EXPECT_EQ(seen, "held " + path() + "/ti0; held " + path() + "/del; held " + path() + "/din; ");
  EXPECT_EQ(testing::dir_snapshot(path()), before);
  db = open_incr(100);
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(testing::incremental_matches(db, m));
  idbm_close(db);
}

// An incremental open over a saved database leaves its files as they are
// until its own save commits: a query handle keeps its mapped directory.
TEST_F(DurabilityTest, IncrementalOpenLeavesTheSavedFiles) {
  index_model m;
  save_new(30, m);
  const std::string dir = testing::read_file(path() + "/dir");
  const std::string tf0 = testing::read_file(path() + "/tf0");
  idbm_db* db = open_incr(10);  // a smaller capacity: nothing is cut either
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(testing::read_file(path() + "/dir"), dir);
  EXPECT_EQ(testing::read_file(path() + "/tf0"), tf0);
  EXPECT_EQ(file_size(path() + "/del"), kCapacity);
  EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));
  idbm_close(db);  // closed without a save: the temporaries go
  EXPECT_NE(access((path() + "/.dir.new").c_str(), F_OK), 0);
  EXPECT_TRUE(testing::saved_db_matches(path(), m, kCapacity));
}

}  // namespace
}  // namespace vorlane
