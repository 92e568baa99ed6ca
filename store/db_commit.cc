#include "store/db_commit.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/log.h"
#include "store/mapfile.h"

namespace vorlane {

int (*durable_hook)(const char* op, const char* path) = nullptr;

namespace {

// Title files a new document set may have: docids are 32-bit.
constexpr uint64_t kMaxTitleFiles = (uint64_t{1} << 32) / kTitlesPerFile;

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int fail(const char* what, const std::string& name) { return report_file_error(what, name.c_str()); }

// N of "<prefix><N>" with N below limit, else -1.
long numbered(const std::string& name, const char* prefix, uint64_t limit) {
  const size_t n = strlen(prefix);
  if (name.size() <= n || name.size() > n + 10 || name.compare(0, n, prefix) != 0) return -1;
  uint64_t v = 0;
  for (size_t i = n; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    v = v * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  if (name.size() > n + 1 && name[n] == '0') return -1;  // one spelling per number
  return v < limit ? static_cast<long>(v) : -1;
}

// The name a directory entry takes when it is the temporary of a database
// file (".<name>.new"), else empty; the marker ".dir.new" is none.
std::string committed_name(const char* entry) {
  const size_t len = strlen(entry);
  if (len < 6 || entry[0] != '.' || strcmp(entry + len - 4, ".new") != 0) return std::string();
  std::string name(entry + 1, len - 5);
  for (const char* known : {kCatFile, kDelFile, kDinFile, kInfFile, kAdjFile})
    if (name == known) return name;
  if (numbered(name, kTermFilePrefix, kMaxParts) >= 0 || numbered(name, kTitleFilePrefix, kMaxTitleFiles) >= 0)
    return name;
  return std::string();
}

// The temporaries in the directory, by the names they take.
std::vector<std::string> temporaries(const char* dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir);
  if (!d) return out;
  while (const dirent* e = readdir(d)) {
    std::string name = committed_name(e->d_name);
    if (!name.empty()) out.push_back(std::move(name));
  }
  closedir(d);
  return out;
}

// Removes the temporaries of unfinished writing (not the marker).
void remove_temporaries(const char* dir) {
  for (const std::string& name : temporaries(dir)) unlink(db_new_file_path(dir, name.c_str()).c_str());
}

bool sync_map(const mapped_file& m, bool heap) {
  return heap || !m.address || flush_range(m.address, static_cast<size_t>(m.size), MS_SYNC) == 0;
}

// Removes the title files from number first on: a new document set that
// needs fewer than the database it replaced. 1, or 0 with errno set.
int remove_title_files_from(const char* dir, uint32_t first) {
  for (uint64_t t = first; t < kMaxTitleFiles && exists(db_title_path(dir, static_cast<uint32_t>(t))); ++t)
    if (!durable_unlink(db_title_path(dir, static_cast<uint32_t>(t)))) return 0;
  return 1;
}

// The first step of putting a new document set in place: the journal of
// the documents it replaces, and their "adj" unless the set brings one. 1,
// or 0 with errno set.
int drop_replaced_files(const char* dir) {
  if (!durable_unlink(db_file_path(dir, kJnlFile))) return 0;
  if (!exists(db_new_file_path(dir, kAdjFile)) && !durable_unlink(db_file_path(dir, kAdjFile))) return 0;
  return 1;
}

// Closes the dir, cat and tf streams and, when they wrote unfinished new
// files, removes those and the marker last. The caller holds the directory
// lock: closing the marker's stream releases the marker's lock, and until
// the marker is gone an open would take the writing for a gone writer's, and
// a writer could start beside it.
void drop_new_files(idbm_db* db) {
  const bool own = db->new_files;
  for (FILE** s : {&db->dir_stream, &db->cat_stream, &db->tf_stream})
    if (*s) {
      fclose(*s);
      *s = nullptr;
    }
  if (!own) return;
  db->new_files = false;
  db->new_ended = false;
  db->new_docs = false;
  if (!db->name) return;
  remove_temporaries(db->name);
  unlink(db_file_path(db->name, kNewDirFile).c_str());  // the marker last
}

}  // namespace

std::string db_new_file_path(const char* dir, const char* name) {
  return db_file_path(dir, ("." + std::string(name) + ".new").c_str());
}

std::string db_new_part_path(const char* dir, uint32_t part) {
  return db_new_file_path(dir, (std::string(kTermFilePrefix) + std::to_string(part)).c_str());
}

std::string db_new_title_path(const char* dir, uint32_t file) {
  return db_new_file_path(dir, (std::string(kTitleFilePrefix) + std::to_string(file)).c_str());
}

int durable_step(const char* op, const char* path) {
  if (!durable_hook) return 1;
  const int e = durable_hook(op, path ? path : "");
  if (e == 0) return 1;
  errno = e;
  return 0;
}

int durable_sync_fd(int fd, const char* path) {
  if (!durable_step("sync", path)) return 0;
  return fsync(fd) == 0 ? 1 : 0;
}

int durable_sync_path(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 1 : 0;
  const int ok = durable_sync_fd(fd, path.c_str());
  const int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

int durable_sync_dir(const std::string& dir) {
  if (!durable_step("dirsync", dir.c_str())) return 0;
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  const int ok = fsync(fd) == 0 ? 1 : 0;
  const int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

int durable_rename(const std::string& from, const std::string& to) {
  if (!durable_step("rename", to.c_str())) return 0;
  return rename(from.c_str(), to.c_str()) == 0 ? 1 : 0;
}

int durable_unlink(const std::string& path) {
  if (!durable_step("unlink", path.c_str())) return 0;
  return unlink(path.c_str()) == 0 || errno == ENOENT ? 1 : 0;
}

int durable_finish(FILE*& stream, const char* path) {
  if (!stream) return 1;
  bool ok = fflush(stream) == 0;
  int saved = errno;
  if (ok && !durable_sync_fd(fileno(stream), path)) {
    ok = false;
    saved = errno;
  }
  if (!durable_step("close", path)) {
    ok = false;
    saved = errno;
  }
  if (fclose(stream) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  stream = nullptr;
  errno = saved;
  return ok ? 1 : 0;
}

db_dir_lock::db_dir_lock(const char* dir) {
  if (!dir) return;
  fd_ = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    close(fd_);
    fd_ = -1;
    return;
  }
}

db_dir_lock::~db_dir_lock() {
  if (fd_ >= 0) close(fd_);  // releases the lock
}

int db_finish_commit(const char* dir) {
  const std::string marker = db_file_path(dir, kNewDirFile);
  if (exists(marker)) {
    // Unfinished writing: its writer holds a lock on the marker for as long
    // as it works. When nobody does, the writer is gone and what it wrote
    // goes: the database is the one the directory held.
    const int fd = open(marker.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      return 1;
    }
    remove_temporaries(dir);
    unlink(marker.c_str());
    close(fd);
    log_msg(LOG_WARNING, "idbm: discarded the unfinished writing of %s", dir);
    return 1;
  }
  const std::vector<std::string> left = temporaries(dir);
  if (left.empty()) return 1;
  bool docs = false;  // a new document set, ".del.new" not yet in place
  bool adj = false;
  for (const std::string& name : left) {
    docs = docs || name == kDelFile;
    adj = adj || name == kAdjFile;
  }
  const char* cut_short = "idbm: can't finish an interrupted commit";
  if (docs && !drop_replaced_files(dir)) return fail(cut_short, dir);
  for (const std::string& name : left) {
    if (name == kDelFile || name == kAdjFile) continue;
    if (!durable_rename(db_new_file_path(dir, name.c_str()), db_file_path(dir, name.c_str())))
      return fail(cut_short, db_new_file_path(dir, name.c_str()));
  }
  // What the committed directory does not use belongs to the old database.
  uint32_t header[4] = {kMaxParts, 0, 0, 0};
  bool header_read = false;
  if (FILE* f = fopen(db_file_path(dir, kDirFile).c_str(), "rb")) {
    header_read = fread(header, 4, 4, f) == 4;
    fclose(f);
  }
  const uint32_t nparts = header_read && header[0] >= 1 && header[0] <= kMaxParts ? header[0] : kMaxParts;
  for (uint32_t p = nparts; p < kMaxParts; ++p)
    if (exists(db_part_path(dir, p))) durable_unlink(db_part_path(dir, p));
  if (docs && header_read && !remove_title_files_from(dir, title_file_count(header[2])))
    return fail(cut_short, dir);
  for (const char* last : {kDelFile, kAdjFile}) {
    const std::string tmp = db_new_file_path(dir, last);
    if (exists(tmp) && !durable_rename(tmp, db_file_path(dir, last))) return fail(cut_short, tmp);
  }
  if (!durable_sync_dir(dir)) return fail(cut_short, dir);
  log_msg(LOG_WARNING, "idbm: finished the interrupted commit of %s", dir);
  return 1;
}

int db_begin_new_files(idbm_db* db) {
  const char* dir = db_name(db);
  // The directory first: the handle's own unfinished writing (its marker
  // locked) gives way to the new one with no moment between them in which
  // another writer could start or an open discard it.
  db_dir_lock lock(dir);
  drop_new_files(db);
  db->new_ended = false;
  if (!lock.held()) return fail("idbm: can't lock database directory", dir);
  if (!db_finish_commit(dir)) return 0;
  // The marker first, on disk before any temporary can be, and locked for
  // as long as this handle writes (until the commit has renamed it).
  const std::string marker = db_file_path(dir, kNewDirFile);
  if (exists(marker)) {
    errno = EBUSY;
    return fail("idbm: another handle is writing", dir);
  }
  db->dir_stream = fopen(marker.c_str(), "w+be");
  if (!db->dir_stream) return fail("idbm: can't create", marker);
  if (flock(fileno(db->dir_stream), LOCK_EX | LOCK_NB) != 0) return fail("idbm: can't lock", marker);
  db->new_files = true;
  if (!durable_sync_dir(dir)) return fail("idbm: can't sync", dir);
  remove_temporaries(dir);
  const std::string cat_tmp = db_file_path(dir, kNewCatFile);
  db->cat_stream = fopen(cat_tmp.c_str(), "w+b");
  if (!db->cat_stream) return fail("idbm: can't create", cat_tmp);
  const std::string tf_tmp = db_new_part_path(dir, 0);
  db->tf_stream = fopen(tf_tmp.c_str(), "w+b");
  if (!db->tf_stream) return fail("idbm: can't create", tf_tmp);
  db->new_part = 0;
  return 1;
}

int db_start_new_part(idbm_db* db, uint32_t part) {
  if (db->tf_stream && !durable_finish(db->tf_stream, db_new_part_path(db->name, db->new_part).c_str()))
    return 0;
  const std::string path = db_new_part_path(db->name, part);
  db->tf_stream = fopen(path.c_str(), "w+b");
  if (!db->tf_stream) return 0;
  db->new_part = part;
  return 1;
}

int db_end_new_files(idbm_db* db, const uint32_t header[4]) {
  const char* dir = db_name(db);
  if (!db->new_files || !db->dir_stream) return fail("idbm: no new files to commit", dir);
  rewind(db->dir_stream);
  if (fwrite(header, 4, 4, db->dir_stream) != 4 || fflush(db->dir_stream) != 0)
    return fail("idbm: dir putw", db_file_path(dir, kNewDirFile));
  db->new_ended = true;
  return 1;
}

int db_commit_new_files(idbm_db* db) {
  const char* dir = db_name(db);
  if (!db->new_files || !db->new_ended || !db->dir_stream || !db->cat_stream)
    return fail("idbm: no new files to commit", dir);
  const uint32_t last_part = db->new_part;
  const std::string marker = db_file_path(dir, kNewDirFile);
  const bool docs = db->new_docs;
  const uint32_t ntitles = title_file_count(db->ndocs);

  // 1. Everything the new directory describes reaches the disk.
  if (!durable_finish(db->tf_stream, db_new_part_path(dir, last_part).c_str()))
    return fail("idbm: can't sync", db_new_part_path(dir, last_part));
  if (!durable_finish(db->cat_stream, db_file_path(dir, kNewCatFile).c_str()))
    return fail("idbm: can't sync", db_file_path(dir, kNewCatFile));
  // The marker stays open, and locked, until it is "dir".
  if (fflush(db->dir_stream) != 0 || !durable_sync_fd(fileno(db->dir_stream), marker.c_str()))
    return fail("idbm: can't sync", marker);
  if (docs) {
    // The new document set, every file of it, in its temporaries.
    const struct {
      FILE*& stream;
      std::string path;
    } streams[] = {{db->ti_stream, db_new_title_path(dir, db->new_title_file)},
                   {db->din_stream, db_new_file_path(dir, kDinFile)},
                   {db->inf_stream, db_new_file_path(dir, kInfFile)}};
    for (const auto& s : streams)
      if (!durable_finish(s.stream, s.path.c_str())) return fail("idbm: can't sync", s.path);
    std::vector<std::string> files;
    for (uint32_t t = 0; t < ntitles; ++t) files.push_back(db_new_title_path(dir, t));
    for (const char* name : {kDinFile, kInfFile, kDelFile}) files.push_back(db_new_file_path(dir, name));
    for (const std::string& f : files) {
      if (!exists(f)) return fail("idbm: can't commit, missing", f);
      if (!durable_sync_path(f)) return fail("idbm: can't sync", f);
    }
    const std::string adj = db_new_file_path(dir, kAdjFile);
    if (!durable_sync_path(adj)) return fail("idbm: can't sync", adj);
  } else {
    if (!sync_map(db->ti0, db->ti0_heap)) return fail("idbm: can't sync", db_title_path(dir, 0));
    if (!sync_map(db->del, db->del_heap)) return fail("idbm: can't sync", db_file_path(dir, kDelFile));
    if (!sync_map(db->din, db->din_heap)) return fail("idbm: can't sync", db_file_path(dir, kDinFile));
    const struct {
      FILE* stream;
      const char* file;
    } streams[] = {{db->ti_stream, "ti0"}, {db->del_stream, kDelFile}, {db->din_stream, kDinFile}, {db->inf_stream, kInfFile}};
    for (const auto& s : streams)
      if (s.stream && (fflush(s.stream) != 0 || !durable_sync_fd(fileno(s.stream), dir)))
        return fail("idbm: can't sync", db_file_path(dir, s.file));
    for (uint32_t t = 0; t < ntitles; ++t)
      if (!durable_sync_path(db_title_path(dir, t))) return fail("idbm: can't sync", db_title_path(dir, t));
    for (const char* name : {kDelFile, kDinFile, kInfFile})
      if (!durable_sync_path(db_file_path(dir, name))) return fail("idbm: can't sync", db_file_path(dir, name));
  }
  for (uint32_t p = 0; p <= last_part; ++p)
    if (!exists(db_new_part_path(dir, p))) return fail("idbm: can't commit, missing", db_new_part_path(dir, p));
  // The temporaries' names too, before the commit point refers to them.
  if (!durable_sync_dir(dir)) return fail("idbm: can't sync", dir);

  // 2. The commit point, 3. the rest of the files into place.
  db_dir_lock lock(dir);
  if (!lock.held()) return fail("idbm: can't lock database directory", dir);
  if (!durable_rename(marker, db_file_path(dir, kDirFile))) return fail("idbm: can't commit", marker);
  fclose(db->dir_stream);
  db->dir_stream = nullptr;
  db->new_files = false;
  db->new_ended = false;
  db->new_docs = false;
  db->saved = true;
  if (docs && !drop_replaced_files(dir)) return fail("idbm: can't remove", dir);
  if (!durable_rename(db_file_path(dir, kNewCatFile), db_file_path(dir, kCatFile)))
    return fail("idbm: can't commit", db_file_path(dir, kNewCatFile));
  for (uint32_t p = 0; p <= last_part; ++p)
    if (!durable_rename(db_new_part_path(dir, p), db_part_path(dir, p)))
      return fail("idbm: can't commit", db_new_part_path(dir, p));
  for (uint32_t p = last_part + 1; p < kMaxParts; ++p)
    if (exists(db_part_path(dir, p)) && !durable_unlink(db_part_path(dir, p)))
      return fail("idbm: can't remove", db_part_path(dir, p));
  if (docs) {
    for (uint32_t t = 0; t < ntitles; ++t)
      if (!durable_rename(db_new_title_path(dir, t), db_title_path(dir, t)))
        return fail("idbm: can't commit", db_new_title_path(dir, t));
    if (!remove_title_files_from(dir, ntitles)) return fail("idbm: can't remove", dir);
    for (const char* name : {kDinFile, kInfFile, kDelFile, kAdjFile}) {
      const std::string tmp = db_new_file_path(dir, name);
      if (name == kAdjFile && !exists(tmp)) continue;
      if (!durable_rename(tmp, db_file_path(dir, name))) return fail("idbm: can't commit", tmp);
    }
  }
  if (!durable_sync_dir(dir)) return fail("idbm: can't sync", dir);
  return 1;
}

void db_abandon_new_files(idbm_db* db) {
  if (!db->new_files) return;
  // The marker stays locked until the directory is held (see drop_new_files).
  if (!db->name) {
    drop_new_files(db);
    return;
  }
  db_dir_lock lock(db->name);
  drop_new_files(db);
}

}  // namespace vorlane
