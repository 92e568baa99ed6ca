#include "store/block_pool.h"

#include "store/alloc.h"

namespace vorlane {

block_pool::~block_pool() {
  for (int i = 0; i < count; ++i) vfree(blocks[i], bytes);
}

void* block_pool_take(block_pool* pool, bool* fresh) {
  {
    std::lock_guard<std::mutex> lock(pool->mutex);
    if (pool->count > 0) {
      if (fresh) *fresh = false;
      void* block = pool->blocks[--pool->count];
      pool->blocks[pool->count] = nullptr;
      return block;
    }
  }
  if (fresh) *fresh = true;
  return valloc(pool->bytes);
}

void block_pool_give(block_pool* pool, void* block) {
  if (!block) return;
  {
    std::lock_guard<std::mutex> lock(pool->mutex);
    if (pool->count < pool->keep) {
      pool->blocks[pool->count++] = block;
      return;
    }
  }
  vfree(block, pool->bytes);
}

int block_pool_count(block_pool* pool) {
  std::lock_guard<std::mutex> lock(pool->mutex);
  return pool->count;
}

}  // namespace vorlane
