// Slot arenas: fixed-size chunks that hold the term records queries read from
// disk, shared by every open database.
//
// Up to 16 process-wide arenas, one per chunk size, kept in ascending order of
// chunk size. Each arena is one page-granular block (header, slot
// descriptors, then the chunks) whose slots form one chain from the least to
// the most recently used; alloc_slot recycles the oldest slot that is neither
// busy nor pinned. A slot that holds a cached record belongs to the term cache
// of one database (store/term_cache.h); recycling it marks that cache's cell
// CACHE_DEL and clears its slot cell.
//
// Concurrency: each arena has its own mutex, held only for chain updates and
// ownership changes and always through the calling thread's cleanup stack.
// The busy flag keeps a slot that is being filled from being recycled before
// its owner takes it; the pin count keeps a record that a query still reads
// from being recycled (idbm_find returns its records pinned; the query
// releases them with unpin_record). The table of arenas is filled at set-up,
// before any lookup, and only read afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/sthread.h"

namespace vorlane {

struct idbm_db;
struct arena;

struct slot {
  arena* home;          // owning arena
  slot* older;          // previous in the chain (towards the oldest)
  slot* newer;          // next in the chain (towards the newest)
  uint32_t* chunk;      // the chunk this descriptor stands for
  idbm_db* owner;       // term cache holding the slot, or null
  uint32_t index;       // owner's cell that refers to the slot (0 when none)
  bool busy;            // set from alloc_slot until the owner takes the slot
  uint32_t pins;        // queries still reading the record
};

struct arena {
  uint32_t count;       // slots
  uint32_t chunk_size;  // bytes per chunk
  uint32_t used;        // slots given to cache cells that were empty
  uint32_t free;        // count at creation
  char* chunks;         // first chunk
  slot* slots;          // first descriptor
  slot* oldest;
  slot* newest;
  sthread_mutex mutex;
  uint64_t hits;        // cache hits on this arena's slots
  uint64_t inserts;     // records cached in this arena's slots
};

inline constexpr int kMaxArenas = 16;

// The process-wide table; empty entries are null.
extern arena* arenas[kMaxArenas];

// One arena of count chunks of chunk bytes; null after report_error
// ("make_arena: zero size chunks requested", "make_arena: zero chunks
// requested", "make_arena: can't alloc").
arena* make_arena(uint32_t chunk, uint32_t count);

// Adds an arena of count chunks of postings x 4 + 20 bytes to the table in
// order of chunk size. Ends the process when the arena can't be made or the
// table is full ("cache_init: too many arenas").
void cache_add_arena(uint32_t postings, uint32_t count);

// The default arenas: 50 slots for records of max_hits postings (the
// module-wide posting limit) and 50 for stubs.
void cache_init_default(uint32_t max_hits);

// Sum of the slot counts of the arenas up to the first empty entry.
uint32_t cache_total_slots();

// A busy slot whose chunk holds at least size bytes, moved to the newest end,
// or null ("alloc_slot: size requested exceeds limit", "alloc_slot: all slots
// are in use"). A recycled slot's former owner loses it: its record cell
// becomes CACHE_DEL, its slot cell 0.
slot* alloc_slot(uint32_t size);

// Marks the slot most recently used: 1, or 0 for a null slot or one without
// an arena.
int touch_slot(slot* s);

// Puts the slot at the oldest end and clears owner, index and busy flag. The
// former owner's cells are the caller's to clear.
void free_slot(slot* s);

// Chain moves for callers that hold the slot's arena mutex (the term cache
// when it takes or gives back a slot).
void slot_to_newest_locked(slot* s, const char* who);
void slot_to_oldest_locked(slot* s, const char* who);

// Releases one pin of the slot holding a record idbm_find returned; records
// outside every arena (incremental databases) and null are ignored.
void unpin_record(const uint32_t* record);
void unpin_slot(slot* s);

// The slot whose chunk starts at record, or null.
slot* slot_of_record(const uint32_t* record);

// For i < n, eight values per arena: hit counter, insertion counter, postings
// per chunk (chunk / 4 - 5), slot count, used count, free count, slot count x
// chunk size, arena address; zeros for an empty entry or i >= 16.
void arena_stats(uint64_t* out, int n);

// Releases every arena (tests only: no database may hold slots).
void cache_release_arenas();

}  // namespace vorlane
