// Loading a language resource set for the tests that run on real linguistic
// data: the build's English set, or a set the test writes.
#pragma once

#include <filesystem>
#include <string>

#include "engine/analysis/ling_calls.h"
#include "engine/analysis/stopwords.h"
#include "engine/testing/test_language.h"

namespace vorlane::engine::testing_sets {

// The set at `base` (its base path, "…/english") with the stop words `stop`
// (a list ending in null); a handle with a null stemmer when the set was not
// built or does not load.
inline zop_handle load_set(const std::string& base, const char* const* stop) {
  zop_handle h;
  if (!std::filesystem::exists(base + ".hmm") || ling_calls.lang_init(&h, base.c_str()) != 1) return zop_handle{};
  BuildStopWordTable(h, stop);
  return h;
}

// The tests' own small set (test_language.h) written at `base` and loaded
// into *h with the stop words "the", "of" and "and"; false with a reason
// when it cannot be.
inline bool load_test_set(const std::string& base, zop_handle* h, std::string* error) {
  if (!write_test_language(base, error)) return false;
  if (ling_calls.lang_init(h, base.c_str()) != 1) {
    *error = "lang_init failed for " + base;
    return false;
  }
  static const char* const stop[] = {"the", "of", "and", nullptr};
  BuildStopWordTable(*h, stop);
  return true;
}

}  // namespace vorlane::engine::testing_sets
