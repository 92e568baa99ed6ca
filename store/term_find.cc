// idbm_find: the term record of a hash pair, from the cache or with at most
// one positional read.
#include <cstring>

#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/log.h"
#include "store/mapfile.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/term_cache_cells.h"

namespace vorlane {

namespace {

const uint32_t* fail(const idbm_db* db, bool* failed, const char* what) {
  report_error(what, db_name(db));
  *failed = true;
  return nullptr;
}

// A record present in the term file that could not be cached (no slot, or a
// bad record) is a failed lookup, not an absent term.
const uint32_t* normalised(const uint32_t* record, bool* failed) {
  if (!record) *failed = true;
  return record;
}

// The cache probe, without the cache mutex. Sets *hit when the pair is cached
// (the result is then its record, or null for a stub).
const uint32_t* probe_cache(idbm_db* db, uint32_t hash1, uint32_t hash2, bool* hit, bool* full) {
  const uint32_t size = static_cast<uint32_t>(db->cache_table[0].load(std::memory_order_relaxed));
  for (;;) {
    uint32_t cell = probe_first(hash1, size);
    bool restart = false;
    for (uint32_t steps = 0; steps < size; ++steps) {
      uint32_t* record = nullptr;
      switch (check_cell(db, cell, hash1, hash2, true, &record)) {
        case CellCheck::kEmpty:
          return nullptr;
        case CellCheck::kMatch:
          *hit = true;
          return record;
        case CellCheck::kChanged:
          restart = true;
          break;
        case CellCheck::kDeleted:
        case CellCheck::kOther:
          break;
      }
      if (restart) break;
      cell = probe_next(cell, size);
    }
    if (!restart) {
      *full = true;
      return nullptr;
    }
  }
}

void trace_read(uint32_t hash1, uint32_t hash2, const db_file& part, uint64_t offset,
                uint64_t length) {
  if (log_passes(LOG_TERM_INFO | LOG_POSTINGS))
    log_msg(LOG_TERM_INFO | LOG_POSTINGS, "idbm_find: looking up record for %d.%d. %s off %d len %d",
            static_cast<int>(hash1), static_cast<int>(hash2), part.name ? part.name : "", static_cast<int>(offset),
            static_cast<int>(length));
}

}  // namespace

const uint32_t* idbm_find(idbm_db* db, uint32_t hash1, uint32_t hash2) {
  bool failed = false;
  return idbm_find(db, hash1, hash2, &failed);
}

const uint32_t* idbm_find(idbm_db* db, uint32_t hash1, uint32_t hash2, bool* failed) {
  *failed = false;
  hash1 &= kHashMask;
  hash2 &= kHashMask;
  if (db->icube) {
    if (!db->cache_table) return fail(db, failed, "idbm_find: no cache");
    uint32_t cell = idbm_freq_find(db, hash1, hash2);
    if (cell == 0) return nullptr;
    uintptr_t value = db->cache_table[cell].load(std::memory_order_acquire);
    return value == 0 || value == CACHE_DEL ? nullptr : reinterpret_cast<const uint32_t*>(value);
  }
  if (!db->cache_table) return fail(db, failed, "idbm_find: no cache");

  bool hit = false, full = false;
  const uint32_t* cached = probe_cache(db, hash1, hash2, &hit, &full);
  if (hit) return cached;
  if (full) return fail(db, failed, "idbm_find: cache FULL");

  // The sparse directory: absent when the database has no terms.
  if (db->dir_copy || !db->dir.address || db->dir.size < kDirHeaderSize + kDirEntrySize) return nullptr;
  const auto* entries =
      reinterpret_cast<const dir_entry*>(static_cast<const char*>(db->dir.address) + kDirHeaderSize);
  const uint32_t nentries = static_cast<uint32_t>((db->dir.size - kDirHeaderSize) / kDirEntrySize);
  if (pair_cmp(hash1, hash2, entries[0].hash1, entries[0].hash2) < 0) return nullptr;

  // The last entry whose pair is <= the key.
  uint32_t lo = 0, hi = nentries - 1;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo + 1) / 2;
    int c = pair_cmp(entries[mid].hash1, entries[mid].hash2, hash1, hash2);
    if (c == 0) {
      lo = mid;
      break;
    }
    if (c < 0) lo = mid; else hi = mid - 1;
  }
  const dir_entry& entry = entries[lo];
  const uint32_t part_no = dir_entry_part(entry);
  const uint32_t entry_size = dir_entry_size(entry);
  if (part_no >= db->nparts || entry_size < 12) return fail(db, failed, "idbm_find: bad directory entry");
  const db_file& part = db->parts[part_no];

  if (pair_cmp(entry.hash1, entry.hash2, hash1, hash2) == 0) {
    // Exact read of the record into a slot, with room to expand a compact
    // record into the full form.
    slot* s = alloc_slot(entry_size < 17 ? entry_size + 12 : entry_size);
    if (!s) return fail(db, failed, "idbm_find: alloc_slot failed");
    trace_read(hash1, hash2, part, entry.offset, entry_size);
    ssize_t got = idbm_pread(part.fd, s->chunk, entry_size, entry.offset);
    if (got < static_cast<ssize_t>(entry_size)) {
      free_slot(s);
      return fail(db, failed, "idbm_find: dir entry inconsistent with db");
    }
    uint32_t* record = s->chunk;
    if (pair_cmp(record[0], record[1], hash1, hash2) != 0) {
      free_slot(s);
      return fail(db, failed, "idbm_find: dir entry hash != rec hash");
    }
    if (rec_size(record) != entry_size) {
      free_slot(s);
      return fail(db, failed, "idbm_find: dir entry size != rec size");
    }
    return normalised(idbm_norm(db, record, s), failed);
  }

  // Otherwise the record, if present, lies after the entry's record, in the
  // page where that record ends.
  const uint64_t start = uint64_t{entry.offset} + entry_size;
  uint64_t end = part.size;
  if (lo + 1 < nentries && dir_entry_part(entries[lo + 1]) == part_no) end = entries[lo + 1].offset;
  if (start >= end) return nullptr;
  const uint64_t page = start & ~uint64_t{kPageMask};
  uint64_t length = kPageBytes;
  if (page + kPageBytes > part.size) {
    length = part.size - page;
    end = part.size;
  }
  if (end > page + length) end = page + length;
  if (start >= end) return nullptr;

  alignas(8) uint32_t buffer[kPageBytes / 4];
  trace_read(hash1, hash2, part, page, length);
  ssize_t got = idbm_pread(part.fd, buffer, length, page);
  if (got < static_cast<ssize_t>(length)) return fail(db, failed, "idbm_find: pread of page failed");

  // Scan from start, each record bounded by the page and the end.
  const char* base = reinterpret_cast<const char*>(buffer);
  uint64_t at = start - page;
  const uint64_t stop = end - page;
  while (at < stop) {
    if (at % 4 != 0 || at + 8 > stop) return fail(db, failed, "idbm_find: CORRUPTION or BAD INDEX");
    const auto* record = reinterpret_cast<const uint32_t*>(base + at);
    const bool compact = rec_is_compact(record);
    if (!compact && at + 16 > stop) return fail(db, failed, "idbm_find: CORRUPTION or BAD INDEX");
    const uint64_t size = rec_size(record);
    const int c = pair_cmp(record[0], record[1], hash1, hash2);
    if (at + size > stop) return fail(db, failed, "idbm_find: CORRUPTION or BAD INDEX");
    if (c > 0) break;
    if (c == 0) return normalised(idbm_norm(db, const_cast<uint32_t*>(record), nullptr), failed);
    at += size;
  }
  idbm_stub(db, hash1, hash2);
  return nullptr;
}

}  // namespace vorlane
