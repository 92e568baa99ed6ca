// Query transformations: a process-wide table that replaces a whole query
// part by another text before it is parsed, keyed by the part's normalised
// text and the request's mode word.
//
// The table is an open-addressing hash table of fixed-size QueryTransform
// entries, probed from term_hash1(key) mod capacity by steps of one,
// wrapping. It always keeps a free entry (it is full at count >= capacity -
// 1), so every probe ends. Entries are never removed; an entry whose key
// equals one already present lies further along the probe and is never found.
//
// No lock: entries must not be added while queries run on other threads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

inline constexpr size_t kTransformKeySize = 128;
inline constexpr size_t kTransformReplacementSize = 160;
// Capacity when the table is created with n = 0, and the largest accepted.
inline constexpr uint32_t kDefaultTransformCapacity = 1024;
inline constexpr uint32_t kMaxTransformCapacity = 100000;
// Longest text apply_query_transform looks up.
inline constexpr size_t kMaxTransformText = 2033;

// One table entry.
struct QueryTransform {
  char key[kTransformKeySize];                  // normalised query, then the mode as "%02X"; NUL-terminated
  char replacement[kTransformReplacementSize];  // the query text that replaces the part, NUL-terminated
  uint32_t mode;                                // the mode word the entry applies to
  uint32_t new_mode;                            // the mode word used with the replacement
  uint32_t hash;                                // term_hash1(key); 0 marks a free entry
};
static_assert(sizeof(QueryTransform) == 300, "a transformation entry is 300 bytes");

struct QueryTransformTable {
  bool created = false;
  uint32_t capacity = 0;
  QueryTransform* entries = nullptr;  // capacity entries, zeroed when created
  uint32_t count = 0;
};

// The process-wide table used by the functions without a table argument.
extern QueryTransformTable query_transforms;

// Creates the table once: capacity 2n, or 1,024 when n is 0. A negative n or
// a capacity above 100,000 is refused with an error line and the table stays
// missing. 1 when the table exists afterwards, else 0.
int init_query_transforms(int32_t n);
int init_query_transforms(QueryTransformTable& table, int32_t n);

// Adds an entry (creating the table with capacity 2,048 when there is none).
// A null replacement is the empty text. 1 when added, else 0 after a line at
// the warning level.
int add_query_transform(const char* query, const char* replacement, uint32_t mode, uint32_t new_mode);
int add_query_transform(QueryTransformTable& table, const char* query, const char* replacement, uint32_t mode,
                        uint32_t new_mode);

// Writes text without its leading and trailing white space, every byte
// lower-cased (C-locale classes), into out (out_size bytes, cut to fit and
// always NUL-terminated when out_size > 0). A null or blank text gives the
// empty text. Returns the length of the whole normalised form.
size_t normalise_transform_key(const char* text, char* out, size_t out_size);

// The entry for text and mode, or null: no text or no table, a text longer
// than 2,033 bytes, or a normalised form longer than 128 bytes finds none.
const QueryTransform* apply_query_transform(const char* text, uint32_t mode);
const QueryTransform* apply_query_transform(const QueryTransformTable& table, const char* text, uint32_t mode);

// Frees a table's entries and makes it missing again (for tests; the
// process-wide table is never freed).
void free_query_transforms(QueryTransformTable& table);

}  // namespace vorlane::engine
