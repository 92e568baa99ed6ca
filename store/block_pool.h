// Block pools: large page-granular buffers that are made and dropped once
// per document (a document's term table, the work areas of an update) are
// kept for the next user instead of being unmapped and mapped afresh, since
// a fresh mapping costs a page fault at the first touch of every page.
//
// A pool keeps at most its keep figure of free blocks (never more than
// kBlockPoolMax); a block given back to a full pool is released. Blocks come
// from valloc: a new one is zero-filled, a pooled one holds what its last
// user left in it, so a pool's users agree on what they clean before giving a
// block back. The pool is shared by every thread; its mutex is held only to
// push or pop a block.
#pragma once

#include <cstddef>
#include <mutex>

namespace vorlane {

inline constexpr int kBlockPoolMax = 8;

struct block_pool {
  const size_t bytes;  // size of every block of the pool
  const int keep;      // free blocks kept, 0..kBlockPoolMax
  std::mutex mutex;
  int count = 0;
  void* blocks[kBlockPoolMax] = {};

  block_pool(size_t block_bytes, int kept)
      : bytes(block_bytes), keep(kept < 0 ? 0 : kept < kBlockPoolMax ? kept : kBlockPoolMax) {}
  // Releases the pooled blocks. The process-wide pools are never destroyed,
  // so that no thread still at work at exit gives a block to a dead pool.
  ~block_pool();
  block_pool(const block_pool&) = delete;
  block_pool& operator=(const block_pool&) = delete;
};

// A block of pool->bytes: the most recently pooled one, else a fresh
// zero-filled one; null when none can be had. *fresh (when given) tells
// which.
void* block_pool_take(block_pool* pool, bool* fresh = nullptr);
// Keeps the block for the next block_pool_take, or releases it when the
// pool is full. A null block is ignored.
void block_pool_give(block_pool* pool, void* block);
// Free blocks in the pool now.
int block_pool_count(block_pool* pool);

}  // namespace vorlane
