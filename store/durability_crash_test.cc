// A real process killed with SIGKILL inside a second save, a merge and a
// directory rebuild, at seeded points: either at the k-th durable step (the
// process kills itself from the store's step hook) or after a seeded delay
// (the parent kills it). After every run the database must open for queries
// and hold exactly the records of the documents it held when the operation
// began, or (once the operation is committed) of the new documents alone.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/testing/test_root.h"
#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_reader.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/term_merge.h"
#include "store/testing/db_check.h"
#include "store/testing/index_fixture.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane {
namespace {

using testing::copy_dir;
using testing::index_model;
using testing::synthetic_doc;

constexpr uint32_t kVocab = 300;
constexpr uint32_t kMaxTerms = 25;
constexpr uint32_t kCapacity = 200;
constexpr int kRunsPerScenario = 70;

// The child's step counter: the process ends itself at step kill_step.
long step_count = 0;
long kill_step = -1;

int count_step(const char*, const char*) {
  if (++step_count == kill_step) raise(SIGKILL);
  return 0;
}
void count_write_step(const char*) { count_step("", ""); }

void arm(long at) {
  step_count = 0;
  kill_step = at;
  durable_hook = count_step;
  idbm_write_step = count_write_step;
}
void disarm() {
  durable_hook = nullptr;
  idbm_write_step = nullptr;
}

index_model model_of(const std::vector<std::pair<uint32_t, uint32_t>>& corpora) {
  index_model m;
  for (const auto& [seed, n] : corpora)
    for (uint32_t d = 0; d < n; ++d) m.add(synthetic_doc(seed, d, kVocab, kMaxTerms));
  return m;
}

// A database of n documents of seed, indexed raw and saved (or only
// journaled).
void build(const std::string& path, uint32_t seed, uint32_t n, bool save) {
  idbm_db* db = idbm_open_incr(path.c_str(), 0, kCapacity, 1, nullptr);
  ASSERT_NE(db, nullptr);
  for (uint32_t d = 0; d < n; ++d) {
    testing::test_doc doc = synthetic_doc(seed, d, kVocab, kMaxTerms);
    ASSERT_EQ(idbm_index_and_log(db, doc.terms(), nullptr, 0, 0, 0, 0), static_cast<int>(d + 1));
  }
  if (save) {
    ASSERT_EQ(idbm_write(db, 1), 1);
  }
  ASSERT_EQ(idbm_close(db), 1);
}

::testing::AssertionResult matches(const std::string& path, const index_model& m) {
  return testing::saved_db_matches(path, m, kCapacity);
}

// One scenario: prepare(run) readies the run's directory in the parent,
// operate() is the child's work after arm() (it returns whether the operation
// reported success). The parent learns over a pipe whether it returned.
struct scenario {
  const char* name;
  std::function<void(const std::string&)> prepare;
  std::function<bool(const std::string&, long kill_at)> operate;
  std::function<void(const std::string&, bool completed)> check;
};

struct run_outcome {
  bool completed;  // the operation returned success before the kill
  bool killed;
};

run_outcome run_child(const scenario& s, const std::string& path, long kill_at, int delay_us) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const char ok = s.operate(path, kill_at) ? 1 : 0;
    if (write(fds[1], &ok, 1) != 1) _exit(5);
    _exit(0);
  }
  close(fds[1]);
  if (delay_us >= 0) {
    usleep(static_cast<useconds_t>(delay_us));
    kill(pid, SIGKILL);
  }
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  char ok = 0;
  const bool reported = read(fds[0], &ok, 1) == 1;
  close(fds[0]);
  EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
  return {reported && ok == 1, WIFSIGNALED(status)};
}

// Runs a scenario: one measuring run (steps and time of an undisturbed
// operation), then seeded runs killed at a step or after a delay.
void run_scenario(const scenario& s, const platform::TestRoot& root, uint32_t seed) {
  SCOPED_TRACE(s.name);
  const std::string path = root.file(std::string("run_") + s.name);
  // Measure: the child reports its step count through its exit code's pipe.
  s.prepare(path);
  long total_steps = 0;
  double total_us = 0;
  {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      const bool ok = s.operate(path, -1);
      const long n = ok ? step_count : -1;
      if (write(fds[1], &n, sizeof n) != sizeof n) _exit(5);
      _exit(0);
    }
    close(fds[1]);
    ASSERT_EQ(read(fds[0], &total_steps, sizeof total_steps), static_cast<ssize_t>(sizeof total_steps));
    close(fds[0]);
    int status;
    waitpid(pid, &status, 0);
    total_us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
  }
  ASSERT_GT(total_steps, 0);
  s.check(path, true);

  std::mt19937 rng(seed);
  int completed = 0, killed = 0;
  for (int run = 0; run < kRunsPerScenario && !::testing::Test::HasFatalFailure(); ++run) {
    SCOPED_TRACE(run);
    s.prepare(path);
    long kill_at = -1;
    int delay = -1;
    if (rng() % 4 != 0) kill_at = 1 + static_cast<long>(rng() % static_cast<uint32_t>(total_steps + 1));
    else delay = static_cast<int>(rng() % static_cast<uint32_t>(std::max(1.0, total_us)));
    const run_outcome o = run_child(s, path, kill_at, delay);
    completed += o.completed;
    killed += o.killed;
    s.check(path, o.completed);
  }
  EXPECT_GT(killed, kRunsPerScenario / 2);
  ::testing::Test::RecordProperty(std::string(s.name) + "_steps", static_cast<int>(total_steps));
  ::testing::Test::RecordProperty(std::string(s.name) + "_completed", completed);
}

class DurabilityCrash : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_percent_table(); }
  void SetUp() override { signal(SIGPIPE, SIG_IGN); }
  void TearDown() override {
    disarm();
    idbm_part_limit = kPartLimit;
  }
  platform::TestRoot root_;
};

// A second save of the same handle has no journal behind it: killed anywhere,
// the database is the saved one, whole.
TEST_F(DurabilityCrash, SecondSave) {
  constexpr uint32_t kSeed = 11, kDocs = 60;
  const std::string journaled = root_.file("journaled");
  build(journaled, kSeed, kDocs, false);
  const index_model m = model_of({{kSeed, kDocs}});
  scenario s{
      "second_save",
      [&](const std::string& path) { copy_dir(journaled, path); },
      [&](const std::string& path, long kill_at) {
        idbm_part_limit = 4096;  // several parts
        idbm_db* db = idbm_open_incr(path.c_str(), 0, kCapacity, 1, nullptr);
        if (!db || db->ndocs != kDocs || idbm_write(db, 1) != 1) _exit(3);
        // Deletions between the saves, as a script makes them.
        idbm_delete(db, 3);
        arm(kill_at);
        const bool ok = idbm_write(db, 1) == 1;
        disarm();
        return ok && idbm_close(db) == 1;
      },
      [&](const std::string& path, bool) {
        if (access((path + "/jnl").c_str(), F_OK) == 0) {
          // Killed before the first save was done: the journal gives back
          // every document.
          idbm_db* db = idbm_open_incr(path.c_str(), 0, kCapacity, 1, nullptr);
          ASSERT_NE(db, nullptr);
          EXPECT_EQ(db->ndocs, kDocs);
          idbm_close(db);
          return;
        }
        EXPECT_TRUE(matches(path, m));
      }};
  run_scenario(s, root_, 20261210);
}

// A merge into a directory that holds a database: until the merge commits the
// old database is whole; once it has returned, the merged one is.
TEST_F(DurabilityCrash, MergeOverAnExistingDatabase) {
  constexpr uint32_t kOld = 21, kOldDocs = 40, kA = 22, kADocs = 50, kB = 23, kBDocs = 30;
  const std::string old_db = root_.file("old"), a = root_.file("a"), b = root_.file("b");
  idbm_part_limit = 4096;
  build(old_db, kOld, kOldDocs, true);
  build(a, kA, kADocs, true);
  build(b, kB, kBDocs, true);
  idbm_part_limit = kPartLimit;
  const index_model old_model = model_of({{kOld, kOldDocs}});
  const index_model merged = model_of({{kA, kADocs}, {kB, kBDocs}});
  scenario s{
      "merge",
      [&](const std::string& path) { copy_dir(old_db, path); },
      [&](const std::string& path, long kill_at) {
        idbm_part_limit = 2048;
        idbm_db* src[] = {idbm_openInner(a.c_str(), 0, 0, 0, 0, nullptr, 0),
                          idbm_openInner(b.c_str(), 0, 0, 0, 0, nullptr, 0)};
        if (!src[0] || !src[1]) _exit(3);
        arm(kill_at);
        idbm_db* out = idbm_newdb(path.c_str(), 0);
        if (!out) return false;
        // The caller's part of a merge: document count, deletion bytes.
        out->ndocs = kADocs + kBDocs;
        const std::vector<unsigned char> zeros(out->ndocs, 0);
        rewind(out->del_stream);
        if (fwrite(zeros.data(), 1, zeros.size(), out->del_stream) != zeros.size()) return false;
        for (FILE** f : {&out->ti_stream, &out->del_stream, &out->din_stream, &out->inf_stream}) {
          if (*f) fclose(*f);
          *f = nullptr;
        }
        const bool ok = idbm_merge(2, src, out, nullptr) == 1;
        disarm();
        return idbm_close(out) == 1 && ok;
      },
      [&](const std::string& path, bool completed) {
        idbm_db* q = idbm_openInner(path.c_str(), 0, 0, 0, 0, nullptr, 0);
        ASSERT_NE(q, nullptr);
        const uint32_t n = q->ndocs;
        idbm_close(q);
        if (completed) {
          EXPECT_EQ(n, merged.ndocs);
        }
        EXPECT_TRUE(matches(path, n == merged.ndocs ? merged : old_model));
      }};
  run_scenario(s, root_, 20261211);
}

// A directory rebuild: "dir" exists at every moment and is the same
// directory before and after.
TEST_F(DurabilityCrash, DirectoryRebuild) {
  constexpr uint32_t kSeed = 31, kDocs = 60;
  const std::string saved = root_.file("saved");
  idbm_part_limit = 2048;
  build(saved, kSeed, kDocs, true);
  idbm_part_limit = kPartLimit;
  const std::string original = testing::read_file(saved + "/dir");
  const index_model m = model_of({{kSeed, kDocs}});
  scenario s{
      "rebuild",
      [&](const std::string& path) { copy_dir(saved, path); },
      [&](const std::string& path, long kill_at) {
        idbm_db* db = idbm_openInner(path.c_str(), 0, 0, 0, 0, nullptr, IDBM_KEEP_DIR);
        if (!db) _exit(3);
        arm(kill_at);
        const bool ok = idbm_mkdir(db) == 1;
        disarm();
        return idbm_close(db) == 1 && ok;
      },
      [&](const std::string& path, bool) {
        EXPECT_EQ(testing::read_file(path + "/dir"), original);
        EXPECT_TRUE(matches(path, m));
      }};
  run_scenario(s, root_, 20261212);
}

}  // namespace
}  // namespace vorlane
