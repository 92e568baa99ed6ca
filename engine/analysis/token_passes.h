// The token passes: every text the engine indexes or queries is cut into
// typed tokens by one fixed pipeline, so that a query word and an indexed
// word are cut and typed the same way.
//
//   ParseTokens      words and separator runs, typed ('w' 'C' 'S' 'n' 's')
//   ParseHardStop    ". " after a number or a lower-case word ends a sentence
//   ParseGlue        separators that bind neighbours into one compound
//   ParseBreak       remaining separators (and the end token) become ' '
//   ParseUnHardStop  hard stops become soft breaks (stop-word flag 0 only)
//
// Character classes are the fixed C-locale table (store/cclass.h), never the
// process locale. A byte that is a control, punctuation or white-space
// character is a separator byte; every other byte, NUL excepted, is a word
// byte. The passes read the stop-word tables and nothing else global, so any
// number of threads may tokenise different texts at once.
#pragma once

#include <cstddef>

#include "engine/analysis/parse_state.h"
#include "linguistics/zop_handle.h"

namespace vorlane::engine {

// Runs the pipeline over a NUL-terminated text. With given null a new state
// is made (free it with FreeParseState); with given its array and text are
// used (the text argument is ignored) and tokens are appended. The stop-word
// flag set types stop words of the handle's language 's' and keeps hard
// stops; 0 types no stop words and turns every hard stop into a soft break.
ParseState TokenizeText(const char* text, ParseState* given, int stopwords, const zop_handle& handle);

// The same over a text given with a length (it may lack a NUL or hold one):
// the state owns a NUL-terminated copy of it, which ends at the first NUL.
ParseState TokenizeTextCopy(const char* text, size_t length, int stopwords, const zop_handle& handle);

ParseState ParseTokens(const char* line_start, ParseState state, int stopwords, const zop_handle& handle);
// The type of a separator run: '|' or 0 (untyped); may lengthen the run by
// the two bytes of a bullet ("\no ").
char ClassifySeparator(const char* span, int32_t* length);
void ParseHardStop(ParseState state);
void ParseGlue(ParseState state);
void ParseBreak(ParseState state);
void ParseUnHardStop(ParseState state);

// Writes the word tokens (stop words included) as NUL-terminated strings,
// lower-cased when asked, and ends the list with NUL bytes; never writes
// past out + size. Returns the number of words written.
int WordTokens(const ParseState& state, char* out, size_t size, int lowercase);

}  // namespace vorlane::engine
