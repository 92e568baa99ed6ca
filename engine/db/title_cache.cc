#include "engine/db/title_cache.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "store/term_hash.h"

namespace vorlane::engine {

std::atomic<title_cache*> the_title_cache{nullptr};

namespace {

// The slot of a pair, or null when the pair can't be cached.
title_cache_slot* slot_of(title_cache* cache, const char* name, int32_t docid) {
  const uint32_t index = (term_hash1(name) + static_cast<uint32_t>(docid)) % static_cast<uint32_t>(cache->nslots);
  return &cache->slots[index];
}

bool usable(title_cache* cache, const char* name, int32_t docid, const void* record) {
  return cache && record && name && cache->nslots > 0 && docid >= 0;
}

}  // namespace

title_cache* title_cache_create(uint32_t bytes) {
  if (bytes < sizeof(title_cache_slot)) return nullptr;
  const uint32_t n = bytes / sizeof(title_cache_slot);
  auto* cache = new (std::nothrow) title_cache;
  if (!cache) return nullptr;
  cache->slots = static_cast<title_cache_slot*>(calloc(n, sizeof(title_cache_slot)));
  if (!cache->slots || sthread_mutex_init(&cache->mutex, nullptr) != 0) {
    free(cache->slots);
    delete cache;
    return nullptr;
  }
  cache->nslots = static_cast<int32_t>(n);
  for (uint32_t i = 0; i < n; ++i) cache->slots[i].docid = -1;
  return cache;
}

int title_cache_lookup(title_cache* cache, const char* name, int32_t docid, unsigned char* record) {
  if (!usable(cache, name, docid, record)) return 0;
  cache->lookups.fetch_add(1, std::memory_order_relaxed);
  if (strlen(name) >= kTitleCacheKeySize) return 0;
  title_cache_slot* s = slot_of(cache, name, docid);
  int found = 0;
  sthread_mutex_lock(&cache->mutex);
  if (s->docid == docid && strcmp(s->key, name) == 0) {
    memcpy(record, s->record, kTitleRecordSize);
    cache->hits.fetch_add(1, std::memory_order_relaxed);
    found = 1;
  }
  sthread_mutex_unlock(&cache->mutex);
  return found;
}

int title_cache_insert(title_cache* cache, const char* name, int32_t docid, const unsigned char* record) {
  if (!usable(cache, name, docid, record)) return 0;
  const size_t length = strlen(name);
  if (length >= kTitleCacheKeySize) return 0;
  title_cache_slot* s = slot_of(cache, name, docid);
  sthread_mutex_lock(&cache->mutex);
  s->docid = docid;
  memcpy(s->key, name, length + 1);
  memcpy(s->record, record, kTitleRecordSize);
  sthread_mutex_unlock(&cache->mutex);
  return 1;
}

void title_cache_purge(title_cache* cache, const char* name) {
  if (!cache || !name) return;
  const size_t length = strlen(name);
  if (length >= kTitleCacheKeySize) return;
  sthread_mutex_lock(&cache->mutex);
  for (int32_t i = 0; i < cache->nslots; ++i) {
    title_cache_slot& s = cache->slots[i];
    if (s.docid >= 0 && strncmp(s.key, name, length) == 0 &&
        (s.key[length] == '\0' || s.key[length] == kTitleCacheFileMark))
      s.docid = -1;
  }
  sthread_mutex_unlock(&cache->mutex);
}

void title_cache_free(title_cache* cache) {
  if (!cache) return;
  sthread_mutex_destroy(&cache->mutex);
  free(cache->slots);
  delete cache;
}

}  // namespace vorlane::engine
