// Threads analysing real English text at once share the resource set's
// lookup memos: every thread gets the results of the full walk.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/testing/text_analysis_reference.h"
#include "linguistics/fst/lookup_memo.h"

namespace vorlane::engine {
namespace {

using testing_text::Analysis;

TEST(TextAnalysisMemoThreads, EveryThreadGetsTheFullWalksResults) {
  zop_handle h = testing_text::english_set(std::string(VORLANE_ENGLISH_DIR) + "/english");
  if (h.stemmer == nullptr) GTEST_SKIP() << "no default English resource set";
  std::vector<std::string> texts = testing_text::library_doc_texts(120 * 1024);
  if (texts.empty()) GTEST_SKIP() << "python3.11-doc not installed";

  std::vector<Analysis> reference;
  LookupMemo::set_bypass(true);
  for (const auto& t : texts) reference.push_back(testing_text::analyse(t, h));
  LookupMemo::set_bypass(false);

  constexpr int kThreads = 4;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&, k] {
      // Each thread in its own order, so that words meet the memo cold and
      // warm on different threads.
      for (size_t n = 0; n < texts.size(); ++n) {
        size_t i = (n * (k + 1) + k) % texts.size();
        if (!(testing_text::analyse(texts[i], h) == reference[i])) ++mismatches;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace vorlane::engine
