// The term cache of a database and term lookup.
//
// Each query database has an open-addressing table (fields of idbm_db) of
// pointers to term records that live in slots of the shared arenas
// (store/slot_arena.h). Cell 0 holds the size; cells 1..size hold a record
// pointer, 0 (never used) or CACHE_DEL (its slot was recycled). used counts
// the cells that are not empty, free = size - used. The probe of a pair starts
// at cell (hash1 mod size) + 1 and steps by one, wrapping from cell size to
// cell 1; an empty cell ends it.
//
// A cached record is in the full form with both hash bits 31 clear: word 2
// holds the term's document-frequency weight (1..100) in bits 25-31 and docf
// in bits 0-24, word 3 holds count << 15 and free = 0, every posting's score is
// its query weight 1..100. A record of count 0 is a stub for a term known to
// be absent (hash pair, 0, 0, end mark: 20 bytes).
//
// Concurrency: lookups probe the table without the cache mutex. A cell changes
// only from record to CACHE_DEL (recycling, under the slot's arena mutex) or
// from empty or CACHE_DEL to record (idbm_add, under the cache mutex), and
// every test of a cell's record (its pair, its pin) is made under the arena
// mutex of its slot after checking that the cell still holds it, so a record
// is never read while its slot is being refilled. Lock order: cache mutex,
// then arena mutex.
//
// Pins: idbm_find and idbm_add return records pinned; the caller releases each
// with unpin_record (store/slot_arena.h) when it no longer reads it (the
// query engine at the end of each query). Stubs and records of incremental
// databases are never pinned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace vorlane {

struct idbm_db;
struct slot;

// Creates the term cache for n or more entries: n is raised to 8 x the total
// slot count, size = n + n / 4, limit = size / 10. 1, or 0 after
// "idbm_cache: no size given" or "idbm_cache: can't allocate cache". A handle
// that has a table keeps it (warning "idbm_cache(%d): already using %d").
int idbm_cache(idbm_db* db, uint32_t n);

// Releases the table. Slots that the cache still owns (checked under their
// arena mutex) go back to their arenas; slots recycled meanwhile by another
// database are left alone.
void idbm_cache_release(idbm_db* db);

// The cached record of a pair (pinned), or null: absent, a stub, or a failure
// (reported through report_error with the database's name). A miss costs at
// most one positional read: the exact record when the directory has an entry
// for it, else the 8 KB page after the entry that precedes it.
const uint32_t* idbm_find(idbm_db* db, uint32_t hash1, uint32_t hash2);
// The same, telling a failure from an absent term: *failed is set when the
// lookup failed (no cache, a full cache, no slot for the record, a damaged
// term file), cleared otherwise.
const uint32_t* idbm_find(idbm_db* db, uint32_t hash1, uint32_t hash2, bool* failed);

// Caches record (held in slot, which the cache takes) and returns the record
// cached for its pair: the one given, or one another thread cached meanwhile
// (slot is then given back). Pinned; null when the record cached is a stub.
uint32_t* idbm_add(idbm_db* db, uint32_t* record, slot* s);

// Empties every run of CACHE_DEL cells that ends at an empty cell; the number
// of cells reclaimed.
int idbm_purge(idbm_db* db);

// Normalises a stored record (full or compact form) into query weights and
// caches it: in place in slot when given (the record is already there), else
// in a new slot. The result of idbm_add, or null.
uint32_t* idbm_norm(idbm_db* db, uint32_t* record, slot* s);

// Caches a stub for the pair; the result of idbm_add.
uint32_t* idbm_stub(idbm_db* db, uint32_t hash1, uint32_t hash2);

// The cell of the pair, or of the empty cell where its probe stopped; 0 when
// the handle has no cache or the table is full without the pair. For the
// table of an incremental database, whose records are not in slots and are
// never recycled (it reads records without an arena mutex).
uint32_t idbm_freq_find(idbm_db* db, uint32_t hash1, uint32_t hash2);

// Cuts a full-form record to limit postings in place, keeping the best scores
// (ties in docid order); free grows by the postings dropped (at most 0x7FFF)
// and the record keeps its size.
void idbm_trunc(uint32_t* record, uint32_t limit);

// The positional read idbm_find uses (tests count reads through it).
extern ssize_t (*idbm_pread)(int fd, void* buffer, size_t count, uint64_t offset);

}  // namespace vorlane
