#include "store/indexing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/catalog.h"
#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/doc_terms.h"
#include "store/icube.h"
#include "store/journal.h"
#include "store/log.h"
#include "store/mapfile.h"
#include "store/score_tables.h"
#include "store/term_cache.h"
#include "store/title_record.h"

namespace vorlane {

namespace {

// Document-frequency weight of a term new to the handle.
uint32_t new_term_norm(const idbm_db* db, uint32_t hash1, uint32_t hash2) {
  int norm;
  if (const idbm_db* cat = db->catalog) {
    const cat_entry* e = idbm_cat_find(cat, hash1, hash2);
    norm = idf_scale(e ? cat_docf(*e) : 1, cat->ndocs);
  } else {
    norm = idf_scale(1, db->ndocs);
  }
  // A norm of 0 (an empty catalog) would make the record look raw.
  return static_cast<uint32_t>(std::clamp(norm, 1, 100));
}

// Allocates the blocks of a mapped file (not a heap buffer) that a store at
// offset will touch. 1, or 0 after report_file_error naming the file.
int reserve_map(const idbm_db* db, mapped_file& map, bool heap, uint64_t offset, uint64_t length,
                const char* file, const char* who) {
  if (heap || fmap_reserve(map, offset, length)) return 1;
  return report_file_error(who, db_file_path(db_name(db), file).c_str());
}

// Room on disk for the deletion byte, the title record (when one is stored)
// and the date entry of docid, before any of them is written.
int reserve_document(idbm_db* db, uint32_t docid, bool with_title) {
  const char* who = "idbm_index: no room for the document in";
  return reserve_map(db, db->del, db->del_heap, docid, 1, kDelFile, who) &&
         (!with_title ||
          reserve_map(db, db->ti0, db->ti0_heap, uint64_t{docid} * kTitleBytes, kTitleBytes, "ti0", who)) &&
         (!db->din.address ||
          reserve_map(db, db->din, db->din_heap, uint64_t{docid} * sizeof(din_entry), sizeof(din_entry), kDinFile,
                      who));
}

// Stores the title record of docid. 1, or 0 after its message.
int store_title(idbm_db* db, uint32_t docid, const unsigned char* title) {
  const uint64_t at = uint64_t{docid} * kTitleBytes;
  if (db->ti0.address && !db->ti0_heap) {
    unsigned char* dst = static_cast<unsigned char*>(db->ti0.address) + at;
    if (memcmp(dst, title, kTitleBytes) != 0) {
      memcpy(dst, title, kTitleBytes);
      flush_range(dst, kTitleBytes, MS_ASYNC);
    }
    return 1;
  }
  title_host host;
  title_unpack(title, &host);
  if (!db->ti_stream) {
    log_msg(LOG_ERROR, "idbm_index: title not writable for %s (%u) %s\n", db_name(db), docid, host.url);
    return 0;
  }
  if (fwrite(title, 1, kTitleBytes, db->ti_stream) != kTitleBytes) {
    char buf[256];
    log_msg(LOG_ERROR, "idbm_index: fwrite(title) failed for %s (%u) %s: %s\n", db_name(db), docid, host.url,
            strerror_r(errno, buf, sizeof buf));
    // Drop the partial record so the file ends after the last whole title.
    fflush(db->ti_stream);
    if (ftruncate(fileno(db->ti_stream), static_cast<off_t>(at)) == 0) fseeko(db->ti_stream, static_cast<off_t>(at), SEEK_SET);
    return 0;
  }
  if (fflush(db->ti_stream) != 0) return report_error("idbm_index: ti fflush", db_name(db));
  return 1;
}

// Adds one posting to the term's record (cell of the term table). 1, 0 when
// the term is skipped, -1 when the icube is full.
int add_posting(idbm_db* db, uint32_t cell, uint32_t hash1, uint32_t hash2, uint32_t docid, uint32_t score,
                uint32_t norm) {
  auto* rec = reinterpret_cast<uint32_t*>(db->cache_table[cell].load(std::memory_order_relaxed));
  const uint32_t posting = (docid << 7) | score;
  if (!rec) {
    rec = icube_alloc(db, 2);
    if (!rec) return -1;
    rec_set_header(rec, hash1, hash2, 1, norm, 1, 1);
    rec[4] = posting;
    rec[5] = kRecEndMark;
    db->cache_table[cell].store(reinterpret_cast<uintptr_t>(rec), std::memory_order_release);
    db->cache_free.fetch_sub(1, std::memory_order_relaxed);
    db->cache_used.fetch_add(1, std::memory_order_relaxed);
    return 1;
  }
  uint32_t count = rec_full_count(rec);
  uint32_t free_words = rec_full_free(rec);
  if (count > 0 && posting_docid(rec[4 + count - 1]) >= docid) {
    report_error("idbm_index:", "posting not above the record's last docid");
    return 0;
  }
  const uint32_t docf = std::min(rec_full_docf(rec) + 1, kDocfMask);
  if (count >= kMaxRecCount) {
    // The count field is full: the document is counted, its posting not kept.
    rec_set_docf(rec, docf);
    return 1;
  }
  if (free_words == 0) {
    const uint32_t room = count + std::min({count, kFreeMask, kMaxRecCount - count});
    uint32_t* grown = icube_alloc(db, room);
    if (!grown) return -1;
    memcpy(grown, rec, (uint64_t{count} + 4) * 4);
    free_words = room - count;
    rec = grown;
    db->cache_table[cell].store(reinterpret_cast<uintptr_t>(rec), std::memory_order_release);
  }
  rec[4 + count] = posting;
  rec[5 + count] = kRecEndMark;
  rec_set_docf(rec, docf);
  rec_set_count(rec, count + 1, free_words - 1);
  return 1;
}

// Is the deletion map writable (a heap buffer, or a map over a file opened
// for writing)?
bool del_writable(const idbm_db* db) {
  if (!db->del.address) return false;
  if (db->del_heap) return true;
  if (db->del.fd < 0) return false;
  int flags = fcntl(db->del.fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

}  // namespace

int idbm_index(idbm_db* db, const doc_terms* terms, const unsigned char* title, uint8_t flag_byte,
               uint32_t din_word0, uint32_t din_word1, int normalise) {
  const int mode = normalise ? 1 : 0;
  if (db->index_normalised >= 0 && db->index_normalised != mode) {
    log_msg(LOG_ERROR, "idbm_index: inconsistent normalization in %s (records %s, document %s)", db_name(db),
            db->index_normalised ? "normalised" : "raw", mode ? "normalised" : "raw");
    return 0;
  }
  const uint32_t docid = db->ndocs;
  // The maps must hold the document; a caller that did not check gets -1
  // before anything is taken.
  if (!db->del.address || docid >= db->del.size ||
      (db->ti0.address && uint64_t{docid + 1} * kTitleBytes > db->ti0.size) ||
      (db->din.address && uint64_t{docid + 1} * sizeof(din_entry) > db->din.size) || !db->cache_table)
    return -1;

  // A full disk refuses the document before it takes anything.
  if (!reserve_document(db, docid, title != nullptr)) return 0;

  auto* del = static_cast<uint8_t*>(db->del.address);
  db->ndocs = docid + 1;
  del[docid] = 255;

  const int32_t nterms = terms ? terms->size : 0;
  if (nterms >= db->cache_free.load(std::memory_order_relaxed)) return -1;
  if (title && !store_title(db, docid, title)) return 0;

  const uint32_t table_size = static_cast<uint32_t>(db->cache_table[0].load(std::memory_order_relaxed));
  const idbm_db* scores = db->catalog ? db->catalog : db;
  // A term's cell and then its record are each a cache miss once the table
  // outgrows the caches: the cells of the terms kAheadCells places on, and
  // the records of those kAheadRecords places on, are fetched early.
  constexpr int32_t kAheadCells = 16, kAheadRecords = 8;
  uint32_t ahead[kAheadCells] = {};
  auto fetch_cell = [&](int32_t j) {
    if (j >= nterms || table_size == 0) return;
    const uint32_t cell = probe_first(terms->pairs[j].hash1, table_size);
    ahead[j % kAheadCells] = cell;
    __builtin_prefetch(&db->cache_table[cell]);
  };
  auto fetch_record = [&](int32_t j) {
    if (j >= nterms || table_size == 0) return;
    const uintptr_t v = db->cache_table[ahead[j % kAheadCells]].load(std::memory_order_relaxed);
    if (v != 0 && v != CACHE_DEL) __builtin_prefetch(reinterpret_cast<const void*>(v));
  };
  for (int32_t j = 0; j < kAheadCells; ++j) fetch_cell(j);
  for (int32_t i = 0; i < nterms; ++i) {
    fetch_record(i + kAheadRecords);
    fetch_cell(i + kAheadCells);
    const uint32_t h1 = terms->pairs[i].hash1, h2 = terms->pairs[i].hash2;
    const uint32_t freq = terms->freqs[i];
    if (!index_term_valid(h1, h2, 1)) {
      report_error("idbm_index: illegal hash", db_name(db));
      continue;
    }
    if (static_cast<uint32_t>(db->cache_used.load(std::memory_order_relaxed)) >= table_size) return -1;
    const uint32_t cell = idbm_freq_find(db, h1, h2);
    if (cell == 0) return -1;
    const auto* rec = reinterpret_cast<const uint32_t*>(db->cache_table[cell].load(std::memory_order_relaxed));
    if (freq < 1 || freq > 127) {
      char detail[32];
      snprintf(detail, sizeof detail, "(%u)", freq);
      report_error("idbm_index: illegal score", detail);
      continue;
    }
    uint32_t norm = 0;
    int score;
    if (normalise) {
      if (rec && rec_norm(rec) == 0 && rec_count(rec) != 0) {
        log_msg(LOG_ERROR, "idbm_index: inconsistent normalization in %s (term %u.%u)", db_name(db), h1, h2);
        continue;
      }
      norm = rec ? rec_norm(rec) : new_term_norm(db, h1, h2);
      const int r = scores->raw_score[freq];
      score = r >= 100 ? static_cast<int>(norm) : percent_table[r][norm];
    } else {
      if (rec && rec_norm(rec) != 0) {
        log_msg(LOG_ERROR, "idbm_index: inconsistent normalization in %s (term %u.%u)", db_name(db), h1, h2);
        continue;
      }
      score = static_cast<int>(freq);
    }
    if (score < 0 || score > (normalise ? 100 : 127)) {
      char detail[32];
      snprintf(detail, sizeof detail, "(%d)", score);
      report_error("idbm_index: illegal score", detail);
      continue;
    }
    const int added = add_posting(db, cell, h1, h2, docid, static_cast<uint32_t>(score), norm);
    if (added < 0) return -1;
    if (added > 0) db->index_normalised = mode;
  }

  if (db->ndocs % 100 == 0) {
    const int32_t used = db->cache_used.load(std::memory_order_relaxed);
    const int32_t avail = db->cache_free.load(std::memory_order_relaxed);
    log_msg(LOG_INFO,
            "idbm_index: added icube doc %d, %.1f%% cache buffer used: %d, avail: %d, %.1f%% slots used %d, avail %d",
            static_cast<int>(db->ndocs), db->icube_limit ? 100.0 * db->icube_used / db->icube_limit : 0.0,
            static_cast<int>(db->icube_used), static_cast<int>(db->icube_limit),
            table_size ? 100.0 * used / table_size : 0.0, used, avail);
  }

  del[docid] = flag_byte;
  flush_range(&del[docid], 1, MS_ASYNC);
  if (db->din.address) {
    auto* e = static_cast<din_entry*>(db->din.address) + docid;
    if (e->host_hash != din_word0 || e->day != din_word1) {
      e->host_hash = din_word0;
      e->day = din_word1;
      flush_range(e, sizeof *e, MS_ASYNC);
    }
  }
  return static_cast<int>(db->ndocs);
}

int idbm_index_and_log(idbm_db* db, const doc_terms* terms, const unsigned char* title, uint8_t flag_byte,
                       uint32_t din_word0, uint32_t din_word1, int normalise) {
  if (!db->jnl_stream) {
    log_msg(LOG_ERROR, "idbm_index_and_log: %s has no journal open, document refused", db_name(db));
    return 0;
  }
  if (db->journal_failed) {
    log_msg(LOG_ERROR, "idbm_index_and_log: %s refuses documents: its journal could not be written", db_name(db));
    return 0;
  }
  // A save that failed past its commit point (or could not begin) has left
  // the handle without its directory's marker: it takes the directory again,
  // finishing that commit, before it takes a document, and refuses the
  // document while another handle writes there.
  if (!db->new_files && !db_begin_new_files(db)) return 0;
  if (jnl_valid_terms(terms) * 9u > kJnlMaxReclen) {
    report_error("idbm_index_and_log: too many terms for one journal record", db_name(db));
    return 0;
  }
  const uint32_t before = db->ndocs;
  const int result = idbm_index(db, terms, title, flag_byte, din_word0, din_word1, normalise);
  if (db->ndocs == before) return result;  // nothing taken, nothing to journal
  // A document that failed after taking its docid is journaled without terms:
  // it stays deleted and later documents keep their docids on replay.
  if (!jnl_write_record(db, result > 0 ? terms : nullptr)) {
    // The journal holds an empty record for the docid (or ends before it and
    // the handle takes no more): the document is deleted here too, so that
    // what a save writes and what a replay gives agree.
    auto* del = static_cast<uint8_t*>(db->del.address);
    if (del && before < db->del.size && del[before] != 255) {
      del[before] = 255;
      flush_range(&del[before], 1, MS_SYNC);
    }
    return 0;
  }
  return result;
}

int idbm_demote(idbm_db* db, uint32_t docid, uint8_t value) {
  if (!db->del.address || docid >= db->del.size) return 0;
  auto* byte = static_cast<uint8_t*>(db->del.address) + docid;
  if (*byte == value) return 1;
  if (!del_writable(db)) return report_error("idbm_demote: deletion map is read-only", db_name(db));
  if (!reserve_map(db, db->del, db->del_heap, docid, 1, kDelFile, "idbm_demote: no room in")) return 0;
  *byte = value;
  return 1;
}

int idbm_delete(idbm_db* db, uint32_t docid) {
  if (!db->del.address || docid >= db->del.size) return 0;
  auto* byte = static_cast<uint8_t*>(db->del.address) + docid;
  if (*byte == 255) return 1;
  if (!del_writable(db)) return report_error("idbm_delete: deletion map is read-only", db_name(db));
  if (!reserve_map(db, db->del, db->del_heap, docid, 1, kDelFile, "idbm_delete: no room in")) return 0;
  *byte = 255;
  if (!db->del_heap) {
    flush_range(byte, 1, MS_ASYNC);
    futimens(db->del.fd, nullptr);
  }
  return 1;
}

}  // namespace vorlane
