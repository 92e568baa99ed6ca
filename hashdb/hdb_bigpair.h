// Big pairs: pairs too large for a bucket page, kept on a chain of big pages
// (overflow slots of type 3) that carries the key first and then the data.
// The bucket chain holds only a 4-byte entry: key offset 0 and the overflow
// address of the chain's first page.
//
// Every page of a chain is checked when it is reached (type, count, own
// number, byte counts, next link, chain length); a damaged chain gives -1
// with errno 5. Errno sites: 1301 big key buffer, 1302 big data buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hashdb/hdb_table.h"

namespace vorlane::hashdb {

// Builds the chain for (key, data), then records it as the next entry of
// `page` (which must have 4 bytes free). On failure every page of the
// partial chain is freed and `page` is unchanged. The caller releases `page`.
int hdb_big_insert(hdb_table* table, uint8_t* page, const hdb_bytes& key, const hdb_bytes& data);
// 1 when the chain's key equals `key` (same length, same bytes), 0 when not,
// -1 when a page cannot be fetched or the chain is damaged.
int hdb_big_match(hdb_table* table, uint16_t addr, const hdb_bytes& key);
// Collects key and data into the table's big buffers (either out may be none).
int hdb_big_key_data(hdb_table* table, uint16_t addr, hdb_bytes* key, hdb_bytes* data);
// The page numbers of the chain, checked, for freeing: up to `max` of them;
// returns the number or -1.
int64_t hdb_big_pages(hdb_table* table, uint16_t addr, uint32_t* numbers, uint32_t max);
// Frees every page of the chain (the chain is checked whole first).
int hdb_big_delete(hdb_table* table, uint16_t addr);

}  // namespace vorlane::hashdb
