// Phrases of a typed text: windows of 2, 3 and 4 words, names such as "C++"
// and possessives, written as identifiers that are hashed into terms.
//
// A window gathers up to four entries from a token on: word tokens, and glue
// of ".", "/" or "/~" as a stop-word placeholder of no length; a hard stop
// ends it. Patterns: 4 words (word, stop, stop, word), 3 words (the second a
// stop word), 2 words (not both stop words, both with text). An entry of type
// 's' after the first is written after a '.'.
//
// Mode 0 (document indexing) writes every qualifying window at every
// position, and with stemming a second variant (option 10806) of each
// phrase that holds a 'C' or 'S' word. Mode 1 (queries, conflation) writes at
// each position only the longest window and skips the positions it covered.
#pragma once

#include <cstddef>

#include "engine/analysis/parse_state.h"
#include "linguistics/zop_handle.h"

namespace vorlane::engine {

// Writes the phrases as NUL-terminated strings and ends the list with NUL
// bytes, never past out + size. option is the stem option of the words (0 or
// 7), mode 0 or 1. Returns the number of phrases written.
int PhraseTokens(const ParseState& state, char* out, size_t size, const zop_handle& handle, int option, int mode);

}  // namespace vorlane::engine
