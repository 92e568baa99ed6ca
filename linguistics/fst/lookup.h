// The lookup interface: words in, analyses out.
//
// fst_lookup encodes a word, picks the net and walk of the lookup mode,
// supplies the walk's lookup buffer (frames and coded bytes) and grows it
// until the walk fits, and writes the results into the output as
// consecutive NUL-terminated strings. The walks' results for words of up to
// 64 bytes are remembered in the FSM's memo (lookup_memo.h), so a word seen
// before costs a hash lookup and a copy of the bytes the walk wrote.
//
// Modes: 2 word lookup (function 12, all analyses, client dictionary first
// with flags 6, tags allowed in the word); 3 stemming (function 27, all
// stems, dictionary first with flags 2); 5 the first stem; 7 the shortest
// stem; 8 inverse lookup (function 23, else 12; tags allowed); 9 inverse
// stemming (function 27); 11 the tokenizer's first token (function 28).
// Forward modes append the end symbol. Any other mode: -11.
//
// A stemmer file may carry a guesser net (function kFstStemGuesser) that
// relates words outside its lexicon to stems by regular endings: modes 3, 5
// and 7 walk it only when the stemmer's own net has no stem for the word,
// so a word the lexicon knows keeps exactly the lexicon's stems.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane {

inline constexpr int32_t kFstWholeWord = 0x7FFFFFFF;
inline constexpr int32_t kLookupFrames = 100;
inline constexpr int32_t kFstStemGuesser = 29;
inline constexpr int32_t kLookupCoded = 256;
// Growth of the lookup buffer stops here (the walk's code is returned).
inline constexpr int64_t kLookupMaxFrames = int64_t{1} << 20;
inline constexpr int64_t kLookupMaxCoded = int64_t{1} << 24;

int32_t fst_lookup(const char* word, int32_t length, char* output, int32_t size, int32_t mode, const void* fsm,
                   const void* dictionary, int32_t reserved);
int32_t fst_lookup_word(const char* word, char* output, int32_t size, int32_t mode, const void* fsm);

// Tokens of a coded input through function 28 (partial matches): all = 0
// the first token, 1 every token. Tokens go to the first half of the output
// (rounded up), the second half is the walk's coded output. The number of
// tokens, 0 when the only token is empty, -15 when nothing matched, -11
// without function 28 or for another flag, or the walk's code.
int32_t fst_tokenize(const uint8_t* coded, char* output, int32_t size, int32_t* offsets, int32_t offsets_length,
                     int32_t all, const void* fsm);

// For each offset into the coded string, the number of its bytes before the
// offset that are not ESC (the character position); offsets past the string
// count to its end. Returns count.
int32_t fst_char_offsets(const int32_t* offsets, int32_t count, int32_t* output, const uint8_t* coded,
                         const void* fsm);

// The lookup buffer sizes for a word of the given length: the default, or
// length frames and 3 x length coded bytes for 129 to 0x7FFFFFFE.
void fst_lookup_area(int32_t length, int64_t* frames, int64_t* coded);

}  // namespace vorlane
