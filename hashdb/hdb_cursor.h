// Chain walks: one step of a cursor along a bucket's chain of pages, shared
// by lookups and by the sequential walk, and the sequential walk itself.
//
// Each page is checked when a cursor reaches it: its own number, type, entry
// count, free space, next link and every entry's offsets; a chain longer than
// the table has overflow slots is damaged.
#pragma once

#include <cstdint>

#include "hashdb/hdb_table.h"

namespace vorlane::hashdb {

enum WalkStatus : uint8_t {
  kWalkNoPage = 0,   // a page cannot be fetched (errno from the pool)
  kWalkEntry = 1,    // the position names an entry
  kWalkEnd = 2,      // end of the chain
  kWalkDamaged = 3,  // a damaged page or chain (errno 5)
};

// What a walk step found, and the first page with more free bytes than `room`.
struct hdb_position {
  uint32_t page_number;
  uint32_t bucket;
  uint16_t bucket_index;
  uint16_t page_index;   // the index after the entry (the entry is page_index - 1)
  uint8_t status;
  uint32_t room;
  uint32_t room_page;    // 0 = none found
  uint16_t key_off;
  uint16_t data_off;
  uint32_t key_size;     // regular entries
  uint32_t data_size;
};

// True when the page is a well-formed bucket page (first) or chain page.
bool hdb_check_chain_page(const hdb_table* table, const uint8_t* page, uint32_t number, bool first);
// The same for a page fetched from the table's pool: the whole check runs
// once after each change of the page (the pool's checked mark), later
// fetches test only its own number and, for a bucket page, its type. (What
// the whole check reads of the header, the page size and the split point,
// never shrinks while a table is open.)
bool hdb_chain_page_ok(const hdb_table* table, uint8_t* page, uint32_t number, bool first);

// One byte of a key's hash that tells most keys of a page apart: the top
// byte, since the low bits pick the bucket and are the same for its keys.
inline uint8_t hdb_key_tag(uint32_t hash) { return static_cast<uint8_t>(hash >> 24); }
// The tags of a checked chain page's entries, one per entry (a big entry's
// is 0), kept in the page's pool memo until the page changes; with `make`
// they are made when the memo lacks them. None when the memo holds none (or
// there is no memory for it); *count receives the number of tags.
const uint8_t* hdb_page_tags(const hdb_table* table, uint8_t* page, bool make, uint32_t* count);

void hdb_cursor_start(hdb_cursor* cursor, uint32_t bucket);
void hdb_cursor_release(hdb_table* table, hdb_cursor* cursor);
// One step; the cursor keeps its page pinned afterwards (status 1 and 2).
uint8_t hdb_walk_step(hdb_table* table, hdb_cursor* cursor, hdb_position* position);

// The sequential walk (flags kSeqFirst or kSeqNext): 0 an entry, 1 the end,
// -1 error.
int hdb_seq_walk(hdb_table* table, hdb_bytes* key, hdb_bytes* data, unsigned flags);

}  // namespace vorlane::hashdb
