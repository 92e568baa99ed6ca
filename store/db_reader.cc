#include "store/db_reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/log.h"
#include "store/mapfile.h"

namespace vorlane {

namespace {

struct reader_state {
  idbm_reader r;
  bool at_end = false;
};

reader_state* state_of(idbm_reader* r) { return reinterpret_cast<reader_state*>(r); }

const char* part_name(const idbm_db* db, uint32_t part) {
  return part < db->nparts && db->parts[part].name ? db->parts[part].name : "";
}

void close_part(idbm_reader* r) {
  if (r->own_fd && r->fd >= 0) close(r->fd);
  r->fd = -1;
  r->own_fd = false;
}

bool open_part(idbm_db* db, idbm_reader* r, uint32_t part) {
  close_part(r);
  if (part < db->nparts && db->parts[part].fd >= 0) {
    r->fd = db->parts[part].fd;
  } else {
    r->fd = open(part_name(db, part), O_RDONLY | O_CLOEXEC);
    if (r->fd < 0) return false;
    r->own_fd = true;
  }
  long long size = fsize(r->fd);
  r->part = part;
  r->part_size = size > 0 ? static_cast<uint64_t>(size) : 0;
  r->part_read = 0;
  return true;
}

void grow(idbm_reader* r, uint64_t need) {
  if (need <= r->capacity) return;
  auto* bigger = static_cast<unsigned char*>(realloc(r->buffer, need));
  if (!bigger) log_fatal("idbm_buffer: malloc failed");
  r->buffer = bigger;
  r->capacity = need;
}

// Makes at least need unread bytes available from the current part; false
// when the part ends first (or a read fails: *error).
bool ensure(idbm_reader* r, uint64_t need, bool* error) {
  if (r->end - r->begin >= need) return true;
  grow(r, need);
  if (r->begin > 0) {
    memmove(r->buffer, r->buffer + r->begin, r->end - r->begin);
    r->end -= r->begin;
    r->begin = 0;
  }
  while (r->end < need && r->part_read < r->part_size) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(r->capacity - r->end, r->part_size - r->part_read));
    const ssize_t got = ::pread(r->fd, r->buffer + r->end, want, static_cast<off_t>(r->part_read));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *error = true;
      return false;
    }
    r->end += static_cast<uint64_t>(got);
    r->part_read += static_cast<uint64_t>(got);
  }
  return r->end >= need;
}

const uint32_t* bad(idbm_db* db, idbm_reader* r, const char* what, const char* detail = nullptr) {
  std::string name = detail ? std::string(detail) + ": " + part_name(db, r->part) : part_name(db, r->part);
  report_error(what, name.c_str());
  return nullptr;
}

const uint32_t* validate(idbm_db* db, idbm_reader* r, const uint32_t* rec) {
  const uint32_t ndocs = db->ndocs;
  char detail[64];
  if ((rec[0] & kHashMask) == 0 || (rec[1] & kHashMask) == 0) return bad(db, r, "idbm_record: zero hash:");
  const uint32_t* p = rec_postings(rec);
  const uint32_t count = rec_count(rec);
  if (rec_is_compact(rec)) {
    if (posting_docid(p[0]) >= ndocs) {
      snprintf(detail, sizeof detail, "%d >= %d", static_cast<int>(posting_docid(p[0])), static_cast<int>(ndocs));
      return bad(db, r, "idbm_record: invalid 1st docid:", detail);
    }
    if (count == 2) {
      if (posting_docid(p[1]) >= ndocs) {
        snprintf(detail, sizeof detail, "%d >= %d", static_cast<int>(posting_docid(p[1])), static_cast<int>(ndocs));
        return bad(db, r, "idbm_record: invalid 2nd docid:", detail);
      }
      if (posting_docid(p[1]) <= posting_docid(p[0])) return bad(db, r, "idbm_record: docids out of order:");
    }
    return rec;
  }
  if (rec[1] & kCompactFlag) return bad(db, r, "idbm_record: 2nd hash<0:");
  if (count == 0) return bad(db, r, "idbm_record: null record:");
  const uint32_t docf = rec_docf(rec);
  if (docf < count || docf > ndocs) return bad(db, r, "idbm_record: invalid size or docf:");
  for (uint32_t i = 0; i < count; ++i) {
    if (posting_docid(p[i]) >= ndocs) {
      snprintf(detail, sizeof detail, "%d >= %d", static_cast<int>(posting_docid(p[i])), static_cast<int>(ndocs));
      return bad(db, r, "idbm_record: invalid docid:", detail);
    }
    if (i > 0 && posting_docid(p[i]) <= posting_docid(p[i - 1])) return bad(db, r, "idbm_record: docids out of order:");
  }
  if (p[count] != kRecEndMark) return bad(db, r, "idbm_record: missing sentinel:");
  return rec;
}

}  // namespace

idbm_reader* idbm_buffer(idbm_db* db) {
  auto* st = new (std::nothrow) reader_state;
  if (!st) log_fatal("idbm_buffer: malloc failed");
  idbm_reader* r = &st->r;
  if (!open_part(db, r, 0)) {
    report_error("idbm_buffer: can't open", part_name(db, 0));
    delete st;
    return nullptr;
  }
  if (r->part_size == 0) {
    report_error("idbm_buffer: empty file", part_name(db, 0));
    idbm_buffer_free(r);
    return nullptr;
  }
  grow(r, std::max<uint64_t>(uint64_t(db->posting_limit > 0 ? db->posting_limit : 0) * 4 + 36, kPageBytes));
  bool error = false;
  ensure(r, std::min<uint64_t>(r->capacity, r->part_size), &error);
  if (error) {
    report_error("idbm_buffer: can't read from", part_name(db, 0));
    idbm_buffer_free(r);
    return nullptr;
  }
  return r;
}

const uint32_t* idbm_record(idbm_db* db, idbm_reader* r) {
  reader_state* st = state_of(r);
  bool error = false;
  // Move to the next part when this one is used up.
  while (r->begin == r->end && r->part_read >= r->part_size) {
    if (r->part + 1 >= db->nparts) {
      st->at_end = true;
      return nullptr;
    }
    if (!open_part(db, r, r->part + 1)) return bad(db, r, "idbm_record: can't open");
    r->begin = r->end = 0;
  }
  const uint64_t offset = r->part_read - (r->end - r->begin);
  if (!ensure(r, 8, &error)) {
    if (error) return bad(db, r, "idbm_record:");
    return bad(db, r, "idbm_record: record cut at end of part:");
  }
  auto* head = reinterpret_cast<const uint32_t*>(r->buffer + r->begin);
  uint64_t size;
  if (rec_is_compact(head)) {
    size = rec_size(head);
  } else {
    if (!ensure(r, 16, &error)) return bad(db, r, error ? "idbm_record:" : "idbm_record: record cut at end of part:");
    head = reinterpret_cast<const uint32_t*>(r->buffer + r->begin);
    size = rec_size(head);
  }
  if (!ensure(r, size, &error)) return bad(db, r, error ? "idbm_record:" : "idbm_record: record cut at end of part:");
  auto* rec = reinterpret_cast<const uint32_t*>(r->buffer + r->begin);
  r->begin += size;
  r->record_part = r->part;
  r->record_offset = offset;
  r->record_size = static_cast<uint32_t>(size);
  return validate(db, r, rec);
}

bool idbm_reader_at_end(const idbm_reader* reader) {
  return reinterpret_cast<const reader_state*>(reader)->at_end;
}

void idbm_buffer_free(idbm_reader* r) {
  if (!r) return;
  close_part(r);
  free(r->buffer);
  delete state_of(r);
}

int idbm_mkdir(idbm_db* db) {
  const char* name = db->name ? db->name : "";
  // No save or merge commits while the directory is rebuilt from the parts.
  db_dir_lock lock(db->name);
  uint32_t header[4] = {};
  if (db->dir.address) memcpy(header, db->dir.address, kDirHeaderSize);
  // The handle keeps its directory until the new one has taken the name: a
  // rebuild that fails leaves the handle and the files as they were.
  const std::string tmp = db_file_path(db->name, kRebuildDirFile);
  const std::string dir = db_file_path(db->name, kDirFile);
  FILE* out = fopen(tmp.c_str(), "wb");
  if (!out) return report_error("idbm_mkdir: fopen", tmp.c_str());
  if (fwrite(header, 4, 4, out) != 4) {
    fclose(out);
    return report_error("idbm_mkdir: putw", tmp.c_str());
  }
  idbm_reader* r = idbm_buffer(db);
  if (!r) {
    fclose(out);
    return 0;
  }
  uint32_t part = 0;
  bool first = true;
  while (const uint32_t* rec = idbm_record(db, r)) {
    if (r->record_offset == 0 && !first) ++part;
    first = false;
    if (!dir_entry_needed(static_cast<uint32_t>(r->record_offset), r->record_size)) continue;
    dir_entry e{rec_hash1(rec), rec_hash2(rec), static_cast<uint32_t>(r->record_offset),
                (r->record_size << 8) | part};
    if ((durable_hook && durable_hook("append", tmp.c_str()) != 0) || fwrite(&e, sizeof e, 1, out) != 1) {
      idbm_buffer_free(r);
      fclose(out);
      return report_error("idbm_mkdir: fwrite", tmp.c_str());
    }
  }
  const bool complete = idbm_reader_at_end(r);
  idbm_buffer_free(r);
  // The new directory is on disk before it takes the name.
  if (!durable_finish(out, tmp.c_str())) return report_error("idbm_mkdir: fclose", tmp.c_str());
  if (!complete) return 0;
  // The old directory stays as "dir~"; "dir" is replaced in one rename, so
  // it exists at every moment.
  const std::string backup = db_file_path(db->name, kOldDirFile);
  if (!durable_unlink(backup)) return report_error("idbm_mkdir: rename", backup.c_str());
  if (link(dir.c_str(), backup.c_str()) != 0 && errno != ENOENT) return report_error("idbm_mkdir: rename", dir.c_str());
  if (!durable_rename(tmp, dir)) return report_error("idbm_mkdir: rename", tmp.c_str());
  const bool synced = durable_sync_dir(db->name);
  if (db->dir_copy) {
    free(db->dir.address);
    db->dir = mapped_file{};
    db->dir_copy = false;
  } else if (db->dir.address) {
    const int fd = db->dir.fd;
    if (!funmap(&db->dir)) return report_error("idbm_mkdir: unmap", name);
    db->dir = mapped_file{};
    if (fd >= 0 && close(fd) != 0) return report_error("idbm_mkdir: close", name);
  }
  if (!fmap(dir.c_str(), &db->dir)) return report_error("idbm_mkdir: fmap", dir.c_str());
  if (!synced) return report_error("idbm_mkdir: rename", name);
  return 1;
}

}  // namespace vorlane
