// doc_terms: one document's term table. While a document is analysed every
// term its fields produce is counted here: an open-addressing table keyed by
// hash pair holding each term's frequency byte (1..127), its text and type,
// and occurrence counters that throttle terms repeated too often (spam).
// When the document is inserted the table is compacted and becomes the input
// of the indexing and of the journal record.
//
// The table lives in one page-granular arena of 3,686,400 bytes, carved in
// this order (n = 81,920 cells):
//
//   pairs            8 n bytes   hash pairs; hash1 = 0 marks an empty cell
//   freqs              n         frequency bytes 1..127
//   raw counters     4 n         u32, occurrences in the whole document
//   window counters  4 n         u32, occurrences since the last clearing
//   deductions       4 n         u32, all 0; an increment is first reduced by it
//   texts            4 n         u32 offsets of the texts in the pool, or
//                                kDocTextUnknown for the text "???"; 0 is
//                                the first text's offset, so a text offset
//                                never tells whether a cell is in use: a
//                                cell is in use when its hash1 is non-zero
//   types            4 n         u32, the caller's term type 1..5
//   text pool    1,310,720       the terms' NUL-terminated texts, back to back
//
// Term types: 1 a field token, 2 (not written by document analysis), 3 an
// explicit term or checksum, 4 a lower-cased variant, 5 a conflated variant.
//
// A standard table (doc_terms_alloc) lies in a block that holds, behind its
// arena, the table's bookkeeping (doc_terms_book): the cells counted since
// the table was made and the cells whose window counter was raised since the
// last clearing. Clearing the window counters then zeroes only those, and
// doc_terms_free cleans only the cells the document used before it keeps the
// block for the next document (a block pool of store/block_pool.h), so that
// a document neither maps fresh pages nor clears untouched ones. The table's
// arrays are changed only through the functions below (a direct write, as
// tests make, goes to a cell that is also counted).
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/term_hash.h"

namespace vorlane {

inline constexpr int32_t kDocTermCells = 81920;
inline constexpr size_t kDocTextPoolSize = 1310720;
inline constexpr size_t kDocArenaSize = 3686400;
inline constexpr uint32_t kDocTextUnknown = 0xFFFFFFFFu;  // the text "???"
inline constexpr int kMaxTermFreq = 127;

// Indexes of the ten counters: distinct terms of type 1, 2, 3, 5, 4, then
// occurrences of type 1, 2, 3, 5, 4.
enum : int {
  DT_DISTINCT_1 = 0, DT_DISTINCT_2, DT_DISTINCT_3, DT_DISTINCT_5, DT_DISTINCT_4,
  DT_OCCUR_1, DT_OCCUR_2, DT_OCCUR_3, DT_OCCUR_5, DT_OCCUR_4,
};

struct doc_terms_book;

struct doc_terms {
  uint32_t docid;        // 0 in a document's table; the journal replay's docid
  int32_t size;          // cells probed (81,920); after compaction the term count
  hash_pair* pairs;
  uint8_t* freqs;
  int32_t cells;         // cells the counter arrays cover; after compaction the term count
  uint32_t* window;      // window counters
  uint32_t* raw;         // raw counters
  uint32_t* deductions;
  uint32_t counters[10];
  uint32_t no_penalty;   // non-zero: a term over its window allowance is left unchanged
  uint32_t* types;
  uint32_t* texts;       // pool offsets, or kDocTextUnknown
  char* pool;            // text pool start
  char* pool_cursor;
  char* pool_end;
  doc_terms_book* book;  // of a standard table; null in a table carved elsewhere
};

// The bookkeeping behind a standard table's arena. A list holds each cell at
// most once; a count above kDocTermCells means the list overflowed (a
// counter wrapped) and stands for every cell.
struct doc_terms_book {
  uint32_t touched_count;        // cells in touched
  uint32_t window_count;         // cells in window_touched
  uint32_t moved;                // cells 0..moved-1 were written by compaction
  uint32_t reserved;
  uint32_t touched[kDocTermCells];         // cells whose raw counter left 0
  uint32_t window_touched[kDocTermCells];  // cells whose window counter left 0 since the last clearing
};
static_assert(sizeof(doc_terms_book) == 16 + 8 * size_t{kDocTermCells});

// Bytes an arena of this many cells and pool bytes needs.
constexpr size_t doc_terms_arena_size(size_t cells, size_t pool_size) {
  return cells * (sizeof(hash_pair) + 1 + 5 * sizeof(uint32_t)) + pool_size;
}
static_assert(doc_terms_arena_size(kDocTermCells, kDocTextPoolSize) == kDocArenaSize);

// Carves a zero-filled arena of exactly doc_terms_arena_size(cells,
// pool_size) bytes into a fresh table: docid, counters and the no-penalty
// flag 0, size and cells = cells, the pool cursor at the pool's start.
void doc_terms_carve(doc_terms* table, void* arena, int32_t cells, size_t pool_size);

// A standard table in an arena of kDocArenaSize bytes whose cells are all
// zero (a fresh valloc block, or a pooled one cleaned by doc_terms_free),
// with its bookkeeping behind it: the arena, or null when it cannot be
// allocated. doc_terms_free cleans the cells the table used and gives the
// block back to the pool (or releases it when the pool is full).
void* doc_terms_alloc(doc_terms* table);
void doc_terms_free(void* arena);

// Counts one occurrence of a term with weight incr; window is how many
// occurrences per window the term may have before it is throttled (negative:
// never). 1, or 0 when the table is full and the term is new (not counted).
int idbm_incr(doc_terms* table, uint32_t hash1, uint32_t hash2, int incr, int window,
              const char* text, int type);
// idbm_incr with the text's term hash pair.
int idbm_incr_text(doc_terms* table, const char* text, int incr, int window, int type);

// Lowers a term's frequency by decr, not below 1. The term's cell, or -1 when
// it is absent.
int idbm_decr(doc_terms* table, uint32_t hash1, uint32_t hash2, int decr, const char* text, int type);
int idbm_decr_text(doc_terms* table, const char* text, int decr, int type);

// Zeroes every window counter (a new window starts): in a standard table
// only those raised since the last clearing, else all of them.
void clear_raw_freq(doc_terms* table);

// Moves every occupied cell to the front, in cell order, with its frequency,
// counters, deduction, text and type; size and cells become the term count,
// which is returned. The table is no longer probed afterwards.
int doc_terms_compact(doc_terms* table);

// Whether a cell holds a term (its hash1 is non-zero). Only such cells have
// a text and a type: read doc_terms_text and types of no other cell.
inline bool doc_terms_in_use(const doc_terms* table, int cell) { return table->pairs[cell].hash1 != 0; }

// The text of a cell in use: in the pool, or "???".
const char* doc_terms_text(const doc_terms* table, int cell);

}  // namespace vorlane
