// Documents classified on several threads while the table is rebuilt.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/document/classify_table.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

TEST(ClassifyConcurrency, ReadersSeeAWholeTableOrNone) {
  LogCapture quiet(0);
  auto make = [](uint32_t topic) {
    std::vector<crule_def> rules;
    for (int r = 0; r < 200; ++r) {
      crule_def s;
      s.topic = topic;
      s.rule = r;
      s.positive = {"alpha" + std::to_string(r % 10), "beta"};
      s.negative = {"gamma" + std::to_string(r)};
      rules.push_back(s);
    }
    return rules;
  };
  const std::vector<crule_def> a = make(11), b = make(22);
  ASSERT_EQ(classify_build(a.data(), a.size(), 400).status, kClassifyBuilt);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0}, done{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      const std::string text = "alpha3 beta delta";
      while (!stop.load()) {
        crule_elem* hits = nullptr;
        classify_field("", 0, text.data(), text.size(), &hits);
        uint32_t* topics = crule_topics(hits);
        crule_free_hits(hits);
        // A document analysed across a rebuild may see both tables.
        for (uint32_t* p = topics; *p; ++p) wrong += *p != 11 && *p != 22;
        free(topics);
        int64_t s[7];
        classify_stats(s);
        done++;
      }
    });
  }
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 40; ++i) {
    const auto& rules = i % 2 ? a : b;
    ASSERT_EQ(classify_build(rules.data(), rules.size(), 400).status, kClassifyBuilt);
  }
  // Let the readers run against the last table for a moment.
  while (done.load() < 200 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  stop = true;
  for (auto& r : readers) r.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(done.load(), 0);
}

}  // namespace
}  // namespace vorlane::engine
