#include "store/term_cache.h"

#include <cstring>

#include "store/alloc.h"
#include "store/cleanup_lock.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/log.h"
#include "store/mapfile.h"
#include "store/pread.h"
#include "store/score_tables.h"
#include "store/sized_pool.h"
#include "store/slot_arena.h"
#include "store/term_cache_cells.h"

namespace vorlane {

ssize_t (*idbm_pread)(int fd, void* buffer, size_t count, uint64_t offset) = &vorlane::pread;

namespace {

// The cell arrays of closed handles, kept for the next opens: an indexer
// closes one database and opens another all the time (a part saved is
// reopened for searching, the parts a merge took are closed). Tables for
// very large capacities are released.
sized_pool& table_pool() {
  static sized_pool& pool = *new sized_pool(2, size_t{64} << 20, true);
  return pool;
}

}  // namespace

CellCheck check_cell(idbm_db* db, uint32_t cell, uint32_t hash1, uint32_t hash2, bool take, uint32_t** out) {
  uintptr_t value = db->cache_table[cell].load(std::memory_order_acquire);
  if (value == 0) return CellCheck::kEmpty;
  if (value == CACHE_DEL) return CellCheck::kDeleted;
  auto* record = reinterpret_cast<uint32_t*>(value);
  slot* s = db->cache_slots[cell].load(std::memory_order_acquire);
  if (!s || !s->home) {
    // A query table's cell whose slot was just recycled: probe again.
    if (!db->icube) return CellCheck::kChanged;
    // A record of an incremental table: never in a slot, never recycled.
    if (pair_cmp(record[0], record[1], hash1, hash2) != 0) return CellCheck::kOther;
    *out = record;
    return CellCheck::kMatch;
  }
  arena* a = s->home;
  CleanupLock lock(&a->mutex);
  if (db->cache_table[cell].load(std::memory_order_acquire) != value || s->owner != db || s->index != cell ||
      s->chunk != record)
    return CellCheck::kChanged;
  if (pair_cmp(record[0], record[1], hash1, hash2) != 0) return CellCheck::kOther;
  // A stub is not pinned and may be recycled once the mutex is released:
  // it is reported as a match without its record.
  const bool stub = rec_count(record) == 0;
  if (take) {
    slot_to_newest_locked(s, "touch_slot");
    ++a->hits;
    if (!stub) ++s->pins;
  }
  *out = stub ? nullptr : record;
  return CellCheck::kMatch;
}

int idbm_cache(idbm_db* db, uint32_t n) {
  if (db->cache_table) {
    log_msg(LOG_WARNING, "idbm_cache(%d): already using %d", static_cast<int>(n),
            static_cast<int>(db->cache_table[0].load()));
    return 1;
  }
  if (n == 0) return report_error("idbm_cache: no size given", db_name(db));
  uint64_t want = n;
  uint64_t floor = uint64_t{8} * cache_total_slots();
  if (want < floor) want = floor;
  uint64_t size = want + want / 4;
  if (size > 0x7FFFFFFFu) return report_error("idbm_cache: can't allocate cache", db_name(db));
  uint64_t cells = size + 2;
  // Every cell is set below, so a pooled block is as good as a fresh one.
  void* block = sized_pool_take(&table_pool(), cells * (sizeof(std::atomic<uintptr_t>) + sizeof(std::atomic<slot*>)));
  if (!block) return report_error("idbm_cache: can't allocate cache", db_name(db));
  auto* table = static_cast<std::atomic<uintptr_t>*>(block);
  auto* slots = reinterpret_cast<std::atomic<slot*>*>(table + cells);
  for (uint64_t i = 0; i < cells; ++i) {
    new (&table[i]) std::atomic<uintptr_t>(0);
    new (&slots[i]) std::atomic<slot*>(nullptr);
  }
  table[0].store(size);
  sthread_mutex_init(&db->cache_mutex, nullptr);
  db->cache_free.store(static_cast<int32_t>(size));
  db->cache_limit.store(static_cast<int32_t>(size / 10));
  db->cache_used.store(0);
  db->cache_slots = slots;
  db->cache_table = table;
  return 1;
}

void idbm_cache_release(idbm_db* db) {
  if (!db->cache_table) return;
  const uint32_t size = static_cast<uint32_t>(db->cache_table[0].load());
  for (uint32_t i = 1; i <= size; ++i) {
    slot* s = db->cache_slots[i].load(std::memory_order_acquire);
    if (s && s->home) {
      arena* a = s->home;
      CleanupLock lock(&a->mutex);
      if (s->owner == db && s->index == i) {
        db->cache_slots[i].store(nullptr, std::memory_order_relaxed);
        db->cache_table[i].store(0, std::memory_order_relaxed);
        s->owner = nullptr;
        s->index = 0;
        s->busy = false;
        s->pins = 0;
        slot_to_oldest_locked(s, "free_slot");
      }
    }
    db->cache_table[i].store(0, std::memory_order_relaxed);
  }
  // A recycler that took one of the cache's slots before the walk may still
  // be writing the cache's cells under its arena mutex: wait for each arena
  // once before the tables go.
  for (arena* a : arenas) {
    if (!a) break;
    CleanupLock lock(&a->mutex);
  }
  sized_pool_give(&table_pool(), db->cache_table);
  db->cache_table = nullptr;
  db->cache_slots = nullptr;
  db->cache_free.store(0);
  db->cache_limit.store(0);
  db->cache_used.store(0);
  sthread_mutex_destroy(&db->cache_mutex);
}

uint32_t idbm_freq_find(idbm_db* db, uint32_t hash1, uint32_t hash2) {
  if (!db->cache_table) return 0;
  const uint32_t size = static_cast<uint32_t>(db->cache_table[0].load(std::memory_order_relaxed));
  uint32_t cell = probe_first(hash1, size);
  for (uint32_t steps = 0; steps < size; ++steps) {
    uintptr_t value = db->cache_table[cell].load(std::memory_order_acquire);
    if (value == 0) return cell;
    if (value != CACHE_DEL) {
      const auto* r = reinterpret_cast<const uint32_t*>(value);
      if (pair_cmp(r[0], r[1], hash1, hash2) == 0) return cell;
    }
    cell = probe_next(cell, size);
  }
  return 0;
}

int idbm_purge(idbm_db* db) {
  const uint32_t size = static_cast<uint32_t>(db->cache_table[0].load(std::memory_order_relaxed));
  int reclaimed = 0;
  for (uint32_t i = 1; i <= size; ++i) {
    if (db->cache_table[i].load(std::memory_order_acquire) != CACHE_DEL) continue;
    uint32_t j = i;
    uint32_t run = 0;
    while (run < size && db->cache_table[j].load(std::memory_order_acquire) == CACHE_DEL) {
      j = probe_next(j, size);
      ++run;
    }
    if (run == size || db->cache_table[j].load(std::memory_order_acquire) != 0) continue;
    for (uint32_t k = i, left = run; left > 0; --left, k = probe_next(k, size)) {
      db->cache_table[k].store(0, std::memory_order_release);
      ++reclaimed;
    }
    db->cache_used.fetch_sub(static_cast<int32_t>(run));
    db->cache_free.fetch_add(static_cast<int32_t>(run));
  }
  return reclaimed;
}

namespace {

// The insertion proper, under the cache mutex: the record cached for the
// pair (*earlier when another thread cached it first), or null.
uint32_t* insert_locked(idbm_db* db, uint32_t* record, slot* s, uint32_t size, uint32_t** earlier) {
  const uint32_t hash1 = record[0] & kHashMask;
  const uint32_t hash2 = record[1] & kHashMask;
  CleanupLock lock(&db->cache_mutex);
  auto insert_at = [&](uint32_t target, bool was_empty) {
    if (was_empty) {
      db->cache_free.fetch_sub(1);
      db->cache_used.fetch_add(1);
    }
    if (s && s->home) {
      arena* a = s->home;
      CleanupLock arena_lock(&a->mutex);
      if (was_empty && a->free > 0) {
        --a->free;
        ++a->used;
      }
      s->owner = db;
      s->index = target;
      ++a->inserts;
      slot_to_newest_locked(s, "touch_slot");
      if (rec_count(record) > 0) ++s->pins;
      s->busy = false;
      db->cache_slots[target].store(s, std::memory_order_release);
      db->cache_table[target].store(reinterpret_cast<uintptr_t>(record), std::memory_order_release);
    } else {
      db->cache_slots[target].store(nullptr, std::memory_order_release);
      db->cache_table[target].store(reinterpret_cast<uintptr_t>(record), std::memory_order_release);
    }
    return record;
  };
  for (;;) {
    uint32_t cell = probe_first(hash1, size);
    uint32_t first_deleted = 0;
    bool restart = false;
    for (uint32_t steps = 0; steps < size; ++steps) {
      uint32_t* cached = nullptr;
      CellCheck c = check_cell(db, cell, hash1, hash2, true, &cached);
      if (c == CellCheck::kChanged) {
        restart = true;
        break;
      }
      if (c == CellCheck::kMatch) {
        *earlier = cached;
        if (s) free_slot(s);
        return cached;
      }
      if (c == CellCheck::kDeleted && first_deleted == 0) first_deleted = cell;
      if (c == CellCheck::kEmpty) return first_deleted ? insert_at(first_deleted, false) : insert_at(cell, true);
      cell = probe_next(cell, size);
    }
    if (restart) continue;
    if (first_deleted) return insert_at(first_deleted, false);
    report_error("idbm_add: cache FULL", db_name(db));
    if (s) free_slot(s);
    return nullptr;
  }
}

}  // namespace

uint32_t* idbm_add(idbm_db* db, uint32_t* record, slot* s) {
  if (reinterpret_cast<uintptr_t>(record) == CACHE_DEL) {
    log_msg(LOG_ERROR, "idbm_add: rec == CACHE_DEL!!");
    return nullptr;
  }
  const uint32_t size = static_cast<uint32_t>(db->cache_table[0].load(std::memory_order_relaxed));
  if (db->cache_used.load() > db->cache_limit.load()) {
    const int32_t used = db->cache_used.load();
    const int32_t free = db->cache_free.load();
    const uint32_t level = used > 9 * free ? LOG_ERROR : used > free ? LOG_WARNING : LOG_TRACE;
    log_msg(level, "idbm_add: before purging usage=%d limit=%d", used, db->cache_limit.load());
    int reclaimed = 0;
    {
      CleanupLock lock(&db->cache_mutex);
      if (db->cache_used.load() > db->cache_limit.load()) {
        reclaimed = idbm_purge(db);
        int64_t raised = int64_t{db->cache_used.load()} + size / 50;
        if (db->cache_limit.load() <= raised) {
          if (raised >= size) log_fatal("Search Engine termlist hash table is full!!!");
          db->cache_limit.store(static_cast<int32_t>(raised));
        }
      }
    }
    const int32_t limit = db->cache_limit.load();
    log_msg(level, "idbm_add: purged down to %.1f%%.  usage=%d limit=%d. reclaimed %d slots",
            limit ? 100.0 * db->cache_used.load() / limit : 0.0, db->cache_used.load(), limit, reclaimed);
    log_msg(level, "idbm_add:  idbm db cache hash table limit is %d (%.1f%% of max).", limit,
            100.0 * limit / size);
  }

  uint32_t* earlier = nullptr;  // a record another thread cached first
  uint32_t* result = insert_locked(db, record, s, size, &earlier);
  if (earlier && log_passes(LOG_TRACE))
    log_msg(LOG_TRACE, "idbm_add: %p added before %p", static_cast<void*>(earlier), static_cast<void*>(s));
  return result;
}

void idbm_trunc(uint32_t* record, uint32_t limit) {
  log_msg(LOG_WARNING, "idbm_trunc: termlist longer than 40K");
  const uint32_t count = rec_full_count(record);
  if (count <= limit) return;
  uint32_t* postings = record + kRecHeaderWords;
  uint32_t per_score[128] = {};
  for (uint32_t i = 0; i < count; ++i) ++per_score[posting_score(postings[i])];
  uint32_t total = 0;
  int threshold = -1;
  for (int score = 127; score >= 0; --score) {
    if (total + per_score[score] > limit) {
      threshold = score;
      break;
    }
    total += per_score[score];
  }
  // Keep every posting above the threshold, and those of the threshold score
  // in docid order while room is left.
  uint32_t room_at_threshold = limit - total;
  uint32_t kept = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t p = postings[i];
    const int score = static_cast<int>(posting_score(p));
    if (score > threshold || (score == threshold && room_at_threshold > 0)) {
      if (score == threshold) --room_at_threshold;
      postings[kept++] = p;
    }
  }
  const uint32_t dropped = count - kept;
  postings[kept] = kRecEndMark;
  memset(postings + kept + 1, 0, uint64_t{dropped} * 4);
  uint32_t free = rec_full_free(record) + dropped;
  if (free > kFreeMask) free = kFreeMask;
  rec_set_count(record, kept, free);
}

uint32_t* idbm_norm(idbm_db* db, uint32_t* record, slot* s) {
  uint32_t count = rec_count(record);
  if (!rec_is_compact(record) && count > static_cast<uint32_t>(db->posting_limit)) {
    idbm_trunc(record, static_cast<uint32_t>(db->posting_limit));
    count = rec_count(record);
  }
  uint32_t docf = rec_docf(record);
  if (docf > db->ndocs) docf = db->ndocs;
  const uint32_t base = rec_norm(record);
  const int32_t weight = idf_scale(docf, db->ndocs);
  const uint32_t hash1 = record[0] & kHashMask;
  const uint32_t hash2 = record[1] & kHashMask;
  const uint64_t bytes = uint64_t{count} * 4 + kRecOverheadBytes;

  uint32_t* dest;
  if (s) {
    if (bytes > s->home->chunk_size) {
      report_error("idbm_norm: record larger than its slot", db_name(db));
      free_slot(s);
      return nullptr;
    }
    dest = s->chunk;
  } else {
    s = alloc_slot(static_cast<uint32_t>(bytes));
    if (!s) {
      report_error("idbm_norm: alloc_slot failed", db_name(db));
      return nullptr;
    }
    dest = s->chunk;
  }
  if (log_passes(LOG_TERM_INFO))
    log_msg(LOG_TERM_INFO, "On-Disk Term Info for hash:%d,%d; docf %u; base %d; free %d; size %d\n",
            static_cast<int>(hash1), static_cast<int>(hash2), docf, static_cast<int>(base),
            static_cast<int>(rec_free(record)), static_cast<int>(count));

  // Postings of a compact record sit where the full form's header goes:
  // copy them out before writing the header.
  uint32_t compact[2] = {};
  const uint32_t* source = rec_postings(record);
  if (rec_is_compact(record)) {
    for (uint32_t i = 0; i < count; ++i) compact[i] = source[i];
    source = compact;
  }
  const uint32_t both = LOG_TERM_INFO | LOG_POSTINGS;
  const bool trace_postings = (log_mask.load(std::memory_order_relaxed) & both) == both;
  uint32_t* out = dest + kRecHeaderWords;
  bool reported = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t p = source[i];
    if (posting_docid(p) >= db->ndocs) {
      // Damaged term file: a docid the database does not have would send
      // readers of the deletion and date maps past their ends.
      report_error("idbm_norm: invalid docid", db_name(db));
      free_slot(s);
      return nullptr;
    }
    const uint32_t stored = posting_score(p);
    const int32_t r = db->raw_score[stored];
    int32_t score = r >= 100 ? weight : percent_table[r < 0 ? 0 : r][weight];
    if (score < 1) score = 1;
    if (trace_postings) log_msg(LOG_TERM_INFO, "DocID %u, Score %d\n", p & ~127u, static_cast<int>(stored));
    uint32_t posting = (p & ~127u) | static_cast<uint32_t>(score);
    // Keep docids ascending: move a posting smaller than its predecessor back.
    uint32_t at = i;
    if (at > 0 && out[at - 1] > posting) {
      if (!reported) {
        report_error("idbm_norm: docids out of order,", "shuffling docids");
        reported = true;
      }
      while (at > 0 && out[at - 1] > posting) {
        out[at] = out[at - 1];
        --at;
      }
    }
    out[at] = posting;
  }
  out[count] = kRecEndMark;
  rec_set_header(dest, hash1, hash2, docf, static_cast<uint32_t>(weight), count);
  return idbm_add(db, dest, s);
}

uint32_t* idbm_stub(idbm_db* db, uint32_t hash1, uint32_t hash2) {
  slot* s = alloc_slot(kRecOverheadBytes);
  if (!s) return nullptr;
  uint32_t* r = s->chunk;
  r[0] = hash1 & kHashMask;
  r[1] = hash2 & kHashMask;
  r[2] = 0;
  r[3] = 0;
  r[4] = kRecEndMark;
  return idbm_add(db, r, s);
}

}  // namespace vorlane
