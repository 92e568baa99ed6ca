// Stems of words through the language's stemming transducer and client
// dictionary (reached through engine/analysis/ling_calls.h).
//
// Stem options: 0 no stemming (lower-cased words); 3 every stem, the
// compound parts of stems that have any, and the word itself when it is not
// one of them; 7 one stem (the dictionary's shortest entry, else the
// transducer's shortest stem), where capitalised words and words with inner
// capitals stay as written, except capitalised words of the language named
// "german"; 10806 as 7 without the case exceptions, a word that is its own
// result lower-cased (the second variant of phrases).
//
// Linguistic errors never fail a text: the word stands in for its stem and
// the status is logged. Nothing is written past the room given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/analysis/parse_state.h"
#include "linguistics/zop_handle.h"

namespace vorlane::engine {

inline constexpr int kStemNone = 0;
inline constexpr int kStemAll = 3;
inline constexpr int kStemShortest = 7;
inline constexpr int kStemShortestFolded = 10806;

// Words longer than this give one empty stem.
inline constexpr int32_t kMaxStemmedWord = 50;

// Stems one word into out (size bytes): NUL-terminated strings, *count of
// them. Returns the position of the last NUL written; null when out is null
// or nothing fitted (then *count is 0). dictionary null means the handle's
// client dictionary.
char* PrintWordStemMulti(const ParseToken& token, char* out, int32_t size, int* count, const zop_handle& handle,
                         int option, const void* dictionary, int32_t reserved);

// The room WordOrStem gives a stem (less when less is left).
inline constexpr int32_t kStemRoom = 200;

// One word of a phrase: option 0 the token lower-cased, else its stem with a
// room of kStemRoom bytes (less when less is left). Returns the position of the NUL
// written, or null when it does not fit in room.
char* WordOrStem(const ParseToken& token, char* out, ptrdiff_t room, const zop_handle& handle, int option);

// Writes the stems of the text's words (numbers unchanged), all stems of
// each word when all is non-zero, else the shortest; ends the list with NUL
// bytes and never writes past out + size. Returns the number of strings.
int StemTokens(const ParseState& state, char* out, size_t size, const zop_handle& handle, int all);
inline int StemTokensDefault(const ParseState& state, char* out, size_t size, const zop_handle& handle) {
  return StemTokens(state, out, size, handle, 0);
}

}  // namespace vorlane::engine
