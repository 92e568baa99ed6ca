#include "hashdb/hdb_pool.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "hashdb/hdb_errno.h"
#include "hashdb/hdb_slab.h"

namespace vorlane::hashdb {

static_assert(ESPIPE == 29, "the site code of a descriptor that is no regular file is 1101029");

namespace {

hdb_buffer* buffer_of(const uint8_t* page) {
  return reinterpret_cast<hdb_buffer*>(const_cast<uint8_t*>(page) - sizeof(hdb_buffer));
}

void list_init_lru(hdb_buffer* head) { head->lru_next = head->lru_prev = head; }

void hash_unlink(hdb_buffer* b) {
  if (!b->hash_pprev) return;
  *b->hash_pprev = b->hash_next;
  if (b->hash_next) b->hash_next->hash_pprev = b->hash_pprev;
  b->hash_next = nullptr;
  b->hash_pprev = nullptr;
}
void hash_insert_head(hdb_buffer** head, hdb_buffer* b) {
  b->hash_next = *head;
  if (*head) (*head)->hash_pprev = &b->hash_next;
  *head = b;
  b->hash_pprev = head;
}
void lru_unlink(hdb_buffer* b) {
  b->lru_prev->lru_next = b->lru_next;
  b->lru_next->lru_prev = b->lru_prev;
  b->lru_next = b->lru_prev = b;
}
void lru_insert_tail(hdb_buffer* head, hdb_buffer* b) {
  b->lru_prev = head->lru_prev;
  b->lru_next = head;
  head->lru_prev->lru_next = b;
  head->lru_prev = b;
}

// Whether the page has a buffer, without counting a lookup.
bool cached(const hdb_pool* pool, uint32_t page_number) {
  for (hdb_buffer* b = pool->chains[hdb_pool_chain_of(pool, page_number)]; b; b = b->hash_next)
    if (b->page_number == page_number) return true;
  return false;
}

hdb_buffer* lookup(hdb_pool* pool, uint32_t page_number) {
  hdb_buffer* b = pool->chains[hdb_pool_chain_of(pool, page_number)];
  ++pool->lookups;
  if (b) {
    // The first buffer of a chain is nearly always the page asked for: ask
    // for the page's header and first entries now, so that they arrive
    // together with the record instead of after it.
    const char* page = reinterpret_cast<const char*>(b + 1);
    __builtin_prefetch(page);
    __builtin_prefetch(page + 64);
    __builtin_prefetch(page + 128);
  }
  for (; b; b = b->hash_next) {
    ++pool->lookup_steps;
    if (b->page_number == page_number) return b;
  }
  return nullptr;
}

void lru_move_tail(hdb_pool* pool, hdb_buffer* b) {
  b->moved = pool->ticks;
  if (pool->lru.lru_prev == b) return;
  lru_unlink(b);
  lru_insert_tail(&pool->lru, b);
}

// A buffer just found moves to the head of its chain (unless it is there)
// and, when it was last moved long enough ago (see hdb_pool.h), to the most
// recently used end of the list.
void touch(hdb_pool* pool, hdb_buffer* b) {
  hdb_buffer** head = &pool->chains[hdb_pool_chain_of(pool, b->page_number)];
  if (*head != b) {
    hash_unlink(b);
    hash_insert_head(head, b);
  }
  if (pool->ticks - b->moved >= pool->buffer_count / 2) lru_move_tail(pool, b);
}

int write_buffer(hdb_pool* pool, hdb_buffer* b) {
  std::memcpy(pool->scratch, b->page, pool->page_size);
  if (pool->page_out) pool->page_out(pool->cookie, b->page_number, pool->scratch);
  off_t offset = static_cast<off_t>(b->page_number) * pool->page_size;
  size_t done = 0;
  while (done < pool->page_size) {
    ssize_t n = ::pwrite(pool->fd, pool->scratch + done, pool->page_size - done, offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      set_site_errno(kSitePoolWrite);
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  ++pool->writes;
  b->flags &= static_cast<uint8_t>(~kBufferDirty);
  return 0;
}

size_t buffer_bytes(const hdb_pool* pool) {
  // Each buffer's record stays aligned for its pointers.
  size_t bytes = sizeof(hdb_buffer) + pool->page_size;
  return (bytes + alignof(hdb_buffer) - 1) / alignof(hdb_buffer) * alignof(hdb_buffer);
}

void release_memo(hdb_buffer* b) {
  if (b->memo != b->memo_inline) std::free(b->memo);
  b->memo = nullptr;
  b->memo_capacity = 0;
}

// A slab begins with the link to the slab made before it and what
// hdb_slab_free needs to know of it.
struct SlabHeader {
  void* before;
  size_t bytes;
  bool large;
};
constexpr size_t kSlabHeader = 64;
static_assert(kSlabHeader >= sizeof(SlabHeader) && kSlabHeader % alignof(hdb_buffer) == 0);

struct SlabPlan {
  uint32_t buffers;
  size_t bytes;
  bool large;
};

// The next slab: doubling from one buffer up to kPoolSlabMax, then as many
// buffers as fill a large slab (see hdb_slab.h) once the pool already holds
// that many and while it has room below its limit for all of them, else
// kPoolSlabMax from the heap. A large slab's memory is all made present at
// once; a pool takes one only when it has used as much, so a small table
// never holds a large slab and no pool holds more unused than used.
SlabPlan next_slab(const hdb_pool* pool) {
  size_t each = buffer_bytes(pool);
  uint32_t n = pool->slab_buffers ? pool->slab_buffers * 2 : 1;
  if (n >= kPoolSlabMax) {
    size_t bytes = (kSlabHeader + kPoolSlabMax * each + kHugeSlabBytes - 1) / kHugeSlabBytes * kHugeSlabBytes;
    size_t large = (bytes - kSlabHeader) / each;
    size_t room = pool->buffer_limit > pool->buffer_count ? pool->buffer_limit - pool->buffer_count : 0;
    if (pool->buffer_count >= large && room >= large) return {static_cast<uint32_t>(large), bytes, true};
    n = kPoolSlabMax;
  }
  return {n, kSlabHeader + n * each, false};
}

void free_slabs(void* slab) {
  while (slab) {
    SlabHeader* header = static_cast<SlabHeader*>(slab);
    void* before = header->before;
    hdb_slab_free(slab, header->bytes, header->large);
    slab = before;
  }
}

hdb_buffer* allocate(hdb_pool* pool) {
  hdb_buffer* b;
  if (pool->spare) {
    b = pool->spare;
    pool->spare = b->hash_next;
  } else {
    if (pool->slab_left == 0) {
      SlabPlan plan = next_slab(pool);
      void* slab = hdb_slab_make(plan.bytes, plan.large);
      if (!slab) {
        set_site_errno(kSitePoolBufferMemory);
        return nullptr;
      }
      SlabHeader* header = static_cast<SlabHeader*>(slab);
      header->before = pool->slabs;
      header->bytes = plan.bytes;
      header->large = plan.large;
      pool->slabs = slab;
      pool->slab_buffers = pool->slab_left = plan.buffers;
      pool->slab_next = static_cast<uint8_t*>(slab) + kSlabHeader;
    }
    b = reinterpret_cast<hdb_buffer*>(pool->slab_next);
    pool->slab_next += buffer_bytes(pool);
    --pool->slab_left;
  }
  std::memset(b, 0, sizeof(hdb_buffer));
  b->page = reinterpret_cast<uint8_t*>(b + 1);
  b->lru_next = b->lru_prev = b;
  ++pool->buffer_count;
  return b;
}

// A buffer for a new page: a fresh one below the limit, else the least
// recently used unpinned one (written first when dirty), else a fresh one.
hdb_buffer* take_buffer(hdb_pool* pool) {
  if (pool->buffer_count < pool->buffer_limit) return allocate(pool);
  for (hdb_buffer* b = pool->lru.lru_next; b != &pool->lru; b = b->lru_next) {
    if (b->pins != 0) continue;
    if ((b->flags & kBufferDirty) && write_buffer(pool, b) != 0) return nullptr;
    hash_unlink(b);
    lru_unlink(b);
    b->flags = 0;
    b->pins = 0;
    return b;
  }
  return allocate(pool);
}

void place(hdb_pool* pool, hdb_buffer* b, uint32_t page_number) {
  b->page_number = page_number;
  b->moved = pool->ticks;
  hash_insert_head(&pool->chains[hdb_pool_chain_of(pool, page_number)], b);
  lru_insert_tail(&pool->lru, b);
}

void free_buffer(hdb_pool* pool, hdb_buffer* b) {
  release_memo(b);
  b->hash_next = pool->spare;
  pool->spare = b;
  --pool->buffer_count;
}

// The pages after a missing one that the same read brings in (see
// hdb_pool.h): none unless the file fits in the pool; else up to
// kPoolReadRun - 1 of them, each inside the file and not cached, while the
// pool has room below its limit for them all.
uint32_t followers(const hdb_pool* pool, uint32_t page_number) {
  if (pool->page_count > pool->buffer_limit) return 0;
  uint32_t n = 0;
  while (n + 1 < kPoolReadRun) {
    uint64_t next = uint64_t{page_number} + n + 1;
    if (next >= pool->page_count || uint64_t{pool->buffer_count} + n + 1 > pool->buffer_limit) break;
    if (cached(pool, static_cast<uint32_t>(next))) break;
    ++n;
  }
  return n;
}

// A page read from the file takes its place, clean and unpinned unless the
// caller pins it.
void enter(hdb_pool* pool, hdb_buffer* b, uint32_t page_number, uint32_t pins) {
  ++pool->reads;
  b->flags = kBufferInUse;
  b->pins = pins;
  place(pool, b, page_number);
  if (pool->page_in) pool->page_in(pool->cookie, page_number, b->page);
}

}  // namespace

hdb_pool* hdb_pool_open(int fd, uint32_t page_size, uint32_t buffer_limit) {
  struct stat st;
  if (fstat(fd, &st) != 0) return nullptr;
  if (!S_ISREG(st.st_mode)) {
    // 1101029: the system error of a seek on something that is not a file.
    errno = ESPIPE;
    set_site_errno(kSitePoolNotRegular);
    return nullptr;
  }
  uint32_t chain_count = kPoolMinChains;
  while (chain_count < buffer_limit && chain_count < (1u << 31)) chain_count <<= 1;
  hdb_pool* pool = static_cast<hdb_pool*>(std::calloc(1, sizeof(hdb_pool)));
  hdb_buffer** chains = static_cast<hdb_buffer**>(std::calloc(chain_count, sizeof(hdb_buffer*)));
  uint8_t* scratch = static_cast<uint8_t*>(std::malloc(page_size));
  if (!pool || !chains || !scratch) {
    std::free(pool);
    std::free(chains);
    std::free(scratch);
    set_site_errno(kSitePoolMemory);
    return nullptr;
  }
  list_init_lru(&pool->lru);
  pool->chains = chains;
  pool->chain_count = chain_count;
  pool->buffer_limit = buffer_limit;
  pool->page_size = page_size;
  uint64_t pages = static_cast<uint64_t>(st.st_size) / page_size;
  pool->page_count = pages > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(pages);
  pool->fd = fd;
  pool->scratch = scratch;
  return pool;
}

void hdb_pool_set_hooks(hdb_pool* pool, hdb_page_hook page_in, hdb_page_hook page_out, void* cookie) {
  pool->page_in = page_in;
  pool->page_out = page_out;
  pool->cookie = cookie;
}

uint8_t* hdb_pool_get(hdb_pool* pool, uint32_t page_number, int flags) {
  ++pool->ticks;
  if (hdb_buffer* b = lookup(pool, page_number)) {
    touch(pool, b);
    if (!(flags & kPoolNoPin)) ++b->pins;
    return reinterpret_cast<uint8_t*>(b + 1);  // b->page, without reading another line
  }
  hdb_buffer* b = take_buffer(pool);
  if (!b) return nullptr;
  off_t offset = static_cast<off_t>(page_number) * pool->page_size;
  size_t done = 0;
  bool failed = false;
  hdb_buffer* more[kPoolReadRun - 1];
  uint32_t more_count = followers(pool, page_number);
  for (uint32_t i = 0; i < more_count; ++i) {
    more[i] = allocate(pool);
    if (!more[i]) {
      more_count = i;
      break;
    }
  }
  if (more_count) {
    iovec parts[kPoolReadRun];
    parts[0] = {b->page, pool->page_size};
    for (uint32_t i = 0; i < more_count; ++i) parts[i + 1] = {more[i]->page, pool->page_size};
    ssize_t n;
    do n = ::preadv(pool->fd, parts, static_cast<int>(more_count + 1), offset);
    while (n < 0 && errno == EINTR);
    // Whole pages only: what this read did not fill (the file's end, an
    // error) is left to the reads below and to later gets.
    size_t whole = n > 0 ? static_cast<size_t>(n) / pool->page_size : 0;
    if (whole > 0) done = pool->page_size;
    else if (n > 0) done = static_cast<size_t>(n);
    for (uint32_t i = 0; i < more_count; ++i) {
      if (i + 1 < whole) enter(pool, more[i], page_number + 1 + i, 0);
      else free_buffer(pool, more[i]);
    }
  }
  while (done < pool->page_size) {
    ssize_t n = ::pread(pool->fd, b->page + done, pool->page_size - done, offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      set_site_errno(kSitePoolRead);
      failed = true;
      break;
    }
    if (n == 0) {
      if (done != 0) {  // the file ends inside the page
        errno = EINVAL;
        set_site_errno(kSitePoolRead);
        failed = true;
      }
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (failed) {
    free_buffer(pool, b);
    return nullptr;
  }
  if (done == 0) std::memset(b->page, 0, pool->page_size);  // past the end of the file
  enter(pool, b, page_number, (flags & kPoolNoPin) ? 0 : 1);
  return b->page;
}

uint8_t* hdb_pool_new(hdb_pool* pool, uint32_t* page_number, int flags) {
  uint32_t max_page = 0x7FFFFFFFu / pool->page_size - 1;
  uint32_t number = (flags & kPoolRequest) ? *page_number : pool->page_count;
  if (number > max_page) {
    set_site_errno(kSitePoolLimit);
    return nullptr;
  }
  ++pool->ticks;
  hdb_buffer* b = lookup(pool, number);
  if (b) {
    touch(pool, b);
  } else {
    b = take_buffer(pool);
    if (!b) return nullptr;
    place(pool, b, number);
  }
  std::memset(b->page, 0, pool->page_size);
  b->flags = kBufferInUse | (b->flags & kBufferDirty);
  ++b->pins;
  if (pool->page_count < number + 1) pool->page_count = number + 1;
  *page_number = number;
  return b->page;
}

int hdb_pool_put(hdb_pool*, uint8_t* page, int flags) {
  hdb_buffer* b = buffer_of(page);
  if (b->pins) --b->pins;
  if (flags & kPoolDirty) b->flags = static_cast<uint8_t>((b->flags | kBufferDirty) & ~kBufferDerived);
  return 0;
}

int hdb_pool_delete(hdb_pool* pool, uint8_t* page) {
  hdb_buffer* b = buffer_of(page);
  if (b->pins > 1) {
    --b->pins;
    errno = EIO;
    return -1;
  }
  hash_unlink(b);
  lru_unlink(b);
  free_buffer(pool, b);
  return 0;
}

int hdb_pool_sync(hdb_pool* pool) {
  for (hdb_buffer* b = pool->lru.lru_next; b != &pool->lru; b = b->lru_next)
    if ((b->flags & kBufferDirty) && write_buffer(pool, b) != 0) return -1;
  return 0;
}

int hdb_pool_write(hdb_pool* pool, uint8_t* page) { return write_buffer(pool, buffer_of(page)); }

int hdb_pool_close(hdb_pool* pool) {
  if (!pool) return 0;
  hdb_buffer* b = pool->lru.lru_next;
  while (b != &pool->lru) {
    hdb_buffer* next = b->lru_next;
    release_memo(b);
    b = next;
  }
  free_slabs(pool->slabs);
  std::free(pool->scratch);
  std::free(pool->chains);
  std::free(pool);
  return 0;
}

bool hdb_pool_checked(const uint8_t* page) { return (buffer_of(page)->flags & kBufferChecked) != 0; }
void hdb_pool_set_checked(uint8_t* page) { buffer_of(page)->flags |= kBufferChecked; }

const uint8_t* hdb_pool_memo(const uint8_t* page, uint32_t* size) {
  const hdb_buffer* b = buffer_of(page);
  if (!(b->flags & kBufferMemo)) return nullptr;
  *size = b->memo_size;
  return b->memo;
}

uint8_t* hdb_pool_memo_area(uint8_t* page, uint32_t size) {
  hdb_buffer* b = buffer_of(page);
  b->flags &= static_cast<uint8_t>(~kBufferMemo);
  if (!b->memo) {
    b->memo = b->memo_inline;
    b->memo_capacity = kPoolMemoInline;
  }
  if (size > b->memo_capacity) {
    // The area's contents are the caller's to fill: nothing is kept.
    uint8_t* area = static_cast<uint8_t*>(std::malloc(size));
    if (!area) return nullptr;
    release_memo(b);
    b->memo = area;
    b->memo_capacity = size;
  }
  return b->memo;
}

void hdb_pool_set_memo(uint8_t* page, uint32_t size) {
  hdb_buffer* b = buffer_of(page);
  b->memo_size = size <= b->memo_capacity ? size : b->memo_capacity;
  b->flags |= kBufferMemo;
}

uint32_t hdb_pool_page_number(const uint8_t* page) { return buffer_of(page)->page_number; }
uint32_t hdb_pool_pins(const uint8_t* page) { return buffer_of(page)->pins; }
hdb_buffer* hdb_pool_find(hdb_pool* pool, uint32_t page_number) { return lookup(pool, page_number); }

}  // namespace vorlane::hashdb
