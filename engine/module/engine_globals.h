// Engine globals that cache_init sets for the query-buffer pool.
//
// Both are written once, by cache_init with the interpreter lock held, before
// any query runs; the pool reads them with the lock held. max_hits (M), which
// sizes the buffers, lives with the other module globals (sorn_module.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

// Bytes of one query buffer: (M x 2 + 10) x 4 + (M x 2 + 2) x 24 + 16,619,328.
// 0 until cache_init runs.
extern size_t query_buffer_size;

// How many free query buffers the pool keeps (at most 20); 0 until cache_init
// runs, which means no buffer is kept.
extern uint32_t query_pool_limit;

inline constexpr uint32_t kMaxPooledQueryBuffers = 20;

// The query-buffer size for a posting limit M.
constexpr size_t query_buffer_size_for(uint32_t m) {
  return (size_t{m} * 2 + 10) * 4 + (size_t{m} * 2 + 2) * 24 + 16619328;
}

}  // namespace vorlane::engine
