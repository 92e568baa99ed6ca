#include "engine/analysis/stopwords.h"

#include <atomic>
#include <cstring>

#include "store/alloc.h"
#include "store/log.h"

namespace vorlane::engine {

namespace {

struct StopWordSlot {
  const void* stemmer = nullptr;
  std::atomic<const StopWordTable*> table{nullptr};
};

StopWordSlot registry[kMaxStopWordTables];

const StopWordTable empty_table = {nullptr, 1024, 0, 0};

}  // namespace

uint32_t StopWordHash(const char* bytes, size_t length) {
  uint32_t h = 0;
  for (size_t i = 0; i < length; ++i) h = h * 129 + static_cast<unsigned char>(bytes[i]) + 987654321u;
  return h;
}

void BuildStopWordTable(const zop_handle& handle, const char* const* words) {
  uint32_t n = 0;
  while (words[n]) ++n;
  // Half again as many entries as words, and always one free entry so that
  // every probe ends.
  uint32_t size = static_cast<uint32_t>((uint64_t{n} * 3) / 2);
  if (size < n + 1) size = n + 1;

  StopWordTable* table = static_cast<StopWordTable*>(s_malloc(sizeof(StopWordTable)));
  table->entries = static_cast<StopWordEntry*>(s_malloc(sizeof(StopWordEntry) * size));
  memset(table->entries, 0, sizeof(StopWordEntry) * size);
  table->size = size;
  table->words = n;
  table->longest = 0;
  for (uint32_t w = 0; w < n; ++w) {
    size_t length = strlen(words[w]);
    uint32_t h = StopWordHash(words[w], length);
    uint32_t at = h % size;
    while (table->entries[at].occupied) at = (at + 1) % size;
    StopWordEntry& e = table->entries[at];
    e.word = static_cast<char*>(s_malloc(length + 1));
    memcpy(e.word, words[w], length + 1);
    e.length = static_cast<int32_t>(length);
    e.hash = h;
    e.occupied = true;
    if (e.length > table->longest) table->longest = e.length;
  }

  for (StopWordSlot& s : registry) {
    if (s.table.load(std::memory_order_acquire)) continue;
    s.stemmer = handle.stemmer;
    s.table.store(table, std::memory_order_release);
    return;
  }
  // Every slot is taken: the table is never used.
  log_msg(LOG_WARNING, "BuildStopWordTable: no room for another stop-word table (%d in use)", kMaxStopWordTables);
  for (uint32_t i = 0; i < size; ++i) s_free(table->entries[i].word);
  s_free(table->entries);
  s_free(table);
}

const StopWordTable& FindStopWordTable(const zop_handle& handle) {
  for (const StopWordSlot& s : registry) {
    const StopWordTable* t = s.table.load(std::memory_order_acquire);
    if (!t) break;
    if (s.stemmer == handle.stemmer) return *t;
  }
  return empty_table;
}

int LookupStopWord(const char* word, int32_t length, const StopWordTable& table) {
  if (length > table.longest || table.words == 0 || !table.entries) return 0;
  uint32_t h = StopWordHash(word, length < 0 ? 0 : static_cast<size_t>(length));
  uint32_t at = h % table.size;
  for (uint32_t probes = 0; probes < table.size; ++probes) {
    const StopWordEntry& e = table.entries[at];
    if (!e.occupied) return 0;
    if (e.hash == h) return 1;
    at = (at + 1) % table.size;
  }
  return 0;
}

int IsStopWord(const char* word, int32_t length, const zop_handle& handle) {
  return LookupStopWord(word, length, FindStopWordTable(handle));
}

}  // namespace vorlane::engine
