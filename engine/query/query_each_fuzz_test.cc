// Random and mutated query texts and requests through query_each: nothing is
// written past the response area (guard bytes; run under AddressSanitizer),
// and whatever it writes reads back through the response reader.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/query/query_each.h"
#include "engine/testing/query_testing.h"
#include "platform/testing/test_root.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

using namespace query_testing;

const char* kWords[] = {"banana", "cherry", "apple",  "grape", "pie",  "AND",      "OR",     "NOT",
                        "and",    "site:",  "url:",   "checksum:", "topic:", "\"", "\"\"", "|",
                        "||",     "+",      "-",      ",",     "1,000,000", "x:", "\n", "   "};

std::string random_text(std::mt19937& rng) {
  std::string t;
  const int n = static_cast<int>(rng() % 40);
  for (int i = 0; i < n; ++i) {
    switch (rng() % 6) {
      case 0: t += static_cast<char>(rng() % 256); break;
      case 1: t += std::string(rng() % 300, static_cast<char>('a' + rng() % 26)); break;
      default: t += kWords[rng() % (sizeof kWords / sizeof *kWords)]; break;
    }
    if (rng() % 2) t += ' ';
  }
  if (rng() % 50 == 0) t += std::string(2100, 'b');
  // The text ends at its first NUL, as in a request.
  return std::string(t.c_str());
}

class QueryEachFuzz : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!english().stemmer) GTEST_SKIP() << "no default English resource set";
    init_percent_table();
    init_blend_table();
    cache_release_arenas();
    cache_init_default(max_hits);
    cache_add_arena(64, 500);
    std::vector<Doc> docs;
    const char* texts[] = {"banana cherry apple pie", "banana grape", "apple pie with cherry",
                           "new york city pie", "one million dollars 1,000,000"};
    for (int i = 0; i < 60; ++i) {
      Doc d;
      d.terms = index_terms(texts[i % 5], english());
      d.terms.insert("site:example.org");
      d.flag = static_cast<uint8_t>(i % 7 == 0 ? 0x30 : i % 11 == 0 ? 255 : 0);
      d.day = 100 + i;
      docs.push_back(d);
    }
    ASSERT_EQ(write_database(root_.file("db"), docs), 1);
    db_ = open_query_db(root_.file("db"), 2, false);
    ASSERT_NE(db_, nullptr);
  }
  void TearDown() override {
    idbm_close(db_);
    cache_release_arenas();
  }
  platform::TestRoot root_;
  idbm_db* db_ = nullptr;
};

TEST_F(QueryEachFuzz, RandomAndMutatedRequestsStayInsideTheirAreas) {
  std::mt19937 rng(12345);
  LogCapture quiet(LOG_ERROR);
  QueryRun q;
  const uint32_t types[] = {kRequestQuery, kRequestDemote, kRequestSingle, kRequestDated};
  int complete = 0;
  for (int round = 0; round < 4000; ++round) {
    const std::string text = random_text(rng);
    QueryRequestFields f;
    f.type = types[rng() % 4];
    f.start = static_cast<int32_t>(rng() % 4 == 0 ? rng() : rng() % 40);
    f.hits = static_cast<int32_t>(rng() % 4 == 0 ? rng() : rng() % 60);
    f.mode = rng() % 3 == 0 ? rng() : 0;
    f.window_low = rng() % 3 == 0 ? rng() : 0;
    f.window_high = rng() % 5 == 0 ? rng() : 0;
    ExceptedDoc ex[4] = {{2, static_cast<uint32_t>(rng() % 60)}, {2, static_cast<uint32_t>(rng() % 60)}, {1, 3}, {2, 0}};
    f.excepted = ex;
    f.excepted_count = rng() % 5;
    f.text = text.c_str();
    f.text_length = text.size();
    f.collection = "c";
    f.collection_length = rng() % 2;
    std::vector<uint8_t> r(text.size() + 128);
    r.resize(write_query_request(r.data(), r.size(), f));
    ASSERT_FALSE(r.empty());
    // Mutations: flipped bytes, a cut length, a changed size word.
    if (rng() % 3 == 0) {
      for (int k = 0, n = 1 + static_cast<int>(rng() % 4); k < n; ++k) r[rng() % r.size()] ^= static_cast<uint8_t>(rng());
    }
    size_t length = r.size();
    if (rng() % 8 == 0) length = rng() % (r.size() + 1);
    const size_t area = rng() % 4 == 0 ? rng() % 2000 : 169024;
    std::vector<uint8_t> response(area + 32, 0xA5);
    const int ok = query_each(db_, r.data(), length, response.data(), area, q.areas(), static_cast<int>(rng() % 2),
                              english());
    for (size_t i = area; i < response.size(); ++i) ASSERT_EQ(response[i], 0xA5) << round;
    if (area >= kMinResponseSize) {
      QueryResponseView v;
      ASSERT_TRUE(read_query_response(response.data(), area, &v)) << round << " " << text;
      EXPECT_EQ(ok == 1, v.complete) << round;
      complete += ok;
      for (uint32_t i = 0; i < v.hit_count; ++i) {
        const Hit h = response_hit(v, i);
        EXPECT_GE(hit_value(h), 1u);
        EXPECT_LE(hit_value(h), 100u);
        EXPECT_LT(hit_docid(h), 60u);
      }
    }
  }
  EXPECT_GT(complete, 800);
}

}  // namespace
}  // namespace vorlane::engine
