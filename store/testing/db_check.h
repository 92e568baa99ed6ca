// Test helper: compares a database on disk, or an incremental handle, with
// the model of the documents it should hold.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/file.h>
#include <unistd.h>
#include <vector>
#include <string>

#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/index_fixture.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane::testing {

// Opens the directory for querying (never the incremental open) and compares
// the document count, the number of terms and every term's record as a lookup
// returns it with the model of raw-indexed documents. Arenas for records of
// up to max_postings postings are made for the check and released after it.
inline ::testing::AssertionResult saved_db_matches(const std::string& path, const index_model& m,
                                                   uint32_t max_postings) {
  cache_release_arenas();
  cache_add_arena(0, 64);
  cache_add_arena(max_postings, 64);
  idbm_db* db = idbm_openInner(path.c_str(), 0, 0, 0, 0, nullptr, IDBM_KEEP_DIR | IDBM_SCORE_MAP);
  if (!db) {
    cache_release_arenas();
    return ::testing::AssertionFailure() << "no query open of " << path;
  }
  auto result = ::testing::AssertionSuccess();
  if (!idbm_cache(db, 4 * cache_total_slots())) {
    result = ::testing::AssertionFailure() << "no cache";
  } else if (db->ndocs != m.ndocs) {
    result = ::testing::AssertionFailure() << "ndocs " << db->ndocs << " != " << m.ndocs;
  } else if (idbm_dir_words(db)[1] != m.postings.size()) {
    result = ::testing::AssertionFailure() << "nterms " << idbm_dir_words(db)[1] << " != " << m.postings.size();
  } else {
    for (const auto& [k, list] : m.postings) {
      const uint32_t* r = idbm_find(db, k.first, k.second);
      if (!r) {
        result = ::testing::AssertionFailure() << "term " << k.first << "." << k.second << " missing";
        break;
      }
      const bool same = record_words(r) == expected_found(m, k, false, db->score_map, kDefaultPostingLimit);
      unpin_record(r);
      if (!same) {
        result = ::testing::AssertionFailure() << "term " << k.first << "." << k.second << " differs";
        break;
      }
    }
  }
  idbm_close(db);
  cache_release_arenas();
  return result;
}

// The records of an incremental handle (raw frequencies) against the model:
// every term has exactly the model's postings, and there are no others.
inline ::testing::AssertionResult incremental_matches(idbm_db* db, const index_model& m) {
  if (db->ndocs != m.ndocs) return ::testing::AssertionFailure() << "ndocs " << db->ndocs << " != " << m.ndocs;
  if (static_cast<size_t>(db->cache_used.load()) != m.postings.size())
    return ::testing::AssertionFailure() << "terms " << db->cache_used.load() << " != " << m.postings.size();
  for (const auto& [k, list] : m.postings) {
    const uint32_t* r = idbm_find(db, k.first, k.second);
    if (!r) return ::testing::AssertionFailure() << "term " << k.first << "." << k.second << " missing";
    std::vector<uint32_t> want = {k.first, k.second, static_cast<uint32_t>(list.size())};
    std::vector<uint32_t> got = {r[0], r[1], r[2]};
    for (uint32_t i = 0; i < rec_full_count(r); ++i) got.push_back(r[4 + i]);
    for (const auto& [docid, freq] : list) want.push_back((docid << 7) | freq);
    if (got != want) return ::testing::AssertionFailure() << "term " << k.first << "." << k.second << " differs";
  }
  return ::testing::AssertionSuccess();
}

// Name -> contents of every file in a directory.
inline std::map<std::string, std::string> dir_snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    files[e.path().filename().string()] = read_file(e.path().string());
  return files;
}

// dir_snapshot of the database a directory holds, once an open as scripts
// make it (idbm_open: an incremental one when the directory holds a journal,
// refused here, with no capacity, before it changes anything) has finished a
// commit cut short or discarded a writing whose writer is gone.
inline std::map<std::string, std::string> settled_snapshot(const std::string& dir) {
  idbm_close(idbm_open(dir.c_str(), 0, 0, 0, nullptr));
  return dir_snapshot(dir);
}

// Could another open of the file at path take its lock now (a marker
// whose writer is gone)? False for a missing file.
inline bool lock_free(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

// Replaces to with a copy of the directory from.
inline void copy_dir(const std::string& from, const std::string& to) {
  std::filesystem::remove_all(to);
  std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
}

}  // namespace vorlane::testing
