#include "store/db_handle.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <vector>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include "store/alloc.h"
#include "store/catalog.h"
#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/icube.h"
#include "store/journal.h"
#include "store/log.h"
#include "store/strings.h"
#include "store/term_cache.h"

namespace vorlane {

uint32_t idbm_incr_cache_size = 38400;
uint32_t idbm_incr_icube_size = 358400;

void idbm_set_incr_sizes(uint32_t n) {
  if (n > 100) {
    idbm_incr_cache_size = n * 384;
    idbm_incr_icube_size = n * 3584;
  }
}

namespace {

// "<what>" with the system's text for errno in the object, as "%s: %s".
int report_with_errno(const char* what, const std::string& name) {
  char buf[256];
  std::string detail = name + ": " + strerror_r(errno, buf, sizeof buf);
  return report_error(what, detail.c_str());
}

void release_map(mapped_file& m, bool& heap) {
  if (heap) {
    free(m.address);
    heap = false;
  } else if (m.address) {
    funmap(&m);
  }
  if (m.fd >= 0) close(m.fd);
  m = mapped_file{};
}

void release_files(db_file*& files, uint32_t& n) {
  if (!files) return;
  for (uint32_t i = 0; i < n; ++i) {
    free(files[i].name);
    if (files[i].fd >= 0) close(files[i].fd);
  }
  delete[] files;
  files = nullptr;
  n = 0;
}

int close_stream(FILE*& stream, const char* message, const char* name) {
  if (!stream) return 0;
  int failed = fclose(stream) != 0;
  stream = nullptr;
  if (failed) report_error(message, name);
  return failed;
}

// Reads the one word of an open "inf" stream from its start; 0 when empty.
int32_t read_inf_word(FILE* stream) {
  int32_t value = 0;
  rewind(stream);
  if (fread(&value, 4, 1, stream) != 1) value = 0;
  rewind(stream);
  return value;
}

// Checks every entry of a mapped directory against the parts: part number,
// record size and end within the part, ascending pairs.
bool directory_entries_valid(const idbm_db* db) {
  const uint64_t n = (db->dir.size - kDirHeaderSize) / kDirEntrySize;
  const auto* e = reinterpret_cast<const dir_entry*>(static_cast<const char*>(db->dir.address) + kDirHeaderSize);
  for (uint64_t k = 0; k < n; ++k) {
    uint32_t part = dir_entry_part(e[k]);
    uint32_t size = dir_entry_size(e[k]);
    if (part >= db->nparts || size < 12) return false;
    if (uint64_t{e[k].offset} + size > db->parts[part].size) return false;
    if (k > 0 && pair_cmp(e[k - 1].hash1, e[k - 1].hash2, e[k].hash1, e[k].hash2) >= 0) return false;
  }
  return true;
}

// An existing, non-empty file (an empty map is no map: nothing to map).
bool file_has_bytes(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// Opens an existing file for reading and writing at its start, creating it
// empty when missing, never truncating it.
FILE* open_keep(const std::string& path) {
  if (FILE* f = fopen(path.c_str(), "ab")) fclose(f); else return nullptr;
  return fopen(path.c_str(), "r+b");
}

}  // namespace

idbm_db* idbm_openInner(const char* path, uint32_t id, int32_t posting_limit, uint32_t count, int32_t score_incr,
                        idbm_db* catalog, uint32_t flags) {
  // A commit cut short is finished first: a merge's commit drops the journal
  // of the database it replaced, which must not be replayed over it.
  if (path) {
    db_dir_lock lock(path);
    if (lock.held() && !db_finish_commit(path)) return nullptr;
  }
  if ((flags & IDBM_INCREMENTAL) && path && access(db_file_path(path, kJnlFile).c_str(), F_OK) == 0) {
    idbm_db* db = idbm_open_incr(path, posting_limit, count, score_incr, catalog);
    if (db) db->id = id;
    return db;
  }
  if (!path) {
    report_error("idbm_openInner:", "null db name");
    return nullptr;
  }
  idbm_db* db = new (std::nothrow) idbm_db;
  if (!db) {
    report_error("idbm_openInner: can't allocate db structure", path);
    return nullptr;
  }
  db->id = id;
  // A save or merge that commits meanwhile waits until this open has what
  // it reads; one whose renames were cut short is finished first.
  db_dir_lock lock(path);
  if (lock.held() && !db_finish_commit(path)) {
    idbm_close(db);
    return nullptr;
  }
  auto fail = [db](const char* what, const std::string& name) -> idbm_db* {
    report_error(what, name.c_str());
    idbm_close(db);
    return nullptr;
  };

  const std::string dir_path = db_file_path(path, kDirFile);
  if (!fmap(dir_path.c_str(), &db->dir)) return fail("idbm_openInner: can't map directory", dir_path);
  const uint32_t* header = idbm_dir_words(db);
  if (db->dir.size < kDirHeaderSize || header[0] < 1 || header[0] > kMaxParts)
    return fail("idbm_openInner: bad directory", dir_path);
  const uint32_t nparts = header[0];
  const uint32_t ndocs = header[2];

  // Title files.
  const uint32_t ntitles = title_file_count(ndocs);
  db->title_files = new (std::nothrow) db_file[ntitles];
  if (!db->title_files) return fail("idbm_openInner: ti malloc failed for", path);
  db->ntitle_files = ntitles;
  for (uint32_t i = 0; i < ntitles; ++i) {
    std::string name = db_title_path(path, i);
    db_file& f = db->title_files[i];
    f.name = str_dup(name.c_str());
    f.fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) {
      report_with_errno("idbm_openInner: cannot open", name);
      idbm_close(db);
      return nullptr;
    }
    long long size = fsize(f.fd);
    f.size = size > 0 ? static_cast<uint64_t>(size) : 0;
    if (i + 1 < ntitles && f.size < uint64_t{kTitlesPerFile} * kTitleBytes)
      return fail("idbm_openInner: titles file too short", name);
  }

  // Deletion map.
  const std::string del_path = db_file_path(path, kDelFile);
  bool del_ok = file_has_bytes(del_path) &&
                (fmapwrite(del_path.c_str(), &db->del) ||
                 (!(flags & IDBM_DEL_WRITABLE) && fmap(del_path.c_str(), &db->del)));
  if (del_ok && db->del.size < ndocs) return fail("idbm_openInner: del file too short", del_path);
  if (!del_ok && (flags & (IDBM_DEL_REQUIRED | IDBM_DEL_WRITABLE)))
    return fail("idbm_openInner: can't map del file", del_path);

  // Date map, when the file exists.
  const std::string din_path = db_file_path(path, kDinFile);
  bool din_ok = file_has_bytes(din_path) &&
                (fmapwrite(din_path.c_str(), &db->din) ||
                 (!(flags & IDBM_DIN_WRITABLE) && fmap(din_path.c_str(), &db->din)));
  if (din_ok && db->din.size < uint64_t{ndocs} * sizeof(din_entry))
    return fail("idbm_openInner: din file too short", din_path);
  if (!din_ok && (flags & (IDBM_DIN_REQUIRED | IDBM_DIN_WRITABLE)))
    return fail("idbm_openInner: can't map din file", din_path);

  // Score setting.
  const std::string inf_path = db_file_path(path, kInfFile);
  FILE* inf = fopen(inf_path.c_str(), "rb");
  if (!inf) return fail("idbm_openInner: cannot open", inf_path);
  db->score_incr = read_inf_word(inf);
  fclose(inf);
  db->name = str_dup(path);

  // Term-file parts.
  db->parts = new (std::nothrow) db_file[nparts];
  if (!db->parts) log_fatal("idbm_openInner: malloc failed");
  db->nparts = nparts;
  for (uint32_t i = 0; i < nparts; ++i) {
    std::string name = db_part_path(path, i);
    db_file& f = db->parts[i];
    f.name = str_dup(name.c_str());
    if (!(flags & IDBM_KEEP_DIR)) continue;
    f.fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) {
      report_with_errno("idbm_openInner: cannot open", name);
      idbm_close(db);
      return nullptr;
    }
    long long size = fsize(f.fd);
    f.size = size > 0 ? static_cast<uint64_t>(size) : 0;
  }
  if ((flags & IDBM_KEEP_DIR) && !directory_entries_valid(db))
    return fail("idbm_openInner: bad directory", dir_path);

  if (flags & IDBM_SCORE_MAP) idbm_score_map(db);
  db->posting_limit = posting_limit != 0 ? posting_limit : static_cast<int32_t>(header[3]);
  if (db->posting_limit < 1) db->posting_limit = kDefaultPostingLimit;
  db->ndocs = ndocs;

  if (!(flags & IDBM_KEEP_DIR)) {
    void* copy = s_malloc(kDirHeaderSize);
    memcpy(copy, header, kDirHeaderSize);
    funmap(&db->dir);
    if (db->dir.fd >= 0) close(db->dir.fd);
    db->dir.address = copy;
    db->dir.size = kDirHeaderSize;
    db->dir.fd = -1;
    db->dir_copy = true;
  }
  return db;
}

idbm_db* idbm_open(const char* path, int32_t posting_limit, uint32_t count, int32_t score_incr, idbm_db* catalog,
                   uint32_t id) {
  return idbm_openInner(path, id, posting_limit, count, score_incr, catalog,
                        IDBM_KEEP_DIR | IDBM_INCREMENTAL | IDBM_SCORE_MAP);
}

idbm_db* idbm_open_full(const char* path, uint32_t id, int32_t posting_limit, uint32_t count, int32_t score_incr,
                        idbm_db* catalog) {
  return idbm_openInner(path, id, posting_limit, count, score_incr, catalog,
                        IDBM_DEL_REQUIRED | IDBM_DIN_REQUIRED | IDBM_KEEP_DIR | IDBM_INCREMENTAL | IDBM_SCORE_MAP);
}

idbm_db* idbm_open_plain(const char* path, idbm_db* catalog) {
  return idbm_openInner(path, 0, 0, 0, 0, catalog, 0);
}

idbm_db* idbm_open_incr(const char* path, int32_t posting_limit, uint32_t count, int32_t score_incr,
                        idbm_db* catalog) {
  if (!path) {
    report_error("idbm_open_incr:", "null db name");
    return nullptr;
  }
  {
    // The journal as a commit cut short leaves it (store/db_commit.h).
    db_dir_lock lock(path);
    if (lock.held() && !db_finish_commit(path)) return nullptr;
  }
  // The capacity must hold every document of the journal: the title, deletion
  // and date files are cut to it before the replay. A smaller one is refused
  // before any file is touched.
  const uint32_t journaled = jnl_count_records(db_file_path(path, kJnlFile).c_str());
  if (count < journaled) {
    log_msg(LOG_ERROR, "idbm_open_incr: too many docs: the journal of %s holds %u documents, capacity %u", path,
            journaled, count);
    return nullptr;
  }
  if (count > kTitlesPerFile) {
    report_error("idbm_open_incr: capacity larger than one title file", path);
    return nullptr;
  }
  // The sizes of the title, deletion and date files: a refused open sets
  // them back, so it leaves the database as it was.
  struct kept_size {
    std::string path;
    off_t size;
  };
  std::vector<kept_size> sizes;
  for (const char* name : {"ti0", kDelFile, kDinFile}) {
    struct stat st;
    const std::string p = db_file_path(path, name);
    if (stat(p.c_str(), &st) == 0) sizes.push_back({p, st.st_size});
  }
  idbm_db* db = idbm_newdb(path, posting_limit);
  if (!db) {
    report_error("idbm_open_incr:", "failed");
    return nullptr;
  }
  auto refuse = [&](const char* what) -> idbm_db* {
    report_error("idbm_open_incr:", what);
    // The sizes go back while the handle still holds the directory: the next
    // open for indexing maps the files at its own capacity, and a file cut
    // under that mapping would end its process at the first store.
    for (const kept_size& k : sizes) {
      struct stat st;
      if (stat(k.path.c_str(), &st) == 0 && st.st_size > k.size &&
          (!durable_step("truncate", k.path.c_str()) || truncate(k.path.c_str(), k.size) != 0))
        report_error("idbm_open_incr: can't restore size", k.path.c_str());
    }
    idbm_close(db);
    return nullptr;
  };
  const uint64_t icube_words = std::min<uint64_t>(uint64_t{count} * 3584, 0x3FFFFFFFu);
  if (!idbm_trunc_titles(db, count) || !idbm_trunc_del(db, count) || !idbm_trunc_din(db, count) ||
      !idbm_cache(db, count * 384) || !idbm_icube(db, static_cast<uint32_t>(icube_words)))
    return refuse("failed");
  db->catalog = catalog;
  if (!idbm_recover_log(db, catalog != nullptr)) return refuse("can't recover from log");
  if (db->score_incr == 0) {
    db->score_incr = score_incr;
    rewind(db->inf_stream);
    if (fwrite(&score_incr, 4, 1, db->inf_stream) != 1 || fflush(db->inf_stream) != 0) {
      report_file_error("idbm_open_incr: can't set incr", db_file_path(path, kInfFile).c_str());
      return refuse("can't set incr");
    }
    rewind(db->inf_stream);
  } else if (db->score_incr != score_incr) {
    return refuse("incr conflict");
  }
  return db;
}

idbm_db* idbm_newdb(const char* path, int32_t posting_limit) {
  if (!path) {
    report_error("idbm_newdb: can't create", "");
    return nullptr;
  }
  struct stat st;
  const bool exists = stat(path, &st) == 0;
  const bool reusable = exists && S_ISDIR(st.st_mode) && access(path, W_OK) == 0;
  if (!reusable) {
    if (exists) {
      std::string backup = std::string(path) + "." + std::to_string(static_cast<long long>(time(nullptr)));
      log_msg(LOG_WARNING, "idbm_newdb backing up database %s as %s", path, backup.c_str());
      if (rename(path, backup.c_str()) != 0) {
        char buf[256];
        log_msg(LOG_ERROR, "idbm_newdb can't backup %s as %s: %s\n", path, backup.c_str(),
                strerror_r(errno, buf, sizeof buf));
        return nullptr;
      }
    }
    log_msg(LOG_INFO, "idbm_newdb creating new database %s", path);
    if (mkdir(path, 0777) != 0) {
      char buf[256];
      log_msg(LOG_ERROR, "idbm_newdb can't create new dir %s: %s\n", path, strerror_r(errno, buf, sizeof buf));
      return nullptr;
    }
    // The new directory (and a backup's new name) last as well.
    std::string parent(path);
    const size_t slash = parent.find_last_of('/');
    parent = slash == std::string::npos ? "." : slash == 0 ? "/" : parent.substr(0, slash);
    durable_sync_dir(parent);
  }
  idbm_db* db = new (std::nothrow) idbm_db;
  if (!db) log_fatal("idbm_newdb: malloc failed");
  db->name = str_dup(path);
  db->posting_limit = posting_limit >= 1 ? posting_limit : static_cast<int32_t>(kDefaultPostingLimit);
  idbm_score_map(db);

  std::string failed;
  auto open_existing = [&](FILE*& stream, const char* name) {
    if (!failed.empty()) return;
    std::string p = db_file_path(path, name);
    stream = open_keep(p);
    if (!stream) failed = p;
  };
  // The term files, directory and catalog are written under temporary
  // names: the database's own stay as they are until a save or merge
  // commits (store/db_commit.h).
  if (!db_begin_new_files(db)) failed = db_file_path(path, kNewDirFile);
  open_existing(db->ti_stream, "ti0");
  open_existing(db->del_stream, kDelFile);
  open_existing(db->din_stream, kDinFile);
  if (failed.empty()) {
    std::string p = db_file_path(path, kInfFile);
    if (access(p.c_str(), R_OK | W_OK) == 0 && (db->inf_stream = fopen(p.c_str(), "r+b"))) {
      db->score_incr = read_inf_word(db->inf_stream);
    } else if ((db->inf_stream = fopen(p.c_str(), "w+b"))) {
      db->score_incr = 0;
    } else {
      failed = p;
    }
  }
  if (!failed.empty()) {
    int saved = errno;
    idbm_close(db);
    errno = saved;
    report_file_error("idbm_newdb: can't create", failed.c_str());
    return nullptr;
  }
  return db;
}

namespace {

// Sets the stream's file to at least bytes, closes the stream and maps its
// first bytes read-write into out (left unmapped at size 0). A longer file is
// not cut: another handle may have its end mapped, and the bytes past the
// capacity are never read.
int trunc_and_map(idbm_db* db, FILE*& stream, const char* file, uint64_t bytes, mapped_file& out, bool& heap,
                  const char* who) {
  std::string p = db_file_path(db->name, file);
  if (!stream) {
    report_error(who, p.c_str());
    return 0;
  }
  const long long have = fflush(stream) == 0 ? fsize(fileno(stream)) : -1;
  bool ok = have >= 0 && (static_cast<uint64_t>(have) >= bytes ||
                          ftruncate(fileno(stream), static_cast<off_t>(bytes)) == 0);
  const int saved = errno;
  if (fclose(stream) != 0 && ok) ok = false;
  else errno = saved;
  stream = nullptr;
  if (!ok) {
    report_file_error(who, p.c_str());
    return 0;
  }
  release_map(out, heap);
  if (bytes == 0) return 1;
  return fmapwrite_size(p.c_str(), bytes, &out);
}

}  // namespace

int idbm_trunc_titles(idbm_db* db, uint32_t n) {
  return trunc_and_map(db, db->ti_stream, "ti0", uint64_t{n} * kTitleBytes, db->ti0, db->ti0_heap,
                       "idbm_trunc_titles: can't set size");
}

int idbm_trunc_del(idbm_db* db, uint32_t n) {
  return trunc_and_map(db, db->del_stream, kDelFile, n, db->del, db->del_heap, "idbm_trunc_del: can't set size");
}

int idbm_trunc_din(idbm_db* db, uint32_t n) {
  if (!db->din_stream) return 1;
  return trunc_and_map(db, db->din_stream, kDinFile, uint64_t{n} * sizeof(din_entry), db->din, db->din_heap,
                       "idbm_trunc_din: can't set size");
}

int idbm_close(idbm_db* db) {
  if (!db) return 1;
  const char* name = db->name ? db->name : "";
  db_abandon_new_files(db);
  icube_release(db);
  idbm_cache_release(db);
  if (db->cat_table) {
    vfree(db->cat_table, 0);
    db->cat_table = nullptr;
    db->cat_size = 0;
  }
  release_files(db->parts, db->nparts);
  release_files(db->title_files, db->ntitle_files);
  release_map(db->dir, db->dir_copy);
  release_map(db->ti0, db->ti0_heap);
  release_map(db->del, db->del_heap);
  release_map(db->din, db->din_heap);

  int failures = 0;
  failures += close_stream(db->dir_stream, "idbm_close: fclose failed on dirfp", name);
  failures += close_stream(db->cat_stream, "idbm_close: fclose failed on catfp", name);
  failures += close_stream(db->tf_stream, "idbm_close: fclose failed on tffp", name);
  failures += close_stream(db->sum_stream, "idbm_close: fclose failed on sumfp", name);
  failures += close_stream(db->ti_stream, "idbm_close: fclose failed on tifp", name);
  failures += close_stream(db->del_stream, "idbm_close: fclose failed on delfp", name);
  failures += close_stream(db->din_stream, "idbm_close: fclose failed on dinfp", name);
  failures += close_stream(db->inf_stream, "idbm_close: fclose failed on inffp", name);
  failures += close_stream(db->jnl_stream, "idbm_close: fclose failed on logfp", name);
  free(db->name);
  delete db;
  return failures == 0 ? 1 : 0;
}

}  // namespace vorlane
