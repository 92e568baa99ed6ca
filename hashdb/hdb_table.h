// Hash table operations on one open hash database file: open and close,
// fetch, store (replacing or not), delete, the sequential walk and flush.
// Lookups hash the key to a bucket and walk its chain of pages; stores that
// overfill a bucket or raise the pairs-per-bucket ratio above the fill factor
// grow the table by one bucket (linear hashing), splitting one older bucket.
//
// Errors are -1 with a site-coded errno (hdb_errno.h), plus plain errno 5
// for a damaged page or chain, 22 for bad flags and 1 for a store or delete
// on a read-only table. Data and keys handed out point into the pool or the
// table's buffers and stay valid only until the next call on the table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hashdb/hdb_format.h"
#include "hashdb/hdb_pool.h"

namespace vorlane::hashdb {

// Open flags (the values stored by callers; translated to POSIX flags).
constexpr int kOpenReadOnly = 0;
constexpr int kOpenWriteOnly = 1;
constexpr int kOpenReadWrite = 2;
constexpr int kOpenCreate = 0x100;
constexpr int kOpenTruncate = 0x200;
constexpr int kOpenExclusive = 0x400;
constexpr int kOpenBinary = 0x8000;
constexpr int kOpenIgnoredBits = static_cast<int>(0xE0000000u);
constexpr int kTypeHash = 1;

// put flags.
constexpr unsigned kPutNoOverwrite = 8;
// seq flags. A hash table walks only forward from its first pair: the
// positioned, last and previous steps are refused with errno 22.
constexpr unsigned kSeqCursor = 1;    // position at a key (set_location)
constexpr unsigned kSeqFirst = 3;
constexpr unsigned kSeqLast = 6;
constexpr unsigned kSeqNext = 7;
constexpr unsigned kSeqPrevious = 9;

// Page buffers of a table opened without a cache size: as many bytes as the
// file has when it is opened, at least kDefaultCacheBytes and at most
// kDefaultCacheMaxBytes. Buffers are made as pages are first used, so memory
// follows the pages a caller touches; a reader of a large file keeps its
// pages instead of reading one from the file at almost every lookup.
constexpr unsigned kDefaultCacheBytes = 16u << 20;
constexpr unsigned kDefaultCacheMaxBytes = 128u << 20;

struct hdb_params {
  unsigned bucket_size;        // new file: rounded up to a power of two, 64..65536
  unsigned fill_factor;        // new file
  unsigned expected_elements;  // new file; default 1
  unsigned cache_size;         // bytes of page buffers; default: see kDefaultCacheBytes
  hdb_hash_fn hash;            // default hdb_default_hash
  int byte_order;              // new file: 4321 (default) or 1234
};

struct hdb_bytes {
  const void* data;
  size_t size;
};

// The sequential cursor (and the private cursor of each lookup): the next
// entry to read is entry `page_index` of page `page_number` of `bucket`.
struct hdb_cursor {
  uint32_t bucket;
  uint32_t page_number;  // kNoPage: start at the bucket page
  uint16_t bucket_index;
  uint16_t page_index;
  uint8_t* page;         // pinned, or none
  uint32_t hops;         // pages walked in this chain (bounds damaged chains)
};

struct hdb_table {
  hdb_header header;
  hdb_hash_fn hash;
  int open_flags;
  int fd;
  uint8_t* big_data;
  size_t big_data_size;
  uint8_t* big_key;
  size_t big_key_size;
  hdb_cursor* seq_cursor;
  int save;
  uint8_t* bitmaps[kMaxBitmaps];
  uint32_t bitmap_count;
  hdb_pool* pool;
  // Slots of pages freed since the last sync. Their bits are cleared only
  // after the sync has written the pages that no longer refer to them, so a
  // file cut short by a crash never has a slot in two chains.
  uint16_t* pending_frees;
  uint32_t pending_count;
  uint32_t pending_capacity;
};

struct hdb_handle {
  int type;
  int (*close)(hdb_handle* handle);
  int (*del)(hdb_handle* handle, const hdb_bytes* key, unsigned flags);
  int (*get)(hdb_handle* handle, const hdb_bytes* key, hdb_bytes* data, unsigned flags);
  int (*put)(hdb_handle* handle, const hdb_bytes* key, const hdb_bytes* data, unsigned flags);
  int (*seq)(hdb_handle* handle, hdb_bytes* key, hdb_bytes* data, unsigned flags);
  int (*sync)(hdb_handle* handle);
  hdb_table* internal;
  int (*fd)(hdb_handle* handle);
};

hdb_handle* hdb_open(const char* file, int flags, int mode, int type, const hdb_params* params);
void hdb_disable(hdb_handle* handle);

// The bytes per sector of the disk holding the open file (the unit it
// writes, platform/disk_sector.h), or 4096 when unknown: a new file's pages.
uint32_t hdb_sector_size(int fd);

// Within the hash database: the table's overflow allocator and hooks use
// these (hdb_overflow.cc, hdb_bigpair.cc, hdb_cursor.cc).
uint32_t hdb_chain_bound(const hdb_table* table);
bool hdb_is_bitmap_page(const hdb_table* table, uint32_t page_number);

}  // namespace vorlane::hashdb
