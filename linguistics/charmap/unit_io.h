// Reading and writing 16-bit units in byte buffers that may be unaligned.
#pragma once

#include <cstdint>
#include <cstring>

namespace vorlane::charmap {

inline void put_unit(char* dst, int index, uint16_t unit) {
  std::memcpy(dst + 2 * index, &unit, 2);  // host order
}

inline uint16_t get_be(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint16_t get_le(const unsigned char* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }

}  // namespace vorlane::charmap
