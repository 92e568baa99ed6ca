#include "store/term_hash.h"

namespace vorlane {

namespace {
constexpr uint32_t kRule1Mult = 129;
constexpr uint32_t kRule1Add = 987654321u;
constexpr uint32_t kRule2Mult = 65599;

inline uint32_t finish(uint32_t h) {
  h &= kHashMask;
  return h == 0 ? 1 : h;
}
}  // namespace

uint32_t term_hash1(const char* text) {
  uint32_t h = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    h = h * kRule1Mult + *p + kRule1Add;
  return finish(h);
}

uint32_t term_hash2(const char* text) {
  uint32_t h = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    h = h * kRule2Mult + *p;
  return finish(h);
}

uint64_t term_hash_pair(const char* text) {
  uint32_t h1 = 0, h2 = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    h1 = h1 * kRule1Mult + *p + kRule1Add;
    h2 = h2 * kRule2Mult + *p;
  }
  return pair_to_u64(hash_pair{finish(h1), finish(h2)});
}

int hash_pair_cmp(const hash_pair* a, const hash_pair* b) {
  if (a == nullptr) return b == nullptr ? 0 : 1;
  if (b == nullptr) return -1;
  uint32_t a1 = a->hash1 & kHashMask, b1 = b->hash1 & kHashMask;
  if (a1 != b1) return static_cast<int32_t>(a1 - b1);
  return static_cast<int32_t>((a->hash2 & kHashMask) - (b->hash2 & kHashMask));
}

int hash_pair_qsort_cmp(const void* pa, const void* pb) {
  return hash_pair_cmp(*static_cast<const hash_pair* const*>(pa),
                       *static_cast<const hash_pair* const*>(pb));
}

}  // namespace vorlane
