// Link resolution: splitting URLs and making them absolute against a page's
// base URL.
//
// A URL is split into four parts, each a string in the parser's arena
// (empty when absent):
//   scheme     the leading letters with their ':', in lower case ("http:");
//   host       "//", the host name and any ":port", in lower case;
//   directory  from the first '/' of the path up to and including its last
//              '/' before any '?';
//   rest       what follows (file name and query).
// The fragment (from the last '#') is cut off first.
#pragma once

#include "engine/text/html_parser.h"

namespace vorlane::engine {

void url_split(HtmlParser* p, const char* url, const char** scheme, const char** host,
               const char** directory, const char** rest);

// The absolute form of `url` against the parser's base, as an arena string;
// the empty string when the URL is refused (a host that cannot be a web
// address). Single-label host names get the first base's domain, "/./" and
// "/../" segments are removed ("/../" never climbs above the path's root).
const char* html_resolve_url(HtmlParser* p, const char* url);

// Makes `url` (already absolute, or the page's own URL) the base. With
// `first`, the base domain is taken from its host: the part from the host's
// first '.' up to any ':' (none when the host has no '.'). An empty base
// directory counts as "/".
void html_set_base(HtmlParser* p, const char* url, bool first);

}  // namespace vorlane::engine
