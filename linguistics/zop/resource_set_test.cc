#include "linguistics/zop/resource_set.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "linguistics/fst/lookup.h"
#include "linguistics/testing/zop_test_fixtures.h"
#include "platform/testing/test_root.h"
#include "store/log.h"
#include "tools/zop/grouper_net.h"
#include "tools/zop/hmm_writer.h"

namespace vorlane {
namespace {

std::vector<std::string>* g_lines = nullptr;

void capture(uint32_t, const char* format, va_list args) {
  char line[1024];
  std::vsnprintf(line, sizeof line, format, args);
  if (g_lines) g_lines->push_back(line);
}

// A small English-like set: files base.tok, .npr, .clg, .is, .hmm.
void write_set(const std::string& base, bool stemmer = true) {
  zop_test::write_desc(base + ".tok", zop_test::pair_desc({{"man's", "man 's"}, {"dog.", "dog ."}}, {28}));
  const std::vector<std::string> tags = {"DT", "JJ", "NN", "POS", "VBD", "."};
  fstw::FileDesc npr;
  std::string error;
  ASSERT_TRUE(zopw::grouper_desc({{"NN"}, {"DT", "JJ"}, {"POS"}, {"VBD", "."}},
                                 {{"NN"}, {}, {}, {"DT", "JJ", "POS", "VBD", "."}}, tags, &npr, &error))
      << error;
  zop_test::write_desc(base + ".npr", npr);
  fstw::PairOptions options;
  options.functions = {60, 61};
  fstw::FileDesc clg;
  ASSERT_TRUE(fstw::compile_classes({{"the", {"DT"}},
                                     {"a", {"DT"}},
                                     {"old", {"JJ"}},
                                     {"man", {"NN"}},
                                     {"'s", {"POS"}},
                                     {"dog", {"NN"}},
                                     {"cat", {"NN"}},
                                     {"saw", {"VBD", "NN"}},
                                     {".", {"."}}},
                                    options, &clg, &error))
      << error;
  zop_test::write_desc(base + ".clg", clg);
  if (stemmer) zop_test::write_desc(base + ".is", zop_test::pair_desc({{"dogs", "dog"}, {"men", "man"}}, {12, 27}));
  zopw::HmmDesc m;
  m.tags = tags;
  m.classes = {{"[NN]", {{2, -1}}},  {"[DT]", {{0, -1}}},  {"[JJ]", {{1, -1}}},
               {"[POS]", {{3, -1}}}, {"[VBD]", {{4, -1}}}, {"[NN][VBD]", {{2, -3}, {4, -2}}},
               {"[.]", {{5, -1}}}};
  m.initial = {-1, -3, -3, -9, -5, -9};
  for (int t = 0; t < 6; ++t) m.rows.push_back(std::vector<int32_t>(6, -4));
  m.rows[2][0] = -1;  // NN after DT
  m.rows[4][2] = -1;  // VBD after NN
  ASSERT_TRUE(zopw::hmm_write_file(base + ".hmm", m, &error)) << error;
}

class ResourceSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lines = &lines_;
    old_handler_ = log_handler.exchange(capture);
    old_mask_ = log_mask.fetch_or(LOG_WARNING);
    unsetenv("STEMMER");
    unsetenv("STEMOPT");
  }
  void TearDown() override {
    log_handler.store(old_handler_);
    log_mask.store(old_mask_);
    g_lines = nullptr;
    unsetenv("STEMMER");
    unsetenv("STEMOPT");
  }
  std::vector<std::string> phrases(const std::string& text, zop_handle h, size_t size = 1024) {
    std::vector<char> out(size + 1, '#');
    char* end = zop_get_phrases(text.c_str(), out.data(), size, h);
    EXPECT_LE(end, out.data() + size);
    std::vector<std::string> list;
    for (const char* p = out.data(); p < end; p += std::strlen(p) + 1) list.emplace_back(p);
    return list;
  }
  platform::TestRoot root_;
  std::vector<std::string> lines_;
  log_handler_fn old_handler_ = nullptr;
  uint32_t old_mask_ = 0;
};

TEST_F(ResourceSetTest, LoadsOnceAndExtractsPhrases) {
  const std::string path = root_.file("en");
  write_set(path);
  zop_handle h, again;
  const int32_t used = zop_slots_used();
  ASSERT_EQ(zop_lang_init(&h, path.c_str()), 1);
  ASSERT_EQ(zop_lang_init(&again, path.c_str()), 1);
  EXPECT_EQ(zop_slots_used(), used + 1);
  EXPECT_TRUE(zop_handle_equal(h, again));
  EXPECT_STREQ(h.name, "en");
  EXPECT_EQ(h.stem_option, 3);
  EXPECT_NE(h.stemmer, nullptr);
  EXPECT_EQ(h.dictionary, nullptr);  // no ".usr" file
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0], path + ".usr: The file cannot be opened, either because it cannot be found or because it "
                              "is protected or locked.");

  EXPECT_EQ(phrases("the old man's dog", h), (std::vector<std::string>{"the old man's dog"}));
  EXPECT_EQ(phrases("a cat saw the dog.", h), (std::vector<std::string>{"a cat", "the dog"}));
  EXPECT_TRUE(phrases("   ", h).empty());
  EXPECT_TRUE(phrases("", h).empty());
  // A phrase that does not fit the output ends it.
  EXPECT_EQ(phrases("a cat saw the dog.", h, 8), (std::vector<std::string>{"a cat"}));
  EXPECT_TRUE(phrases("a cat", h, 5).empty());
  // A handle that names no set writes nothing.
  lines_.clear();
  zop_handle none;
  EXPECT_TRUE(phrases("a cat", none).empty());
  EXPECT_EQ(lines_, (std::vector<std::string>{"Could not initialize local zop struct.\n"}));

  // The working copy of zop_local_init.
  zop_struct* copy = zop_local_init(h, nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->free_me, 1);
  EXPECT_EQ(zop_set_user1(copy, 7), 1);
  EXPECT_EQ(zop_get_user1(copy), 7);
  EXPECT_EQ(zop_set_user2(nullptr, 7), 0);
  EXPECT_EQ(zop_get_user2(nullptr), 0);
  EXPECT_EQ(zop_local_free(copy), 1);
  EXPECT_EQ(zop_local_free(nullptr), 0);
}

TEST_F(ResourceSetTest, GermanNaming) {
  const std::string german = root_.file("german");
  write_set(german, false);
  zop_test::write_desc(german + "2.is", zop_test::pair_desc({{"hunde", "hund"}}, {12, 27}));
  zop_test::write_desc(german + ".ds", zop_test::pair_desc({{"katzen", "katze"}}, {12, 27}));
  std::ofstream(german + ".usr") << "[NN]\nhund\n";
  zop_handle g2, gs1, g;
  ASSERT_EQ(zop_lang_init(&g2, (german + "2").c_str()), 1);
  EXPECT_STREQ(g2.name, "german");
  EXPECT_NE(g2.dictionary, nullptr);
  char out[64];
  // The stemmer is german2.is; germans1 has no ".is" and takes german.ds.
  EXPECT_EQ(fst_lookup("hunde", kFstWholeWord, out, sizeof out, 3, g2.stemmer, nullptr, 0), 1);
  ASSERT_EQ(zop_lang_init(&gs1, (german + "s1").c_str()), 1);
  EXPECT_STREQ(gs1.name, "german");
  EXPECT_EQ(fst_lookup("katzen", kFstWholeWord, out, sizeof out, 3, gs1.stemmer, nullptr, 0), 1);
  // Sets are keyed by the path passed in: german gets its own set.
  ASSERT_EQ(zop_lang_init(&g, german.c_str()), 1);
  EXPECT_NE(g.stemmer, g2.stemmer);
  EXPECT_NE(g.stemmer, gs1.stemmer);
  zop_handle again;
  ASSERT_EQ(zop_lang_init(&again, (german + "2").c_str()), 1);
  EXPECT_TRUE(zop_handle_equal(again, g2));
  EXPECT_EQ(phrases("the old man's dog", g2), (std::vector<std::string>{"the old man's dog"}));
}

TEST_F(ResourceSetTest, StemOptionAndStemmerVariable) {
  const std::string path = root_.file("en");
  write_set(path);
  setenv("STEMOPT", "4", 1);
  zop_handle h;
  EXPECT_EQ(zop_lang_init(&h, path.c_str()), 0);
  EXPECT_EQ(lines_.back(), "illegal stem option 4\n");
  setenv("STEMOPT", "x", 1);
  EXPECT_EQ(zop_lang_init(&h, path.c_str()), 0);
  EXPECT_EQ(lines_.back(), "illegal stem option 0\n");
  setenv("STEMOPT", "7th", 1);
  ASSERT_EQ(zop_lang_init(&h, path.c_str()), 1);
  EXPECT_EQ(h.stem_option, 7);

  const std::string other = root_.file("other");
  write_set(other, false);
  setenv("STEMMER", (path + ".is").c_str(), 1);
  zop_handle o;
  ASSERT_EQ(zop_lang_init(&o, other.c_str()), 1);
  char out[64];
  EXPECT_EQ(fst_lookup("men", kFstWholeWord, out, sizeof out, 3, o.stemmer, nullptr, 0), 1);
  EXPECT_STREQ(out, "man");
}

TEST_F(ResourceSetTest, RefusedSets) {
  const std::string path = root_.file("en");
  write_set(path);
  zop_handle h;
  EXPECT_EQ(zop_lang_init(&h, "en"), 0);  // no directory part
  const int32_t used = zop_slots_used();
  struct Case {
    const char* missing;
    const char* line;
  };
  const Case cases[] = {
      {".tok", "tokenizer: An invalid FSM object was passed to this function."},
      {".clg", "lexicon: The file cannot be opened, either because it cannot be found or because it is protected "
               "or locked."},
      {".is", "stemmer: The file cannot be opened, either because it cannot be found or because it is protected "
              "or locked."},
      {".hmm", "tagger: The file cannot be opened, either because it cannot be found or because it is protected "
               "or locked."},
  };
  for (const Case& c : cases) {
    const std::string base = root_.file(std::string("x") + c.missing);
    write_set(base);
    std::filesystem::remove(base + c.missing);
    lines_.clear();
    EXPECT_EQ(zop_lang_init(&h, base.c_str()), 0) << c.missing;
    ASSERT_FALSE(lines_.empty());
    EXPECT_EQ(lines_.back(), c.line);
  }
  EXPECT_EQ(zop_slots_used(), used);
  // A backslash also ends the directory part.
  const std::string odd = root_.file("dir\\bs");
  write_set(odd);
  ASSERT_EQ(zop_lang_init(&h, odd.c_str()), 1);
  EXPECT_STREQ(h.name, "bs");
}

TEST_F(ResourceSetTest, UnusableGrouperWritesNothing) {
  // Without a ".npr" file the set still loads; grouping then fails, is
  // logged, and no phrase is written.
  const std::string path = root_.file("nogroup");
  write_set(path);
  std::filesystem::remove(path + ".npr");
  zop_handle h;
  ASSERT_EQ(zop_lang_init(&h, path.c_str()), 1);
  lines_.clear();
  EXPECT_TRUE(phrases("the old man's dog", h).empty());
  EXPECT_EQ(lines_, (std::vector<std::string>{"Error: An invalid FSM object was passed to this function.\n"}));
}

TEST_F(ResourceSetTest, LongTextsKeepEveryTokenUpTo2048) {
  const std::string path = root_.file("long");
  write_set(path);
  zop_handle h;
  ASSERT_EQ(zop_lang_init(&h, path.c_str()), 1);
  // 100 clauses "the dog saw a cat": 500 tokens whose texts need far more
  // than 1,024 bytes; every phrase is written.
  std::string text;
  std::vector<std::string> expected;
  for (int i = 0; i < 100; ++i) {
    text += "the dog saw a cat ";
    expected.insert(expected.end(), {"the dog", "a cat"});
  }
  EXPECT_EQ(phrases(text, h, 1 << 16), expected);
  // "the", n times "old", "dog": with n = 2,046 the phrase is the whole
  // 2,048-token text; with n = 2,047 "dog" is the 2,049th token, cut off,
  // and no phrase remains.
  auto olds = [](int n) {
    std::string s = "the";
    for (int i = 0; i < n; ++i) s += " old";
    return s + " dog";
  };
  EXPECT_EQ(phrases(olds(2046), h, 1 << 16), (std::vector<std::string>{olds(2046)}));
  EXPECT_TRUE(phrases(olds(2047), h, 1 << 16).empty());
}

// Last: it fills every slot of the process.
TEST_F(ResourceSetTest, ThirtyThirdPathIsRefused) {
  const std::string path = root_.file("en");
  write_set(path);
  zop_handle h;
  int32_t loaded = zop_slots_used();
  for (int i = 0; loaded < MAX_ZOP; ++i) {
    // Distinct paths naming the same files.
    std::string p = root_.file("d" + std::to_string(i));
    std::filesystem::create_directory(p);
    for (const char* ext : {".tok", ".npr", ".clg", ".is", ".hmm"}) {
      std::filesystem::create_symlink(path + ext, p + "/en" + ext);
    }
    ASSERT_EQ(zop_lang_init(&h, (p + "/en").c_str()), 1);
    ++loaded;
  }
  std::string p = root_.file("last");
  std::filesystem::create_directory(p);
  for (const char* ext : {".tok", ".npr", ".clg", ".is", ".hmm"}) {
    std::filesystem::create_symlink(path + ext, p + "/en" + ext);
  }
  EXPECT_EQ(zop_lang_init(&h, (p + "/en").c_str()), 0);
  EXPECT_EQ(zop_slots_used(), MAX_ZOP);
}

}  // namespace
}  // namespace vorlane
