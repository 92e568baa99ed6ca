#include "engine/query/query_transform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store/cclass.h"
#include "store/log.h"
#include "store/term_hash.h"

namespace vorlane::engine {

QueryTransformTable query_transforms;

namespace {

// The key of a normalised text and a mode in key (kTransformKeySize bytes);
// false when it does not fit with its NUL.
bool make_key(const char* normalised, uint32_t mode, char* key) {
  const int n = snprintf(key, kTransformKeySize, "%s%02X", normalised, mode);
  return n >= 0 && static_cast<size_t>(n) < kTransformKeySize;
}

}  // namespace

size_t normalise_transform_key(const char* text, char* out, size_t out_size) {
  size_t begin = 0, end = 0;
  if (text) {
    end = strlen(text);
    while (begin < end && c_isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && c_isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  }
  const size_t length = end - begin;
  if (out_size > 0) {
    const size_t n = length < out_size - 1 ? length : out_size - 1;
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(c_tolower(static_cast<unsigned char>(text[begin + i])));
    out[n] = 0;
  }
  return length;
}

int init_query_transforms(QueryTransformTable& table, int32_t n) {
  if (table.created) return 1;
  if (n < 0) {
    log_msg(LOG_ERROR, "init_query_transforms: negative count of transformations (%d)", n);
    return 0;
  }
  const int64_t capacity = n == 0 ? kDefaultTransformCapacity : int64_t{n} * 2;
  if (capacity > kMaxTransformCapacity) {
    log_msg(LOG_ERROR, "Too many query transformation (%lld) for hash table\n", static_cast<long long>(capacity));
    return 0;
  }
  auto* entries = static_cast<QueryTransform*>(calloc(static_cast<size_t>(capacity), sizeof(QueryTransform)));
  if (!entries) {
    log_msg(LOG_ERROR, "init_query_transforms: no memory for %lld entries", static_cast<long long>(capacity));
    return 0;
  }
  table.entries = entries;
  table.capacity = static_cast<uint32_t>(capacity);
  table.count = 0;
  table.created = true;
  return 1;
}

int init_query_transforms(int32_t n) { return init_query_transforms(query_transforms, n); }

int add_query_transform(QueryTransformTable& table, const char* query, const char* replacement, uint32_t mode,
                        uint32_t new_mode) {
  if (!query || !*query) {
    log_msg(LOG_WARNING, "No query specified for transformation");
    return 0;
  }
  if (!replacement) replacement = "";
  if (strlen(query) + 1 > kTransformKeySize) {
    log_msg(LOG_WARNING, "Query for transformation is too long (%s > %d)", query, static_cast<int>(kTransformKeySize));
    return 0;
  }
  if (strlen(replacement) + 1 > kTransformReplacementSize) {
    log_msg(LOG_WARNING, "Query for transformation is too long (%s > %d)", replacement,
            static_cast<int>(kTransformReplacementSize));
    return 0;
  }
  if (!table.created && !init_query_transforms(table, kDefaultTransformCapacity)) return 0;
  if (table.count >= table.capacity - 1) {
    log_msg(LOG_WARNING, "Query Transformation table is full (%d)", static_cast<int>(table.capacity));
    return 0;
  }
  char normalised[kTransformKeySize];
  normalise_transform_key(query, normalised, sizeof normalised);
  char key[kTransformKeySize];
  if (!make_key(normalised, mode, key)) {
    log_msg(LOG_WARNING, "Query for transformation is too long (%s > %d)", query, static_cast<int>(kTransformKeySize));
    return 0;
  }
  log_msg(LOG_NOTICE, "Adding Query Transformation for %s (%s) to %s", query, normalised, replacement);
  const uint32_t hash = term_hash1(key);
  uint32_t i = hash % table.capacity;
  while (table.entries[i].hash != 0) i = (i + 1) % table.capacity;
  QueryTransform& e = table.entries[i];
  memcpy(e.key, key, strlen(key) + 1);
  memcpy(e.replacement, replacement, strlen(replacement) + 1);
  e.hash = hash;
  e.mode = mode;
  e.new_mode = new_mode;
  ++table.count;
  return 1;
}

int add_query_transform(const char* query, const char* replacement, uint32_t mode, uint32_t new_mode) {
  return add_query_transform(query_transforms, query, replacement, mode, new_mode);
}

const QueryTransform* apply_query_transform(const QueryTransformTable& table, const char* text, uint32_t mode) {
  if (!text || !table.created || table.capacity == 0) return nullptr;
  if (strnlen(text, kMaxTransformText + 1) > kMaxTransformText) return nullptr;
  char normalised[kMaxTransformText + 1];
  if (normalise_transform_key(text, normalised, sizeof normalised) > kTransformKeySize) return nullptr;
  char key[kTransformKeySize];
  if (!make_key(normalised, mode, key)) return nullptr;
  const uint32_t hash = term_hash1(key);
  uint32_t i = hash % table.capacity;
  for (uint32_t probes = 0; probes < table.capacity; ++probes) {
    const QueryTransform& e = table.entries[i];
    if (e.hash == 0) return nullptr;
    if (e.hash == hash && e.mode == mode && strcmp(e.key, key) == 0) return &e;
    i = (i + 1) % table.capacity;
  }
  return nullptr;
}

const QueryTransform* apply_query_transform(const char* text, uint32_t mode) {
  return apply_query_transform(query_transforms, text, mode);
}

void free_query_transforms(QueryTransformTable& table) {
  free(table.entries);
  table = QueryTransformTable{};
}

}  // namespace vorlane::engine
