// The lookup memos change no result: tokens, phrases (both modes), stems
// (all and shortest), words and the resource set's phrases of real English
// text are the same through the memos, cold and warm, as through the full
// walk of every lookup. Skipped when the English set or the documentation
// is missing.
#include <gtest/gtest.h>

#include "engine/testing/text_analysis_reference.h"
#include "linguistics/fst/lookup_memo.h"

namespace vorlane::engine {
namespace {

using testing_text::Analysis;

TEST(TextAnalysisMemo, SameResultsAsTheFullWalkOverRealText) {
  zop_handle h = testing_text::english_set(std::string(VORLANE_ENGLISH_DIR) + "/english");
  if (h.stemmer == nullptr) GTEST_SKIP() << "no default English resource set";
  std::vector<std::string> texts = testing_text::library_doc_texts(600 * 1024);
  if (texts.empty()) GTEST_SKIP() << "python3.11-doc not installed";

  std::vector<Analysis> reference;
  LookupMemo::set_bypass(true);
  for (const auto& t : texts) reference.push_back(testing_text::analyse(t, h));
  LookupMemo::set_bypass(false);
  size_t stems = 0, phrases = 0;
  for (const auto& a : reference) stems += a.stems_all.size(), phrases += a.phrases0.size();
  ASSERT_GT(stems, 50000u);
  ASSERT_GT(phrases, 50000u);

  for (int round = 0; round < 2; ++round) {  // the memo cold, then warm
    for (size_t i = 0; i < texts.size(); ++i) {
      Analysis got = testing_text::analyse(texts[i], h);
      ASSERT_EQ(got.tokens, reference[i].tokens) << "document " << i;
      ASSERT_EQ(got.phrases0, reference[i].phrases0) << "document " << i;
      ASSERT_EQ(got.phrases1, reference[i].phrases1) << "document " << i;
      ASSERT_EQ(got.stems_all, reference[i].stems_all) << "document " << i;
      ASSERT_EQ(got.stems_shortest, reference[i].stems_shortest) << "document " << i;
      ASSERT_EQ(got.words, reference[i].words) << "document " << i;
      ASSERT_EQ(got.zop_phrases, reference[i].zop_phrases) << "document " << i;
      ASSERT_TRUE(got == reference[i]) << "counts of document " << i;
    }
  }
}

}  // namespace
}  // namespace vorlane::engine
