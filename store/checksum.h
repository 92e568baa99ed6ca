// The 64-bit content checksum of a document text and its 16-digit text form.
//
// The checksum pair is two 31-bit words made by the two term-hash rules over
// the bytes of the text that are not white space, punctuation or control
// characters, so two texts that differ only in spacing and punctuation have
// the same checksum. Bytes are classified by the fixed C-locale table, never
// by the process locale: 0x80-0xFF always count.
//
// All functions are pure and thread-safe and allocate nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane {

inline constexpr size_t kChecksumTextLength = 16;

// Checksum pair of length bytes (NULs included in the range, and skipped as
// control characters), as one 64-bit value: first word low, second high.
// A text with nothing but skipped bytes gives (1, 1).
uint64_t text_checksum(const void* bytes, size_t length);

// Pair from its text form: the first 8 characters give the first word, the
// next 8 the second, each character a digit ('0'..'9') or otherwise worth
// its code less 87 ('a'..'f' give 10..15). Nothing is validated: callers
// check the length and bit 31 of both words. A text shorter than 16
// characters is read up to its NUL only; the missing characters count 0.
uint64_t parse_checksum(const char* text);

// Writes the 16 lower-case hexadecimal digits of a pair and a NUL into out
// (at least 17 bytes): the first word, then the second; both as 0 when the
// first word is 0.
void format_checksum(uint64_t pair, char* out);

}  // namespace vorlane
