// Operations on pairs: lookup, adding a pair to a bucket chain, deleting an
// entry, and growth by one bucket (hdb_split.cc).
//
// A store that finds its key adds the new pair first and deletes the old one
// afterwards, so a store that fails keeps the old value. Growth reads the
// whole chain of the bucket it splits and checks that the slots the two new
// chains need can be had before it changes any page.
#pragma once

#include <cstdint>

#include "hashdb/hdb_table.h"

namespace vorlane::hashdb {

enum AccessAction { kAccessGet, kAccessPut, kAccessPutNew, kAccessDelete };

// get: 0 found (*data set), 1 not found; put: 0 stored; put-new: 0 stored,
// 1 key exists; delete: 0 deleted, 1 not found; -1 error.
int hdb_access(hdb_table* table, AccessAction action, const hdb_bytes& key, hdb_bytes* data);

// A pair to add to a chain: regular, big, or (big_ref != 0) a reference to an
// existing big chain.
struct hdb_new_pair {
  hdb_bytes key;
  hdb_bytes data;
  uint16_t big_ref;
};

// Adds the pair at the first page from `page` (pinned, number `number`) on
// with room, appending an overflow page when none has. Releases every page.
// *where receives the page that took it; *added is set when an overflow page
// was appended. 0 or -1.
int hdb_add_pair(hdb_table* table, uint8_t* page, uint32_t number, const hdb_new_pair& pair, bool* added,
                 uint32_t* where);
// Fetches a page of a chain and checks it; none with errno on failure.
uint8_t* hdb_chain_page(hdb_table* table, uint32_t number, bool first);

// Grows the table by one bucket. 0 or -1.
int hdb_grow(hdb_table* table);

}  // namespace vorlane::hashdb
