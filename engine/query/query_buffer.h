// The work buffer of one sorn.query call and the pool that keeps free ones.
//
// A query buffer is one page-granular block of query_buffer_size bytes
// (engine_globals.h; set by cache_init), laid out in this order, M being
// max_hits:
//
//   offset                          bytes                    holds
//   0                               169,024                  the merged response
//   169,024                         (M x 2 + 2) x 3 x 8      the hit heap lent to each evaluation
//   after the heap                  (M x 2 + 10) x 4         the list area lent likewise
//   after the list area             169,024 per area         each database's response area, in
//                                                            list order; with term details each
//                                                            is followed by a second area that
//                                                            receives a copy of it
//   after the response areas        448 per hit of the page  the page's title records; before
//                                                            them, the parse areas of each
//                                                            database's evaluation in turn
//
// The size covers 48 databases with two areas each, the merged area and 500
// title records. Pooled buffers are reused without clearing: every area is
// written before it is read.
//
// The pool is a stack of at most kMaxPooledQueryBuffers free buffers; it
// keeps at most query_pool_limit of them. It is used only with the
// interpreter lock held.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

// Bytes of one response area (a QueryResponse) of the buffer.
inline constexpr size_t kQueryAreaSize = 169024;
// Databases and languages one query may name.
inline constexpr int kMaxQueryDbs = 48;
inline constexpr int kMaxQueryLanguages = 48;

// Offsets into a buffer for the posting limit m.
struct QueryBufferLayout {
  size_t merged;          // the merged response
  size_t heap;            // hit heap of heap_entries 8-byte entries
  uint32_t heap_entries;  // (m x 2 + 2) x 3
  size_t list;            // list area of list_words words
  uint32_t list_words;    // m x 2 + 10
  size_t responses;       // the first database's response area
};
QueryBufferLayout query_buffer_layout(uint32_t m);

// The response area of database i (0-based) of a query of n databases; with
// details the copy of it follows at + kQueryAreaSize.
inline size_t query_response_offset(const QueryBufferLayout& l, int i, bool details) {
  return l.responses + static_cast<size_t>(i) * kQueryAreaSize * (details ? 2 : 1);
}
// Where the title records begin for a query of n databases.
inline size_t query_titles_offset(const QueryBufferLayout& l, int n, bool details) {
  return query_response_offset(l, n, details);
}
// The title area holds, while the databases are evaluated, the parse areas
// of their evaluations (one at a time): titles are read only after the last.
inline constexpr size_t kQueryTitleAreaSize = 500 * 448;
inline size_t query_parse_offset(const QueryBufferLayout& l, int n, bool details) {
  return query_titles_offset(l, n, details);
}

// The buffer most recently put back, else a new one of query_buffer_size
// bytes; null when there is no size yet (before cache_init) or memory is
// short.
void* query_buffer_get();
// Pools the buffer while the pool holds fewer than its limit, else frees it.
void query_buffer_put(void* buffer);
// Frees the most recently pooled buffers until half of them (rounded down)
// remain; returns how many were freed.
int reap_query_buffers();
// Buffers in the pool now.
int pooled_query_buffers();

}  // namespace vorlane::engine
