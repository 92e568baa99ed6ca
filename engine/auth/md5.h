// MD5 message digest (RFC 1321), the engine's own routines.
//
// Usage: md5_init, then md5_update as often as needed, then md5_final, which
// writes the 16-byte digest and clears the context.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

struct md5_context {
  uint32_t state[4];    // A, B, C, D
  uint32_t count[2];    // number of bits hashed, modulo 2^64, low word first
  uint8_t buffer[64];   // input not yet transformed
};

void md5_init(md5_context* context);
void md5_update(md5_context* context, const void* input, size_t length);
void md5_final(uint8_t digest[16], md5_context* context);

// The basic transform: one 64-byte block into the state.
void md5_transform(uint32_t state[4], const uint8_t block[64]);
// Words to little-endian bytes (length a multiple of 4) and back.
void md5_encode(uint8_t* output, const uint32_t* input, size_t length);
void md5_decode(uint32_t* output, const uint8_t* input, size_t length);

}  // namespace vorlane::engine
