#include "linguistics/fst/dictionary.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "linguistics/fst/fst_errors.h"
#include "platform/testing/test_root.h"

namespace vorlane {
namespace {

struct Dict {
  void* d = dict_create(0, 0);
  ~Dict() { dict_free(d); }
};

std::vector<std::string> lookup(void* d, const char* word, int32_t flags, int32_t* rc, const char* filter = nullptr,
                                int32_t size = 256) {
  std::vector<char> out(static_cast<size_t>(size) + 1, 'Z');
  *rc = dict_lookup(word, filter, out.data(), size, flags, 0, d);
  std::vector<std::string> list;
  const char* p = out.data();
  for (int32_t i = 0; i < *rc && (flags & 6); ++i, p += list.back().size() + 1) list.emplace_back(p);
  EXPECT_EQ(out[static_cast<size_t>(size)], 'Z');
  return list;
}

int32_t load_text(void* d, const std::string& text) {
  platform::TestRoot root;
  std::string path = root.file("words.usr");
  std::ofstream(path, std::ios::binary) << text;
  return dict_load(path.c_str(), 0, d);
}

TEST(ClientDictionary, SectionsAndTwoFieldLines) {
  Dict dict;
  ASSERT_EQ(load_text(dict.d, "; comment\n[NOUN]\ndog\r\ncat\n dogs\tx\n\ndogs\tdog[NOUN]\n"), 3);
  int32_t rc;
  EXPECT_EQ(lookup(dict.d, "dog", 2, &rc), std::vector<std::string>{""});
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(lookup(dict.d, "dog", 4, &rc), std::vector<std::string>{"[NOUN]"});
  EXPECT_EQ(lookup(dict.d, "dogs", 2, &rc), std::vector<std::string>{"dog"});
  EXPECT_EQ(lookup(dict.d, "dogs", 4, &rc), std::vector<std::string>{"[NOUN]"});
  EXPECT_EQ(lookup(dict.d, "dogs", 6, &rc), std::vector<std::string>{"dog[NOUN]"});
  EXPECT_EQ(lookup(dict.d, "cat", 0, &rc).size(), 0u);
  EXPECT_EQ(rc, 1);  // counted, nothing written
  EXPECT_EQ(lookup(dict.d, "horse", 6, &rc).size(), 0u);
  EXPECT_EQ(rc, 0);
  // The line " dogs<TAB>x" began with a blank and was skipped.
  EXPECT_EQ(lookup(dict.d, " dogs", 6, &rc).size(), 0u);
}

TEST(ClientDictionary, LoadErrorsAndLongLines) {
  {
    Dict dict;
    EXPECT_EQ(load_text(dict.d, "[N]\nok\nword\tw[V]\nlonely\n"), -27);
    int32_t rc;
    lookup(dict.d, "ok", 6, &rc);
    EXPECT_EQ(rc, 1);  // entries before the failing line stay
  }
  {
    Dict dict;
    EXPECT_EQ(load_text(dict.d, "first\n"), -27);
  }
  {
    // A line longer than 1,023 bytes is one entry, not several.
    Dict dict;
    std::string word(3000, 'w');
    ASSERT_EQ(load_text(dict.d, word + "\t" + word + "[N]\nnext\tn\n"), 2);
    int32_t rc;
    std::vector<char> out(8000);
    EXPECT_EQ(dict_lookup(word.c_str(), nullptr, out.data(), 8000, 2, 0, dict.d), 1);
    EXPECT_EQ(std::string(out.data()), word);
    EXPECT_EQ(lookup(dict.d, "www", 6, &rc).size(), 0u);
    EXPECT_EQ(rc, 0);
  }
  Dict dict;
  platform::TestRoot root;
  EXPECT_EQ(dict_load(root.file("missing.usr").c_str(), 0, dict.d), -1);
  EXPECT_EQ(dict_load(nullptr, 0, dict.d), -28);
  EXPECT_EQ(dict_load("x", 0, nullptr), -28);
  EXPECT_EQ(dict_load("x", 0, fst_error_handle(-3)), -6);
}

TEST(ClientDictionary, LookupRulesAndBounds) {
  Dict dict;
  ASSERT_EQ(dict_add("run", "run[V][Pres]", 0, dict.d), 0);
  ASSERT_EQ(dict_add("run", "run[N][Sg]", 0, dict.d), 0);
  int32_t rc;
  // The later entry first.
  EXPECT_EQ(lookup(dict.d, "run", 6, &rc), (std::vector<std::string>{"run[N][Sg]", "run[V][Pres]"}));
  EXPECT_EQ(lookup(dict.d, "run", 7, &rc, "[V][Pres]"), std::vector<std::string>{"run[V][Pres]"});
  EXPECT_EQ(lookup(dict.d, "run", 5, &rc, "[V][Pres]"), std::vector<std::string>{"[V][Pres]"});
  EXPECT_EQ(lookup(dict.d, "run", 5, &rc, "[v][pres]").size(), 0u);
  EXPECT_EQ(rc, 0);
  // Room: the stem's length is too small, one more byte fits.
  lookup(dict.d, "run", 2, &rc, nullptr, 3);
  EXPECT_EQ(rc, -12);
  char four[4];
  EXPECT_EQ(dict_lookup("run", nullptr, four, 4, 2, 0, dict.d), -12);  // the second match no longer fits
  EXPECT_STREQ(four, "run");  // the first one stays written
  EXPECT_EQ(lookup(dict.d, "run", 2, &rc, nullptr, 8), (std::vector<std::string>{"run", "run"}));

  char out[8];
  EXPECT_EQ(dict_lookup(nullptr, nullptr, out, 8, 2, 0, dict.d), -28);
  EXPECT_EQ(dict_lookup("run", nullptr, out, 8, 2, 0, nullptr), -28);
  EXPECT_EQ(dict_lookup("run", nullptr, out, 8, 1, 0, dict.d), -28);
  EXPECT_EQ(dict_lookup("run", nullptr, nullptr, 8, 4, 0, dict.d), -28);
  EXPECT_EQ(dict_lookup("run", nullptr, nullptr, 0, 0, 0, dict.d), 2);
  EXPECT_EQ(dict_lookup("run", nullptr, out, -1, 2, 0, dict.d), -8);
  EXPECT_EQ(dict_lookup("run", nullptr, out, 8, -2, 0, dict.d), -8);
  EXPECT_EQ(dict_lookup("run", nullptr, out, 8, 2, 0, fst_error_handle(-1)), -6);
  EXPECT_EQ(dict_add(nullptr, "x", 0, dict.d), -28);
  EXPECT_EQ(dict_add("x", nullptr, 0, dict.d), -28);
  EXPECT_EQ(dict_add("x", "y", 0, nullptr), -28);
  EXPECT_EQ(dict_add("x", "y", 0, fst_error_handle(-3)), -6);
  dict_free(nullptr);
  dict_free(fst_error_handle(-3));
}

TEST(ClientDictionary, HashIsTheElfHashOfUnsignedBytes) {
  EXPECT_EQ(dict_hash(""), 0u);
  EXPECT_EQ(dict_hash("a"), 97u % 211);
  EXPECT_EQ(dict_hash("ab"), (97u * 16 + 98) % 211);
  EXPECT_EQ(dict_hash("\xE9"), 0xE9u % 211);
}

}  // namespace
}  // namespace vorlane
