// For the tests of the lookup memos: the analysis of real English text (the
// plain-text sources of the Python library reference from python3.11-doc)
// through the default English resource set, as lists of strings that can be
// compared: tokens, phrases in both modes, all and shortest stems, words,
// and the resource set's own phrases line by line.
#pragma once

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/analysis/ling_calls.h"
#include "engine/analysis/phrase_output.h"
#include "engine/analysis/stem_output.h"
#include "engine/analysis/stopwords.h"
#include "engine/testing/language_sets.h"
#include "engine/testing/text_analysis_testing.h"
#include "engine/analysis/token_passes.h"

namespace vorlane::engine::testing_text {

struct Analysis {
  std::vector<std::string> tokens, phrases0, phrases1, stems_all, stems_shortest, words, zop_phrases;
  int counts[5] = {};
  bool operator==(const Analysis&) const = default;
};

// Up to max_bytes of documents, smallest file names first; empty when the
// documentation is not installed.
inline std::vector<std::string> library_doc_texts(size_t max_bytes) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator("/usr/share/doc/python3.11/html/_sources/library", ec))
    if (e.is_regular_file() && e.path().extension() == ".txt") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<std::string> out;
  size_t total = 0;
  for (const auto& f : files) {
    if (total >= max_bytes) break;
    std::ifstream in(f, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    if (ss.str().empty()) continue;
    total += ss.str().size();
    out.push_back(ss.str());
  }
  return out;
}

// The default English resource set with a few stop words, or a handle
// without a stemmer when the set was not built.
inline zop_handle english_set(const std::string& path) {
  static const char* const stop[] = {"a",  "an", "and", "are", "as",   "at",  "be",   "by", "for",  "from", "in",
                                     "is", "it", "of",  "on",  "or",   "that", "the", "this", "to", "with", nullptr};
  static const zop_handle loaded = testing_sets::load_set(path, stop);
  return loaded;
}

inline Analysis analyse(const std::string& text, const zop_handle& h) {
  Analysis a;
  ParseState s = TokenizeText(text.c_str(), nullptr, 1, h);
  a.tokens = describe(s);
  std::vector<char> area(text.size() * 8 + 64);
  a.counts[0] = PhraseTokens(s, area.data(), area.size(), h, kStemShortest, 0);
  a.phrases0 = strings_of(area.data(), area.size());
  a.counts[1] = PhraseTokens(s, area.data(), area.size(), h, kStemShortest, 1);
  a.phrases1 = strings_of(area.data(), area.size());
  a.counts[2] = StemTokens(s, area.data(), area.size(), h, 1);
  a.stems_all = strings_of(area.data(), area.size());
  a.counts[3] = StemTokens(s, area.data(), area.size(), h, 0);
  a.stems_shortest = strings_of(area.data(), area.size());
  a.counts[4] = WordTokens(s, area.data(), area.size(), 1);
  a.words = strings_of(area.data(), area.size());
  FreeParseState(s);
  // The resource set's tokenizer, tagger and grouper, on the first lines.
  std::istringstream lines(text);
  std::string line;
  char phrases[4096];
  for (int k = 0; k < 40 && std::getline(lines, line); ++k) {
    char* end = ling_calls.get_phrases(line.c_str(), phrases, sizeof phrases, h);
    a.zop_phrases.emplace_back(phrases, end && end > phrases ? static_cast<size_t>(end - phrases) : 0);
  }
  return a;
}

}  // namespace vorlane::engine::testing_text
