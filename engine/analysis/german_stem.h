// Stemming one word through a language's stemming transducer, with the rule
// of the language named "german": a word that begins with a capital letter
// is stemmed lower-cased and its stem capitalised again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "linguistics/zop_handle.h"

namespace vorlane::engine {

// Bytes of a German word that are lower-cased and stemmed.
inline constexpr size_t kGermanStemPrefix = 50;

// Stems word (to its NUL) with option as the lookup mode into out (size
// bytes, at least 1): the result strings of the lookup, or the word itself,
// cut to size - 1 bytes, when there is no stem (an unknown language, whose
// handle has no stemmer, gives the word). language decides the German rule
// even when the handle is another language's. Returns the lookup's count.
int32_t german_stem(const char* word, char* out, size_t size, const zop_handle& handle, int32_t option,
                    const char* language);

}  // namespace vorlane::engine
