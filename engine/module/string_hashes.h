// Hashes and measures of script strings that let scripts compute the keys the
// index store uses (sorn.hash2, sorn.dirdepth).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

// Both term-hash rules over all length bytes (unsigned, NULs included):
// h1 = h1 * 129 + c + 987654321 and h2 = h2 * 65599 + c modulo 2^32, both from
// 0, each masked to 31 bits with 0 becoming 1. One 64-bit value, h1 in the low
// word. For a text without NULs this is its term hash pair.
uint64_t hash2_string(const void* bytes, size_t length);

// The depth of a URL: the '/' characters from the start up to the first '?'
// (or the end), less the two after the scheme. "" gives -2.
int dir_depth(const char* url);

}  // namespace vorlane::engine
