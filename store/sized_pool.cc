#include "store/sized_pool.h"

#include <unistd.h>

#include "store/alloc.h"

namespace vorlane {

namespace {

size_t page_bytes() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

sized_pool::~sized_pool() {
  for (int i = 0; i < count; ++i) vfree_block(blocks[i]);
}

void* sized_pool_take(sized_pool* pool, size_t bytes, bool* fresh) {
  {
    std::lock_guard<std::mutex> lock(pool->mutex);
    int best = -1;
    for (int i = pool->count - 1; i >= 0; --i) {
      const size_t size = pool->sizes[i];
      if (size < bytes || (pool->exact && size - bytes >= page_bytes())) continue;
      if (best < 0 || size < pool->sizes[best]) best = i;
    }
    if (best >= 0) {
      void* block = pool->blocks[best];
      for (int i = best + 1; i < pool->count; ++i) {
        pool->blocks[i - 1] = pool->blocks[i];
        pool->sizes[i - 1] = pool->sizes[i];
      }
      --pool->count;
      pool->blocks[pool->count] = nullptr;
      pool->sizes[pool->count] = 0;
      if (fresh) *fresh = false;
      return block;
    }
  }
  if (fresh) *fresh = true;
  return valloc(bytes);
}

void sized_pool_give(sized_pool* pool, void* block) {
  if (!block) return;
  const size_t bytes = valloc_size(block);
  void* released = block;
  if (bytes > 0 && bytes <= pool->max_bytes && pool->keep > 0) {
    std::lock_guard<std::mutex> lock(pool->mutex);
    released = nullptr;
    if (pool->count == pool->keep) {
      released = pool->blocks[0];
      for (int i = 1; i < pool->count; ++i) {
        pool->blocks[i - 1] = pool->blocks[i];
        pool->sizes[i - 1] = pool->sizes[i];
      }
      --pool->count;
    }
    pool->blocks[pool->count] = block;
    pool->sizes[pool->count] = bytes;
    ++pool->count;
  }
  if (released) vfree_block(released);
}

int sized_pool_count(sized_pool* pool) {
  std::lock_guard<std::mutex> lock(pool->mutex);
  return pool->count;
}

}  // namespace vorlane
