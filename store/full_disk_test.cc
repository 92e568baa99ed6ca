// A full disk while documents are indexed and saved: every store into a
// mapped title, deletion or date file is preceded by a reservation of its
// blocks, so no write ends the process with SIGBUS. A failure refuses the
// call with a message naming the file, and every acknowledged document is
// there, once, when the database is opened again with room.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sched.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/testing/test_root.h"
#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/mapfile.h"
#include "store/score_tables.h"
#include "store/testing/db_check.h"
#include "store/testing/index_fixture.h"
#include "store/testing/log_capture.h"

namespace vorlane {
namespace {

using testing::index_model;
using testing::synthetic_doc;
using testing::test_doc;

test_doc doc(uint32_t docid) { return synthetic_doc(11, docid, 400, 25); }

std::vector<unsigned char> title(uint32_t docid) {
  return std::vector<unsigned char>(kTitleBytes, static_cast<unsigned char>(1 + docid % 250));
}

// Indexes document docid with its title. The result of idbm_index_and_log.
int index_doc(idbm_db* db, uint32_t docid) {
  test_doc t = doc(docid);
  return idbm_index_and_log(db, t.terms(), title(docid).data(), 0, 0x1000 + docid, 0x2000 + docid, 0);
}

uint64_t file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool ends_with(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The reservation of the file whose path ends with "/<full_file>" fails
// with ENOSPC.
std::string full_file;
int full_hook(const char* op, const char* path) {
  return strcmp(op, "reserve") == 0 && ends_with(path, "/" + full_file) ? ENOSPC : 0;
}

class FullDiskTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_percent_table(); }
  void TearDown() override { durable_hook = nullptr; }
  std::string path() const { return root_.file("db"); }
  idbm_db* open() { return idbm_open_incr(path().c_str(), 0, 100, 1, nullptr); }
  // Indexes documents first..first+n-1 into the model too.
  void add_docs(idbm_db* db, uint32_t first, uint32_t n, index_model& m) {
    for (uint32_t d = first; d < first + n; ++d) {
      ASSERT_EQ(index_doc(db, d), static_cast<int>(d + 1));
      m.add(doc(d));
    }
  }
  platform::TestRoot root_;
};

// No room for the deletion byte, the title or the date entry: the document
// is refused before it takes its docid, the journal does not grow, and the
// message names the file. With room again indexing goes on under the next
// docid, and the journal gives back exactly the acknowledged documents.
TEST_F(FullDiskTest, NoRoomInAMapRefusesTheDocumentBeforeItTakesAnything) {
  for (const char* file : {kDelFile, "ti0", kDinFile}) {
    SCOPED_TRACE(file);
    std::filesystem::remove_all(path());
    idbm_db* db = open();
    ASSERT_NE(db, nullptr);
    index_model m;
    add_docs(db, 0, 5, m);
    const uint64_t journal = file_size(path() + "/jnl");
    full_file = file;
    durable_hook = full_hook;
    clear_file_failure();
    {
      LogCapture log;
      EXPECT_EQ(index_doc(db, 5), 0);
      EXPECT_TRUE(log.contains("idbm_index: no room for the document in"));
    }
    EXPECT_EQ(file_failure_text(), path() + "/" + file + ": " + strerror(ENOSPC));
    EXPECT_EQ(db->ndocs, 5u);
    EXPECT_EQ(file_size(path() + "/jnl"), journal);
    // A deletion needs room in the deletion map too.
    if (strcmp(file, kDelFile) == 0) {
      EXPECT_EQ(idbm_delete(db, 2), 0);
      EXPECT_EQ(static_cast<const uint8_t*>(db->del.address)[2], 0);
      EXPECT_EQ(idbm_demote(db, 2, 7), 0);
      EXPECT_EQ(static_cast<const uint8_t*>(db->del.address)[2], 0);
    }
    durable_hook = nullptr;
    add_docs(db, 5, 3, m);
    idbm_close(db);

    db = open();
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(testing::incremental_matches(db, m));
    const auto* din = static_cast<const din_entry*>(db->din.address);
    EXPECT_EQ(din[7].host_hash, 0x1000u + 7);
    EXPECT_EQ(din[7].day, 0x2000u + 7);
    ASSERT_EQ(idbm_write(db, 1), 1);
    idbm_close(db);
    EXPECT_TRUE(testing::saved_db_matches(path(), m, 100));
  }
}

// A replay that finds no room for a document's deletion byte or date entry
// fails the open and leaves the journal and the maps as they were, instead
// of losing the document; the next open with room replays them all.
TEST_F(FullDiskTest, ReplayWithoutRoomFailsTheOpenAndKeepsEveryDocument) {
  idbm_db* db = open();
  ASSERT_NE(db, nullptr);
  index_model m;
  add_docs(db, 0, 6, m);
  idbm_close(db);
  const std::string journal = testing::read_file(path() + "/jnl");
  const std::string del = testing::read_file(path() + "/del");
  for (const char* file : {kDelFile, kDinFile}) {
    SCOPED_TRACE(file);
    full_file = file;
    durable_hook = full_hook;
    clear_file_failure();
    {
      LogCapture log;
      EXPECT_EQ(open(), nullptr);
    }
    EXPECT_EQ(file_failure_text(), path() + "/" + file + ": " + strerror(ENOSPC));
    durable_hook = nullptr;
    EXPECT_EQ(testing::read_file(path() + "/jnl"), journal);
    EXPECT_EQ(testing::read_file(path() + "/del"), del);
  }
  db = open();
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(testing::incremental_matches(db, m));
  idbm_close(db);
}

// ---- a real full disk: a small tmpfs, one size after another ----

constexpr uint32_t kPartDocs = 30;  // documents per database, as the indexer's parts
constexpr uint32_t kParts = 3;
constexpr const char* kSkip = "skip";

// What one run on a file system of a given size saw: the file the failure
// named (empty when nothing failed), or a problem.
struct run_result {
  std::string failed_file;
  std::string problem;
};

// The databases of one run, as the indexer lays them out: part<p>, each
// made with an empty journal, filled with kPartDocs documents and saved.
// Stops at the first refused call; models[p] holds what part p acknowledged.
std::string fill(const std::string& fs, std::vector<index_model>& models) {
  uint32_t next = 0;
  for (uint32_t p = 0; p < kParts; ++p) {
    const std::string part = fs + "/part" + std::to_string(p);
    models.emplace_back();
    index_model& m = models.back();
    if (mkdir(part.c_str(), 0777) != 0) return "mkdir";
    close(open((part + "/jnl").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    idbm_db* db = idbm_open_incr(part.c_str(), 0, kPartDocs, 1, nullptr);
    if (!db) return file_failure_text();
    for (uint32_t i = 0; i < kPartDocs; ++i, ++next) {
      const uint32_t before = db->ndocs;
      if (index_doc(db, next) > 0) {
        m.add(doc(next));
        continue;
      }
      // A docid taken stays, deleted, unless not even its empty journal
      // record could be written.
      if (db->ndocs != before && !db->journal_failed) m.skip();
      idbm_close(db);
      return file_failure_text();
    }
    const int saved = idbm_write(db, 1);
    idbm_close(db);
    if (!saved) return file_failure_text();
  }
  return std::string();
}

// Opens each part again as the indexer's next run does (replaying and
// saving what still has a journal) and compares it with its model.
std::string recover_and_check(const std::string& fs, const std::vector<index_model>& models) {
  for (uint32_t p = 0; p < models.size(); ++p) {
    const std::string part = fs + "/part" + std::to_string(p);
    if (access((part + "/jnl").c_str(), F_OK) == 0) {
      idbm_db* db = idbm_open_incr(part.c_str(), 0, kPartDocs, 1, nullptr);
      if (!db) return "part " + std::to_string(p) + " does not reopen";
      const int saved = idbm_write(db, 1);
      idbm_close(db);
      if (!saved) return "part " + std::to_string(p) + " does not save with room";
    }
    auto same = testing::saved_db_matches(part, models[p], 200);
    if (!same) return "part " + std::to_string(p) + ": " + same.message();
  }
  return std::string();
}

// The run in a child process with a private mount namespace. Its report
// goes through the pipe: "skip", or the failed file's name, a newline and
// any problem.
[[noreturn]] void run_child(const std::string& fs, uint64_t bytes, int out) {
  auto say = [out](const std::string& text) {
    if (write(out, text.data(), text.size()) < 0) {}
  };
  if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    say(kSkip);
    _exit(0);
  }
  const std::string size = "size=" + std::to_string(bytes);
  if (mount("tmpfs", fs.c_str(), "tmpfs", 0, size.c_str()) != 0) {
    say(kSkip);
    _exit(0);
  }
  std::vector<index_model> models;
  std::string failure;
  {
    LogCapture quiet;
    failure = fill(fs, models);
  }
  std::string file = failure.substr(0, failure.find(": "));
  file = file.substr(file.rfind('/') + 1);
  say(file + "\n");
  if (!failure.empty() && failure.find(strerror(ENOSPC)) == std::string::npos) say("not a full disk: " + failure);
  // The same file system with room.
  if (mount("tmpfs", fs.c_str(), "tmpfs", MS_REMOUNT, "size=64m") != 0) {
    say("no remount");
    _exit(0);
  }
  {
    LogCapture quiet;
    say(recover_and_check(fs, models));
  }
  _exit(0);
}

run_result run_on(const std::string& fs, uint64_t bytes) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {"", "pipe"};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    run_child(fs, bytes, fds[1]);
  }
  close(fds[1]);
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return {"", "ended by signal " + std::to_string(WTERMSIG(status))};
  if (text == kSkip) return {kSkip, ""};
  const size_t nl = text.find('\n');
  if (nl == std::string::npos) return {"", "no report: " + text};
  return {text.substr(0, nl), text.substr(nl + 1)};
}

// File systems from one page up, a page larger each time, until one holds
// everything: the disk fills at every page the indexing and the saves
// allocate, so at every kind of write.
TEST_F(FullDiskTest, EverySizeOfASmallFileSystemFailsCleanlyAndLosesNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
  const std::string fs = root_.file("fs");
  ASSERT_EQ(mkdir(fs.c_str(), 0777), 0);
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  std::map<std::string, int> failed_at;
  bool completed = false;
  for (uint64_t bytes = page; bytes <= 4096 * page && !completed; bytes += page) {
    const run_result r = run_on(fs, bytes);
    if (r.failed_file == kSkip) GTEST_SKIP() << "no private tmpfs mount here";
    EXPECT_EQ(r.problem, "") << bytes << " bytes";
    if (r.failed_file.empty()) completed = r.problem.empty();
    else ++failed_at[r.failed_file];
  }
  EXPECT_TRUE(completed);
  std::string seen;
  for (const auto& [file, n] : failed_at) seen += file + ":" + std::to_string(n) + " ";
  // (Saves write no catalog, and the score file always finds a page that a
  // saved journal gave back.)
  for (const char* file : {"jnl", "ti0", kDelFile, kDinFile, ".tf0.new", ".dir.new"})
    EXPECT_TRUE(failed_at.count(file)) << file << " never filled the disk; seen: " << seen;
}

}  // namespace
}  // namespace vorlane
