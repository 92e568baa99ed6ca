// Hit lists: the scored lists that query evaluation, per-database execution
// and the cross-database merge build, select from and sort.
//
// A hit list lives in a caller's area of 8-byte HitHeap entries. For a list
// of capacity c the area holds 2c + 2 entries:
//
//   entry 0          the header: score word = base (signed), added to every
//                    entry's score to give its real score; posting word =
//                    size (unsigned), the number of entries in use (when a
//                    list is started: its capacity c)
//   entries 1..size  the hits: score (signed, relative to base) and posting
//                    (document number << 7, score bits 0-6 clear)
//   entries c+1..2c+1  sentinels (kSentinelScore, kEndMark), written by
//                    init_hit_heap, so that while the list is a heap every
//                    entry i <= c has both children 2i and 2i+1 in the area
//
// A list is in one of three orders, by use:
//   document order   ascending posting (filter_postings, merge with select 0,
//                    and the joins, which keep it)
//   heap order       a min-heap by (score, posting): entry 1 is the smallest
//                    kept hit
//   descending order after sort_heap: entry 1 is the best hit
// Hits compare by score, then by posting as an unsigned number. A hit
// replaces the heap's smallest only when strictly greater, so of two equal
// hits the one already kept stays.
//
// Scores in lists stay far below kSentinelScore in magnitude, except while a
// bonus of +-kBonus is being applied (evaluation takes it off again before
// anything is selected or sorted); the filters bound the quality offsets they
// add (engine/query/posting_filter.h) so that this holds for any offsets.
//
// Nothing here allocates except copy_hits without a destination, and nothing
// locks: a list belongs to one evaluation at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

// One 8-byte entry of a hit-list area. Entry 0 of a list is its header: there
// the score word is the base and the posting word the size (hit_base,
// hit_size). A list is passed as a pointer to its entry 0.
struct HitHeap {
  int32_t score;
  uint32_t posting;
};
static_assert(sizeof(HitHeap) == 8, "a hit-list entry is two 32-bit words");

// The end mark of a posting list; as a hit's posting it marks an unused entry.
inline constexpr uint32_t kEndMark = 0xFFFFFF80u;
// Score of the sentinels and of a hit moved out of a heap while it is sorted.
inline constexpr int32_t kSentinelScore = 999999;
// The bonus with which evaluation makes intersection (+) and exclusion (-) a
// matter of thresholds.
inline constexpr int32_t kBonus = 999999;

inline int32_t& hit_base(HitHeap* list) { return list[0].score; }
inline int32_t hit_base(const HitHeap* list) { return list[0].score; }
inline uint32_t& hit_size(HitHeap* list) { return list[0].posting; }
inline uint32_t hit_size(const HitHeap* list) { return list[0].posting; }

// Entries in the area of a list of capacity c: 2c + 2.
constexpr size_t hit_area_entries(uint32_t capacity) { return size_t{capacity} * 2 + 2; }

// With c = size: entries 1..c become (-1, kEndMark), entries c+1..2c+1 the
// sentinels (kSentinelScore, kEndMark). base is left as it is.
void init_hit_heap(HitHeap* list);

// When (score, posting) is not greater than the entry at position, nothing;
// else the new hit sifts down from there (the smaller child moves up while
// the new hit is greater than it) and takes the last place. position is
// 1..size.
void heap_replace_top(HitHeap* list, int32_t score, uint32_t posting, uint32_t position);

// The best min(dst size, src size) hits of src into dst, best first: dst of
// capacity 0 gives 0; else dst size = min(dst size, src size), init_hit_heap,
// each src hit at least as good as dst entry 1 goes through
// heap_replace_top(dst, ..., 1); a non-zero src base is added to every dst
// score (dst base unchanged); then sort_heap. Returns dst size. dst's area
// holds 2c + 2 entries for its capacity c.
uint32_t select_top(const HitHeap* src, HitHeap* dst);

// Heap sort of a min-heap in place, into descending order (entry 1 the best).
// Returns size.
uint32_t sort_heap(HitHeap* list);

// Copies the header and entries 1..size of src into dst and returns dst.
// With dst null the copy goes into a new area of 2 x size + 4 entries from
// malloc (the caller frees it with free); null, after an error line, when
// that allocation fails.
HitHeap* copy_hits(const HitHeap* src, HitHeap* dst);
// The allocation copy_hits uses without a destination (malloc; tests put one
// that fails in its place).
extern void* (*hit_list_alloc)(size_t bytes);

// Drops the hits below threshold: with d = threshold - base, keeps in order
// the hits whose score is at least d and whose posting is not kEndMark, each
// with d taken off its score; size = kept, base = threshold. Real scores do
// not change. Returns the number kept.
uint32_t compact_hits(HitHeap* list, int32_t threshold);

// At log level 0x80: "BASE %d SIZE %d:", then " (%d)%d->%d" (position,
// document, score) for each hit whose score exceeds kSentinelScore, then a
// newline.
void dump_hits(const HitHeap* list);

// Sorts entries 1..size of a list whose postings are distinct into document
// order, through scratch (room for size entries), by their docids a byte at
// a time. The order compare_docids gives.
void sort_by_docid(HitHeap* list, HitHeap* scratch);

// qsort comparator of two hit entries for document order:
// (posting of a >> 7) - (posting of b >> 7).
int compare_docids(const void* a, const void* b);

}  // namespace vorlane::engine
