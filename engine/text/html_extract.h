// HTML text extraction: one forgiving, character-level pass over a page.
//
// The scanner knows some thirty tags, collapses white space, decodes
// character entities, keeps text out of scripts, styles and regions marked
// "<!--stopindex-->" ... "<!--startindex-->", and collects the title, a
// summary (at most 1,023 bytes), the body text (never longer than the page),
// meta texts and alternative texts, links and images resolved against the
// base URL, and http-equiv headers. Malformed markup is read as text; lack of
// room in the arena shortens strings and lists silently.
#pragma once

#include "engine/text/html_parser.h"
#include "engine/text/parse_result.h"

namespace vorlane::engine {

// Parses `text` (read up to its first NUL) against the page's URL `base` and
// fills `result`, whose release function must then be called. False, with
// nothing to release, when the arena cannot be allocated.
bool parse_html_text(const char* text, const char* base, ParseResult* result);

// The pass itself, over a parser set up by html_parser_init.
void html_scan(HtmlParser* p);

}  // namespace vorlane::engine
