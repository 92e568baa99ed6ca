// Character coding: between text and the coded strings that nets read.
//
// A coded string is a NUL-terminated sequence of symbols. A symbol is a label
// byte (at or above alphabase) with 0 or more ESC bytes, which follow the
// label byte when coding flag 0x80 is set and precede it otherwise. Symbol
// number = (label byte - alphabase) / 4 + ESC bytes x ESC step. A tag is
// written between two TAGSEP bytes; the end symbol (when the FSM has one)
// ends a word. Codes: -10 a character or tag outside the alphabet, -12 the
// output does not fit, -14 a tag specifier without its closing bracket.
#pragma once

#include <cstdint>

#include "linguistics/fst/fsm.h"

namespace vorlane {

// Encodes up to length bytes of word (a NUL ends it sooner) into output.
// With tags_allowed a tag name between '[' and ']' (at most 61 characters)
// is a tag. Appends the end symbol and a TAGSEP when asked, then a NUL.
// Returns the coded length (bytes before the NUL).
int32_t fst_encode(const char* word, int32_t length, uint8_t* output, int32_t size, bool tags_allowed,
                   bool append_end, bool append_tagsep, const FSM* fsm);

// The grouper's tag sequences: for k in 0..count-1 the string at index
// start + k of names (consecutive NUL-terminated strings) is a tag name,
// except that a string beginning with '_' sets flags_b[start + k] and
// flags_a[start + k] and an empty one sets flags_a[start + k] (either flag
// array may be null). The tag names are written after one TAGSEP, then the
// end symbol and a NUL. Returns the coded length, -10 or -12.
int32_t fst_encode_tokens(const char* names, int32_t count, int32_t start, uint8_t* output, int32_t size,
                          uint8_t* flags_a, uint8_t* flags_b, const FSM* fsm);

// Decodes a coded string into text, each tag as its name between brackets
// ("???" for a code unknown to the tag table). At the end symbol: stops when
// stop_at_end, else writes a NUL as a separator. Returns the length written
// (before the final NUL), -12 when it does not fit, -2 for a symbol that the
// character table does not hold. The unused argument is kept for callers.
int32_t fst_decode(const uint8_t* coded, char* output, int32_t size, int32_t unused, bool stop_at_end,
                   const FSM* fsm);

// The length fst_decode would produce without stopping at the end symbol.
int32_t fst_decoded_length(const uint8_t* coded, const FSM* fsm);

}  // namespace vorlane
