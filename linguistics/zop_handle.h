// The by-value description of one language resource set that the engine keeps
// per language and passes back for stemming and phrase extraction.
//
// Handles are compared field by field (never by memcmp over padding). A
// handle whose stemmer is null names no language.
#pragma once

#include <cstdint>
#include <cstring>

namespace vorlane {

struct zop_handle {
  const void* stemmer = nullptr;     // the set's stemming transducer; the set's key
  const void* dictionary = nullptr;  // client dictionary or null
  int32_t stem_option = 0;           // lookup mode for stemming: 3, 5 or 7
  char name[16] = {};                // base name, NUL-terminated in its last byte
};

inline bool zop_handle_equal(const zop_handle& a, const zop_handle& b) {
  return a.stemmer == b.stemmer && a.dictionary == b.dictionary && a.stem_option == b.stem_option &&
         std::memcmp(a.name, b.name, sizeof a.name) == 0;
}

}  // namespace vorlane
