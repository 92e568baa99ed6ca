#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "linguistics/fst/lookup.h"
#include "linguistics/zop/resource_set.h"
#include "linguistics/zop/tagger.h"
#include "linguistics/zop/tokenizer.h"

namespace vorlane {
namespace {

const std::string kEnglish = std::string(VORLANE_ENGLISH_DIR) + "/english";

class EnglishSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kEnglish + ".hmm")) GTEST_SKIP() << "no default English resource set";
    ASSERT_EQ(zop_lang_init(&handle_, kEnglish.c_str()), 1);
  }
  std::set<std::string> stems(const std::string& word) {
    char out[1024];
    int32_t n = fst_lookup(word.c_str(), kFstWholeWord, out, sizeof out, handle_.stem_option, handle_.stemmer,
                           handle_.dictionary, 0);
    std::set<std::string> result;
    const char* p = out;
    for (int32_t i = 0; i < n; ++i, p += std::strlen(p) + 1) result.insert(p);
    return result;
  }
  std::vector<std::string> phrases(const std::string& text) {
    std::vector<char> out(4096);
    char* end = zop_get_phrases(text.c_str(), out.data(), out.size(), handle_);
    std::vector<std::string> list;
    for (const char* p = out.data(); p < end; p += std::strlen(p) + 1) list.emplace_back(p);
    return list;
  }
  zop_handle handle_;
};

TEST_F(EnglishSetTest, Stems) {
  struct Case {
    const char* word;
    const char* stem;  // one of the stems
  };
  const Case cases[] = {
      {"running", "run"},     {"mice", "mouse"},    {"dogs", "dog"},         {"ran", "run"},
      {"children", "child"},  {"geese", "goose"},   {"went", "go"},          {"taken", "take"},
      {"better", "good"},     {"bigger", "big"},    {"happiest", "happy"},   {"studies", "study"},
      {"studied", "study"},   {"boxes", "box"},     {"churches", "church"},  {"making", "make"},
      {"stopped", "stop"},    {"women", "woman"},   {"feet", "foot"},        {"teeth", "tooth"},
      {"leaves", "leaf"},     {"wrote", "write"},   {"written", "write"},    {"cities", "city"},
      {"walked", "walk"},     {"houses", "house"},  {"larger", "large"},     {"swimming", "swim"},
      {"run", "run"},         {"mouse", "mouse"},
  };
  for (const Case& c : cases) EXPECT_TRUE(stems(c.word).count(c.stem)) << c.word;
}

// Every stem of a word in one lookup mode (3 all, 5 first, 7 shortest).
std::set<std::string> stems_in_mode(const zop_handle& handle, const std::string& word, int32_t mode) {
  char out[1024];
  const int32_t n = fst_lookup(word.c_str(), kFstWholeWord, out, sizeof out, mode, handle.stemmer, nullptr, 0);
  std::set<std::string> result;
  const char* p = out;
  for (int32_t i = 0; i < n; ++i, p += std::strlen(p) + 1) result.insert(p);
  return result;
}

// Words of three letters or fewer keep their own form in every stem mode
// unless the exception lists give them as inflections or they are plain
// plurals; abbreviations' plurals relate to them. A word without stems is
// its own stem.
TEST_F(EnglishSetTest, ShortWordsAndAbbreviationPlurals) {
  struct Case {
    const char* word;
    std::set<std::string> all;  // mode 3
    const char* shortest;       // modes 5 and 7 when all has one stem, else 7
  };
  const Case cases[] = {
      {"os", {"os"}, "os"},      {"us", {"us"}, "us"},       {"sys", {}, "sys"},        {"its", {"its"}, "its"},
      {"io", {"io"}, "io"},      {"as", {"as"}, "as"},       {"his", {"his"}, "his"},   {"bed", {"bed"}, "bed"},
      {"is", {"be"}, "be"},      {"was", {"be"}, "be"},      {"has", {"have"}, "have"}, {"men", {"man"}, "man"},
      {"did", {"do"}, "do"},     {"ads", {"ad"}, "ad"},      {"ids", {"id"}, "id"},     {"dbs", {"db"}, "db"},
      {"pcs", {"pc"}, "pc"},     {"api", {"api"}, "api"},    {"apis", {"api", "apis"}, "api"},
      {"urls", {"url"}, "url"},  {"uuids", {"uuid"}, "uuid"}, {"cpus", {"cpu"}, "cpu"}, {"guis", {"gui"}, "gui"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(stems_in_mode(handle_, c.word, 3), c.all) << c.word;
    const std::set<std::string> one = c.all.empty() ? std::set<std::string>{} : std::set<std::string>{c.shortest};
    EXPECT_EQ(stems_in_mode(handle_, c.word, 7), one) << c.word;
    if (c.all.size() == 1) {
      EXPECT_EQ(stems_in_mode(handle_, c.word, 5), one) << c.word;
    }
  }
}

TEST_F(EnglishSetTest, TokensAndTags) {
  zop_struct* set = zop_local_init(handle_, nullptr);
  ASSERT_NE(set, nullptr);
  const std::string text = "The dog doesn't like the cat's toys, does it?";
  TokenRecord records[64];
  char work[256];
  int32_t count = 0;
  ASSERT_EQ(tokenize_text(text.data(), static_cast<int32_t>(text.size()), set->tokenizer, 1, records, 64, work,
                          sizeof work, &count),
            static_cast<int32_t>(text.size()));
  std::string tokens;
  std::vector<std::string> list;
  for (int32_t i = 0; i < count; ++i) {
    list.push_back(records[i].text < 0 ? text.substr(records[i].offset, records[i].length)
                                       : std::string(work + records[i].text));
    tokens += list.back() + '\0';
  }
  EXPECT_EQ(list, (std::vector<std::string>{"The", "dog", "does", "n't", "like", "the", "cat", "'s", "toys", ",",
                                             "does", "it", "?"}));
  char tags[512];
  ASSERT_EQ(tag_sentence(tokens.data(), count, tags, sizeof tags, 1, set->hmm, set->tagger_buffer, nullptr, nullptr),
            count);
  std::vector<std::string> tag_list;
  for (const char* p = tags; tag_list.size() < static_cast<size_t>(count); p += std::strlen(p) + 1) {
    tag_list.emplace_back(p);
  }
  EXPECT_EQ(tag_list, (std::vector<std::string>{"DT", "NN", "VBZ", "RB", "IN", "DT", "NN", "POS", "NNS", "COMMA",
                                                 "VBZ", "PRP", "SENT"}));
  zop_local_free(set);
}

// Dots and hyphens between word characters stay in the word; one that ends
// a word is a token of its own.
TEST_F(EnglishSetTest, InnerDotsAndHyphens) {
  zop_struct* set = zop_local_init(handle_, nullptr);
  ASSERT_NE(set, nullptr);
  struct Case {
    const char* text;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"Python 3.6 writes to sys.stderr.", {"Python", "3.6", "writes", "to", "sys.stderr", "."}},
      {"Call os.path.join(a, b).", {"Call", "os.path.join", "(", "a", ",", "b", ")", "."}},
      {"See FIPS 180-2 for module-level names.", {"See", "FIPS", "180-2", "for", "module-level", "names", "."}},
      {"Done. Next, then end-", {"Done", ".", "Next", ",", "then", "end", "-"}},
      {"Stop... (v1.2).", {"Stop", ".", ".", ".", "(", "v1.2", ")", "."}},
  };
  for (const Case& c : cases) {
    const std::string text = c.text;
    TokenRecord records[64];
    char work[256];
    int32_t count = 0;
    ASSERT_EQ(tokenize_text(text.data(), static_cast<int32_t>(text.size()), set->tokenizer, 1, records, 64, work,
                            sizeof work, &count),
              static_cast<int32_t>(text.size()));
    std::vector<std::string> list;
    for (int32_t i = 0; i < count; ++i) {
      list.push_back(records[i].text < 0 ? text.substr(records[i].offset, records[i].length)
                                         : std::string(work + records[i].text));
    }
    EXPECT_EQ(list, c.tokens) << c.text;
  }
  zop_local_free(set);
  const auto list = phrases("We moved to version 3.6 of the module-level cache.");
  EXPECT_NE(std::find(list.begin(), list.end(), "version 3.6"), list.end());
  EXPECT_NE(std::find(list.begin(), list.end(), "the module-level cache"), list.end());
}

TEST_F(EnglishSetTest, Phrases) {
  EXPECT_EQ(phrases("The old man's dog chased a black cat."),
            (std::vector<std::string>{"The old man's dog", "a black cat"}));
  EXPECT_EQ(phrases("Search engines index large collections of documents."),
            (std::vector<std::string>{"Search engines", "large collections", "documents"}));
  EXPECT_EQ(phrases("She gave the children three red apples."),
            (std::vector<std::string>{"the children", "three red apples"}));
  EXPECT_TRUE(phrases("   ").empty());
}

}  // namespace
}  // namespace vorlane
