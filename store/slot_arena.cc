#include "store/slot_arena.h"

#include "store/alloc.h"
#include "store/cleanup_lock.h"
#include "store/db_handle.h"
#include "store/log.h"
#include "store/mapfile.h"

namespace vorlane {

arena* arenas[kMaxArenas] = {};

namespace {

size_t arena_header_bytes() { return (sizeof(arena) + 15) & ~size_t{15}; }

// Unlinks s from the chain; the messages name the caller.
void unlink_slot(arena* a, slot* s, const char* who) {
  if ((s->older && s->older->newer != s) || (s->newer && s->newer->older != s))
    log_msg(LOG_WARNING, "%s: chain inconsistent", who);
  if (s->older) {
    s->older->newer = s->newer;
  } else {
    if (a->oldest != s) log_msg(LOG_WARNING, "%s: chain inconsistent with oldest", who);
    a->oldest = s->newer;
  }
  if (s->newer) {
    s->newer->older = s->older;
  } else {
    if (a->newest != s) log_msg(LOG_WARNING, "%s: chain inconsistent with newest", who);
    a->newest = s->older;
  }
  s->older = s->newer = nullptr;
}

void append_newest(arena* a, slot* s, const char* who) {
  unlink_slot(a, s, who);
  s->older = a->newest;
  s->newer = nullptr;
  if (a->newest) a->newest->newer = s; else a->oldest = s;
  a->newest = s;
}

void prepend_oldest(arena* a, slot* s, const char* who) {
  unlink_slot(a, s, who);
  s->newer = a->oldest;
  s->older = nullptr;
  if (a->oldest) a->oldest->older = s; else a->newest = s;
  a->oldest = s;
}

}  // namespace

void slot_to_newest_locked(slot* s, const char* who) {
  if (s->home->newest != s) append_newest(s->home, s, who);
}

void slot_to_oldest_locked(slot* s, const char* who) {
  if (s->home->oldest != s) prepend_oldest(s->home, s, who);
}

arena* make_arena(uint32_t chunk, uint32_t count) {
  if (static_cast<int32_t>(chunk) < 1) {
    report_error("make_arena: zero size chunks requested", "");
    return nullptr;
  }
  if (static_cast<int32_t>(count) < 1) {
    report_error("make_arena: zero chunks requested", "");
    return nullptr;
  }
  uint64_t chunk_bytes = (static_cast<uint64_t>(chunk) + 7) & ~uint64_t{7};
  uint64_t bytes = arena_header_bytes() + uint64_t{count} * sizeof(slot) + uint64_t{count} * chunk_bytes;
  void* block = bytes > (uint64_t{1} << 40) ? nullptr : valloc_arena(static_cast<size_t>(bytes));
  if (!block) {
    char detail[64];
    snprintf(detail, sizeof detail, "%dx%d=%lld", static_cast<int>(chunk), static_cast<int>(count),
             static_cast<long long>(chunk) * count);
    report_error("make_arena: can't alloc", detail);
    return nullptr;
  }
  auto* a = new (block) arena{};
  a->count = count;
  a->chunk_size = chunk;
  a->used = 0;
  a->free = count;
  a->slots = reinterpret_cast<slot*>(static_cast<char*>(block) + arena_header_bytes());
  a->chunks = reinterpret_cast<char*>(a->slots + count);
  for (uint32_t i = 0; i < count; ++i) {
    slot* s = new (&a->slots[i]) slot{};
    s->home = a;
    s->older = i > 0 ? &a->slots[i - 1] : nullptr;
    s->newer = i + 1 < count ? &a->slots[i + 1] : nullptr;
    s->chunk = reinterpret_cast<uint32_t*>(a->chunks + i * chunk_bytes);
  }
  a->oldest = &a->slots[0];
  a->newest = &a->slots[count - 1];
  sthread_mutex_init(&a->mutex, nullptr);
  return a;
}

void cache_add_arena(uint32_t postings, uint32_t count) {
  uint64_t chunk = uint64_t{postings} * 4 + 20;
  if (chunk > 0x7FFFFFFF) log_fatal("cache_init: can't make arena");
  int place = 0;
  while (place < kMaxArenas && arenas[place] && arenas[place]->chunk_size <= chunk) ++place;
  if (arenas[kMaxArenas - 1]) log_fatal("cache_init: too many arenas");
  arena* a = make_arena(static_cast<uint32_t>(chunk), count);
  if (!a) log_fatal("cache_init: can't make arena");
  for (int i = kMaxArenas - 1; i > place; --i) arenas[i] = arenas[i - 1];
  arenas[place] = a;
}

void cache_init_default(uint32_t max_hits) {
  cache_add_arena(max_hits, 50);
  cache_add_arena(0, 50);
}

uint32_t cache_total_slots() {
  uint32_t total = 0;
  for (arena* a : arenas) {
    if (!a) break;
    total += a->count;
  }
  return total;
}

slot* alloc_slot(uint32_t size) {
  arena* a = nullptr;
  for (arena* candidate : arenas) {
    if (!candidate) break;
    if (candidate->chunk_size >= size) {
      a = candidate;
      break;
    }
  }
  if (!a) {
    log_msg(LOG_ERROR, "alloc_slot(%d)\n", static_cast<int>(size));
    report_error("alloc_slot: size requested exceeds limit", "");
    return nullptr;
  }
  slot* s;
  {
    CleanupLock lock(&a->mutex);
    s = a->oldest;
    while (s && (s->busy || s->pins > 0) && s->newer) s = s->newer;
    if (!s || s->busy || s->pins > 0) {
      report_error("alloc_slot: all slots are in use", "");
      return nullptr;
    }
    s->busy = true;
    if (idbm_db* owner = s->owner) {
      uint32_t index = s->index;
      if (index == 0) log_fatal("alloc_slot: slot cacher offset zero");
      if (!owner->cache_table || index > owner->cache_table[0].load(std::memory_order_relaxed))
        log_fatal("alloc_slot: slot cacher offset too large");
      if (owner->cache_slots[index].load(std::memory_order_relaxed) != s)
        log_fatal("alloc_slot: slot cacher cell not pointing at slot");
      owner->cache_slots[index].store(nullptr, std::memory_order_release);
      owner->cache_table[index].store(CACHE_DEL, std::memory_order_release);
      s->owner = nullptr;
      s->index = 0;
    }
    if (a->newest != s) append_newest(a, s, "alloc_slot");
    if (log_passes(LOG_TRACE))
      log_msg(LOG_TRACE, "alloc_slot(%d) %llu:%llu\n", static_cast<int>(size),
              static_cast<unsigned long long>(a->hits), static_cast<unsigned long long>(a->inserts));
  }
  return s;
}

int touch_slot(slot* s) {
  if (!s || !s->home) return 0;
  arena* a = s->home;
  CleanupLock lock(&a->mutex);
  if (a->newest != s) append_newest(a, s, "touch_slot");
  return 1;
}

void free_slot(slot* s) {
  if (!s || !s->home) return;
  arena* a = s->home;
  CleanupLock lock(&a->mutex);
  if (a->oldest != s) prepend_oldest(a, s, "free_slot");
  s->owner = nullptr;
  s->index = 0;
  s->busy = false;
}

slot* slot_of_record(const uint32_t* record) {
  if (!record) return nullptr;
  const char* p = reinterpret_cast<const char*>(record);
  for (arena* a : arenas) {
    if (!a) break;
    uint64_t chunk_bytes = (uint64_t{a->chunk_size} + 7) & ~uint64_t{7};
    if (p < a->chunks || p >= a->chunks + chunk_bytes * a->count) continue;
    uint64_t offset = static_cast<uint64_t>(p - a->chunks);
    if (offset % chunk_bytes != 0) return nullptr;
    return &a->slots[offset / chunk_bytes];
  }
  return nullptr;
}

void unpin_slot(slot* s) {
  if (!s || !s->home) return;
  CleanupLock lock(&s->home->mutex);
  if (s->pins > 0) --s->pins;
}

void unpin_record(const uint32_t* record) { unpin_slot(slot_of_record(record)); }

void arena_stats(uint64_t* out, int n) {
  for (int i = 0; i < n; ++i) {
    uint64_t* row = out + 8 * i;
    arena* a = i < kMaxArenas ? arenas[i] : nullptr;
    if (!a) {
      for (int k = 0; k < 8; ++k) row[k] = 0;
      continue;
    }
    CleanupLock lock(&a->mutex);
    row[0] = a->hits;
    row[1] = a->inserts;
    row[2] = a->chunk_size / 4 - 5;
    row[3] = a->count;
    row[4] = a->used;
    row[5] = a->free;
    row[6] = uint64_t{a->count} * a->chunk_size;
    row[7] = reinterpret_cast<uintptr_t>(a);
  }
}

void cache_release_arenas() {
  for (arena*& a : arenas) {
    if (!a) continue;
    sthread_mutex_destroy(&a->mutex);
    vfree_block(a);
    a = nullptr;
  }
}

}  // namespace vorlane
