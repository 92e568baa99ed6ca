// Random texts through the token passes and every writer, into areas of 1 to
// 600 bytes allocated to their exact size (so that the address sanitizer sees
// any overrun) with canary bytes checked after each call.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "engine/analysis/ling_calls.h"
#include "engine/analysis/phrase_output.h"
#include "engine/analysis/stem_output.h"
#include "engine/testing/text_analysis_testing.h"
#include "engine/analysis/token_passes.h"

namespace vorlane::engine {
namespace {

uint32_t word_hash(const char* w) {
  uint32_t h = 2166136261u;
  for (; *w; ++w) h = (h ^ static_cast<unsigned char>(*w)) * 16777619u;
  return h;
}

// Stems of pseudo-random length and markup, some longer than the word, some
// of markup only, and now and then a failure status.
int32_t random_stems(const char* word, int32_t, char* output, int32_t size, int32_t mode, const void*, const void*,
                     int32_t) {
  std::mt19937 rng(word_hash(word) + static_cast<uint32_t>(mode));
  if (rng() % 13 == 0) return -static_cast<int32_t>(1 + rng() % 28);
  int n = mode == 3 ? static_cast<int>(rng() % 4) : 1;
  static const char bytes[] = "abcdefgXYZ#-<=>_|";
  int32_t at = 0;
  for (int k = 0; k < n; ++k) {
    int len = static_cast<int>(rng() % (mode == 3 ? 60 : 90));
    if (at + len + 1 > size) return -12;
    for (int j = 0; j < len; ++j) output[at + j] = bytes[rng() % (sizeof bytes - 1)];
    output[at + len] = '\0';
    at += len + 1;
  }
  return n;
}

int32_t random_dictionary(const char* word, const char*, char* output, int32_t size, int32_t, int32_t,
                          const void*) {
  std::mt19937 rng(word_hash(word) * 7u);
  if (rng() % 3) return 0;
  return random_stems(word, 0, output, size, 3, nullptr, nullptr, 0);
}

std::string random_text(std::mt19937& rng) {
  static const char* pieces[] = {"the", "of", "and", "New", "York", "U.S.A.", "e.g.", "C++", "'s", "3rd",
                                 "1,234", "12,3456", "--", "; ", ". ", "\n", "\no ", "/", "/~", ".", "-",
                                 "&", ":", "10", "x", "ABC", "McDonald", "\xe9t\xe9", "  ", "\t", "!"};
  std::string t;
  int n = static_cast<int>(rng() % 60);
  for (int k = 0; k < n; ++k) {
    switch (rng() % 4) {
      case 0:
        t += static_cast<char>(1 + rng() % 255);
        break;
      case 1: {
        int len = static_cast<int>(rng() % 70);  // words past the 50-byte limits
        for (int j = 0; j < len; ++j) t += static_cast<char>('a' + rng() % 26);
        break;
      }
      default:
        t += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    }
    if (rng() % 2) t += ' ';
  }
  return t;
}

class Area {
 public:
  explicit Area(size_t size) : size_(size), block_(new char[size + kCanary]) {
    memset(block_.get(), 'x', size + kCanary);
  }
  char* data() { return block_.get(); }
  bool canaries_intact() const {
    for (size_t k = 0; k < kCanary; ++k)
      if (block_[size_ + k] != 'x') return false;
    return true;
  }

 private:
  static constexpr size_t kCanary = 16;
  size_t size_;
  std::unique_ptr<char[]> block_;
};

TEST(TextAnalysisFuzz, NothingIsWrittenPastAnyArea) {
  ling_calls.lookup = random_stems;
  ling_calls.dict_lookup = random_dictionary;
  static const int dictionary = 0;
  zop_handle h = testing_text::english();
  h.dictionary = &dictionary;
  std::mt19937 rng(20261210);
  for (size_t size = 1; size <= 600; ++size) {
    for (int round = 0; round < 2; ++round) {
      std::string text = random_text(rng);
      ParseState s = TokenizeTextCopy(text.data(), text.size(), static_cast<int>(rng() % 2), h);
      auto check = [&](const char* what, auto&& write) {
        // The exact-size block is for the sanitizer; the canaries catch an
        // overrun without it.
        std::unique_ptr<char[]> exact(new char[size]);
        write(exact.get());
        Area area(size);
        write(area.data());
        ASSERT_TRUE(area.canaries_intact()) << what << " size " << size << " text \"" << text << "\"";
      };
      check("WordTokens", [&](char* out) { WordTokens(s, out, size, 1); });
      check("StemTokens(all)", [&](char* out) { StemTokens(s, out, size, h, 1); });
      check("StemTokens", [&](char* out) { StemTokens(s, out, size, h, 0); });
      for (int option : {kStemNone, kStemShortest})
        for (int mode : {0, 1})
          check("PhraseTokens", [&](char* out) { PhraseTokens(s, out, size, h, option, mode); });
      FreeParseState(s);
    }
  }
  ling_calls = ling_calls_default;
}

}  // namespace
}  // namespace vorlane::engine
