// Helpers for the tests of the token passes and the writers.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/analysis/parse_state.h"
#include "engine/analysis/phrase_output.h"
#include "engine/analysis/stem_output.h"
#include "engine/analysis/stopwords.h"
#include "engine/analysis/token_passes.h"

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

// The stems StemTokens writes for `text` into an area of `size` bytes (all
// stems or the shortest), checked against the count it returns.
inline std::vector<std::string> stems_of(const zop_handle& h, const char* text, int all, size_t size) {
  ParseState s = TokenizeText(text, nullptr, 1, h);
  std::vector<char> out(size);
  int n = StemTokens(s, out.data(), size, h, all);
  FreeParseState(s);
  std::vector<std::string> got = strings_of(out.data(), size);
  EXPECT_EQ(static_cast<int>(got.size()), n);
  return got;
}

// Likewise the phrases PhraseTokens writes.
inline std::vector<std::string> phrases_of(const zop_handle& h, const char* text, int option, int mode,
                                           size_t size) {
  ParseState s = TokenizeText(text, nullptr, 1, h);
  std::vector<char> out(size);
  int n = PhraseTokens(s, out.data(), size, h, option, mode);
  FreeParseState(s);
  std::vector<std::string> got = strings_of(out.data(), size);
  EXPECT_EQ(static_cast<int>(got.size()), n);
  return got;
}

inline std::vector<std::string> tokens_of(const char* text, int stopwords = 1) {
  ParseState s = TokenizeText(text, nullptr, stopwords, english());
  std::vector<std::string> d = describe(s);
  FreeParseState(s);
  return d;
}

}  // namespace vorlane::engine::testing_text

#include <cstring>
#include <map>

#include "engine/analysis/ling_calls.h"

namespace vorlane::engine::testing_text {

// Crafted linguistic answers: stems per word and lookup mode, client
// dictionary entries, forced statuses. Installed into ling_calls for the life
// of the object.
struct FakeLinguistics {
  // word -> results written by the all-stems (3) and shortest (7) lookups.
  static inline std::map<std::string, std::vector<std::string>> all_stems;
  static inline std::map<std::string, std::string> shortest;
  static inline std::map<std::string, std::vector<std::string>> dictionary;
  static inline std::map<std::string, int32_t> status;  // word -> negative status
  static inline std::vector<std::string> looked_up;      // "mode:word"

  FakeLinguistics() {
    all_stems.clear();
    shortest.clear();
    dictionary.clear();
    status.clear();
    looked_up.clear();
    ling_calls.lookup = lookup;
    ling_calls.dict_lookup = dict_lookup;
    ling_calls.error_message = error_message;
  }
  ~FakeLinguistics() { ling_calls = ling_calls_default; }

  static int32_t put(const std::vector<std::string>& results, char* output, int32_t size) {
    int32_t at = 0;
    for (const auto& r : results) {
      if (at + static_cast<int32_t>(r.size()) + 1 > size) return -12;
      memcpy(output + at, r.c_str(), r.size() + 1);
      at += static_cast<int32_t>(r.size()) + 1;
    }
    return static_cast<int32_t>(results.size());
  }

  static int32_t lookup(const char* word, int32_t, char* output, int32_t size, int32_t mode, const void*,
                        const void*, int32_t) {
    looked_up.push_back(std::to_string(mode) + ":" + word);
    if (auto s = status.find(word); s != status.end()) return s->second;
    if (mode == 3) {
      auto f = all_stems.find(word);
      return f == all_stems.end() ? 0 : put(f->second, output, size);
    }
    auto f = shortest.find(word);
    return f == shortest.end() ? 0 : put({f->second}, output, size);
  }

  static int32_t dict_lookup(const char* word, const char*, char* output, int32_t size, int32_t, int32_t,
                             const void*) {
    looked_up.push_back(std::string("dict:") + word);
    auto f = dictionary.find(word);
    if (f == dictionary.end()) return 0;
    if (f->second.size() == 1 && f->second[0] == "!") return -6;
    return put(f->second, output, size);
  }

  static int32_t error_message(int32_t code, char* buffer, int32_t size) {
    snprintf(buffer, static_cast<size_t>(size), "status text %d", code);
    return 0;
  }
};

}  // namespace vorlane::engine::testing_text
