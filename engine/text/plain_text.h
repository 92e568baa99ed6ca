// Plain text normalisation: white space collapsed to single blanks, runs of
// a control, punctuation or space character kept to two, as the HTML
// extractor does for a page's body.
#pragma once

#include "engine/text/parse_result.h"

namespace vorlane::engine {

// Normalises `text` (read up to its first NUL) into a new body; every other
// field of the result is 0 or null, and its release function frees the
// body. False, with nothing to release, when the body cannot be allocated.
bool parse_plain_text(const char* text, ParseResult* result);

}  // namespace vorlane::engine
