// Lookups on one FSM and one client dictionary from several threads at once
// give the results of a single thread (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "linguistics/fst/dictionary.h"
#include "linguistics/testing/fst_test_fixtures.h"
#include "linguistics/fst/lookup.h"
#include "tools/fst/fst_pairs.h"

namespace vorlane {
namespace {

TEST(FstLookupConcurrency, SharedTransducerAndDictionary) {
  std::vector<fstw::Pair> pairs;
  std::vector<std::string> words;
  for (int i = 0; i < 400; ++i) {
    std::string stem;
    for (int k = i; k > 0 || stem.empty(); k /= 7) stem += static_cast<char>('a' + k % 7);
    for (const char* ending : {"", "s", "ed", "ing"}) {
      pairs.push_back({stem + ending, stem + "[V]"});
      words.push_back(stem + ending);
    }
  }
  fstw::PairOptions options;
  options.table_threshold = 4;
  fstw::FileDesc desc;
  std::string error;
  ASSERT_TRUE(fstw::compile_pairs(pairs, options, &desc, &error)) << error;
  fst_test::FsmPtr fsm = fst_test::load(fst_test::write_image(desc));
  void* dict = dict_create(0, 0);
  ASSERT_EQ(dict_add("abc", "dictionary[N]", 0, dict), 0);

  auto answers = [&](std::vector<std::string>* out) {
    char buffer[256];
    for (const std::string& w : words) {
      for (int32_t mode : {2, 3, 5, 7}) {
        int32_t n = fst_lookup(w.c_str(), kFstWholeWord, buffer, sizeof buffer, mode, fsm.get(), dict, 0);
        out->push_back(std::to_string(n) + ":" + (n > 0 ? buffer : ""));
      }
    }
  };
  std::vector<std::string> expected;
  answers(&expected);
  std::vector<std::vector<std::string>> got(6);
  std::vector<std::thread> threads;
  for (auto& g : got) threads.emplace_back(answers, &g);
  for (auto& t : threads) t.join();
  for (auto& g : got) EXPECT_EQ(g, expected);
  dict_free(dict);
}

}  // namespace
}  // namespace vorlane
