// Posting lists and the list operations every query runs through: filter one
// list into hits, merge up to 40 lists into one hit per document, join a
// list's scores into a hit list.
//
// Posting: unsigned 32-bit, document number << 7 | score (1..127 in term
// records, 0..100 in derived records). A posting list is ascending by posting
// and ends with the end mark kEndMark (engine/query/hit_heap.h); the document
// number 0x1FFFFFF of the end mark is never a document, so any posting at or
// above kEndMark ends a list.
//
// Filters, shared by filter_postings and merge (posting_filter.h tells how a
// document passes them):
//   delmap  the database's deletion map, one flag byte per document (255:
//           deleted; bits 4-6: a signed quality level -4..3); empty (null or
//           length 0) when the database has none
//   mode    a 32-bit mask; 0 means any document
//   datemap the database's date map, one din_entry (store/db_files.h) per
//           document; empty when the database has none
//   window  a date window: its low 32-bit word holds the earliest day in its
//           low 16 bits and the latest day in its high 16 bits; active when
//           the 64-bit value is not 0; a latest day of 0 means 0xFFFF, an
//           earliest day of 0 no lower limit
#pragma once

#include <cstdint>

#include "engine/query/hit_heap.h"
#include "store/db_files.h"

namespace vorlane::engine {

// Lists merge takes part in at most; later ones are ignored.
inline constexpr int kMaxMergeLists = 40;
// Entries of join's explicit stack of sub-problems. Each sub-problem holds
// at most half the postings of the one it came from and leaves at most one
// sibling waiting, so a join of fewer than 2^32 postings never has more than
// 34 waiting: the stack never fills, and it stays small on the thread's stack.
inline constexpr int kJoinStackSize = 64;

inline constexpr uint32_t kScoreMask = 0x7F;
inline constexpr uint32_t posting_doc(uint32_t posting) { return posting >> 7; }
inline constexpr uint32_t posting_score(uint32_t posting) { return posting & kScoreMask; }
// The posting with its score bits clear: a hit's posting word.
inline constexpr uint32_t posting_key(uint32_t posting) { return posting & ~kScoreMask; }
inline constexpr bool is_end_posting(uint32_t posting) { return posting >= kEndMark; }

// A deletion map as the database gives it: one byte per document.
struct DeletionMap {
  const uint8_t* bytes = nullptr;
  uint64_t length = 0;  // bytes
};

// A date map as the database gives it: 8 bytes per document.
struct DateMap {
  const din_entry* entries = nullptr;
  uint64_t length = 0;  // bytes
};

// The documents 0..documents-1 (documents: the collection's count, or the
// deletion map's length when that is larger) that pass the filters: no
// query can match more of them.
uint32_t documents_passing(uint32_t documents, DeletionMap delmap, uint32_t mode, DateMap datemap,
                           uint64_t window);

// Hits from the postings of one list, in document order: at most
// min(count, dst size) postings are examined, up to the end mark; a posting
// whose document passes the filters becomes the next entry (its posting key,
// its score plus the document's quality offset). Then dst size = kept and
// dst base = base.
void filter_postings(const uint32_t* postings, uint32_t count, int32_t base, HitHeap* dst,
                     DeletionMap delmap, uint32_t mode, DateMap datemap, uint64_t window);

// Merges the posting lists of the null-terminated array lists (the first
// kMaxMergeLists of them) into one hit per document whose score is the sum
// of its postings' scores plus its quality offset (once). dst is started with
// init_hit_heap. A document that passes the filters counts; with select 0 it
// is written as the next entry (document order; dst size = the count, dst
// base = 0; documents beyond dst's capacity are counted but not written,
// after an error line); with select 1 it goes into dst as a heap of dst's
// capacity (the best ones kept, by heap_replace_top at entry 1). Returns the
// number of documents that passed.
uint32_t merge(const uint32_t* const* lists, HitHeap* dst, int select, DeletionMap delmap, uint32_t mode,
               DateMap datemap, uint64_t window);

// Adds the scores of postings[0..count-1] (a posting list, cut at its end
// mark) into the matching hits of dst, a list in document order: for every
// posting whose document equals a hit's, the hit's score += the posting's
// score, then += bonus unless bonus > 0 and the hit's score has already
// reached bonus (a positive bonus is given once per hit). Other hits and the
// order of dst are unchanged. Scores saturate at the 32-bit limits.
void join(HitHeap* dst, const uint32_t* postings, uint32_t count, int32_t bonus);
// The hits of hits (a list in document order whose scores are all 0) that
// postings[0..count-1] reach, into out (room for hits' size; its own list,
// base 0): each with 1 + the scores of its postings. What a copy of hits
// with its base lowered by kBonus, joined with kBonus and compacted at 0
// gives. Returns the number of hits in out.
uint32_t join_matches(const HitHeap* hits, const uint32_t* postings, uint32_t count, HitHeap* out);

// join by bisection alone, with a stack of stack_entries (1..kJoinStackSize)
// sub-problems; a sub-problem that finds the stack full is solved by stepping
// through both ranges. For tests of that bound (join itself walks lists of
// about the same length side by side instead).
void join_with_stack(HitHeap* dst, const uint32_t* postings, uint32_t count, int32_t bonus, int stack_entries);

}  // namespace vorlane::engine
