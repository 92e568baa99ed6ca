#include "engine/dbmerge/db_merge.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/dbmerge/adj_file.h"
#include "store/date_entry.h"
#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/log.h"
#include "store/mapfile.h"
#include "store/pread.h"
#include "store/term_merge.h"
#include "store/title_fetch.h"
#include "store/title_record.h"

namespace vorlane::engine {

void (*merge_db_step)(const char* step, const int32_t* map, uint64_t n) = nullptr;

namespace {

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...) {
  char buf[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

// The system's text for errno, or its number when there is none.
std::string errno_text(int error) {
  char buf[256];
  const char* text = strerror_r(error, buf, sizeof buf);
  if (text && *text) return text;
  return std::to_string(error);
}

merge_outcome failed(std::string message) {
  merge_outcome out;
  out.ok = false;
  out.message = std::move(message);
  return out;
}

merge_outcome out_of_memory() {
  merge_outcome out = failed("out of memory");
  out.out_of_memory = true;
  return out;
}

// The path with symbolic links and "." and ".." resolved as far as it exists,
// without a trailing "/".
std::string canonical_path(const char* path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  std::string s = ec ? std::string(path) : p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// A source's deletion byte and date entry, 0 past its maps. Other threads
// may change deletion bytes meanwhile: each is read once, whole.
uint8_t del_byte(const idbm_db* db, uint32_t docid) {
  const auto* del = static_cast<const uint8_t*>(db->del.address);
  if (!del || docid >= db->del.size) return 0;
  return __atomic_load_n(del + docid, __ATOMIC_RELAXED);
}

din_entry din_of(const idbm_db* db, uint32_t docid) {
  din_entry e{0, 0};
  if (db->din.address && (uint64_t{docid} + 1) * sizeof(din_entry) <= db->din.size)
    memcpy(&e, static_cast<const unsigned char*>(db->din.address) + uint64_t{docid} * sizeof(din_entry),
           sizeof e);
  return e;
}

// The document's title record: from the mapped "ti0" when it lies inside it,
// else read from its title file. False when there is none to be had.
bool title_of(const idbm_db* db, const titles_view& ti0, uint32_t docid, unsigned char* out) {
  const uint64_t offset = uint64_t{docid} * kTitleBytes;
  if (ti0.records && offset + kTitleBytes <= ti0.size) {
    memcpy(out, ti0.records + offset, kTitleBytes);
    return true;
  }
  const uint32_t file = docid >> kTitleFileShift;
  if (!db->title_files || file >= db->ntitle_files || db->title_files[file].fd < 0) return false;
  const uint64_t at = uint64_t{docid & (kTitlesPerFile - 1)} * kTitleBytes;
  if (at + kTitleBytes > db->title_files[file].size) return false;  // a short title file
  return vorlane::pread(db->title_files[file].fd, out, kTitleBytes, at) == static_cast<ssize_t>(kTitleBytes);
}

// Removes a file that must not outlive what the directory held before.
std::string remove_stale(const char* dir, const char* name) {
  const std::string p = db_file_path(dir, name);
  if (unlink(p.c_str()) != 0 && errno != ENOENT) return formatted("%s unlink: %s", name, errno_text(errno).c_str());
  return std::string();
}

// The new database while it is written: closed on every way out.
struct new_db_guard {
  idbm_db* db = nullptr;
  ~new_db_guard() {
    if (db) idbm_close(db);
  }
  // Closes it now; false when a stream failed to close.
  bool close() {
    idbm_db* d = db;
    db = nullptr;
    return idbm_close(d) == 1;
  }
};

// Closes one of the new database's streams (cleared either way); the
// message of a failure, else empty.
std::string close_stream(FILE*& stream, const std::string& what) {
  FILE* f = stream;
  stream = nullptr;
  if (f && fclose(f) != 0) return what + " fclose: " + errno_text(errno);
  return std::string();
}

// Cuts a stream's file to bytes after flushing it (a reused file may be
// longer than what was written).
bool cut_to(FILE* stream, uint64_t bytes) {
  return fflush(stream) == 0 && ftruncate(fileno(stream), static_cast<off_t>(bytes)) == 0;
}

}  // namespace

std::string merge_precheck(const char* path, const std::vector<idbm_db*>& sources) {
  const std::string target = canonical_path(path);
  for (const idbm_db* db : sources) {
    if (db->icube || db->jnl_stream) return formatted("Database open for indexing: %u", db->id);
    const std::string source = canonical_path(db->name ? db->name : "");
    if (target == source || (target.size() > source.size() && target.compare(0, source.size(), source) == 0 &&
                             (source == "/" || target[source.size()] == '/')))
      return formatted("Merge target lies in database %u", db->id);
  }
  return std::string();
}

merge_outcome merge_databases(const char* path, const std::vector<idbm_db*>& sources,
                              const std::vector<uint32_t>& counts, uint32_t posting_limit, bool write_adj,
                              bool recompute_din) {
  uint64_t total = 0;
  for (uint32_t c : counts) total += c;
  std::unique_ptr<int32_t[]> map(new (std::nothrow) int32_t[total ? total : 1]);
  if (!map) return out_of_memory();

  // Files of what a reused directory held before that the new database
  // would otherwise take up: its journal (open_db would replay it), its
  // "adj" (merge_delmap would read it) and its score setting.
  struct stat st;
  if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) unlink(db_file_path(path, kInfFile).c_str());

  new_db_guard guard;
  guard.db = idbm_newdb(path, static_cast<int32_t>(posting_limit));
  idbm_db* out = guard.db;
  if (!out) return failed("Cannot create database");
  for (const char* stale : {kJnlFile, kAdjFile}) {
    std::string error = remove_stale(path, stale);
    if (!error.empty()) return failed(error);
  }
  if (!idbm_write_score_incr(out, sources[0]->score_incr)) return failed("Failed: idbm_write_score_incr");
  if (std::string e = close_stream(out->inf_stream, "inf"); !e.empty()) return failed(e);

  // Titles, date entries and deletion bytes of the kept documents.
  uint64_t i = 0, k = 0;
  uint32_t title_file = 0;
  unsigned char record[kTitleBytes];
  for (size_t s = 0; s < sources.size(); ++s) {
    const idbm_db* db = sources[s];
    const titles_view ti0 = idbm_titles_view(db);
    for (uint32_t docid = 0; docid < counts[s]; ++docid, ++i) {
      const uint8_t del = del_byte(db, docid);
      bool keep = del != 255 && title_of(db, ti0, docid, record);
      title_host host;
      if (keep) {
        title_unpack(record, &host);
        keep = host.url[0] != '\0';
      }
      if (!keep) {
        if (i - k >= kMaxDroppedDocs) return failed("too many documents dropped");
        map[i] = kDroppedDoc;
        continue;
      }
      if (k >= kMaxMergedDocs) return failed("too many documents");
      if (k > 0 && k % kTitlesPerFile == 0) {
        if (!cut_to(out->ti_stream, uint64_t{kTitlesPerFile} * kTitleBytes))
          return failed(formatted("ti%u fwrite: %s", title_file, errno_text(errno).c_str()));
        if (std::string e = close_stream(out->ti_stream, "ti" + std::to_string(title_file)); !e.empty())
          return failed(e);
        title_file = static_cast<uint32_t>(k / kTitlesPerFile);
        out->ti_stream = fopen(db_title_path(path, title_file).c_str(), "w+b");
        if (!out->ti_stream) return failed(formatted("ti%u fopen: %s", title_file, errno_text(errno).c_str()));
      }
      if (fwrite(record, kTitleBytes, 1, out->ti_stream) != 1)
        return failed(formatted("ti%u fwrite: %s", title_file, errno_text(errno).c_str()));
      const din_entry entry =
          recompute_din ? make_date_entry(host.url, strlen(host.url), static_cast<time_t>(host.date)) : din_of(db, docid);
      static_assert(sizeof(din_entry) == 8, "a date entry is written whole");
      if (fwrite(&entry, sizeof entry, 1, out->din_stream) != 1)
        return failed("din fwrite: " + errno_text(errno));
      if (fputc(del, out->del_stream) == EOF) return failed("del fputc: " + errno_text(errno));
      map[i] = static_cast<int32_t>((i - k) << 7);
      ++k;
    }
  }
  const uint64_t last_titles = k == 0 ? 0 : k - uint64_t{title_file} * kTitlesPerFile;
  if (!cut_to(out->ti_stream, last_titles * kTitleBytes))
    return failed(formatted("ti%u fwrite: %s", title_file, errno_text(errno).c_str()));
  if (std::string e = close_stream(out->ti_stream, "ti" + std::to_string(title_file)); !e.empty()) return failed(e);
  if (!cut_to(out->del_stream, k)) return failed("del fputc: " + errno_text(errno));
  if (std::string e = close_stream(out->del_stream, "del"); !e.empty()) return failed(e);
  if (!cut_to(out->din_stream, k * sizeof(din_entry))) return failed("din fwrite: " + errno_text(errno));
  if (std::string e = close_stream(out->din_stream, "din"); !e.empty()) return failed(e);
  out->ndocs = static_cast<uint32_t>(k);

  if (k == 0) return failed("empty merge result");
  log_msg(LOG_INFO, "expunging %d docs out of %d, keeping %d (%d%%)", static_cast<int>(i - k), static_cast<int>(i),
          static_cast<int>(k), static_cast<int>(k * 100 / i));

  if (merge_db_step) merge_db_step("map", map.get(), i);
  const int merged = idbm_merge(static_cast<int>(sources.size()), sources.data(), out, map.get());
  merge_outcome result;
  if (!merged) {
    result = failed("Failed: idbm_merge");
  } else {
    mapped_file del;
    if (!fmapwrite(db_file_path(path, kDelFile).c_str(), &del))
      return failed("del fmapwrite: " + errno_text(errno));
    auto* new_del = static_cast<uint8_t*>(del.address);
    if (merge_db_step) merge_db_step("merged", map.get(), i);
    std::string error;
    if (write_adj) error = write_adj_file(db_file_path(path, kAdjFile), map.get(), static_cast<uint32_t>(i));
    if (error.empty()) {
      // Deletions (and demotions) made in the sources while the merge ran.
      uint64_t pos = 0;
      uint32_t changed = 0;
      for (size_t s = 0; s < sources.size(); ++s) {
        for (uint32_t docid = 0; docid < counts[s]; ++docid, ++pos) {
          if (map[pos] == kDroppedDoc) continue;
          const uint64_t j = pos - static_cast<uint64_t>(static_cast<int64_t>(map[pos] >> 7));
          const uint8_t now = del_byte(sources[s], docid);
          if (j < del.size && new_del[j] != now) {
            new_del[j] = now;
            ++changed;
          }
        }
      }
      if (changed) log_msg(LOG_INFO, "propagated %d new doc deletions made while merging", static_cast<int>(changed));
    }
    funmap(&del);
    close(del.fd);
    if (!error.empty()) return failed(error);
  }
  if (!guard.close() && result.ok) result = failed("Failed: idbm_close");
  return result;
}

merge_outcome merge_deletion_map(idbm_db* merged, const std::vector<idbm_db*>& sources) {
  std::vector<uint8_t> marks;
  bool no_memory = false;
  std::string error = read_adj_file(db_file_path(merged->name, kAdjFile), &marks, &no_memory);
  if (no_memory) return out_of_memory();
  if (!error.empty()) return failed(error);

  // The sources must cover the N documents, and the kept ones among them
  // must be the merged database's documents.
  const uint64_t n = marks.size();
  uint64_t available = 0;
  for (const idbm_db* db : sources) available += db->ndocs;
  uint64_t kept = 0;
  for (uint8_t m : marks) kept += m == 0;
  if (available < n || kept != merged->ndocs) return failed("adj does not match the databases");

  uint64_t pos = 0;
  uint32_t j = 0, changed = 0;
  for (const idbm_db* db : sources) {
    for (uint32_t docid = 0; docid < db->ndocs && pos < n; ++docid, ++pos) {
      if (marks[pos]) continue;
      const uint8_t now = del_byte(db, docid);
      if (del_byte(merged, j) != now) {
        if (!idbm_demote(merged, j, now)) return failed("Failed: idbm_demote");
        ++changed;
      }
      ++j;
    }
  }
  if (changed) log_msg(LOG_INFO, "propagated %d new doc deletions", static_cast<int>(changed));
  return merge_outcome{};
}

}  // namespace vorlane::engine
