// Base64 with the standard alphabet of RFC 2045 and "=" padding, into
// caller-sized buffers, as the NTLM exchange carries its tokens.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

// Decodes text: leading blanks and tabs are skipped, then the run of
// alphabet characters ("=" included) up to the first other character is
// taken; data stops at the first "=". The output is NUL-ended. Returns the
// number of bytes decoded, or -1 when that number plus 4 exceeds size.
long base64_decode(const char* text, uint8_t* output, size_t size);

// Encodes n bytes; the text ends with "=" or "==" for a last group of 2 or
// 1 bytes, and a NUL. Returns the text's length, or -1 when size is below
// n + (n + 3) / 3 + 4.
long base64_encode(const uint8_t* data, size_t n, char* output, size_t size);

}  // namespace vorlane::engine
