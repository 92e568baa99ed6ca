#include "engine/query/query_buffer.h"

#include "engine/module/engine_globals.h"
#include "store/alloc.h"

namespace vorlane::engine {

namespace {
void* pool[kMaxPooledQueryBuffers];
int pool_count = 0;
}  // namespace

QueryBufferLayout query_buffer_layout(uint32_t m) {
  QueryBufferLayout l{};
  l.merged = 0;
  l.heap = kQueryAreaSize;
  l.heap_entries = static_cast<uint32_t>((uint64_t{m} * 2 + 2) * 3);
  l.list = l.heap + size_t{l.heap_entries} * 8;
  l.list_words = static_cast<uint32_t>(uint64_t{m} * 2 + 10);
  l.responses = l.list + size_t{l.list_words} * 4;
  return l;
}

void* query_buffer_get() {
  if (pool_count > 0) return pool[--pool_count];
  if (query_buffer_size == 0) return nullptr;
  return valloc(query_buffer_size);
}

void query_buffer_put(void* buffer) {
  if (!buffer) return;
  if (pool_count < static_cast<int>(query_pool_limit) && pool_count < static_cast<int>(kMaxPooledQueryBuffers)) {
    pool[pool_count++] = buffer;
    return;
  }
  vfree(buffer, query_buffer_size);
}

int reap_query_buffers() {
  const int keep = pool_count / 2;
  int freed = 0;
  while (pool_count > keep) {
    vfree(pool[--pool_count], query_buffer_size);
    ++freed;
  }
  return freed;
}

int pooled_query_buffers() { return pool_count; }

}  // namespace vorlane::engine
