// Query handles reading a database while another handle saves over it, twice
// per session: a handle opened before keeps reading the old files whole, and
// every new open sees one whole database, the old or the new. A writer
// holds its directory from its open to its commit or close, also while it
// waits for the directory's lock to start its save or to drop its files.
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "platform/testing/test_root.h"
#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/db_check.h"
#include "store/testing/index_fixture.h"
#include "store/testing/log_capture.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane {
namespace {

using testing::index_model;
using testing::synthetic_doc;

constexpr uint32_t kCapacity = 200;

index_model model_of(uint32_t seed, uint32_t n) {
  index_model m;
  for (uint32_t d = 0; d < n; ++d) m.add(synthetic_doc(seed, d, 300, 25));
  return m;
}

// Every term of the model as a lookup on db returns it; a message or "".
std::string mismatch(idbm_db* db, const index_model& m) {
  if (db->ndocs != m.ndocs) return "ndocs " + std::to_string(db->ndocs);
  if (idbm_dir_words(db)[1] != m.postings.size()) return "nterms " + std::to_string(idbm_dir_words(db)[1]);
  for (const auto& [k, list] : m.postings) {
    const uint32_t* r = idbm_find(db, k.first, k.second);
    if (!r) return "missing term " + std::to_string(k.first);
    const bool same = testing::record_words(r) == testing::expected_found(m, k, false, db->score_map, kDefaultPostingLimit);
    unpin_record(r);
    if (!same) return "term " + std::to_string(k.first) + " differs";
  }
  return "";
}

idbm_db* open_query(const std::string& path) {
  idbm_db* db = idbm_openInner(path.c_str(), 0, 0, 0, 0, nullptr, IDBM_KEEP_DIR | IDBM_SCORE_MAP);
  if (db && !idbm_cache(db, 4 * cache_total_slots())) {
    idbm_close(db);
    return nullptr;
  }
  return db;
}

TEST(DurabilityConcurrency, QueriesDuringSavesOfAnotherHandleSeeWholeDatabases) {
  init_percent_table();
  platform::TestRoot root;
  const std::string path = root.file("db");
  const index_model models[] = {model_of(41, 50), model_of(42, 35)};
  cache_release_arenas();
  cache_add_arena(0, 64);
  cache_add_arena(kCapacity, 64);

  auto index_and_save = [&](const index_model& m, uint32_t seed, int saves) {
    idbm_db* db = idbm_open_incr(path.c_str(), 0, kCapacity, 1, nullptr);
    if (!db) return false;
    bool ok = true;
    for (uint32_t d = 0; d < m.ndocs && ok; ++d) {
      testing::test_doc t = synthetic_doc(seed, d, 300, 25);
      ok = idbm_index_and_log(db, t.terms(), nullptr, 0, 0, 0, 0) == static_cast<int>(d + 1);
    }
    for (int s = 0; s < saves && ok; ++s) ok = idbm_write(db, 1) == 1;
    return idbm_close(db) == 1 && ok;
  };
  ASSERT_TRUE(index_and_save(models[0], 41, 1));

  idbm_db* early = open_query(path);  // opened before any save over it
  ASSERT_NE(early, nullptr);
  std::atomic<bool> done{false};
  std::atomic<int> writer_ok{0};
  constexpr int kSessions = 6;
  std::thread writer([&] {
    for (int i = 0; i < kSessions; ++i) {
      const int which = (i + 1) % 2;
      writer_ok += index_and_save(models[which], which ? 42 : 41, 2);
    }
    done = true;
  });

  int fresh_opens = 0, seen[2] = {0, 0};
  std::string early_error, fresh_error;
  while (!done.load() || fresh_opens < 5) {
    if (early_error.empty()) early_error = mismatch(early, models[0]);
    idbm_db* q = open_query(path);
    if (!q) {
      fresh_error = "a query open failed";
      break;
    }
    const int which = q->ndocs == models[1].ndocs ? 1 : 0;
    const std::string e = mismatch(q, models[which]);
    idbm_close(q);
    if (!e.empty()) {
      fresh_error = e;
      break;
    }
    ++seen[which];
    ++fresh_opens;
  }
  writer.join();
  EXPECT_EQ(early_error, "");
  EXPECT_EQ(fresh_error, "");
  EXPECT_EQ(writer_ok.load(), kSessions);
  idbm_close(early);
  RecordProperty("old_seen", seen[0]);
  RecordProperty("new_seen", seen[1]);
  cache_release_arenas();
}

// A handle opened for indexing saves, or is closed unsaved, while another
// process holds the directory's lock (an open finishing a commit, say). Until
// the handle has the directory it keeps its marker locked: an open that
// looks meanwhile leaves its writing alone, and no second writer can start
// in between. Then the save commits, or the close drops the writing.
TEST(DurabilityConcurrency, AWriterWaitingForItsDirectoryKeepsItsWriting) {
  init_percent_table();
  const struct {
    const char* what;
    std::function<int(idbm_db*)> op;
    bool saved;  // "dir" is there afterwards
  } cases[] = {
      {"save", [](idbm_db* db) { return idbm_write(db, 1) + idbm_close(db) - 1; }, true},
      {"close unsaved", [](idbm_db* db) { return idbm_close(db); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    platform::TestRoot root;
    const std::string path = root.file("db");
    const std::string marker = path + "/.dir.new";
    idbm_db* db = idbm_open_incr(path.c_str(), 0, kCapacity, 1, nullptr);
    ASSERT_NE(db, nullptr);
    for (uint32_t d = 0; d < 20; ++d) {
      testing::test_doc t = synthetic_doc(43, d, 300, 25);
      ASSERT_EQ(idbm_index_and_log(db, t.terms(), nullptr, 0, 0, 0, 0), static_cast<int>(d + 1));
    }
    ASSERT_FALSE(testing::lock_free(marker));

    std::atomic<int> result{-1};
    std::string seen;
    std::thread writer;
    {
      db_dir_lock directory(path.c_str());
      ASSERT_TRUE(directory.held());
      writer = std::thread([&] { result = c.op(db); });
      // The writer soon waits for the directory; meanwhile its marker is
      // looked at as an open looks at it.
      LogCapture log;
      const auto start = std::chrono::steady_clock::now();
      while (seen.empty() && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(300)) {
        if (testing::lock_free(marker))
          seen = "the marker of a live writer was free";
        else if (!db_finish_commit(path.c_str()) || access(marker.c_str(), F_OK) != 0)
          seen = "an open discarded the writing of a live writer";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      EXPECT_EQ(result.load(), -1) << "the writer did not wait for the directory";
    }
    // The directory is free again: the writer goes on.
    writer.join();
    EXPECT_EQ(seen, "");
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(access(marker.c_str(), F_OK), -1);
    EXPECT_EQ(access((path + "/dir").c_str(), F_OK) == 0, c.saved);
  }
}

}  // namespace
}  // namespace vorlane
