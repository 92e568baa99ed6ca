// Query handles reading a database while another handle saves over it, twice
// per session: a handle opened before keeps reading the old files whole, and
// every new open sees one whole database, the old or the new.
#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "platform/testing/test_root.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/index_fixture.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane {
namespace {

using testing::index_model;
using testing::synthetic_doc;

constexpr uint32_t kCapacity = 200;

index_model model_of(uint32_t seed, uint32_t n) {
  index_model m;
  for (uint32_t d = 0; d < n; ++d) m.add(synthetic_doc(seed, d, 300, 25));
  return m;
}

// Every term of the model as a lookup on db returns it; a message or "".
std::string mismatch(idbm_db* db, const index_model& m) {
  if (db->ndocs != m.ndocs) return "ndocs " + std::to_string(db->ndocs);
  if (idbm_dir_words(db)[1] != m.postings.size()) return "nterms " + std::to_string(idbm_dir_words(db)[1]);
  for (const auto& [k, list] : m.postings) {
    const uint32_t* r = idbm_find(db, k.first, k.second);
    if (!r) return "missing term " + std::to_string(k.first);
    const bool same = testing::record_words(r) == testing::expected_found(m, k, false, db->score_map, kDefaultPostingLimit);
    unpin_record(r);
    if (!same) return "term " + std::to_string(k.first) + " differs";
  }
  return "";
}

idbm_db* open_query(const std::string& path) {
  idbm_db* db = idbm_openInner(path.c_str(), 0, 0, 0, 0, nullptr, IDBM_KEEP_DIR | IDBM_SCORE_MAP);
  if (db && !idbm_cache(db, 4 * cache_total_slots())) {
    idbm_close(db);
    return nullptr;
  }
  return db;
}

TEST(DurabilityConcurrency, QueriesDuringSavesOfAnotherHandleSeeWholeDatabases) {
  init_percent_table();
  platform::TestRoot root;
  const std::string path = root.file("db");
  const index_model models[] = {model_of(41, 50), model_of(42, 35)};
  cache_release_arenas();
  cache_add_arena(0, 64);
  cache_add_arena(kCapacity, 64);

  auto index_and_save = [&](const index_model& m, uint32_t seed, int saves) {
    idbm_db* db = idbm_open_incr(path.c_str(), 0, kCapacity, 1, nullptr);
    if (!db) return false;
    bool ok = true;
    for (uint32_t d = 0; d < m.ndocs && ok; ++d) {
      testing::test_doc t = synthetic_doc(seed, d, 300, 25);
      ok = idbm_index_and_log(db, t.terms(), nullptr, 0, 0, 0, 0) == static_cast<int>(d + 1);
    }
    for (int s = 0; s < saves && ok; ++s) ok = idbm_write(db, 1) == 1;
    return idbm_close(db) == 1 && ok;
  };
  ASSERT_TRUE(index_and_save(models[0], 41, 1));

  idbm_db* early = open_query(path);  // opened before any save over it
  ASSERT_NE(early, nullptr);
  std::atomic<bool> done{false};
  std::atomic<int> writer_ok{0};
  constexpr int kSessions = 6;
  std::thread writer([&] {
    for (int i = 0; i < kSessions; ++i) {
      const int which = (i + 1) % 2;
      writer_ok += index_and_save(models[which], which ? 42 : 41, 2);
    }
    done = true;
  });

  int fresh_opens = 0, seen[2] = {0, 0};
  std::string early_error, fresh_error;
  while (!done.load() || fresh_opens < 5) {
    if (early_error.empty()) early_error = mismatch(early, models[0]);
    idbm_db* q = open_query(path);
    if (!q) {
      fresh_error = "a query open failed";
      break;
    }
    const int which = q->ndocs == models[1].ndocs ? 1 : 0;
    const std::string e = mismatch(q, models[which]);
    idbm_close(q);
    if (!e.empty()) {
      fresh_error = e;
      break;
    }
    ++seen[which];
    ++fresh_opens;
  }
  writer.join();
  EXPECT_EQ(early_error, "");
  EXPECT_EQ(fresh_error, "");
  EXPECT_EQ(writer_ok.load(), kSessions);
  idbm_close(early);
  RecordProperty("old_seen", seen[0]);
  RecordProperty("new_seen", seen[1]);
  cache_release_arenas();
}

}  // namespace
}  // namespace vorlane
