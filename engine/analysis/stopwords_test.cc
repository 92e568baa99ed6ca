#include "engine/analysis/stopwords.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vorlane::engine {
namespace {

// Each test keys its tables by a stemmer of its own: the registry lives for
// the whole process.
zop_handle handle_for(const void* stemmer) {
  zop_handle h;
  h.stemmer = stemmer;
  return h;
}

int is_stop(const char* word, const zop_handle& h) {
  return IsStopWord(word, static_cast<int32_t>(strlen(word)), h);
}

void build(const zop_handle& h, std::vector<const char*> words) {
  words.push_back(nullptr);
  BuildStopWordTable(h, words.data());
}

// A word of at most max_length lowercase letters whose StopWordHash has the
// given residue modulo size (for collisions on purpose).
std::string word_in_bucket(uint32_t bucket, uint32_t size, const std::vector<std::string>& avoid) {
  for (uint32_t n = 0;; ++n) {
    std::string w;
    for (uint32_t v = n; w.size() < 3; v /= 26) w += static_cast<char>('a' + v % 26);
    bool taken = false;
    for (const auto& a : avoid) taken |= a == w;
    if (!taken && StopWordHash(w.data(), w.size()) % size == bucket) return w;
  }
}

TEST(StopWordHash, KnownValues) {
  EXPECT_EQ(StopWordHash("", 0), 0u);
  EXPECT_EQ(StopWordHash("a", 1), 97u + 987654321u);
  // No masking: the top bit survives, unlike the index store's term hash.
  uint32_t h = 0;
  for (unsigned char c : std::string("the\xe9")) h = h * 129 + c + 987654321u;
  EXPECT_EQ(StopWordHash("the\xe9", 4), h);
}

TEST(StopWordTable, SizesAndLookups) {
  static const int key = 0;
  zop_handle h = handle_for(&key);
  build(h, {"the", "of", "and"});
  const StopWordTable& t = FindStopWordTable(h);
  EXPECT_EQ(t.size, 4u);  // (3 x 3) / 2
  EXPECT_EQ(t.longest, 3);
  for (const char* w : {"the", "of", "and"}) EXPECT_EQ(is_stop(w, h), 1) << w;
  // Bytes as supplied: no case folding.
  EXPECT_EQ(is_stop("The", h), 0);
  EXPECT_EQ(is_stop("thee", h), 0);  // longer than the longest: 0 without hashing
  EXPECT_EQ(is_stop("", h), 0);
  // A word of the longest length or less with another hash is not found.
  EXPECT_EQ(is_stop("an", h), 0);
  // Only the given length is looked at.
  EXPECT_EQ(IsStopWord("theory", 3, h), 1);
}

TEST(StopWordTable, OneWordTablesAndCollisionsEnd) {
  // One word: two entries, so that a missing word's probe ends at the free
  // one instead of circling forever.
  static const int key = 0;
  zop_handle h = handle_for(&key);
  build(h, {"a"});
  EXPECT_EQ(FindStopWordTable(h).size, 2u);
  EXPECT_EQ(is_stop("a", h), 1);
  EXPECT_EQ(is_stop("b", h), 0);

  // Words that all start their probe in the same bucket: every one is found
  // and the probe for a stranger still ends.
  static const int key2 = 0;
  zop_handle h2 = handle_for(&key2);
  std::vector<std::string> words;
  for (int i = 0; i < 5; ++i) words.push_back(word_in_bucket(3, 7, words));  // 5 words: 7 entries
  std::vector<const char*> list;
  for (const auto& w : words) list.push_back(w.c_str());
  build(h2, list);
  ASSERT_EQ(FindStopWordTable(h2).size, 7u);
  for (const auto& w : words) EXPECT_EQ(is_stop(w.c_str(), h2), 1) << w;
  EXPECT_EQ(is_stop(word_in_bucket(3, 7, words).c_str(), h2), 0);
}

TEST(StopWordTable, WordWhoseHashIsZeroIsFound) {
  // The empty word hashes to 0: the entry holding it must not read as free.
  static const int key = 0;
  zop_handle h = handle_for(&key);
  build(h, {"", "x"});
  EXPECT_EQ(is_stop("", h), 1);
  EXPECT_EQ(is_stop("x", h), 1);
  EXPECT_EQ(is_stop("y", h), 0);
}

TEST(StopWordTable, EmptyListsAndUnknownLanguages) {
  static const int key = 0, unknown = 0;
  zop_handle h = handle_for(&key);
  build(h, {});
  for (const char* w : {"", "the", "a"}) EXPECT_EQ(is_stop(w, h), 0) << w;
  // A language never given a list gets the empty table.
  const StopWordTable& none = FindStopWordTable(handle_for(&unknown));
  EXPECT_EQ(none.entries, nullptr);
  EXPECT_EQ(none.longest, 0);
  EXPECT_EQ(is_stop("", handle_for(&unknown)), 0);
  EXPECT_EQ(is_stop("the", handle_for(&unknown)), 0);
}

TEST(StopWordTable, KeyedByTheStemmerOnly) {
  static const int key = 0;
  zop_handle a = handle_for(&key);
  strcpy(a.name, "english");
  build(a, {"the"});
  // Another handle over the same stemmer (two languages loaded from one
  // path) shares the table; a second list does not replace the first.
  zop_handle b = handle_for(&key);
  b.stem_option = 7;
  strcpy(b.name, "other");
  EXPECT_EQ(is_stop("the", b), 1);
  build(b, {"le"});
  EXPECT_EQ(is_stop("le", a), 0);
  EXPECT_EQ(is_stop("the", b), 1);
}

int fill_the_registry() {
  static int keys[33];
  for (int i = 0; i < 33; ++i) {
    const char* words[] = {"w", nullptr};
    BuildStopWordTable(handle_for(&keys[i]), words);
  }
  if (IsStopWord("w", 1, handle_for(&keys[31])) != 1) return 2;
  if (IsStopWord("w", 1, handle_for(&keys[32])) != 0) return 3;  // not registered
  return 0;
}

TEST(StopWordTable, TheThirtyThirdTableIsNotRegistered) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(fill_the_registry()), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vorlane::engine
