// The result record of the HTML and plain-text extractors.
//
// Every string lives in the arena (for plain text: the body buffer). The
// caller reads what it needs, then calls release(result), which frees the
// arena; every pointer of the record is invalid afterwards. Missing strings
// (the third element of a link, the fifth of an image, a link without text)
// are null.
#pragma once

#include <cstddef>

namespace vorlane::engine {

struct ParseResult {
  char* arena_base;
  size_t arena_size;
  const char* title;
  const char* summary;
  const char* body;
  int text_count;
  const char** texts;
  const char** labels;
  int link_count;
  const char** link_urls;
  const char** link_texts;
  const char** link_thirds;
  int image_count;
  const char** image_urls;
  const char** image_alts;
  int* image_widths;
  int* image_heights;
  const char** image_fifths;
  int header_count;
  const char** header_names;
  const char** header_contents;
  void (*release)(ParseResult* result);
};

}  // namespace vorlane::engine
