// strtab: a fixed-size hash table from NUL-terminated strings to non-zero
// 32-bit values, with open addressing by double hashing and insertion by
// Brent's method (an insertion may move an existing entry further along its
// own probe sequence when that shortens the new key's). It never grows and
// never removes single entries. The classification rules map terms to rule
// chains with it and report its counters to scripts, so the probing below is
// kept exactly: every counter depends on it.
//
// Hash of a key: h = h * 131 + c over every character after the first, up to
// and including the terminating NUL, with c a signed byte, modulo 2^32 (the
// first character does not count; "" and one-character keys hash to 0).
// home = h mod size, step = (h mod step modulus) + 1; a key's probe sequence
// is home, home + step, home + 2 step, ... modulo size.
#pragma once

#include <atomic>
#include <cstdint>

namespace vorlane {

struct strtab_entry {
  char* key;       // owned copy
  uint32_t value;  // 0: the entry is empty
};

// Lookups may run on several threads at once (documents are classified in
// parallel) while nothing inserts or replaces: they only read the entries,
// and their two counters are atomic. Inserts, replacements, creation and
// destruction need the table to themselves.
struct strtab {
  uint32_t size = 0;                   // number of entries
  uint32_t step_mod = 0;               // first prime of the list sharing no divisor with size, else 1
  uint32_t count = 0;                  // keys stored
  uint32_t inserts = 0;                // calls of strtab_insert
  std::atomic<uint32_t> lookups{0};    // calls of strtab_lookup and strtab_replace
  std::atomic<uint32_t> probes{0};     // entries examined by lookups and replacements
  strtab_entry* entries = nullptr;
};

// 1, or 0 when the entries cannot be allocated. Size 0 gives the empty table:
// every operation on it returns 0.
int strtab_create(strtab* table, uint32_t size);
// Frees every key and the entries, and zeroes the fields.
void strtab_destroy(strtab* table);
// 1, or 0 when no place was found (or value is 0). Duplicates are not
// detected: a second insert of a key stores a second entry.
int strtab_insert(strtab* table, const char* key, uint32_t value);
// The key's value, or 0 when it is absent.
uint32_t strtab_lookup(strtab* table, const char* key);
// Stores value in the key's entry and returns it; 0 when the key is absent
// (or value is 0, which would empty the entry).
uint32_t strtab_replace(strtab* table, const char* key, uint32_t value);

// The step modulus a table of this size gets (exposed for tests).
uint32_t strtab_step_modulus(uint32_t size);

}  // namespace vorlane
