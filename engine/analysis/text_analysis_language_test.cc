// The token passes and writers over a real resource set (the tests' small
// one) loaded through the engine's linguistic calls: stems come from the
// stemming transducer through the lookup interface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/analysis/ling_calls.h"
#include "engine/analysis/phrase_output.h"
#include "engine/analysis/stem_output.h"
#include "engine/analysis/stopwords.h"
#include "engine/testing/language_sets.h"
#include "engine/testing/text_analysis_testing.h"
#include "engine/analysis/token_passes.h"
#include "platform/testing/test_root.h"

namespace vorlane::engine {
namespace {

using V = std::vector<std::string>;

class RealLanguage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new platform::TestRoot;
    std::string error;
    ASSERT_TRUE(testing_sets::load_test_set(root_->file("testlang"), &handle_, &error)) << error;
  }
  static void TearDownTestSuite() { delete root_; }

  static V stems(const char* text, int all) { return testing_text::stems_of(handle_, text, all, 512); }
  static V phrases(const char* text, int option, int mode) {
    return testing_text::phrases_of(handle_, text, option, mode, 512);
  }

  static platform::TestRoot* root_;
  static zop_handle handle_;
};

platform::TestRoot* RealLanguage::root_ = nullptr;
zop_handle RealLanguage::handle_;

TEST_F(RealLanguage, ShortestAndAllStems) {
  EXPECT_EQ(stems("dogs men running cities Paris football 42", 0),
            (V{"dog", "man", "run", "city", "Paris", "football", "42"}));
  EXPECT_EQ(stems("dogs men running cities Paris Football", 1),
            // The transducer gives running's stems in its own order.
            (V{"dog", "dogs", "man", "men", "running", "run", "city", "cities", "Par", "Paris", "Football", "Foot",
               "Ball"}));
  EXPECT_EQ(IsStopWord("of", 2, handle_), 1);
}

TEST_F(RealLanguage, PhrasesInBothModes) {
  EXPECT_EQ(phrases("the old dogs of paris and men", kStemShortest, 1),
            (V{"theold", "olddog", "dog.ofpar", "par.andman"}));
  EXPECT_EQ(phrases("Paris dogs", kStemShortest, 0), (V{"Parisdog", "pardog"}));
  EXPECT_EQ(phrases("Paris dogs", kStemNone, 0), (V{"parisdogs"}));
}

}  // namespace
}  // namespace vorlane::engine
