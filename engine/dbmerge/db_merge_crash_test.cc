// A merge killed with SIGKILL at random points never damages its sources:
// after every kill each source's files hold exactly what they held before
// and the source still opens with all its documents and terms.
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
#include "store/db_handle.h"
#include "store/db_reader.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/score_tables.h"
#include "store/testing/index_fixture.h"
#include "store/title_record.h"

namespace vorlane::engine {
namespace {

using files = std::map<std::string, std::string>;

files contents(const std::string& dir) {
  files out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out[e.path().filename()] = testing::read_file(e.path());
  return out;
}

void make_source(const std::string& path, uint32_t first, uint32_t n) {
  idbm_db* db = idbm_open_incr(path.c_str(), 0, n, 1, nullptr);
  ASSERT_NE(db, nullptr);
  for (uint32_t j = 0; j < n; ++j) {
    const uint32_t g = first + j;
    testing::test_doc d = testing::synthetic_doc(3, g, 3000, 40);
    std::string url = "http://h" + std::to_string(g % 7) + "/d" + std::to_string(g), title = "t", summary = "s", p, t;
    unsigned char rec[kTitleRecordSize];
    title_pack(rec, url.data(), title.data(), summary.data(), p.data(), t.data(), 0, 86400 * g, 0, 0, 0, 0, nullptr,
               nullptr, nullptr, 0);
    ASSERT_GT(idbm_index_and_log(db, d.terms(), rec, 0, 0, 0, 0), 0);
  }
  ASSERT_EQ(idbm_write(db, 1), 1);
  idbm_close(db);
}

// Opens the sources for querying (deleting every seventh document of the
// first) and merges them into target; the child's whole life.
[[noreturn]] void merge_child(const std::vector<std::string>& sources, const std::string& target) {
  std::vector<idbm_db*> dbs;
  std::vector<uint32_t> counts;
  for (const std::string& s : sources) {
    idbm_db* db = idbm_open(s.c_str(), 0, 0, 0, nullptr);
    if (!db) _exit(2);
    dbs.push_back(db);
    counts.push_back(db->ndocs);
  }
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

}  // namespace
}  // namespace vorlane::engine
