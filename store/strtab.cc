#include "store/strtab.h"

#include <cstdlib>
#include <cstring>
#include <numeric>

namespace vorlane {

namespace {

const uint32_t kStepPrimes[] = {7,  11, 13, 17, 23, 29, 31,  37,  41,  43,  53,  59,  61,  67, 71,
                                73, 83, 89, 97, 101, 103, 107, 109, 113, 127, 131, 137, 139, 149};

uint32_t key_hash(const char* key) {
  uint32_t h = 0;
  if (key[0] == '\0') return 0;  // nothing follows the NUL of an empty key
  const char* p = key + 1;
  for (;; ++p) {
    h = h * 131 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
    if (*p == '\0') break;
  }
  return h;
}

uint32_t step_of(const strtab* t, uint32_t h) { return h % t->step_mod + 1; }

// (a + k * b) mod size without overflow.
uint32_t advance(uint32_t a, uint64_t k, uint32_t b, uint32_t size) {
  return static_cast<uint32_t>((a + (k % size) * b) % size);
}

bool empty(const strtab_entry& e) { return e.value == 0; }

// Zeroes every field.
void clear(strtab* t) {
  t->size = t->step_mod = t->count = t->inserts = 0;
  t->lookups.store(0, std::memory_order_relaxed);
  t->probes.store(0, std::memory_order_relaxed);
  t->entries = nullptr;
}

// The entry where the walk from the key's home stopped: at an empty entry,
// at the key, or after count steps.
strtab_entry* walk(strtab* t, const char* key) {
  const uint32_t h = key_hash(key);
  const uint32_t step = step_of(t, h);
  uint32_t p = h % t->size;
  uint32_t probes = 1;
  for (uint32_t k = 0; k < t->count; ++k) {
    const strtab_entry& e = t->entries[p];
    if (empty(e) || strcmp(e.key, key) == 0) break;
    p = advance(p, 1, step, t->size);
    probes++;
  }
  t->probes.fetch_add(probes, std::memory_order_relaxed);
  strtab_entry* e = &t->entries[p];
  return !empty(*e) && strcmp(e->key, key) == 0 ? e : nullptr;
}

}  // namespace

uint32_t strtab_step_modulus(uint32_t size) {
  for (uint32_t p : kStepPrimes)
    if (std::gcd(p, size) == 1) return p;
  return 1;
}

int strtab_create(strtab* table, uint32_t size) {
  clear(table);
  table->size = size;
  table->step_mod = strtab_step_modulus(size);
  if (size == 0) return 1;
  table->entries = static_cast<strtab_entry*>(calloc(size, sizeof(strtab_entry)));
  if (!table->entries) {
    clear(table);
    return 0;
  }
  return 1;
}

void strtab_destroy(strtab* table) {
  if (table->entries) {
    for (uint32_t i = 0; i < table->size; ++i) free(table->entries[i].key);
    free(table->entries);
  }
  clear(table);
}

int strtab_insert(strtab* table, const char* key, uint32_t value) {
  if (table->size == 0 || !table->entries) return 0;
  table->inserts++;
  if (value == 0) return 0;
  const uint32_t h = key_hash(key);
  const uint32_t home = h % table->size;
  const uint32_t step = step_of(table, h);
  strtab_entry* e = table->entries;
  for (uint64_t s = 0; s <= table->count; ++s) {
    for (uint64_t j = s + 1; j-- > 0;) {
      const uint32_t p = advance(home, j, step, table->size);
      const uint32_t t = empty(e[p]) ? 1 : step_of(table, key_hash(e[p].key));
      const uint32_t q = advance(p, s - j, t, table->size);
      if (!empty(e[q])) continue;
      char* copy = strdup(key);
      if (!copy) return 0;
      if (q != p) e[q] = e[p];
      e[p].key = copy;
      e[p].value = value;
      table->count++;
      return 1;
    }
  }
  return 0;
}

uint32_t strtab_lookup(strtab* table, const char* key) {
  if (table->size == 0 || !table->entries) return 0;
  table->lookups.fetch_add(1, std::memory_order_relaxed);
  strtab_entry* e = walk(table, key);
  return e ? e->value : 0;
}

uint32_t strtab_replace(strtab* table, const char* key, uint32_t value) {
  if (table->size == 0 || !table->entries) return 0;
  table->lookups.fetch_add(1, std::memory_order_relaxed);
  strtab_entry* e = walk(table, key);
  if (!e || value == 0) return 0;
  e->value = value;
  return value;
}

}  // namespace vorlane
