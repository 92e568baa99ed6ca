#include "tools/zop/guesser_net.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "linguistics/fst/apply.h"
#include "linguistics/fst/coding.h"
#include "linguistics/fst/enumerate.h"
#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_interface.h"
#include "linguistics/fst/symbol_classes.h"
#include "linguistics/zop/hmm_model.h"
#include "tools/fst/fst_pairs.h"

namespace vorlane::zopw {
namespace {

// A class lexicon whose alphabet holds every ASCII letter and digit (so
// that some capitals are symbols with ESC bytes after their label byte),
// with a guesser that tells capitalised words apart.
class GuesserNetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string letters = "\x01";
    for (char c = 'a'; c <= 'z'; ++c) letters += c;
    for (char c = 'A'; c <= 'Z'; ++c) letters += c;
    letters += "0123456789\xC9";
    std::vector<fstw::WordClasses> words = {{"the", {"DT"}}, {letters, {"DT", "NN", "NNS", "NNP", "NNPS", "JJ", "CD"}}};
    fstw::PairOptions options;
    options.functions = {60, 61};
    fstw::FileDesc desc;
    std::string error;
    ASSERT_TRUE(fstw::compile_classes(words, options, &desc, &error)) << error;
    ASSERT_TRUE(add_guesser(&desc, {{"s", {"NNS"}}, {"ss", {"NN"}}, {"less", {"JJ"}}, {"9", {"CD"}}}, {"NN"},
                            {{"s", {"NNPS"}}}, {"NNP"}, &error))
        << error;
    image_ = fstw::fst_write_image(desc, &error);
    ASSERT_FALSE(image_.empty()) << error;
    fsm_ = fst_read_memory(image_.data(), image_.size());
    ASSERT_EQ(fst_status(fsm_), 0);
  }
  void TearDown() override { fst_close(fsm_); }
  std::set<std::string> guess(const std::string& word) {
    const FSM* fsm = static_cast<const FSM*>(fsm_);
    uint8_t coded[256];
    EXPECT_GT(fst_encode(word.c_str(), static_cast<int32_t>(word.size()), coded, sizeof coded, false, false, true, fsm),
              0);
    uint16_t out[16];
    FstFrame frames[100];
    const int32_t n = apply_fst_enum(coded, out, 16, fst_function(61, fsm), frames, 100, fsm);
    std::set<std::string> tags;
    for (const char* t : {"DT", "NN", "NNS", "NNP", "NNPS", "JJ", "CD"}) {
      const uint16_t number = hmm_symbol_number(fst_tag_code(fsm, t, std::strlen(t)));
      for (int32_t i = 0; i < n; ++i) {
        if (out[i] == number) tags.insert(t);
      }
    }
    return tags;
  }
  std::vector<uint8_t> image_;
  void* fsm_ = nullptr;
};

TEST_F(GuesserNetTest, CaseOfTheFirstLetterAndLongestSuffix) {
  using Tags = std::set<std::string>;
  for (char c = 'a'; c <= 'z'; ++c) {
    const std::string lower(1, c), upper(1, static_cast<char>(c - 'a' + 'A'));
    EXPECT_EQ(guess(lower + "xs"), Tags{"NNS"}) << c;
    EXPECT_EQ(guess(lower + "x"), Tags{"NN"}) << c;
    EXPECT_EQ(guess(upper + "xs"), Tags{"NNPS"}) << c;
    EXPECT_EQ(guess(upper + "x"), Tags{"NNP"}) << c;
    EXPECT_EQ(guess(upper), Tags{"NNP"}) << c;
  }
  EXPECT_EQ(guess("\xC9tude"), Tags{"NNP"});
  EXPECT_EQ(guess("class"), Tags{"NN"});      // "ss", not "s"
  EXPECT_EQ(guess("pointless"), Tags{"JJ"});  // "less", not "ss"
  EXPECT_EQ(guess("sha9"), Tags{"CD"});
  EXPECT_EQ(guess("Sha9"), Tags{"NNP"});      // capitals have their own suffixes
  EXPECT_EQ(guess("xS"), Tags{"NN"});         // only the first letter counts
  EXPECT_EQ(guess("9"), Tags{"CD"});
}

}  // namespace
}  // namespace vorlane::zopw
