// Conflation: accent folding and lower-casing of terms (conflation_tables.h),
// and the text form of it that scripts run query texts through
// (conflate_text), so that query words meet the conflated and lower-cased
// terms that indexing adds.
#pragma once

#include <cstddef>

#include "linguistics/zop_handle.h"

namespace vorlane::engine {

// Writes source through map into out, never more than size bytes with the
// NUL: the first skip bytes unchanged (a term's field prefix), then each
// byte as its expansion string when expansions (may be null) has one for
// it, else as map[byte]. The output is cut where it reaches size - 1 bytes.
// Returns 1 when a written byte differs from its source byte (an expansion
// always counts), else 0. Nothing is written when size is 0.
int conflate(const char* source, char* out, size_t size, size_t skip, const unsigned char* map,
             const char* const* expansions);

// The length conflate would give source with unlimited room.
size_t conflated_length(const char* source, size_t skip, const char* const* expansions);

// The folded form of a term (conflation map with expansions) and its
// lower-cased form (lower-case map, no expansions), past a prefix of skip
// bytes: conflate with the tables indexing uses.
int conflate_term(const char* term, char* out, size_t size, size_t skip);
int lower_term(const char* term, char* out, size_t size, size_t skip);

// What conflate_text writes: phrases (mode 1: the longest window at each
// position), words, the stop-word flag of the token passes, stems instead of
// plain words (and stemmed phrases), conflated forms, lower-cased forms.
struct ConflateFlags {
  int phrases;
  int words;
  int stopwords;
  int stems;
  int conflated;
  int lowered;
};

inline constexpr size_t kConflateTextMax = 81919;      // bytes of the text analysed
inline constexpr size_t kConflateListSize = 163840;    // the phrase and word list area
inline constexpr size_t kConflateOutputMax = 819200;   // output area for long texts

// Bytes of the output area for a text of length bytes, its NUL included:
// 20 per byte (length + 1 of them), at most 819,200, plus one.
size_t conflate_text_output_size(size_t length);

// Analyses the first kConflateTextMax bytes of text (up to its first NUL)
// and writes its phrases and words, each followed by a blank, into out:
// every string s of a list, then its conflated form when that differs, the
// lower-cased conflated form when that differs from the conflated one, and
// lower-cased s when that differs from s. With phrases set and not one
// phrase written, the words are written. list is a work area of list_size
// bytes (kConflateListSize). Every write stays inside out[0..size); when a
// form does not fit whole the output ends before it. Returns the bytes
// written; out[result] is the NUL.
size_t conflate_text_write(const char* text, size_t length, const ConflateFlags& flags, const zop_handle& handle,
                           char* out, size_t size, char* list, size_t list_size);

}  // namespace vorlane::engine
