// Page pool: a bounded cache of page buffers over one hash database file,
// indexed by page number through hash chains (at least as many as the pool
// has buffers, so a lookup walks a chain of about one buffer whatever the
// cache size), with a least-recently-used
// list, pin counts and dirty marks, and two hooks that convert a page between
// its stored byte order and the machine's when it is read or written.
//
// A buffer found again moves to the most recently used end of the list only
// when more gets have passed since its last move than half the pool has
// buffers: a buffer used that recently has fewer than half the pool behind
// it and is not near reuse, and most lookups then leave the list alone. A
// pool of one or two buffers keeps the exact order.
//
// When the whole file (as it was at open) fits in the pool, a page missing
// from it is read together with the uncached pages that follow it, up to
// kPoolReadRun pages in one call, while the pool has room for them below its
// limit: a pool that will hold every page anyway reads them in runs instead
// of one call each, and nothing cached is pushed out for them.
//
// Each page has at most one buffer; lookup finds it whether clean or dirty.
// A pinned buffer is never reused. Pages are read with pread and written with
// pwrite; a page past the end of the file reads as zeros; the page-out hook
// converts a scratch copy, so a cached buffer always holds the machine form.
//
// Failures return none or -1 with errno = errno % 1000 + site * 1000:
//   1101029 open: not a regular file      1102xxx open: pool memory
//   1103xxx new: page past the 2 GB limit 1105xxx get: failed or partial read
//   1106xxx taking a buffer: memory       1108xxx write: failed or short write
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::hashdb {

using hdb_page_hook = void (*)(void* cookie, uint32_t page_number, uint8_t* page);

constexpr int kPoolNoPin = 2;       // hdb_pool_get: do not pin
constexpr int kPoolDirty = 1;       // hdb_pool_put: mark dirty
constexpr int kPoolRequest = 1;     // hdb_pool_new: the caller names the page
constexpr uint32_t kPoolMinChains = 128;  // chains of a pool of up to 128 buffers
constexpr uint32_t kPoolSlabMax = 64;      // buffers in the largest heap slab
constexpr uint32_t kPoolReadRun = 8;       // pages one read may bring in

// Memos up to this size live in the buffer's own record, beside the fields
// a lookup reads, instead of on the heap.
constexpr uint32_t kPoolMemoInline = 119;

struct hdb_buffer {
  // What a lookup of the page reads, in the record's first cache line
  // together with the first tags of the memo.
  hdb_buffer* hash_next;   // the next buffer on its chain, or none
  uint8_t* memo;           // the user's memo of the page (memo_inline or heap), or none
  uint32_t page_number;
  uint32_t pins;
  uint32_t moved;          // the pool's tick when it last became most recently used
  uint32_t memo_size;      // bytes of the valid memo
  uint8_t flags;           // kBufferDirty, kBufferInUse, kBufferChecked, kBufferMemo
  uint8_t memo_inline[kPoolMemoInline];
  // What changes only when the buffer is placed, reused or moved.
  hdb_buffer** hash_pprev; // the link that points here, or none when on no chain
  hdb_buffer* lru_next;
  hdb_buffer* lru_prev;
  uint8_t* page;           // the page, right after the record
  uint32_t memo_capacity;  // bytes available at memo
};
static_assert(offsetof(hdb_buffer, memo_inline) == 33 && sizeof(hdb_buffer) == 192,
              "a buffer's record fills three cache lines, the first with what a lookup reads");
constexpr uint8_t kBufferDirty = 1;
constexpr uint8_t kBufferInUse = 4;
// Marks of what the pool's user derived from the page's contents: the page
// was checked; the memo holds what it noted of the page. The pool clears
// both whenever the contents may have changed (read from the file, made new,
// released dirty), so both are made again after every change.
constexpr uint8_t kBufferChecked = 8;
constexpr uint8_t kBufferMemo = 16;
constexpr uint8_t kBufferDerived = kBufferChecked | kBufferMemo;

struct hdb_pool {
  hdb_buffer lru;                     // list head: lru.lru_next is least recently used
  hdb_buffer** chains;                // first buffer of each chain, chain_count of them
  uint32_t chain_count;               // a power of two
  uint32_t buffer_count;
  uint32_t buffer_limit;
  uint32_t page_count;
  uint32_t page_size;
  int fd;
  hdb_page_hook page_in;
  hdb_page_hook page_out;
  void* cookie;
  uint8_t* scratch;                   // page-out conversions
  // Buffers are carved from slabs (each a run of buffers made at once, the
  // runs doubling up to kPoolSlabMax, then large slabs of hdb_slab.h once
  // the pool holds as many buffers as one and has room below its limit for
  // a whole one), so that filling a
  // large pool costs a few allocations and few page faults; a deleted
  // buffer waits on the spare list for reuse.
  void* slabs;                        // the last slab made; each links the one before
  hdb_buffer* spare;                  // deleted buffers, linked by hash_next
  uint32_t slab_buffers;              // buffers in the last slab made
  uint32_t slab_left;                 // of them not yet handed out
  uint8_t* slab_next;                 // the next of them
  uint32_t ticks;                     // gets and news so far (wraps)
  uint64_t reads, writes;             // counters for tests and benchmarks
  uint64_t lookups, lookup_steps;     // lookups and the buffers they examined
};

// Page p is on chain (p + chains - 1) mod chains: page 1 on chain 0.
inline uint32_t hdb_pool_chain_of(const hdb_pool* pool, uint32_t page_number) {
  return (page_number + pool->chain_count - 1u) & (pool->chain_count - 1u);
}

hdb_pool* hdb_pool_open(int fd, uint32_t page_size, uint32_t buffer_limit);
void hdb_pool_set_hooks(hdb_pool* pool, hdb_page_hook page_in, hdb_page_hook page_out, void* cookie);
uint8_t* hdb_pool_get(hdb_pool* pool, uint32_t page_number, int flags);
// A zeroed, pinned page; with kPoolRequest at *page_number, else at the next
// page number (written back). An existing buffer of that page is reused.
uint8_t* hdb_pool_new(hdb_pool* pool, uint32_t* page_number, int flags);
// Drops one pin; kPoolDirty marks the page dirty.
int hdb_pool_put(hdb_pool* pool, uint8_t* page, int flags);
// Drops the buffer without writing it. A buffer pinned more than once (by
// someone besides the caller) is not freed: its pin is dropped and -1
// returned with errno 5, since the page is referenced twice.
int hdb_pool_delete(hdb_pool* pool, uint8_t* page);
int hdb_pool_sync(hdb_pool* pool);
// Writes one page now (dirty or not) and clears its dirty mark: for pages
// that must reach the file before any page that refers to them.
int hdb_pool_write(hdb_pool* pool, uint8_t* page);
int hdb_pool_close(hdb_pool* pool);

// The checked mark of a page handed out by the pool (kBufferChecked).
bool hdb_pool_checked(const uint8_t* page);
void hdb_pool_set_checked(uint8_t* page);
// The page's memo when it is still valid (kBufferMemo), else none; *size
// receives its size.
const uint8_t* hdb_pool_memo(const uint8_t* page, uint32_t* size);
// A memo area of `size` bytes for the page (contents undefined until the
// caller fills it and calls hdb_pool_set_memo with the size), or none when
// there is no memory for it. It lives as long as the buffer.
uint8_t* hdb_pool_memo_area(uint8_t* page, uint32_t size);
void hdb_pool_set_memo(uint8_t* page, uint32_t size);

// The page number and pin count of a buffer handed out by the pool.
uint32_t hdb_pool_page_number(const uint8_t* page);
uint32_t hdb_pool_pins(const uint8_t* page);
// The buffer of a page when cached (for tests), else none.
hdb_buffer* hdb_pool_find(hdb_pool* pool, uint32_t page_number);

}  // namespace vorlane::hashdb
