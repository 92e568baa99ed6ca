// Client dictionaries: user word lists mapping a word to an analysis (an
// optional stem and bracketed tags), consulted before the transducers.
//
// A dictionary is 211 hash chains (the ELF hash of the word's bytes taken as
// unsigned); new entries go to the head of their chain. A ".usr" file holds
// one entry per line:
//   - a line ends at its first CR, LF or NUL; a TAB ends a field, and the
//     second field is the text after the last TAB;
//   - a line whose first byte is below 33 or is ';' is skipped;
//   - two fields add (word, analysis) and end the current tag section;
//   - a line "[...]" starts a tag section; any other one-field line adds
//     (line, current tag), or fails the load with -27 without one.
// Lines are read whole up to 65,536 bytes; the rest of a longer line is
// dropped (never split into entries of its own).
#pragma once

#include <cstdint>

namespace vorlane {

inline constexpr int32_t kDictChains = 211;
inline constexpr int32_t kDictLineLimit = 65536;

// Flags of dict_lookup.
inline constexpr int32_t kDictFilterTag = 1;
inline constexpr int32_t kDictStem = 2;
inline constexpr int32_t kDictTags = 4;

void* dict_create(int32_t unused1, int32_t unused2);
void dict_free(void* dictionary);
int32_t dict_add(const char* word, const char* analysis, int32_t unused, void* dictionary);
// The number of entries added, or -28, -6, -1, -3, -27.
int32_t dict_load(const char* path, int32_t unused, void* dictionary);
// The number of matching entries, each written (stem part with flag 2, tag
// part with flag 4) as one NUL-terminated string; -28, -6, -8 or -12.
int32_t dict_lookup(const char* word, const char* tag_filter, char* output, int32_t size, int32_t flags,
                    int32_t unused, const void* dictionary);

// The chain of a word.
uint32_t dict_hash(const char* word);

}  // namespace vorlane
