// Phrase requests on one set from several threads: each request holds the
// set's mutex and its own working copy, so every thread sees the phrases a
// lone request gives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "linguistics/zop/resource_set.h"

namespace vorlane {
namespace {

const std::string kEnglish = std::string(VORLANE_ENGLISH_DIR) + "/english";

std::vector<std::string> phrases(const std::string& text, zop_handle h) {
  std::vector<char> out(4096);
  char* end = zop_get_phrases(text.c_str(), out.data(), out.size(), h);
  std::vector<std::string> list;
  for (const char* p = out.data(); p < end; p += std::strlen(p) + 1) list.emplace_back(p);
  return list;
}

TEST(ResourceSetConcurrencyTest, ParallelPhraseRequests) {
  zop_handle h;
  if (zop_lang_init(&h, kEnglish.c_str()) != 1) GTEST_SKIP() << "no default English resource set";
  const std::vector<std::string> texts = {"The old man's dog chased a black cat.",
                                          "Search engines index large collections of documents.",
                                          "She gave the children three red apples."};
  std::vector<std::vector<std::string>> expected;
  for (const auto& t : texts) expected.push_back(phrases(t, h));
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([&, k] {
      for (int i = 0; i < 50; ++i) {
        size_t j = static_cast<size_t>(i + k) % texts.size();
        if (phrases(texts[j], h) != expected[j]) ++failures[static_cast<size_t>(k)];
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
}  // namespace vorlane
