#include "engine/dbmerge/db_merge.h"

#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include "engine/dbmerge/adj_file.h"
#include "store/date_entry.h"
#include "store/db_commit.h"
#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/doc_files.h"
#include "store/indexing.h"
#include "store/log.h"
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

// The new database while it is written: closed on every way out, which
// drops whatever of it is not committed.
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

// Does target name the directory path or lie inside it (both canonical)?
bool lies_in(const std::string& target, const std::string& path) {
  return target == path || (target.size() > path.size() && target.compare(0, path.size(), path) == 0 &&
                            (path == "/" || target[path.size()] == '/'));
}

}  // namespace

std::string merge_precheck(const char* path, const std::vector<idbm_db*>& sources,
                           const std::vector<idbm_db*>& open) {
  const std::string target = canonical_path(path);
  for (const idbm_db* db : sources)
    if (db->icube || db->jnl_stream) return formatted("Database open for indexing: %u", db->id);
  for (const std::vector<idbm_db*>* list : {&sources, &open})
    for (const idbm_db* db : *list)
      if (lies_in(target, canonical_path(db->name ? db->name : "")))
        return formatted("Merge target lies in database %u", db->id);
  return std::string();
}

merge_outcome merge_databases(const char* path, const std::vector<idbm_db*>& sources,
                              const std::vector<uint32_t>& counts, uint32_t posting_limit, bool write_adj,
                              bool recompute_din) {
  uint64_t total = 0;
  for (uint32_t c : counts) total += c;
  std::unique_ptr<int32_t[]> map(new (std::nothrow) int32_t[total ? total : 1]);
  if (!map) return out_of_memory();

  // Everything is written under the temporary names of one commit
  // (store/db_commit.h, store/doc_files.h): what the directory holds stays
  // whole until the new database is, and then gives way to it at once.
  new_db_guard guard;
  guard.db = idbm_newdb(path, static_cast<int32_t>(posting_limit));
  idbm_db* out = guard.db;
  if (!out) return failed("Cannot create database");
  if (merge_db_step) merge_db_step("begun", map.get(), 0);
  if (std::string e = idbm_begin_docs(out, total); !e.empty())
    return e == kDocsOutOfMemory ? out_of_memory() : failed(e);
  if (!idbm_write_score_incr(out, sources[0]->score_incr)) return failed("Failed: idbm_write_score_incr");

  // Titles, date entries and deletion bytes of the kept documents.
  uint64_t i = 0, k = 0;
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
      const din_entry entry =
          recompute_din ? make_date_entry(host.url, strlen(host.url), static_cast<time_t>(host.date)) : din_of(db, docid);
      if (std::string e = idbm_add_doc(out, record, del, entry); !e.empty()) return failed(e);
      map[i] = static_cast<int32_t>((i - k) << 7);
      ++k;
    }
  }
  if (std::string e = idbm_end_docs(out); !e.empty()) return failed(e);

  if (k == 0) return failed("empty merge result");
  log_msg(LOG_INFO, "expunging %d docs out of %d, keeping %d (%d%%)", static_cast<int>(i - k), static_cast<int>(i),
          static_cast<int>(k), static_cast<int>(k * 100 / i));

  if (merge_db_step) merge_db_step("map", map.get(), i);
  if (!idbm_merge_terms(static_cast<int>(sources.size()), sources.data(), out, map.get()))
    return failed("Failed: idbm_merge");
  if (merge_db_step) merge_db_step("merged", map.get(), i);
  if (write_adj) {
    std::string e = write_adj_file(db_new_file_path(path, kAdjFile), map.get(), static_cast<uint32_t>(i));
    if (!e.empty()) return failed(e);
  }
  // Deletions (and demotions) made in the sources while the merge ran, into
  // the new deletion bytes before they are written.
  uint64_t pos = 0;
  uint32_t changed = 0;
  for (size_t s = 0; s < sources.size(); ++s) {
    for (uint32_t docid = 0; docid < counts[s]; ++docid, ++pos) {
      if (map[pos] == kDroppedDoc) continue;
      const uint64_t j = pos - static_cast<uint64_t>(static_cast<int64_t>(map[pos] >> 7));
      const uint8_t now = del_byte(sources[s], docid);
      if (del_byte(out, static_cast<uint32_t>(j)) != now && idbm_demote(out, static_cast<uint32_t>(j), now)) ++changed;
    }
  }
  if (changed) log_msg(LOG_INFO, "propagated %d new doc deletions made while merging", static_cast<int>(changed));
  if (std::string e = idbm_write_doc_flags(out); !e.empty()) return failed(e);
  if (!db_commit_new_files(out)) return failed("Failed: idbm_merge");
  if (!guard.close()) return failed("Failed: idbm_close");
  return merge_outcome{};
}

merge_outcome merge_deletion_map(idbm_db* merged, const std::vector<idbm_db*>& sources) {
  std::vector<uint8_t> marks;
  bool no_memory = false;
  std::string error = read_adj_file(db_file_path(merged->name, kAdjFile), &marks, &no_memory);
  if (no_memory) return out_of_memory();
  if (!error.empty()) return failed(error);

  // The sources must hold exactly the N documents (a source that has grown
  // or shrunk since would shift every later one), and the kept ones among
  // them must be the merged database's documents.
  const uint64_t n = marks.size();
  uint64_t available = 0;
  for (const idbm_db* db : sources) available += db->ndocs;
  uint64_t kept = 0;
  for (uint8_t m : marks) kept += m == 0;
  if (available != n || kept != merged->ndocs) return failed("adj does not match the databases");

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
