// Stop-word tables: one list of stop words per language, kept as an
// open-addressing hash table and keyed by the language's stemmer (the first
// word of its zop_handle). Two languages loaded from one resource path share
// one stemmer and so one table.
//
// Words are matched by hash alone and by their bytes as supplied: "The" is a
// stop word only when the list holds "The".
//
// Concurrency: tables are built by init_stopword_table with the interpreter
// lock held and read without it by the token passes and the query parser. A
// registry slot is published (release ordering) only once its table is
// complete; tables are never changed or freed. Build every table before
// texts of that language are tokenised.
#pragma once

#include <cstddef>
#include <cstdint>

#include "linguistics/zop_handle.h"

namespace vorlane::engine {

struct StopWordEntry {
  char* word;       // private copy, NUL-terminated
  int32_t length;   // bytes
  uint32_t hash;    // StopWordHash of the word (may be 0)
  bool occupied;    // the entry holds a word
};

struct StopWordTable {
  StopWordEntry* entries;  // null for the empty table
  uint32_t size;           // entries; at least one more than the words
  uint32_t words;
  int32_t longest;         // length of the longest word
};

inline constexpr int kMaxStopWordTables = 32;

// h = h x 129 + b + 987654321 over the bytes (unsigned), modulo 2^32.
uint32_t StopWordHash(const char* bytes, size_t length);

// Builds a table from a null-terminated array of words (each copied) and
// registers it for the handle's stemmer in the first free registry slot. A
// second list for the same stemmer registers another slot that lookups never
// reach; with all 32 slots taken nothing is registered.
void BuildStopWordTable(const zop_handle& handle, const char* const* words);

// The first registered table of the handle's stemmer; the empty table (no
// entries, longest 0) when there is none.
const StopWordTable& FindStopWordTable(const zop_handle& handle);

// 1 when the word's hash is in the table, else 0. Words longer than the
// longest stop word are answered 0 without hashing; the empty table answers
// 0 without touching an entry.
int LookupStopWord(const char* word, int32_t length, const StopWordTable& table);

int IsStopWord(const char* word, int32_t length, const zop_handle& handle);

}  // namespace vorlane::engine
