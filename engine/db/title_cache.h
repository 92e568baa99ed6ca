// The process-wide title cache: title records of recently fetched documents,
// keyed by (name, docid). get_titles (engine/db/get_titles.h) names a record
// by its database's path, kTitleCacheFileMark and the identity of the title
// file it was read from, so that two handles of one path over different
// files keep apart.
//
// A fixed array of 580-byte slots, one mutex. A pair lives in exactly one
// slot, index = (term_hash1(name) + docid) mod slot count on unsigned 32-bit
// values; a record for another pair with the same index replaces it. Names
// of 128 bytes or more are never cached (get_titles' name adds up to 34 to
// the path). open_db and quit_db purge a path's slots, so a database rebuilt
// under the same path never shows records of the one before.
#pragma once

#include <atomic>
#include <cstdint>

#include "store/sthread.h"
#include "store/title_record.h"

namespace vorlane::engine {

inline constexpr uint32_t kTitleCacheKeySize = 128;
// Ends the path in a name that goes on with a title file's identity.
inline constexpr char kTitleCacheFileMark = '\x1f';

struct title_cache_slot {
  char key[kTitleCacheKeySize];             // database path, NUL-terminated
  int32_t docid;                            // -1 while the slot is empty
  unsigned char record[kTitleRecordSize];   // 448 bytes
};
static_assert(sizeof(title_cache_slot) == 580);

struct title_cache {
  int32_t nslots = 0;
  std::atomic<int32_t> lookups{0};
  std::atomic<int32_t> hits{0};
  title_cache_slot* slots = nullptr;
  sthread_mutex mutex = nullptr;
};

// A cache of bytes / 580 empty slots with its mutex; null when bytes is below
// 580 or memory is short.
title_cache* title_cache_create(uint32_t bytes);

// 1 when the pair is cached (its record copied out; one hit counted), else 0.
// Null arguments, a cache without slots, a negative docid or a path of 128
// bytes or more give 0.
int title_cache_lookup(title_cache* cache, const char* name, int32_t docid, unsigned char* record);

// 1 when stored, 0 when refused (the same checks as the lookup).
int title_cache_insert(title_cache* cache, const char* name, int32_t docid, const unsigned char* record);

// Empties every slot keyed by name, or by name, kTitleCacheFileMark and
// more.
void title_cache_purge(title_cache* cache, const char* name);

// Releases the slots and the cache.
void title_cache_free(title_cache* cache);

// The process's cache: null until init_title_cache makes it; never replaced.
extern std::atomic<title_cache*> the_title_cache;

}  // namespace vorlane::engine
