#include "store/journal.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/doc_terms.h"
#include "store/indexing.h"
#include "store/log.h"
#include "store/mapfile.h"

namespace vorlane {

namespace {

bool term_storable(const doc_terms* t, int32_t i) {
  return index_term_valid(t->pairs[i].hash1, t->pairs[i].hash2, t->freqs[i]);
}

// Writes count bytes at offset, continuing short writes. The bytes written.
uint64_t write_at(int fd, const void* data, uint64_t count, off_t offset) {
  uint64_t done = 0;
  while (done < count) {
    if (const int e = durable_hook ? durable_hook("write", "jnl") : 0) {
      errno = e;
      break;
    }
    const ssize_t w = pwrite(fd, static_cast<const char*>(data) + done, count - done, offset + static_cast<off_t>(done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += static_cast<uint64_t>(w);
  }
  return done;
}

bool title_empty(const idbm_db* db, uint32_t docid) {
  const auto* t = static_cast<const unsigned char*>(db->ti0.address) + uint64_t{docid} * kTitleBytes;
  for (uint32_t i = 0; i < kTitleBytes; ++i)
    if (t[i]) return false;
  return true;
}

// A read error is not a torn tail: nothing is cut, the open fails.
int read_failed(FILE* f, const std::string& path, uint32_t recovered) {
  char buf[256];
  log_msg(LOG_ERROR, "idbm_recover_log: read error in %s after %d docs: %s", path.c_str(), static_cast<int>(recovered),
          strerror_r(errno, buf, sizeof buf));
  fclose(f);
  return 0;
}

}  // namespace

uint32_t jnl_valid_terms(const doc_terms* terms) {
  if (!terms) return 0;
  uint32_t n = 0;
  for (int32_t i = 0; i < terms->size; ++i) n += term_storable(terms, i);
  return n;
}

int jnl_write_record(idbm_db* db, const doc_terms* terms) {
  FILE* f = db->jnl_stream;
  const int32_t size = terms ? terms->size : 0;
  // The storable terms, contiguous (the usual case is the table itself).
  const uint32_t n = jnl_valid_terms(terms);
  const hash_pair* pairs = terms ? terms->pairs : nullptr;
  const uint8_t* freqs = terms ? terms->freqs : nullptr;
  std::vector<hash_pair> kept_pairs;
  std::vector<uint8_t> kept_freqs;
  if (n != static_cast<uint32_t>(size)) {
    kept_pairs.reserve(n);
    kept_freqs.reserve(n);
    for (int32_t i = 0; i < size; ++i) {
      if (!term_storable(terms, i)) continue;
      kept_pairs.push_back(terms->pairs[i]);
      kept_freqs.push_back(terms->freqs[i]);
    }
    pairs = kept_pairs.data();
    freqs = kept_freqs.data();
  }
  // One write of the whole record at the end of the file, straight to the
  // descriptor (the stream itself only reads, during the replay): what the
  // call returns is with the system, and a failure leaves no torn bytes.
  const int fd = fileno(f);
  struct stat st;
  if (fstat(fd, &st) != 0) return report_error("idbm_index_and_log: log reclen fwrite", db_name(db));
  const off_t start = st.st_size;
  const uint32_t reclen = n * 9;
  std::vector<unsigned char> record(4 + uint64_t{reclen});
  memcpy(record.data(), &reclen, 4);
  if (n) {
    memcpy(record.data() + 4, pairs, uint64_t{n} * sizeof(hash_pair));
    memcpy(record.data() + 4 + uint64_t{n} * 8, freqs, n);
  }
  const uint64_t written = write_at(fd, record.data(), record.size(), start);
  if (written == record.size()) return 1;
  const std::string jnl = db_file_path(db->name, kJnlFile);
  const int saved = errno;
  const char* failed = written < 4                   ? "idbm_index_and_log: log reclen fwrite"
                       : written < 4 + uint64_t{n} * 8 ? "idbm_index_and_log: log hash fwrite"
                                                       : "idbm_index_and_log: log freq fwrite";
  // Back to the record's start, then the empty record of a failed insert, so
  // that the next document keeps its docid on replay. When not even that can
  // be written the journal ends before this document and the handle takes
  // no more.
  const uint32_t zero = 0;
  if (ftruncate(fd, start) != 0 || write_at(fd, &zero, 4, start) != 4) {
    if (ftruncate(fd, start) != 0) {}
    db->journal_failed = true;
    errno = saved;
    report_file_error(failed, jnl.c_str());
    log_msg(LOG_ERROR, "idbm_index_and_log: the journal of %s cannot be written; no more documents are taken",
            db_name(db));
    return 0;
  }
  errno = saved;
  return report_file_error(failed, jnl.c_str());
}

int idbm_recover_log(idbm_db* db, int normalise) {
  const std::string path = db_file_path(db->name, kJnlFile);
  FILE* f = fopen(path.c_str(), "r+b");
  if (!f && errno == ENOENT) {
    f = fopen(path.c_str(), "w+b");
    if (f) {
      // The journal's name lasts as long as its records.
      durable_sync_dir(db->name);
      db->jnl_stream = f;
      return 1;
    }
  }
  if (!f) {
    log_msg(LOG_ERROR, "idbm_recover_log: open of %s failed", path.c_str());
    return 0;
  }

  std::vector<hash_pair> pairs(kJnlMaxReclen / 9);
  std::vector<uint8_t> freqs(kJnlMaxReclen / 9);
  std::vector<unsigned char> body(kJnlMaxReclen);
  doc_terms terms{};
  uint32_t recovered = 0;
  off_t p = 0;
  bool damaged = false;
  for (;;) {
    p = ftello(f);
    if (const int e = durable_hook ? durable_hook("read", path.c_str()) : 0) {
      errno = e;
      return read_failed(f, path, recovered);
    }
    uint32_t reclen = 0;
    const size_t got = fread(&reclen, 1, 4, f);
    if (got == 0 && feof(f)) break;
    if (got < 4 && ferror(f)) return read_failed(f, path, recovered);
    if (got < 4) {
      log_msg(LOG_ERROR, "idbm_recover_log: reclen read expected %d got %d, (%d docs recovered)", 4,
              static_cast<int>(got), static_cast<int>(recovered));
      damaged = true;
      break;
    }
    if (!jnl_reclen_valid(reclen)) {
      log_msg(LOG_ERROR, "idbm_recover_log: reclen %d limit %d, (%d docs recovered)", static_cast<int>(reclen),
              static_cast<int>(kJnlMaxReclen), static_cast<int>(recovered));
      damaged = true;
      break;
    }
    const uint32_t docid = db->ndocs;
    if (docid >= db->del.size || (db->din.address && uint64_t{docid} * sizeof(din_entry) >= db->din.size) ||
        uint64_t{docid} * kTitleBytes >= db->ti0.size || !db->del.address || !db->ti0.address) {
      log_msg(LOG_ERROR, "idbm_recover_log: too many docs at offset %lld, docid %d, reclen %d",
              static_cast<long long>(p), static_cast<int>(docid), static_cast<int>(reclen));
      fclose(f);
      return 0;
    }
    auto* del = static_cast<uint8_t*>(db->del.address);
    if (reclen == 0 && del[docid] != 255 && title_empty(db, docid)) {
      log_msg(LOG_ERROR, "idbm_recover_log: corrupt at offset %lld, docid %d, reclen 0, not deleted, title empty",
              static_cast<long long>(p), static_cast<int>(docid));
      damaged = true;
      break;
    }
    const size_t body_got = reclen ? fread(body.data(), 1, reclen, f) : 0;
    if (body_got < reclen && ferror(f)) return read_failed(f, path, recovered);
    if (body_got < reclen) {
      log_msg(LOG_ERROR, "idbm_recover_log: rec read expected %d got %d, (%d docs recovered)",
              static_cast<int>(reclen), static_cast<int>(body_got), static_cast<int>(recovered));
      damaged = true;
      break;
    }
    const uint32_t n = reclen / 9;
    memcpy(pairs.data(), body.data(), uint64_t{n} * 8);
    memcpy(freqs.data(), body.data() + uint64_t{n} * 8, n);
    for (uint32_t i = 0; i < n && !damaged; ++i) {
      if (index_term_valid(pairs[i].hash1, pairs[i].hash2, freqs[i])) continue;
      log_msg(LOG_ERROR, "idbm_recover_log: corrupt at offset %lld, docid %d, term %d, hash 0x%8.8x%8.8x, freq %d",
              static_cast<long long>(p), static_cast<int>(docid), static_cast<int>(i), pairs[i].hash1,
              pairs[i].hash2, freqs[i]);
      damaged = true;
    }
    if (damaged) break;
    ++recovered;
    if (del[docid] == 255) {
      db->ndocs = docid + 1;
      continue;
    }
    uint32_t w0 = 0, w1 = 0;
    if (db->din.address) {
      const din_entry& e = static_cast<const din_entry*>(db->din.address)[docid];
      w0 = e.host_hash;
      w1 = e.day;
    }
    terms.docid = docid;
    terms.size = static_cast<int32_t>(n);
    terms.cells = static_cast<int32_t>(n);
    terms.pairs = pairs.data();
    terms.freqs = freqs.data();
    // Room on disk for what the document changes in the maps, so that a
    // full disk fails the open (the journal stays as it is) instead of
    // deleting the document.
    const char* full = !fmap_reserve(db->del, docid, 1) ? kDelFile
                       : !fmap_reserve(db->din, uint64_t{docid} * sizeof(din_entry), sizeof(din_entry)) ? kDinFile
                                                                                                       : nullptr;
    if (full) {
      report_file_error("idbm_recover_log: no room in", db_file_path(db->name, full).c_str());
      fclose(f);
      return 0;
    }
    const uint8_t flag = del[docid];
    const int indexed = idbm_index(db, &terms, nullptr, flag, w0, w1, normalise);
    if (indexed < 0) {
      // The capacity given holds fewer documents or terms than the journal:
      // the open is refused, the deletion byte put back as it was.
      del[docid] = flag;
      log_msg(LOG_ERROR, "idbm_recover_log: too many docs at offset %lld, docid %d, reclen %d: the capacity is too small",
              static_cast<long long>(p), static_cast<int>(docid), static_cast<int>(reclen));
      fclose(f);
      return 0;
    }
    if (indexed == 0) {
      log_msg(LOG_ERROR, "idbm_recover_log: idbm_index failed for (%d)\n", static_cast<int>(docid));
      // The document keeps its docid (deleted), so later ones stay aligned.
      if (db->ndocs == docid) {
        del[docid] = 255;
        db->ndocs = docid + 1;
      }
    }
  }
  // The next record goes where the replay stopped; a damaged tail is cut off
  // so that nothing of it can follow a shorter new record.
  if (damaged && ftruncate(fileno(f), p) != 0) report_error("idbm_recover_log: can't cut damaged journal", path.c_str());
  fseeko(f, p, SEEK_SET);
  db->jnl_stream = f;
  return 1;
}

int idbm_close_journal(idbm_db* db) {
  if (!db->jnl_stream) return 1;
  const int closed = fclose(db->jnl_stream);
  db->jnl_stream = nullptr;
  if (closed != 0) return report_error("idbm_close_journal: fclose", db_name(db));
  return 1;
}

}  // namespace vorlane
