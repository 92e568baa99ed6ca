// A merge killed with SIGKILL never damages its sources: after every kill
// each source's files hold exactly what they held before and the source
// still opens with all its documents and terms. Killed while it merges into
// a directory that holds a database, at each of its steps or at random
// times, it leaves that database, or the new one, whole; a handle open on
// the old one in another process reads it as before throughout.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "engine/dbmerge/db_merge.h"
#include "platform/testing/test_root.h"
#include "store/db_commit.h"
#include "store/db_handle.h"
#include "store/db_reader.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/score_tables.h"
#include "store/testing/db_check.h"
#include "store/testing/index_fixture.h"
#include "store/title_fetch.h"
#include "store/title_record.h"

namespace vorlane::engine {
namespace {

using files = std::map<std::string, std::string>;

files contents(const std::string& dir) {
  files out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out[e.path().filename()] = testing::read_file(e.path());
  return out;
}

void make_source(const std::string& path, uint32_t first, uint32_t n, uint32_t vocab = 3000) {
  idbm_db* db = idbm_open_incr(path.c_str(), 0, n, 1, nullptr);
  ASSERT_NE(db, nullptr);
  for (uint32_t j = 0; j < n; ++j) {
    const uint32_t g = first + j;
    testing::test_doc d = testing::synthetic_doc(3, g, vocab, 40);
    std::string url = "http://h" + std::to_string(g % 7) + "/d" + std::to_string(g), title = "t", summary = "s", p, t;
    unsigned char rec[kTitleRecordSize];
    title_pack(rec, url.data(), title.data(), summary.data(), p.data(), t.data(), 0, 86400 * g, 0, 0, 0, 0, nullptr,
               nullptr, nullptr, 0);
    ASSERT_GT(idbm_index_and_log(db, d.terms(), rec, 0, 0, 0, 0), 0);
  }
  ASSERT_EQ(idbm_write(db, 1), 1);
  idbm_close(db);
}

// A child's sources, opened for querying, and their document counts; the
// child ends with code 2 when one does not open.
void open_sources(const std::vector<std::string>& sources, std::vector<idbm_db*>* dbs, std::vector<uint32_t>* counts) {
  for (const std::string& s : sources) {
    idbm_db* db = idbm_open(s.c_str(), 0, 0, 0, nullptr);
    if (!db) _exit(2);
    dbs->push_back(db);
    counts->push_back(db->ndocs);
  }
}

// Opens the sources for querying (deleting every seventh document of the
// first) and merges them into target; the child's whole life.
[[noreturn]] void merge_child(const std::vector<std::string>& sources, const std::string& target) {
  std::vector<idbm_db*> dbs;
  std::vector<uint32_t> counts;
  open_sources(sources, &dbs, &counts);
  for (uint32_t d = 0; d < dbs[0]->ndocs; d += 7) idbm_delete(dbs[0], d);
  merge_outcome r = merge_databases(target.c_str(), dbs, counts, kDefaultPostingLimit, true, true);
  _exit(r.ok ? 0 : 3);
}

// Runs one merge in a child, killed after delay (or never, with a negative
// delay); true when it ended by itself with success.
bool run_child(const std::vector<std::string>& sources, const std::string& target, std::chrono::microseconds delay) {
  const pid_t pid = fork();
  if (pid == 0) merge_child(sources, target);
  if (delay.count() >= 0) {
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(DbMergeCrash, KilledMergesNeverDamageSources) {
  init_percent_table();
  platform::TestRoot root;
  const std::vector<std::string> sources = {root.file("a"), root.file("b")};
  make_source(sources[0], 0, 3000);
  make_source(sources[1], 3000, 2000);
  // Deletions are part of a source's life: the child makes some, so the
  // deletion maps as they stand after the first run are the reference.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(run_child(sources, root.file("m"), std::chrono::microseconds(-1)));
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  std::vector<files> before;
  for (const std::string& s : sources) before.push_back(contents(s));

  std::mt19937 rng(108);
  std::uniform_int_distribution<int64_t> at(0, whole.count() * 6 / 5);
  int finished = 0;
  for (int round = 0; round < 30; ++round) {
    finished += run_child(sources, root.file(round % 2 ? "m" : "n"), std::chrono::microseconds(at(rng)));
    for (size_t s = 0; s < sources.size(); ++s) {
      files now = contents(sources[s]);
      ASSERT_EQ(now.size(), before[s].size()) << "round " << round;
      for (const auto& [name, data] : before[s]) ASSERT_TRUE(now[name] == data) << sources[s] << "/" << name << " round " << round;
    }
  }
  // Every source still opens whole.
  for (const std::string& s : sources) {
    idbm_db* db = idbm_open_plain(s.c_str(), nullptr);
    ASSERT_NE(db, nullptr);
    idbm_reader* r = idbm_buffer(db);
    ASSERT_NE(r, nullptr);
    uint32_t n = 0;
    while (idbm_record(db, r)) ++n;
    EXPECT_TRUE(idbm_reader_at_end(r));
    EXPECT_EQ(n, idbm_dir_words(db)[1]);
    idbm_buffer_free(r);
    idbm_close(db);
  }
  std::printf("merge of 5000 documents: %lld us; %d of 30 killed merges had finished\n",
              static_cast<long long>(whole.count()), finished);
}

// What a handle reads: its document count, every title record, every term
// record in its term files and its deletion bytes.
std::string handle_view(idbm_db* db) {
  std::string out = std::to_string(db->ndocs) + ":";
  unsigned char rec[kTitleRecordSize];
  for (uint32_t d = 0; d < db->ndocs; ++d)
    if (idbm_title_record(db, d, rec, nullptr)) out.append(reinterpret_cast<const char*>(rec), sizeof rec);
  idbm_reader* r = idbm_buffer(db);
  if (r) {
    while (const uint32_t* w = idbm_record(db, r))
      out.append(reinterpret_cast<const char*>(w), static_cast<size_t>(rec_size(w)));
    if (!idbm_reader_at_end(r)) out += "(cut short)";
    idbm_buffer_free(r);
  }
  out.append(static_cast<const char*>(db->del.address), db->ndocs);
  return out;
}

long steps_taken = 0;
long kill_at_step = -1;
int count_steps(const char*, const char*) {
  if (++steps_taken == kill_at_step) raise(SIGKILL);
  return 0;
}
void count_merge_steps(const char*, const int32_t*, uint64_t) { count_steps("", ""); }

// Merges the sources into target in a child that kills itself at step
// kill_at (or never, with -1); the child's step count when it finished, else
// -1.
long merge_killed_at(const std::vector<std::string>& sources, const std::string& target, long kill_at) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::vector<idbm_db*> dbs;
    std::vector<uint32_t> counts;
    open_sources(sources, &dbs, &counts);
    steps_taken = 0;
    kill_at_step = kill_at;
    durable_hook = count_steps;
    merge_db_step = count_merge_steps;
    const bool ok = merge_databases(target.c_str(), dbs, counts, kDefaultPostingLimit, true, true).ok;
    const long n = ok ? steps_taken : -1;
    if (write(fds[1], &n, sizeof n) != sizeof n) _exit(5);
    _exit(0);
  }
  close(fds[1]);
  long n = -1;
  if (read(fds[0], &n, sizeof n) != sizeof n) n = -1;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
  return n;
}

// Sources "a" and "b" of na and nb documents, and "m", the directory the
// tests merge them into: it holds the merge of nold other documents. Their
// words come from a vocabulary of vocab.
std::vector<std::string> used_directory(const platform::TestRoot& root, uint32_t nold, uint32_t na, uint32_t nb,
                                        uint32_t vocab) {
  init_percent_table();
  make_source(root.file("old"), 90000, nold, vocab);
  make_source(root.file("a"), 0, na, vocab);
  make_source(root.file("b"), na, nb, vocab);
  EXPECT_GE(merge_killed_at({root.file("old")}, root.file("m"), -1), 0);
  return {root.file("a"), root.file("b")};
}

// The merge of 40 documents into a directory that held 12, killed at every
// one of its steps. A handle this process holds on the old database reads it
// unchanged after each kill (and after the merge that finished), with its
// titles mapped afterwards too.
TEST(DbMergeCrash, KilledAtEveryStepOfAMergeIntoAUsedDirectory) {
  platform::TestRoot root;
  const std::vector<std::string> sources = used_directory(root, 12, 25, 15, 200);
  const files old_db = testing::dir_snapshot(root.file("m"));
  testing::copy_dir(root.file("m"), root.file("want"));
  const long steps = merge_killed_at(sources, root.file("want"), -1);
  ASSERT_GT(steps, 40);
  const files new_db = testing::dir_snapshot(root.file("want"));
  ASSERT_NE(old_db, new_db);

  int kept_old = 0, got_new = 0;
  for (long at = 1; at <= steps + 1 && !::testing::Test::HasFailure(); ++at) {
    SCOPED_TRACE(at);
    testing::copy_dir(root.file("m"), root.file("run"));
    idbm_db* held = idbm_open(root.file("run").c_str(), 0, 0, 0, nullptr);
    ASSERT_NE(held, nullptr);
    const std::string before = handle_view(held);
    const bool finished = merge_killed_at(sources, root.file("run"), at) >= 0;
    EXPECT_EQ(finished, at > steps);
    EXPECT_EQ(handle_view(held), before);
    ASSERT_EQ(idbm_map_titles(held), 1);
    EXPECT_EQ(handle_view(held), before);
    idbm_close(held);
    const files now = testing::settled_snapshot(root.file("run"));
    EXPECT_TRUE(now == old_db || now == new_db);
    if (finished) {
      EXPECT_TRUE(now == new_db);
    }
    kept_old += now == old_db;
    got_new += now == new_db;
  }
  EXPECT_GT(kept_old, 0);
  EXPECT_GT(got_new, 1);
  std::printf("%ld steps: %d kills left the old database, %d the new one\n", steps, kept_old, got_new);
}

// Re-merging 5000 documents into a directory that held 1000, killed at
// random times: the old database or the new one, file for file.
TEST(DbMergeCrash, KilledAtRandomTimesIntoAUsedDirectory) {
  platform::TestRoot root;
  const std::vector<std::string> sources = used_directory(root, 1000, 3000, 2000, 3000);
  const files old_db = testing::dir_snapshot(root.file("m"));
  testing::copy_dir(root.file("m"), root.file("run"));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(run_child(sources, root.file("run"), std::chrono::microseconds(-1)));
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  const files new_db = testing::dir_snapshot(root.file("run"));

  std::mt19937 rng(43);
  std::uniform_int_distribution<int64_t> at(0, whole.count() * 6 / 5);
  int kept_old = 0, got_new = 0;
  for (int round = 0; round < 16; ++round) {
    SCOPED_TRACE(round);
    testing::copy_dir(root.file("m"), root.file("run"));
    run_child(sources, root.file("run"), std::chrono::microseconds(at(rng)));
    const files now = testing::settled_snapshot(root.file("run"));
    EXPECT_TRUE(now == old_db || now == new_db);
    kept_old += now == old_db;
    got_new += now == new_db;
  }
  std::printf("merge of 5000 documents over 1000: %lld us; %d kills left the old database, %d the new one\n",
              static_cast<long long>(whole.count()), kept_old, got_new);
}

}  // namespace
}  // namespace vorlane::engine
