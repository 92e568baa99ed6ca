// Crash recovery: a child process indexes documents (and sometimes saves) and
// is killed with SIGKILL at seeded random points. Reopening must recover
// every document whose insert returned, lose none, and give exactly what the
// documents make; a save cut short must reopen from its journal.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/testing/test_root.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/index_fixture.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane {
namespace {

using testing::index_model;
using testing::synthetic_doc;
using testing::test_doc;

constexpr uint32_t kCapacity = 4000;
constexpr uint32_t kDocsPerRun = 150;
constexpr uint32_t kVocab = 300;
constexpr uint32_t kMaxTerms = 30;
constexpr uint32_t kSaveStarted = 0xFFFFFFFFu;
constexpr uint32_t kSaveDone = 0xFFFFFFFEu;

void send(int fd, uint32_t v) {
  if (write(fd, &v, 4) != 4) _exit(5);
}

// The child: opens (replaying the journal), reports where it starts, indexes
// documents reporting each docid whose insert returned, then maybe saves.
[[noreturn]] void child(const std::string& path, uint32_t seed, bool save, int fd) {
  idbm_db* db = idbm_open_incr(path.c_str(), 0, kCapacity, 1, nullptr);
  if (!db) _exit(3);
  send(fd, db->ndocs);
  const uint32_t first = db->ndocs;
  for (uint32_t docid = first; docid < first + kDocsPerRun && docid < kCapacity; ++docid) {
    test_doc d = synthetic_doc(seed, docid, kVocab, kMaxTerms);
    if (idbm_index_and_log(db, d.terms(), nullptr, static_cast<uint8_t>(docid % 3), 0, 0, 0) !=
        static_cast<int>(docid + 1))
      _exit(4);
    send(fd, docid);
  }
  if (save) {
    send(fd, kSaveStarted);
    if (idbm_write(db, 1) != 1) _exit(6);
    send(fd, kSaveDone);
  }
  _exit(0);
}

index_model model_of(uint32_t seed, uint32_t ndocs) {
  index_model m;
  for (uint32_t docid = 0; docid < ndocs; ++docid) m.add(synthetic_doc(seed, docid, kVocab, kMaxTerms));
  return m;
}

// Every term of the model has exactly its postings, and there are no others.
void expect_incremental_matches(idbm_db* db, uint32_t seed) {
  const index_model m = model_of(seed, db->ndocs);
  EXPECT_EQ(static_cast<size_t>(db->cache_used.load()), m.postings.size());
  for (const auto& [k, list] : m.postings) {
    const uint32_t* r = idbm_find(db, k.first, k.second);
    ASSERT_NE(r, nullptr);
    std::vector<uint32_t> want = {k.first, k.second, static_cast<uint32_t>(list.size())};
    std::vector<uint32_t> got = {r[0], r[1], r[2]};
    for (uint32_t i = 0; i < rec_full_count(r); ++i) got.push_back(r[4 + i]);
    for (const auto& [docid, freq] : list) want.push_back((docid << 7) | freq);
    ASSERT_EQ(got, want);
  }
  const auto* del = static_cast<const uint8_t*>(db->del.address);
  for (uint32_t docid = 0; docid < db->ndocs; ++docid) ASSERT_EQ(del[docid], docid % 3) << docid;
}

// Opens the saved database for querying (flags as idbm_open, without the
// incremental open when a journal exists) and checks it against the model.
void expect_saved_matches(const std::string& path, uint32_t seed, uint32_t ndocs) {
  cache_release_arenas();
  cache_add_arena(0, 64);
  cache_add_arena(kCapacity, 64);
  idbm_db* db = idbm_openInner(path.c_str(), 0, 0, 0, 0, nullptr, IDBM_KEEP_DIR | IDBM_SCORE_MAP);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(idbm_cache(db, 4 * cache_total_slots()), 1);
  EXPECT_EQ(db->ndocs, ndocs);
  const index_model m = model_of(seed, db->ndocs);
  EXPECT_EQ(idbm_dir_words(db)[1], m.postings.size());
  for (const auto& [k, list] : m.postings) {
    const uint32_t* r = idbm_find(db, k.first, k.second);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(testing::record_words(r), testing::expected_found(m, k, false, db->score_map, kDefaultPostingLimit));
    unpin_record(r);
  }
  idbm_close(db);
  cache_release_arenas();
}

TEST(CrashRecovery, KilledIndexerLosesNoDocumentWhoseInsertReturned) {
  init_percent_table();
  signal(SIGPIPE, SIG_IGN);
  std::mt19937 rng(20261210);
  platform::TestRoot root;
  std::string path;
  uint32_t seed = 0, known_docs = 0;
  int saves_cut = 0, saves_done = 0, saves_whole = 0;
  for (int run = 0; run < 60; ++run) {
    SCOPED_TRACE(run);
    // A fresh database now and then; otherwise the last one goes on from its
    // journal.
    if (path.empty() || rng() % 4 == 0 || known_docs + kDocsPerRun > kCapacity) {
      seed = rng();
      path = root.file("db" + std::to_string(run));
      known_docs = 0;
    }
    const bool save = rng() % 3 == 0;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      child(path, seed, save, fds[1]);
    }
    close(fds[1]);

    uint32_t start = 0;
    ASSERT_EQ(read(fds[0], &start, 4), 4);
    EXPECT_EQ(start, known_docs);  // the child's replay found every document
    int64_t acked = static_cast<int64_t>(start) - 1;
    bool save_started = false, save_done = false;
    auto take = [&](uint32_t v) {
      if (v == kSaveStarted) save_started = true;
      else if (v == kSaveDone) save_done = true;
      else acked = v;
    };
    // Kill after a random number of returned inserts (plus a little), or
    // somewhere inside the save.
    const uint32_t wait_for = rng() % (kDocsPerRun + 1);
    const useconds_t delay = save ? rng() % 8000 : rng() % 300;
    const bool let_save_finish = save && rng() % 3 == 0;
    uint32_t v;
    auto reached = [&] {
      if (let_save_finish) return save_done;
      return save ? save_started : acked + 1 >= static_cast<int64_t>(start + wait_for);
    };
    while (!reached() && read(fds[0], &v, 4) == 4) take(v);
    usleep(delay);
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
    while (read(fds[0], &v, 4) == 4) take(v);
    close(fds[0]);

    const bool journal = access((path + "/jnl").c_str(), F_OK) == 0;
    if (!journal) {
      // The save finished: every document is in the saved database.
      ASSERT_TRUE(save_started);
      expect_saved_matches(path, seed, static_cast<uint32_t>(acked + 1));
      ++saves_done;
      path.clear();
      continue;
    }
    EXPECT_FALSE(save_done);
    saves_cut += save_started;
    if (save_started) {
      // A save cut short before its commit point leaves the database saved
      // before it (none for a new one) whole; one cut after it, when only the
      // journal's deletion was missing, leaves the new one whole. Either way a
      // query open sees a whole database of the first documents.
      idbm_db* q = idbm_openInner(path.c_str(), 0, 0, 0, 0, nullptr, IDBM_KEEP_DIR);
      if (q) {
        const uint32_t saved_docs = q->ndocs;
        idbm_close(q);
        EXPECT_LE(static_cast<int64_t>(saved_docs), acked + 1);
        expect_saved_matches(path, seed, saved_docs);
        saves_whole += static_cast<int64_t>(saved_docs) == acked + 1;
      }
    }
    idbm_db* db = idbm_open(path.c_str(), 0, kCapacity, 1, nullptr);  // incremental, the journal exists
    ASSERT_NE(db, nullptr);
    ASSERT_NE(db->icube, nullptr);
    EXPECT_GE(static_cast<int64_t>(db->ndocs), acked + 1);   // nothing returned is lost
    EXPECT_LE(static_cast<int64_t>(db->ndocs), acked + 2);   // at most the one in flight
    expect_incremental_matches(db, seed);
    known_docs = db->ndocs;
    idbm_close(db);
  }
  // The seeded schedule cuts saves short and lets others finish.
  EXPECT_GT(saves_cut + saves_done, 5);
  RecordProperty("saves_cut", saves_cut);
  RecordProperty("saves_done", saves_done);
  RecordProperty("saves_whole_with_journal", saves_whole);
}

// The step of idbm_write at which the child of the next test kills itself.
const char* kill_at_step = nullptr;

void kill_at(const char* step) {
  if (strcmp(step, kill_at_step) == 0) raise(SIGKILL);
}

// A save killed at each of its steps: until the directory header is in place
// no query open accepts the database; once it is, every saved file is whole
// (the term files written out before the header, not after it); and while
// the journal exists it gives back every document.
TEST(CrashRecovery, SaveKilledAtEachStepLeavesNoHalfDatabase) {
  init_percent_table();
  platform::TestRoot root;
  constexpr uint32_t kSeed = 7, kDocs = 150;
  const struct {
    const char* step;
    bool header;   // a query open accepts the database
    bool journal;  // the journal is still there
  } cases[] = {
      {"records", false, true}, {"synced", false, true}, {"header", true, true}, {"journal", true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    const std::string path = root.file(std::string("db_") + c.step);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      kill_at_step = c.step;
      idbm_write_step = kill_at;
      idbm_db* db = idbm_open_incr(path.c_str(), 0, kCapacity, 1, nullptr);
      if (!db) _exit(3);
      for (uint32_t docid = 0; docid < kDocs; ++docid) {
        test_doc d = synthetic_doc(kSeed, docid, kVocab, kMaxTerms);
        if (idbm_index_and_log(db, d.terms(), nullptr, static_cast<uint8_t>(docid % 3), 0, 0, 0) !=
            static_cast<int>(docid + 1))
          _exit(4);
      }
      idbm_write(db, 1);
      _exit(0);  // not reached: the step kills the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    EXPECT_EQ(access((path + "/jnl").c_str(), F_OK) == 0, c.journal);
    idbm_db* q = idbm_openInner(path.c_str(), 0, 0, 0, 0, nullptr, IDBM_KEEP_DIR);
    EXPECT_EQ(q != nullptr, c.header);
    if (q) idbm_close(q);
    if (c.header) expect_saved_matches(path, kSeed, kDocs);
    if (c.journal) {
      idbm_db* db = idbm_open(path.c_str(), 0, kCapacity, 1, nullptr);
      ASSERT_NE(db, nullptr);
      EXPECT_EQ(db->ndocs, kDocs);
      expect_incremental_matches(db, kSeed);
      idbm_close(db);
    }
  }
}

}  // namespace
}  // namespace vorlane
