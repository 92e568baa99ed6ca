// The character entity table of the HTML extractor.
//
// 157 entries {byte, name}, searched in order with an exact, case-sensitive
// name compare; the first match wins. The Latin-1 names give their ISO 8859-1
// byte; the typographic names give their Windows-1252 byte.
#pragma once

#include <cstddef>

namespace vorlane::engine {

struct HtmlEntity {
  unsigned char value;
  const char* name;
};

inline constexpr int kHtmlEntityCount = 157;
extern const HtmlEntity html_entity_table[kHtmlEntityCount];

// The byte of the entity named name[0, size), or -1 when the table has no
// such name.
int html_entity_value(const char* name, size_t size);

}  // namespace vorlane::engine
