#include "engine/query/hit_heap.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store/log.h"

namespace vorlane::engine {

namespace {

inline bool greater(int32_t score, uint32_t posting, const HitHeap& e) {
  return score > e.score || (score == e.score && posting > e.posting);
}
inline bool less(const HitHeap& a, const HitHeap& b) {
  return a.score < b.score || (a.score == b.score && a.posting < b.posting);
}

inline int32_t saturate(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Sifts (score, posting) down from position in the heap of entries 1..limit.
// Children past limit are not looked at: while scores stay below the
// sentinels this is exactly the walk over the sentinel entries, and it never
// reads or moves an entry outside the heap whatever the scores.
void sift_down(HitHeap* list, int32_t score, uint32_t posting, uint32_t position, uint32_t limit) {
  uint64_t i = position;
  for (;;) {
    uint64_t child = i * 2;
    if (child > limit) break;
    if (child + 1 <= limit && less(list[child + 1], list[child])) ++child;
    if (!greater(score, posting, list[child])) break;
    list[i] = list[child];
    i = child;
  }
  list[i].score = score;
  list[i].posting = posting;
}

// Appends printf-style text to a fixed buffer, handing full buffers to the
// log at level so that dumps of any length allocate nothing.
struct LogBuffer {
  explicit LogBuffer(uint32_t l) : level(l) { text[0] = 0; }
  uint32_t level;
  char text[2048];
  size_t used = 0;

  void add(const char* format, int a, int b, int c) {
    char piece[64];
    const int n = snprintf(piece, sizeof piece, format, a, b, c);
    if (n <= 0) return;
    if (used + static_cast<size_t>(n) >= sizeof text) flush();
    memcpy(text + used, piece, static_cast<size_t>(n));
    used += static_cast<size_t>(n);
    text[used] = 0;
  }
  void flush() {
    if (used == 0) return;
    log_msg(level, "%s", text);
    used = 0;
    text[0] = 0;
  }
};

}  // namespace

void* (*hit_list_alloc)(size_t bytes) = malloc;

void init_hit_heap(HitHeap* list) {
  const uint64_t c = hit_size(list);
  for (uint64_t i = 1; i <= c; ++i) list[i] = HitHeap{-1, kEndMark};
  for (uint64_t i = c + 1; i <= 2 * c + 1; ++i) list[i] = HitHeap{kSentinelScore, kEndMark};
}

void heap_replace_top(HitHeap* list, int32_t score, uint32_t posting, uint32_t position) {
  const uint32_t size = hit_size(list);
  if (position < 1 || position > size) return;
  if (!greater(score, posting, list[position])) return;
  sift_down(list, score, posting, position, size);
}

namespace {

// Scores a counting selection handles: a list whose scores all lie below it
// goes through it, any other through the heap.
constexpr uint32_t kCountedScores = 512;

// select_top for a list in document order whose scores are all in
// 0..kCountedScores - 1, without a heap: one pass counts the hits of each
// score, which gives the score t of the size-th best hit;
// a second pass places every hit above t, and of the hits scoring t the last
// ones (the highest postings), straight at their rank: the ranks of a score
// come after those of every higher score, and within a score the hits arrive
// in ascending posting order, so they fill their ranks from the last one
// down. Gives what the heap gives (the best hits by score, then posting,
// best first) in two passes. False, with nothing written, for any other list.
bool select_top_counted(const HitHeap* src, HitHeap* dst, uint32_t size) {
  const uint32_t n = hit_size(src);
  uint32_t count[kCountedScores] = {};
  uint32_t high = 0;
  uint32_t previous = 0;
  for (uint64_t i = 1; i <= n; ++i) {
    const uint32_t v = static_cast<uint32_t>(src[i].score);  // a negative score is out of range too
    if (v >= kCountedScores || (i > 1 && src[i].posting <= previous)) return false;
    previous = src[i].posting;
    ++count[v];
    high = v > high ? v : high;
  }
  // From the best score down: the last rank of each score (kept in count),
  // until the scores reach size hits.
  uint32_t ranked = 0;
  uint32_t t = high;
  uint32_t skip = 0;  // hits scoring t that are left out, the lowest postings
  for (;; --t) {
    const uint32_t c = count[t];
    if (ranked + c >= size) {
      skip = ranked + c - size;
      count[t] = size;
      break;
    }
    ranked += c;
    count[t] = ranked;
  }
  // Every rank 1..size is written below; the sentinels after them as
  // init_hit_heap writes them.
  for (uint64_t i = uint64_t{size} + 1; i <= 2 * uint64_t{size} + 1; ++i) dst[i] = HitHeap{kSentinelScore, kEndMark};
  const int32_t base = hit_base(src);
  for (uint64_t i = 1; i <= n; ++i) {
    const uint32_t v = static_cast<uint32_t>(src[i].score);
    if (v < t) continue;
    if (v == t && skip > 0) {
      --skip;
      continue;
    }
    const int32_t score = base != 0 ? saturate(int64_t{src[i].score} + base) : src[i].score;
    dst[count[v]--] = HitHeap{score, src[i].posting};
  }
  return true;
}

}  // namespace

uint32_t select_top(const HitHeap* src, HitHeap* dst) {
  if (hit_size(dst) == 0) return 0;
  const uint32_t n = hit_size(src);
  if (n < hit_size(dst)) hit_size(dst) = n;
  const uint32_t size = hit_size(dst);
  if (size > 0 && select_top_counted(src, dst, size)) return size;
  init_hit_heap(dst);
  if (size == 0) return 0;
  for (uint64_t i = 1; i <= n; ++i)
    if (src[i].score >= dst[1].score) heap_replace_top(dst, src[i].score, src[i].posting, 1);
  const int32_t base = hit_base(src);
  if (base != 0)
    for (uint64_t i = 1; i <= size; ++i) dst[i].score = saturate(int64_t{dst[i].score} + base);
  return sort_heap(dst);
}

uint32_t sort_heap(HitHeap* list) {
  const uint32_t size = hit_size(list);
  for (uint32_t i = size; i >= 2; --i) {
    // The smallest goes to i; the heap is now entries 1..i-1 and the hit
    // that was at i goes in at its root. (Sifting within the shrinking heap
    // gives what sifting against the sorted tail raised by kSentinelScore
    // gives, without raising any score.)
    const HitHeap moved = list[i];
    list[i] = list[1];
    sift_down(list, moved.score, moved.posting, 1, i - 1);
  }
  return size;
}

HitHeap* copy_hits(const HitHeap* src, HitHeap* dst) {
  const uint32_t size = hit_size(src);
  if (!dst) {
    const size_t entries = size_t{size} * 2 + 4;
    dst = static_cast<HitHeap*>(hit_list_alloc(entries * sizeof(HitHeap)));
    if (!dst) {
      log_msg(LOG_ERROR, "copy_hits: no memory for a copy of %u hits", size);
      return nullptr;
    }
  }
  memmove(dst, src, (size_t{size} + 1) * sizeof(HitHeap));
  return dst;
}

uint32_t compact_hits(HitHeap* list, int32_t threshold) {
  const int64_t d = int64_t{threshold} - hit_base(list);
  const uint32_t size = hit_size(list);
  uint32_t kept = 0;
  for (uint64_t i = 1; i <= size; ++i) {
    if (list[i].score < d || list[i].posting == kEndMark) continue;
    ++kept;
    list[kept].score = saturate(list[i].score - d);
    list[kept].posting = list[i].posting;
  }
  hit_size(list) = kept;
  hit_base(list) = threshold;
  return kept;
}

void dump_hits(const HitHeap* list) {
  if (!log_passes(LOG_MERGE_QUEUE)) return;
  LogBuffer out(LOG_MERGE_QUEUE);
  out.add("BASE %d SIZE %d:", hit_base(list), static_cast<int>(hit_size(list)), 0);
  const uint32_t size = hit_size(list);
  for (uint64_t i = 1; i <= size; ++i)
    if (list[i].score > kSentinelScore)
      out.add(" (%d)%d->%d", static_cast<int>(i), static_cast<int>(list[i].posting >> 7), list[i].score);
  out.add("\n", 0, 0, 0);
  out.flush();
}

void sort_by_docid(HitHeap* list, HitHeap* scratch) {
  const uint32_t n = hit_size(list);
  HitHeap* from = list + 1;
  HitHeap* to = scratch;
  if (n < 2) return;
  // Docids are postings >> 7 (25 bits): up to four passes of 8 bits, each
  // stable, from the lowest; a byte in which no two docids differ takes no
  // pass.
  uint32_t differ = 0;
  for (uint32_t i = 1; i < n; ++i) differ |= from[i].posting ^ from[0].posting;
  for (uint32_t shift = 7; shift < 32; shift += 8) {
    if (((differ >> shift) & 0xFF) == 0) continue;
    uint32_t count[256] = {};
    for (uint32_t i = 0; i < n; ++i) ++count[(from[i].posting >> shift) & 0xFF];
    uint32_t at = 0;
    for (uint32_t& c : count) {
      const uint32_t k = c;
      c = at;
      at += k;
    }
    for (uint32_t i = 0; i < n; ++i) to[count[(from[i].posting >> shift) & 0xFF]++] = from[i];
    HitHeap* t = from;
    from = to;
    to = t;
  }
  if (from != list + 1) memcpy(list + 1, from, size_t{n} * sizeof(HitHeap));
}

int compare_docids(const void* a, const void* b) {
  const auto* x = static_cast<const HitHeap*>(a);
  const auto* y = static_cast<const HitHeap*>(b);
  return static_cast<int>(x->posting >> 7) - static_cast<int>(y->posting >> 7);
}

}  // namespace vorlane::engine
