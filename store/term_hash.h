// Term hashes: the two 31-bit string hashes that identify every term, phrase,
// site and catalog key of the index store, and the order of hash pairs that
// every sorted structure of the store (term files, sparse directory, catalog,
// merge) uses.
//
// All functions are pure and thread-safe and allocate nothing.
#pragma once

#include <cstdint>

namespace vorlane {

// A hash pair as it lies in memory and in files: hash1, then hash2. Both are
// 1..0x7FFFFFFF when made here; in files bit 31 of either word may carry a
// flag, which every comparison masks off.
struct hash_pair {
  uint32_t hash1;
  uint32_t hash2;
};

inline constexpr uint32_t kHashMask = 0x7FFFFFFFu;

// First rule: h = h * 129 + c + 987654321 over the unsigned bytes, modulo
// 2^32; then the low 31 bits, 0 becoming 1.
uint32_t term_hash1(const char* text);
// Second rule: h = h * 65599 + c over the unsigned bytes, modulo 2^32; then
// the low 31 bits, 0 becoming 1.
uint32_t term_hash2(const char* text);

// Both hashes of a NUL-terminated string in one pass, as one 64-bit value:
// hash1 in the low word, hash2 in the high word. "" gives (1, 1).
uint64_t term_hash_pair(const char* text);

// The pair form of a 64-bit pair value and back (hash1 low, hash2 high).
constexpr hash_pair pair_from_u64(uint64_t v) {
  return hash_pair{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
}
constexpr uint64_t pair_to_u64(hash_pair p) {
  return static_cast<uint64_t>(p.hash1) | (static_cast<uint64_t>(p.hash2) << 32);
}

// Order of two pairs: by hash1, then hash2, bit 31 of both ignored; the
// result is the difference of the first masked words that differ. A null pair
// sorts after every pair (null, null is 0).
int hash_pair_cmp(const hash_pair* a, const hash_pair* b);

// qsort comparator for arrays of pointers to records that begin with a pair:
// pa and pb point at array elements, each a pointer to such a record.
int hash_pair_qsort_cmp(const void* pa, const void* pb);

}  // namespace vorlane
