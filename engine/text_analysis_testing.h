// Helpers for the tests of the token passes and the writers.
#pragma once

#include <string>
#include <vector>

#include "engine/parse_state.h"
#include "engine/stopwords.h"
#include "engine/token_passes.h"

namespace vorlane::engine::testing_text {

// Tokens as "type:text" (type '0' for untyped, text the raw bytes).
inline std::vector<std::string> describe(const ParseState& s) {
  std::vector<std::string> out;
  for (uint32_t i = 0; i < s.count; ++i) {
    const ParseToken& t = s.tokens[i];
    out.push_back(std::string(1, t.type ? t.type : '0') + ":" + std::string(t.start, t.length));
  }
  return out;
}

// The strings of a NUL-terminated list, up to the first empty one.
inline std::vector<std::string> strings_of(const char* area, size_t size) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < size && area[at]) {
    std::string s(area + at);
    out.push_back(s);
    at += s.size() + 1;
  }
  return out;
}

// An English handle with a few stop words, keyed by a stemmer of its own.
inline const zop_handle& english() {
  static const int stemmer = 0;
  static const zop_handle h = [] {
    zop_handle h;
    h.stemmer = &stemmer;
    h.stem_option = 7;
    std::snprintf(h.name, sizeof h.name, "english");
    const char* words[] = {"the", "of", "and", "a", "in", "to", "for", "is", nullptr};
    BuildStopWordTable(h, words);
    return h;
  }();
  return h;
}

inline std::vector<std::string> tokens_of(const char* text, int stopwords = 1) {
  ParseState s = TokenizeText(text, nullptr, stopwords, english());
  std::vector<std::string> d = describe(s);
  FreeParseState(s);
  return d;
}

}  // namespace vorlane::engine::testing_text
