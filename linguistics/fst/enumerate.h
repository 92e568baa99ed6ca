// The class enumeration walk of the tagger and symbol numbers.
//
// apply_fst_enum walks a class net (function 60 or 61) along a coded word up
// to its TAGSEP and enumerates every class symbol that can follow, as 16-bit
// class symbol numbers: a symbol written as label byte L and k further bytes
// is (L >> 2) + 64 x k. The same number may come more than once.
#pragma once

#include <cstdint>

#include "linguistics/fst/apply.h"
#include "linguistics/fst/fsm.h"

namespace vorlane {

// Count of numbers written, or -12 (array full), -13, -16 (no TAGSEP taken
// before the input ended), -2 (damaged net), -1993.
int32_t apply_fst_enum(const uint8_t* input, uint16_t* output, int32_t output_length, int32_t net, FstFrame* frames,
                       int32_t frame_count, const FSM* fsm);

// The class symbol numbers of a coded string (label byte first, then its ESC
// bytes, whatever the coding flag says); -12 when the count reaches the
// array length, also with the last symbol.
int32_t fst_decode_symbols(const uint8_t* coded, uint16_t* output, int32_t output_length, const FSM* fsm);

}  // namespace vorlane
