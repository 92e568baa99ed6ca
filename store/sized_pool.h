// Sized pools: large page-granular blocks whose size varies from one user to
// the next (a database handle's term table and icube, an HTML parse's arena)
// kept when they are released, for the next request they are large enough
// for, instead of being unmapped and mapped afresh: a fresh mapping costs a
// page fault at the first touch of every page, and its unmapping a walk of
// every page touched.
//
// A pool keeps at most its keep figure of free blocks (never more than
// kBlockPoolMax), none larger than its max_bytes; when a block is given to a
// full pool the one kept longest is released. Blocks come from valloc: a new
// one is zero-filled, a pooled one holds what its last user left in it. A
// pool that fits exactly hands a kept block only to a request of its own
// size (in whole pages), for users that hold their blocks long and touch
// every page they are given; any other pool hands out the smallest kept
// block that is large enough, for users that hold theirs briefly. The pool
// is shared by every thread; its mutex is held only to push or pop a block.
#pragma once

#include <cstddef>
#include <mutex>

#include "store/block_pool.h"

namespace vorlane {

struct sized_pool {
  const int keep;          // free blocks kept, 0..kBlockPoolMax
  const size_t max_bytes;  // larger blocks are released when given back
  const bool exact;        // a kept block serves only a request of its size
  std::mutex mutex;
  int count = 0;
  void* blocks[kBlockPoolMax] = {};  // the one kept longest first
  size_t sizes[kBlockPoolMax] = {};

  sized_pool(int kept, size_t largest, bool exact_fit)
      : keep(kept < 0 ? 0 : kept < kBlockPoolMax ? kept : kBlockPoolMax), max_bytes(largest), exact(exact_fit) {}
  // Releases the pooled blocks. The process-wide pools are never destroyed,
  // so that no thread still at work at exit gives a block to a dead pool.
  ~sized_pool();
  sized_pool(const sized_pool&) = delete;
  sized_pool& operator=(const sized_pool&) = delete;
};

// A block of at least bytes: the smallest pooled one that is large enough
// (of equal ones, the one given back last; in an exact pool, one of bytes
// rounded up to whole pages), else a fresh zero-filled one of bytes; null
// when none can be had. *fresh (when given) tells which.
void* sized_pool_take(sized_pool* pool, size_t bytes, bool* fresh = nullptr);
// Keeps a valloc block for a later sized_pool_take, or releases it when it
// is larger than the pool's max_bytes. A null block is ignored.
void sized_pool_give(sized_pool* pool, void* block);
// Free blocks in the pool now.
int sized_pool_count(sized_pool* pool);

}  // namespace vorlane
