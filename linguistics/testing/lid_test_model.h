// Test helper: a tiny language model whose scores are easy to work out by
// hand, and writers of init and language files in a temporary directory.
//
// Languages (file order): 0 trigram English (code 1), 1 trigram German
// (code 5), 2 character model Japanese (code 12); low/top/mid 0/1000/500,
// 0/1000/500 and -10/1000/100. Keys, ascending:
//   'a' (0x002061): entry 2 scores 30      't' (0x002074): entry 2 scores 50
//   "cat" (0x636174): entry 0 scores 400   "he " (0x686520): entry 0 scores 600
//   "the" (0x746865): entry 0 scores 800, entry 1 scores 100
#pragma once

#include <fstream>
#include <string>

#include "linguistics/lid/lid_language_file.h"

namespace vorlane::lid_test {

inline lid_language_data tiny_model() {
  lid_language_data d;
  d.languages = {
      {1, 0, 1000, 500, 1, 1},
      {1, 0, 1000, 500, 5, 1},
      {2, -10, 1000, 100, 12, 1},
  };
  lid_ngram_table& t = d.ngrams;
  t.keys = {0x002061, 0x002074, 0x636174, 0x686520, 0x746865};
  t.run_length = {1, 1, 1, 1, 2};
  t.run_start = {0, 1, 2, 3, 4};
  t.entries = {{30, 2}, {50, 2}, {400, 0}, {600, 0}, {800, 0}, {100, 1}};
  return d;
}

inline void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace vorlane::lid_test
