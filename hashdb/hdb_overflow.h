// Overflow page slots and the bitmap pages that record them, and the page
// hooks that apply the file's byte order when the pool reads or writes a page.
//
// Slots are numbered from 1; slot p has bit address p - 1. New slots are
// appended at the table's overflow point; freed ones are found again through
// the bitmaps, searching from `last_freed`. Errno sites 1401..1406:
//   1401 appending a slot needs a 33rd split point
//   1402 a 33rd bitmap page would be needed
//   1403 the slot after a new bitmap page needs a 33rd split point
//   1404 an appended slot's page would pass the 2 GB limit
//   1405 a free slot's offset within its split point is above 2047
//   1406 a free slot's page would pass the 2 GB limit
// When no slot can be had the header and bitmaps are left as they were.
#pragma once

#include <cstdint>

#include "hashdb/hdb_table.h"

namespace vorlane::hashdb {

// An overflow address with its bit set, or 0 with errno set.
uint16_t hdb_overflow_alloc(hdb_table* table);
// Clears the bit of an allocated address (no page involved).
int hdb_overflow_release(hdb_table* table, uint16_t addr);
// Appends an empty overflow page behind `last` (pinned, released dirty here);
// the new page is written to the file before `last` refers to it;
// the new page comes back pinned, its number in *page_number. Fixes the fill
// factor at the first overflow page of the table's life.
uint8_t* hdb_add_overflow_page(hdb_table* table, uint8_t* last, uint32_t* page_number);
// Frees the slot of a pinned overflow or big page and drops its buffer. The
// slot becomes reusable after the next sync (hdb_apply_pending_frees).
int hdb_free_overflow_page(hdb_table* table, uint8_t* page);
// Clears the bits of the slots freed before the sync that just completed.
void hdb_apply_pending_frees(hdb_table* table);
// Frees the slot of an overflow or big page by number.
int hdb_free_overflow_number(hdb_table* table, uint32_t page_number);
// Drops a page that nothing refers to yet and frees its slot at once.
int hdb_discard_overflow_page(hdb_table* table, uint32_t page_number);
// Makes bitmap page `index` at `addr` with its first n bits clear (bit 0 set
// for itself). 0, or 1 on failure.
int hdb_make_bitmap(hdb_table* table, uint16_t addr, uint32_t n, uint32_t index);
// Bitmap page i, pinned in the table until the next flush; none on failure.
uint8_t* hdb_bitmap(hdb_table* table, uint32_t index);

void hdb_page_in(void* table, uint32_t page_number, uint8_t* page);
void hdb_page_out(void* table, uint32_t page_number, uint8_t* page);

}  // namespace vorlane::hashdb
