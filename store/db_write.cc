#include "store/db_write.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/journal.h"
#include "store/log.h"
#include "store/mapfile.h"
#include "store/term_hash.h"

namespace vorlane {

uint64_t idbm_part_limit = kPartLimit;
void (*idbm_write_step)(const char* step) = nullptr;

namespace {

void step(const char* name) {
  if (idbm_write_step) idbm_write_step(name);
}

int report_docid(const char* what, uint32_t docid, uint32_t ndocs, const idbm_db* db) {
  char detail[512];
  snprintf(detail, sizeof detail, "%u >= %u: %s", docid, ndocs, db_name(db));
  return report_error(what, detail);
}

// Copies a record with a norm into work, its scores turned back into stored
// classes: score_map[min(100, (raw * 100 + norm / 2) / norm)].
const uint32_t* rescale(const idbm_db* db, const uint32_t* rec, std::vector<uint32_t>& work) {
  const uint32_t limit = static_cast<uint32_t>(std::max(db->posting_limit, 1));
  const uint32_t norm = rec_norm(rec);
  const uint32_t count = std::min(rec_count(rec), limit);
  work.resize(uint64_t{count} + 5);
  rec_set_header(work.data(), rec[0], rec[1], rec_full_docf(rec), 0, count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t p = rec[4 + i];
    const uint32_t s = std::min<uint32_t>(100, ((p & 127u) * 100 + norm / 2) / norm);
    work[4 + i] = (p & ~127u) | static_cast<uint32_t>(db->score_map[s]);
  }
  work[4 + count] = kRecEndMark;
  return work.data();
}

// A write of the term files being made failed: the part, or the new
// directory when dir is set, is named.
int write_failed(const idbm_db* db, const char* what, bool dir = false) {
  const std::string path = dir ? db_file_path(db_name(db), kNewDirFile) : db_new_part_path(db_name(db), db->new_part);
  return report_file_error(what, path.c_str());
}

}  // namespace

int idbm_append(idbm_db* db, const uint32_t* record, idbm_position* position) {
  thread_local std::vector<uint32_t> work;
  const uint32_t* rec = rec_norm(record) ? rescale(db, record, work) : record;
  const uint32_t count = rec_count(rec);
  if (count == 0) return 0;
  const uint32_t docf = rec_docf(rec);
  if (docf > db->ndocs || docf < count) return report_error("idbm_append: invalid size or docf", db_name(db));
  if (static_cast<int32_t>(rec[0]) < 1 || static_cast<int32_t>(rec[1]) < 1)
    return report_error("idbm_append: negative hash", db_name(db));

  uint64_t offset = uint64_t{position->offset} + dir_packed_size(position->size_part);
  uint32_t part = dir_packed_part(position->size_part);
  const uint32_t* postings = rec + 4;
  uint32_t out[4];
  uint32_t size;
  if (count >= 3) {
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t docid = posting_docid(postings[i]);
      if (docid >= db->ndocs) return report_docid("idbm_append: invalid docid:", docid, db->ndocs, db);
      if (posting_score(postings[i]) == 0) return report_error("idbm_append: zero score:", db_name(db));
      if (i > 0 && docid <= posting_docid(postings[i - 1]))
        return report_error("idbm_append: docids out of order:", db_name(db));
    }
    if (postings[count] != kRecEndMark) return report_error("idbm_append: missing sentinel", db_name(db));
    size = count * 4 + kRecOverheadBytes;
    out[0] = rec[0];
    out[1] = rec[1];
    out[2] = rec[2];
    rec_set_count(out, count);  // free is 0 on disk
  } else {
    const uint32_t first = postings[0];
    if (posting_docid(first) >= db->ndocs)
      return report_docid("idbm_append: invalid 1st docid:", posting_docid(first), db->ndocs, db);
    if (posting_score(first) == 0) return report_error("idbm_append: zero 1st score:", db_name(db));
    out[0] = rec[0] | kCompactFlag;
    out[1] = rec[1];
    out[2] = first;
    size = 12;
    if (count == 2) {
      const uint32_t second = postings[1];
      if (posting_docid(second) >= db->ndocs)
        return report_docid("idbm_append: invalid 2nd docid:", posting_docid(second), db->ndocs, db);
      if (posting_score(second) == 0) return report_error("idbm_append: zero 2nd score:", db_name(db));
      if (posting_docid(second) <= posting_docid(first))
        return report_error("idbm_append: pair docids out of order:", db_name(db));
      out[1] |= kCompactFlag;
      out[3] = second;
      size = 16;
    }
  }

  if (durable_hook && durable_hook("append", db_name(db)) != 0) return write_failed(db, "idbm_append: tf fwrite");
  if (offset + size >= idbm_part_limit) {
    if (part >= kMaxParts - 1) return report_error("idbm_append:", "too many parts");
    // The finished part is flushed, synced and closed; any failure of those
    // fails the append.
    if (!db_start_new_part(db, part + 1))
      return report_file_error("idbm_append: can't start new part", db_new_part_path(db_name(db), part + 1).c_str());
    ++part;
    offset = 0;
  }
  if (!db->tf_stream) return report_error("idbm_append: tf fwrite", db_name(db));
  bool written;
  if (count >= 3)
    written = fwrite(out, 4, 4, db->tf_stream) == 4 && fwrite(postings, 4, count + 1, db->tf_stream) == count + 1;
  else
    written = fwrite(out, 1, size, db->tf_stream) == size;
  if (!written) return write_failed(db, "idbm_append: tf fwrite");
  position->offset = static_cast<uint32_t>(offset);
  position->size_part = dir_size_part(size, part);
  if (dir_entry_needed(static_cast<uint32_t>(offset), size)) {
    const dir_entry e{rec_hash1(rec), rec_hash2(rec), static_cast<uint32_t>(offset), dir_size_part(size, part)};
    if (!db->dir_stream || fwrite(&e, sizeof e, 1, db->dir_stream) != 1)
      return write_failed(db, "idbm_append: dir fwrite", true);
  }
  return 1;
}

int idbm_write_score_incr(idbm_db* db, int32_t value) {
  if (!db->inf_stream) {
    log_msg(LOG_ERROR, "idbm_write_score_incr: db %s, inf file not already open", db_name(db));
    return 0;
  }
  int32_t stored = 0;
  rewind(db->inf_stream);
  if (fread(&stored, 4, 1, db->inf_stream) != 1) stored = 0;
  if (stored != 0 && value != 0 && stored != value) {
    log_msg(LOG_ERROR, "idbm_write: score_incr does not match db %s: %d!=%d", db_name(db), value, stored);
    return 0;
  }
  if (value < 1 && stored < 1) {
    log_msg(LOG_ERROR, "Invalid score_incr(0) for db %s", db_name(db));
    return 0;
  }
  const int32_t v = value ? value : stored;
  rewind(db->inf_stream);
  const std::string inf = db_file_path(db_name(db), kInfFile);
  if (fwrite(&v, 4, 1, db->inf_stream) != 1) return report_file_error("idbm_write_score_incr: inf putw", inf.c_str());
  if (fflush(db->inf_stream) != 0) return report_file_error("idbm_write_score_incr: inf fflush", inf.c_str());
  db->score_incr = v;
  return 1;
}

int idbm_write(idbm_db* db, int32_t score_incr) {
  const char* name = db_name(db);
  // A handle made for writing: its files begun (idbm_newdb) or committed.
  if (!db->inf_stream || (!db->saved && !db->new_files))
    return report_error("idbm_write: db files not already open", name);
  if (!idbm_write_score_incr(db, score_incr)) return 0;

  // New term files, directory and catalog under temporary names; the
  // database's own stay whole until the commit (store/db_commit.h).
  if (!db_begin_new_files(db)) return 0;
  const uint32_t zero_header[4] = {};
  if (fwrite(zero_header, 4, 4, db->dir_stream) != 4) return write_failed(db, "idbm_write: dir putw", true);

  // Every record of the term table, in hash-pair order.
  const uint32_t table_size =
      db->cache_table ? static_cast<uint32_t>(db->cache_table[0].load(std::memory_order_relaxed)) : 0;
  const int32_t used = db->cache_used.load(std::memory_order_relaxed);
  // Each record is sorted by a key read once from its pair, in the order of
  // hash_pair_cmp (both words without their top bit), records of equal keys
  // in table order: sorting through the record pointers would read the
  // icube at random for every comparison.
  struct keyed_record {
    uint64_t key;
    uint32_t* rec;
  };
  auto* records =
      static_cast<keyed_record*>(malloc(sizeof(keyed_record) * (static_cast<size_t>(std::max(used, 0)) + 1)));
  if (!records) return report_error("idbm_write: out of memory for qsort", name);
  int32_t n = 0;
  for (uint32_t cell = 1; cell <= table_size; ++cell) {
    const uintptr_t v = db->cache_table[cell].load(std::memory_order_relaxed);
    if (v == 0 || v == CACHE_DEL) continue;
    if (n >= used) log_fatal("idbm_write: qsort buf overrun");
    auto* rec = reinterpret_cast<uint32_t*>(v);
    records[n++] = {uint64_t{rec[0] & kHashMask} << 32 | (rec[1] & kHashMask), rec};
  }
  log_msg(LOG_INFO, "write %d terms from size %d table\n", n, static_cast<int>(table_size));
  std::stable_sort(records, records + n, [](const keyed_record& a, const keyed_record& b) { return a.key < b.key; });
  log_msg(LOG_INFO, "done sorting %d terms\n", n);

  const uint32_t limit = static_cast<uint32_t>(std::max(db->posting_limit, 1));
  idbm_position position;
  uint32_t nterms = 0;
  for (int32_t i = 0; i < n; ++i) {
    uint32_t* rec = records[i].rec;
    const uint32_t count = rec_full_count(rec);
    if (count > limit) {
      // Keep the first limit postings (by docid); the rest becomes spare room.
      const uint32_t room = count + rec_full_free(rec);
      rec[4 + limit] = kRecEndMark;
      memset(rec + 5 + limit, 0, (uint64_t{room} - limit) * 4);
      rec_set_count(rec, limit, std::min(room - limit, kFreeMask));
    }
    if (!idbm_append(db, rec, &position)) {
      free(records);
      return 0;
    }
    ++nterms;
  }
  free(records);
  step("records");

  if (fflush(db->dir_stream) != 0) return write_failed(db, "idbm_write: dir fflush", true);
  if (fflush(db->cat_stream) != 0)
    return report_file_error("idbm_write: cat fflush", db_file_path(name, kNewCatFile).c_str());
  if (fflush(db->tf_stream) != 0) return write_failed(db, "idbm_write: tf fflush");

  // Areas held in heap buffers go to their streams, from the start.
  struct heap_area {
    const mapped_file& map;
    bool heap;
    FILE* stream;
    uint64_t bytes;
    const char* file;
    const char* write_msg;
    const char* flush_msg;
  };
  const heap_area areas[] = {
      {db->ti0, db->ti0_heap, db->ti_stream, uint64_t{db->ndocs} * kTitleBytes, "ti0", "idbm_write: ti fwrite",
       "idbm_write: ti fflush"},
      {db->del, db->del_heap, db->del_stream, db->ndocs, kDelFile, "idbm_write: del fwrite", "idbm_write: del fflush"},
      {db->din, db->din_heap, db->din_stream, uint64_t{db->ndocs} * sizeof(din_entry), kDinFile, "idbm_write: din fwrite",
       "idbm_write: din fflush"},
  };
  for (const heap_area& a : areas) {
    if (!a.heap || !a.stream || !a.map.address) continue;
    const uint64_t bytes = std::min(a.bytes, a.map.size);
    rewind(a.stream);
    const std::string file = db_file_path(name, a.file);
    if (fwrite(a.map.address, 1, bytes, a.stream) != bytes) return report_file_error(a.write_msg, file.c_str());
    if (fflush(a.stream) != 0) return report_file_error(a.flush_msg, file.c_str());
  }
  step("synced");

  // The commit: every file synced, then the new directory in place of the
  // old one. A save that fails before it leaves the old database (and the
  // journal) as they were.
  const uint32_t header[4] = {dir_packed_part(position.size_part) + 1, nterms, db->ndocs, limit};
  if (!db_end_new_files(db, header) || !db_commit_new_files(db)) return report_error("idbm_write: sync", name);
  step("header");

  if (db->jnl_stream) {
    idbm_close_journal(db);
    const std::string jnl = db_file_path(db->name, kJnlFile);
    if (!durable_unlink(jnl)) return report_error("idbm_write: unlink", name);
    if (!durable_sync_dir(db->name)) return report_error("idbm_write: sync", name);
  }
  step("journal");
  return 1;
}

}  // namespace vorlane
