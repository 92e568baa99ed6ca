#include "store/db_commit.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/log.h"
#include "store/mapfile.h"

namespace vorlane {

int (*durable_hook)(const char* op, const char* path) = nullptr;

namespace {

// 1 when the step may go on; 0 with errno set by the hook.
int hook_allows(const char* op, const char* path) {
  if (!durable_hook) return 1;
  const int e = durable_hook(op, path ? path : "");
  if (e == 0) return 1;
  errno = e;
  return 0;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int fail(const char* what, const std::string& name) { return report_file_error(what, name.c_str()); }

// Removes the temporaries of unfinished writing (not the marker).
void remove_temporaries(const char* dir) {
  for (uint32_t p = 0; p < kMaxParts; ++p) unlink(db_new_part_path(dir, p).c_str());
  unlink(db_file_path(dir, kNewCatFile).c_str());
}

bool sync_map(const mapped_file& m, bool heap) {
  return heap || !m.address || flush_range(m.address, static_cast<size_t>(m.size), MS_SYNC) == 0;
}

}  // namespace

std::string db_new_part_path(const char* dir, uint32_t part) {
  return db_file_path(dir, ("." + std::string(kTermFilePrefix) + std::to_string(part) + ".new").c_str());
}

int durable_sync_fd(int fd, const char* path) {
  if (!hook_allows("sync", path)) return 0;
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
  if (!hook_allows("dirsync", dir.c_str())) return 0;
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  const int ok = fsync(fd) == 0 ? 1 : 0;
  const int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

int durable_rename(const std::string& from, const std::string& to) {
  if (!hook_allows("rename", to.c_str())) return 0;
  return rename(from.c_str(), to.c_str()) == 0 ? 1 : 0;
}

int durable_unlink(const std::string& path) {
  if (!hook_allows("unlink", path.c_str())) return 0;
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
  if (!hook_allows("close", path)) {
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
  if (exists(db_file_path(dir, kNewDirFile))) return 1;  // unfinished writing, or none
  bool moved = false;
  const std::string cat_tmp = db_file_path(dir, kNewCatFile);
  if (exists(cat_tmp)) {
    if (!durable_rename(cat_tmp, db_file_path(dir, kCatFile)))
      return fail("idbm: can't finish an interrupted commit", cat_tmp);
    moved = true;
  }
  for (uint32_t p = 0; p < kMaxParts; ++p) {
    const std::string tmp = db_new_part_path(dir, p);
    if (!exists(tmp)) continue;
    if (!durable_rename(tmp, db_part_path(dir, p)))
      return fail("idbm: can't finish an interrupted commit", tmp);
    moved = true;
  }
  if (!moved) return 1;
  // Parts past the committed directory's count belong to an older database.
  uint32_t nparts = kMaxParts;
  if (FILE* f = fopen(db_file_path(dir, kDirFile).c_str(), "rb")) {
    if (fread(&nparts, 4, 1, f) != 1 || nparts < 1 || nparts > kMaxParts) nparts = kMaxParts;
    fclose(f);
  }
  for (uint32_t p = nparts; p < kMaxParts; ++p) durable_unlink(db_part_path(dir, p));
  if (!durable_sync_dir(dir)) return fail("idbm: can't finish an interrupted commit", dir);
  log_msg(LOG_WARNING, "idbm: finished the interrupted commit of %s", dir);
  return 1;
}

int db_begin_new_files(idbm_db* db) {
  const char* dir = db_name(db);
  for (FILE** s : {&db->dir_stream, &db->cat_stream, &db->tf_stream})
    if (*s) {
      fclose(*s);
      *s = nullptr;
    }
  db_dir_lock lock(dir);
  if (!lock.held()) return fail("idbm: can't lock database directory", dir);
  if (!db_finish_commit(dir)) return 0;
  // The marker first, on disk before any temporary can be.
  const std::string marker = db_file_path(dir, kNewDirFile);
  db->dir_stream = fopen(marker.c_str(), "w+b");
  if (!db->dir_stream) return fail("idbm: can't create", marker);
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

int db_commit_new_files(idbm_db* db, const uint32_t header[4]) {
  const char* dir = db_name(db);
  if (!db->new_files || !db->dir_stream || !db->cat_stream)
    return fail("idbm: no new files to commit", dir);
  const uint32_t last_part = db->new_part;
  const std::string marker = db_file_path(dir, kNewDirFile);

  // 1. Everything the new directory describes reaches the disk.
  rewind(db->dir_stream);
  if (fwrite(header, 4, 4, db->dir_stream) != 4) return fail("idbm: dir putw", marker);
  if (!durable_finish(db->tf_stream, db_new_part_path(dir, last_part).c_str()))
    return fail("idbm: can't sync", db_new_part_path(dir, last_part));
  if (!durable_finish(db->cat_stream, db_file_path(dir, kNewCatFile).c_str()))
    return fail("idbm: can't sync", db_file_path(dir, kNewCatFile));
  if (!durable_finish(db->dir_stream, marker.c_str())) return fail("idbm: can't sync", marker);
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
  const uint32_t ntitles = title_file_count(header[2]);
  for (uint32_t t = 0; t < ntitles; ++t)
    if (!durable_sync_path(db_title_path(dir, t))) return fail("idbm: can't sync", db_title_path(dir, t));
  for (const char* name : {kDelFile, kDinFile, kInfFile})
    if (!durable_sync_path(db_file_path(dir, name))) return fail("idbm: can't sync", db_file_path(dir, name));
  for (uint32_t p = 0; p <= last_part; ++p)
    if (!exists(db_new_part_path(dir, p))) return fail("idbm: can't commit, missing", db_new_part_path(dir, p));

  // 2. The commit point, 3. the rest of the files into place.
  db_dir_lock lock(dir);
  if (!lock.held()) return fail("idbm: can't lock database directory", dir);
  if (!durable_rename(marker, db_file_path(dir, kDirFile))) return fail("idbm: can't commit", marker);
  db->new_files = false;
  db->saved = true;
  if (!durable_rename(db_file_path(dir, kNewCatFile), db_file_path(dir, kCatFile)))
    return fail("idbm: can't commit", db_file_path(dir, kNewCatFile));
  for (uint32_t p = 0; p <= last_part; ++p)
    if (!durable_rename(db_new_part_path(dir, p), db_part_path(dir, p)))
      return fail("idbm: can't commit", db_new_part_path(dir, p));
  for (uint32_t p = last_part + 1; p < kMaxParts; ++p)
    if (!durable_unlink(db_part_path(dir, p))) return fail("idbm: can't remove", db_part_path(dir, p));
  if (!durable_sync_dir(dir)) return fail("idbm: can't sync", dir);
  return 1;
}

void db_abandon_new_files(idbm_db* db) {
  if (!db->new_files) return;
  for (FILE** s : {&db->dir_stream, &db->cat_stream, &db->tf_stream})
    if (*s) {
      fclose(*s);
      *s = nullptr;
    }
  db->new_files = false;
  if (!db->name) return;
  db_dir_lock lock(db->name);
  remove_temporaries(db->name);
  unlink(db_file_path(db->name, kNewDirFile).c_str());  // the marker last
}

}  // namespace vorlane
