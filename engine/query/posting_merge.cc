// merge: up to 40 posting lists into one hit per document.
//
// The list heads stay in an array ordered by their current posting; the list
// the smallest came from is put back by insertion (with few lists this beats
// a heap). Exactly two lists take a plain two-way merge.
#include <cstdio>

#include "engine/query/posting_filter.h"
#include "engine/module/sorn_module.h"
#include "store/log.h"

namespace vorlane::engine {

namespace {

// Any posting at or above the end mark ends its list.
inline uint32_t head_value(const uint32_t* p) { return is_end_posting(*p) ? kEndMark : *p; }

// Collects the postings in ascending order into documents and hands each
// finished document to the list.
struct DocumentSink {
  HitHeap* dst;
  int select;
  uint32_t capacity;
  DeletionMap delmap;
  uint32_t mode;
  DateMap datemap;
  DayWindow window;
  uint32_t count = 0;
  uint32_t key = 0;   // current document's posting key
  int64_t sum = 0;    // its summed score
  bool open = false;  // a document is being collected

  void take(uint32_t p) {
    const uint32_t k = posting_key(p);
    if (!open || k != key) {
      if (open) finish();
      key = k;
      sum = 0;
      open = true;
    }
    sum += posting_score(p);
  }

  void finish() {
    const uint32_t d = posting_doc(key);
    const int32_t flag = document_flag(delmap, d);
    if (!document_passes(d, flag, mode, datemap, window)) return;
    ++count;
    const int32_t score = score_with_offset(sum, quality_offset(quality_offsets, flag));
    if (select == 0) {
      if (count <= capacity) dst[count] = HitHeap{score, key};
    } else if (score >= dst[1].score) {
      heap_replace_top(dst, score, key, 1);
    }
  }
};

void trace_queue(const uint32_t* const* heads, int n) {
  if (!log_passes(LOG_MERGE_QUEUE)) return;
  char text[64 + kMaxMergeLists * 12];
  size_t used = static_cast<size_t>(snprintf(text, sizeof text, "sorn(merge) queue: "));
  for (int i = 0; i < n; ++i)
    used += static_cast<size_t>(snprintf(text + used, sizeof text - used, "%d ", static_cast<int>(*heads[i])));
  snprintf(text + used, sizeof text - used, "\n");
  log_msg(LOG_MERGE_QUEUE, "%s", text);
}

void merge_two(const uint32_t* a, const uint32_t* b, DocumentSink& sink) {
  uint32_t x = head_value(a), y = head_value(b);
  while (x != kEndMark || y != kEndMark) {
    if (x <= y) {
      sink.take(x);
      x = head_value(++a);
    } else {
      sink.take(y);
      y = head_value(++b);
    }
  }
}

void merge_many(const uint32_t** heads, int n, DocumentSink& sink) {
  uint32_t values[kMaxMergeLists];
  for (int i = 0; i < n; ++i) values[i] = head_value(heads[i]);
  // Order the heads by insertion.
  for (int i = 1; i < n; ++i) {
    const uint32_t v = values[i];
    const uint32_t* h = heads[i];
    int j = i;
    for (; j > 0 && values[j - 1] > v; --j) {
      values[j] = values[j - 1];
      heads[j] = heads[j - 1];
    }
    values[j] = v;
    heads[j] = h;
  }
  trace_queue(heads, n);
  while (n > 0 && values[0] != kEndMark) {
    sink.take(values[0]);
    const uint32_t* h = heads[0] + 1;
    const uint32_t v = head_value(h);
    int j = 0;
    for (; j + 1 < n && values[j + 1] < v; ++j) {
      values[j] = values[j + 1];
      heads[j] = heads[j + 1];
    }
    values[j] = v;
    heads[j] = h;
  }
}

}  // namespace

uint32_t merge(const uint32_t* const* lists, HitHeap* dst, int select, DeletionMap delmap, uint32_t mode,
               DateMap datemap, uint64_t window) {
  init_hit_heap(dst);
  DocumentSink sink{dst, select, hit_size(dst), delmap, mode, datemap, day_window(window)};
  const uint32_t* heads[kMaxMergeLists];
  int n = 0;
  if (lists)
    for (; n < kMaxMergeLists && lists[n]; ++n) heads[n] = lists[n];
  if (n == 2) {
    trace_queue(heads, n);
    merge_two(heads[0], heads[1], sink);
  } else {
    merge_many(heads, n, sink);
  }
  if (sink.open) sink.finish();
  if (select == 0) {
    if (sink.count > sink.capacity)
      log_msg(LOG_ERROR, "merge: %u documents do not fit a list of %u; the last %u were not written", sink.count,
              sink.capacity, sink.count - sink.capacity);
    hit_size(dst) = sink.count < sink.capacity ? sink.count : sink.capacity;
    hit_base(dst) = 0;
  }
  return sink.count;
}

}  // namespace vorlane::engine
