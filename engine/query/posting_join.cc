// join: the scores of one posting list into the matching hits of a list in
// document order.
//
// Sub-problems (a range of hits, a range of postings, both inclusive) wait on
// an explicit stack, starting with the whole of both. A sub-problem with more
// than one posting and more than one hit takes its middle posting, finds its
// document among the hits and goes on with the parts left and right of it
// that still overlap; one with a single posting or a single hit is searched
// directly. Ranges of 10 elements or more are searched by bisection, shorter
// ones by stepping. Lists of about the same length are instead walked side by
// side from the start (join), which visits each entry once.
#include <cstdint>

#include "engine/query/postings.h"
#include "store/log.h"

namespace vorlane::engine {

namespace {

inline constexpr uint32_t kBisectFrom = 10;

struct Range {
  uint32_t p0, p1;  // hits p0..p1 (1-based)
  uint32_t q0, q1;  // postings q0..q1 (0-based)
};

struct Join {
  HitHeap* dst;
  const uint32_t* q;
  int32_t bonus;
  bool trace;

  void apply(uint32_t hit, uint32_t posting) {
    int64_t s = int64_t{dst[hit].score} + posting_score(posting);
    if (!(bonus > 0 && s >= bonus)) s += bonus;
    if (s > INT32_MAX) s = INT32_MAX;
    if (s < INT32_MIN) s = INT32_MIN;
    dst[hit].score = static_cast<int32_t>(s);
  }

  // Do the hits p0..p1 and the postings q0..q1 (both non-empty) share a
  // document range?
  bool overlaps(const Range& r) const {
    return dst[r.p1].posting >= posting_key(q[r.q0]) && q[r.q1] >= dst[r.p0].posting;
  }

  // The first hit of lo..hi whose posting is at least key; hi + 1 when none.
  uint32_t find_hit(uint32_t lo, uint32_t hi, uint32_t key) const {
    if (hi - lo + 1 >= kBisectFrom) {
      uint32_t a = lo, b = hi + 1;
      while (a < b) {
        const uint32_t mid = a + (b - a) / 2;
        if (dst[mid].posting < key) a = mid + 1;
        else b = mid;
      }
      return a;
    }
    uint32_t i = lo;
    while (i <= hi && dst[i].posting < key) ++i;
    return i;
  }

  // The first posting of lo..hi whose document is at least key's; hi + 1
  // when none.
  uint32_t find_posting(uint32_t lo, uint32_t hi, uint32_t key) const {
    if (hi - lo + 1 >= kBisectFrom) {
      uint32_t a = lo, b = hi + 1;
      while (a < b) {
        const uint32_t mid = a + (b - a) / 2;
        if (posting_key(q[mid]) < key) a = mid + 1;
        else b = mid;
      }
      return a;
    }
    uint32_t j = lo;
    while (j <= hi && posting_key(q[j]) < key) ++j;
    return j;
  }

  // Both ranges walked side by side: for a sub-problem that finds no room on
  // the stack.
  void step(const Range& r) {
    uint32_t i = r.p0;
    uint32_t j = r.q0;
    while (i <= r.p1 && j <= r.q1) {
      const uint32_t h = dst[i].posting;
      const uint32_t k = posting_key(q[j]);
      if (h < k) {
        ++i;
      } else if (h > k) {
        ++j;
      } else {
        apply(i, q[j]);
        ++j;
      }
    }
  }

  void run(uint32_t size, uint32_t count, int stack_entries) {
    Range stack[kJoinStackSize];
    if (stack_entries < 1 || stack_entries > kJoinStackSize) stack_entries = kJoinStackSize;
    int top = 0;
    const Range whole{1, size, 0, count - 1};
    if (!overlaps(whole)) return;
    stack[top++] = whole;
    while (top > 0) {
      const Range r = stack[--top];
      if (trace)
        log_msg(LOG_JOIN, "join: [p0:%d, p1:%d, q0:%d, q1:%d]", static_cast<int>(r.p0), static_cast<int>(r.p1),
                static_cast<int>(r.q0), static_cast<int>(r.q1));
      if (r.p0 == r.p1) {
        const uint32_t key = dst[r.p0].posting;
        for (uint32_t j = find_posting(r.q0, r.q1, key); j <= r.q1 && posting_key(q[j]) == key; ++j)
          apply(r.p0, q[j]);
        continue;
      }
      if (r.q0 == r.q1) {
        const uint32_t key = posting_key(q[r.q0]);
        const uint32_t i = find_hit(r.p0, r.p1, key);
        if (i <= r.p1 && dst[i].posting == key) apply(i, q[r.q0]);
        continue;
      }
      const uint32_t m = r.q0 + (r.q1 - r.q0) / 2;
      if (trace) log_msg(LOG_JOIN, "midpoint(q0+(q1-q0)/2)=%d", static_cast<int>(m));
      const uint32_t key = posting_key(q[m]);
      const uint32_t n1 = find_hit(r.p0, r.p1, key);
      if (trace && r.p1 - r.p0 + 1 < kBisectFrom)
        log_msg(LOG_JOIN, "n1=%d n1-1=%d p0=%d m+1=%d\n", static_cast<int>(n1), static_cast<int>(n1 - 1),
                static_cast<int>(r.p0), static_cast<int>(m + 1));
      const bool matched = n1 <= r.p1 && dst[n1].posting == key;
      if (matched) apply(n1, q[m]);
      // A document may occur more than once in the postings: a matched hit
      // stays in both parts.
      Range parts[2];
      int nparts = 0;
      if (n1 <= r.p1) parts[nparts++] = Range{n1, r.p1, m + 1, r.q1};
      const uint32_t left_end = matched ? n1 : n1 - 1;
      if (m > r.q0 && left_end >= r.p0) parts[nparts++] = Range{r.p0, left_end, r.q0, m - 1};
      for (int k = 0; k < nparts; ++k) {
        if (!overlaps(parts[k])) continue;
        if (top < stack_entries) stack[top++] = parts[k];
        else step(parts[k]);
      }
    }
  }
};

}  // namespace

namespace {

// The postings before the end mark (postings ascend, so it is the first one
// at or above it).
uint32_t before_end_mark(const uint32_t* postings, uint32_t count) {
  uint32_t a = 0, b = count;
  while (a < b) {
    const uint32_t mid = a + (b - a) / 2;
    if (is_end_posting(postings[mid])) b = mid;
    else a = mid + 1;
  }
  return a;
}

void trace_start(uint32_t size, const uint32_t* postings, uint32_t count) {
  if (log_passes(LOG_JOIN | LOG_MERGE_QUEUE))
    log_msg(LOG_JOIN | LOG_MERGE_QUEUE, "join: Binary merging size %d and %d", static_cast<int>(size),
            static_cast<int>(count > 0 && postings ? postings[0] : kEndMark));
}

// Lists of sizes within this factor of each other are walked side by side:
// bisection pays only when one is much the shorter.
inline constexpr uint64_t kWalkWithin = 8;

}  // namespace

void join(HitHeap* dst, const uint32_t* postings, uint32_t count, int32_t bonus) {
  const uint32_t size = hit_size(dst);
  trace_start(size, postings, count);
  if (size == 0 || count == 0 || !postings) return;
  count = before_end_mark(postings, count);
  if (count == 0) return;
  const bool trace = log_passes(LOG_JOIN);
  Join j{dst, postings, bonus, trace};
  // The walk gives what the bisection gives; a trace shows the bisection.
  if (!trace && uint64_t{count} <= kWalkWithin * size && uint64_t{size} <= kWalkWithin * count) {
    if (j.overlaps(Range{1, size, 0, count - 1})) j.step(Range{1, size, 0, count - 1});
    return;
  }
  j.run(size, count, kJoinStackSize);
}

uint32_t join_matches(const HitHeap* hits, const uint32_t* postings, uint32_t count, HitHeap* out) {
  const uint32_t size = hit_size(hits);
  const uint32_t n = size == 0 || count == 0 || !postings ? 0 : before_end_mark(postings, count);
  if (n > 0 && (uint64_t{n} > kWalkWithin * size || uint64_t{size} > kWalkWithin * n || log_passes(LOG_JOIN))) {
    copy_hits(hits, out);
    hit_base(out) -= kBonus;
    join(out, postings, count, kBonus);
    return compact_hits(out, 0);
  }
  // Both walked side by side, the hits reached written in order.
  hit_base(out) = 0;
  uint32_t kept = 0;
  uint32_t j = 0;
  for (uint32_t i = 1; i <= size && j < n; ++i) {
    const uint32_t key = hits[i].posting;
    while (j < n && posting_key(postings[j]) < key) ++j;
    int64_t s = 0;
    bool reached = false;
    for (; j < n && posting_key(postings[j]) == key; ++j) {
      s += posting_score(postings[j]);
      reached = true;
    }
    if (reached) out[++kept] = HitHeap{static_cast<int32_t>(s + 1), key};
  }
  hit_size(out) = kept;
  return kept;
}

void join_with_stack(HitHeap* dst, const uint32_t* postings, uint32_t count, int32_t bonus, int stack_entries) {
  const uint32_t size = hit_size(dst);
  trace_start(size, postings, count);
  if (size == 0 || count == 0 || !postings) return;
  count = before_end_mark(postings, count);
  if (count == 0) return;
  Join{dst, postings, bonus, log_passes(LOG_JOIN)}.run(size, count, stack_entries);
}

}  // namespace vorlane::engine
