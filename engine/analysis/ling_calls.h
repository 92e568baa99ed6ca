// The engine's doors into the linguistic library, as one table of function
// pointers: loading a language's resource set, phrase extraction, stem
// lookup through a transducer, client-dictionary lookup and the texts of the
// library's status codes.
//
// The table starts out pointing at the library's own functions. Tests swap
// in crafted answers (a stemmer that returns chosen stems with markup, a
// failing lookup) to drive the token writers through every path, then put
// the table back. Swap it only while no text is being analysed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "linguistics/zop_handle.h"

namespace vorlane::engine {

struct LingCalls {
  // 1 with *out filled, or 0 when the resource set can't be loaded.
  int (*lang_init)(zop_handle* out, const char* path);
  // Writes the phrases of text as NUL-terminated strings into at most
  // out_size bytes; returns the position after the last one.
  char* (*get_phrases)(const char* text, char* out, size_t out_size, zop_handle handle);
  // fst_lookup: the number of results written as NUL-terminated strings, or
  // a negative status.
  int32_t (*lookup)(const char* word, int32_t length, char* output, int32_t size, int32_t mode, const void* fsm,
                    const void* dictionary, int32_t reserved);
  // dict_lookup: the number of matching entries, or a negative status.
  int32_t (*dict_lookup)(const char* word, const char* tag_filter, char* output, int32_t size, int32_t flags,
                         int32_t unused, const void* dictionary);
  // fst_error_message: the text of a status into buffer.
  int32_t (*error_message)(int32_t code, char* buffer, int32_t size);
};

extern LingCalls ling_calls;
extern const LingCalls ling_calls_default;

// Lookup modes of the stemming transducer and the flag of dict_lookup that
// asks for the stem part of an entry.
inline constexpr int32_t kLookupAllStems = 3;
inline constexpr int32_t kLookupShortestStem = 7;
inline constexpr int32_t kDictStemPart = 2;
inline constexpr int32_t kWholeWord = 0x7FFFFFFF;
inline constexpr int32_t kStatusNotInAlphabet = -10;

}  // namespace vorlane::engine
