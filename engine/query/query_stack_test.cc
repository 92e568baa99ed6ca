// Queries on threads of small stacks (64 KiB, as a script thread may have):
// per-database execution with and without merging, refinements (one of
// them out of term room, so that its error is logged), and all-hits runs,
// 16 threads at once on pages of the installed documentation, each giving
// what the main thread gives.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "engine/module/cache_setup.h"
#include "engine/query/allhits.h"
#include "engine/testing/query_testing.h"
#include "platform/testing/test_root.h"
#include "store/cclass.h"
#include "store/log.h"
#include "store/score_tables.h"

namespace vorlane::engine {
namespace {

using namespace query_testing;

// The sanitizer builds' larger frames fit as well (they need under 40 KiB).
constexpr size_t kStackBytes = 64 * 1024;
constexpr int kThreads = 16;

std::atomic<int> refinement_errors{0};

// Counts the refinement's error, then logs it as the default handler does
// (on the thread's small stack too).
void count_refinement_errors(uint32_t level, const char* format, va_list args) {
  if (std::strstr(format, "buffer space in refinement")) ++refinement_errors;
  LogMessage(level, format, args);
}

struct Outcome {
  std::vector<std::vector<uint8_t>> responses;
  std::vector<std::vector<uint32_t>> docids;
  bool operator==(const Outcome& o) const { return responses == o.responses && docids == o.docids; }
};

struct Work {
  idbm_db* db;
  const std::vector<std::pair<std::string, int>>* requests;  // text, merge
  const std::vector<std::string>* allhits;
  Outcome out;
};

void run_work(Work* w) {
  QueryRun q;
  for (const auto& [text, merge] : *w->requests) {
    const std::vector<uint8_t> r = request(text, 1, 20, merge ? kRequestQuery : kRequestSingle);
    if (q.run(w->db, r, merge, english()) != 1) {
      w->out.responses.push_back({});
      continue;
    }
    const QueryResponseView v = q.view();
    w->out.responses.emplace_back(q.response.begin(), q.response.begin() + v.end);
  }
  for (const std::string& text : *w->allhits) {
    std::string copy = text;
    uint32_t* docids = nullptr;
    const int n = query_each2(w->db, copy.data(), q.areas(), english(), &docids);
    w->out.docids.emplace_back(docids, docids + (n > 0 ? n : 0));
    free(docids);
  }
}

TEST(QueryStacks, SixteenThreadsOfSmallStacksGiveTheMainThreadsResults) {
  if (!english().stemmer) GTEST_SKIP() << "no default English resource set";
  const std::vector<Page> pages = load_pages(80, 6000);
  if (pages.size() < 20) GTEST_SKIP() << "no HTML documentation installed";
  init_percent_table();
  init_blend_table();
  cache_release_arenas();
  // The arenas cache_init(16 MB, 1000, 0) makes.
  const CachePlan plan = cache_plan(1 << 24, 1000, 0);
  for (int i = 0; i < plan.arena_count; ++i) cache_add_arena(plan.arenas[i].postings, plan.arenas[i].count);
  platform::TestRoot root;
  const std::string path = root.file("db");
  ASSERT_EQ(write_database(path, page_docs(pages, english())), 1);
  idbm_db* db = open_query_db(path, 3, false);
  ASSERT_NE(db, nullptr);

  // 78 indexed words fill the first part's term room: the refinement after
  // them finds none left.
  std::string filler;
  int words = 0;
  std::istringstream in(pages[0].body);
  std::vector<std::string> seen;
  for (std::string w; words < 78 && in >> w;) {
    bool plain = w.size() > 2;
    for (char& c : w) {
      plain = plain && c_isalpha(static_cast<unsigned char>(c));
      c = static_cast<char>(c_tolower(static_cast<unsigned char>(c)));
    }
    if (!plain || std::find(seen.begin(), seen.end(), w) != seen.end()) continue;
    seen.push_back(w);
    QueryRun probe;
    if (probe.run(db, request(w), 0, english()) != 1 || probe.view().hit_count == 0) continue;
    filler += w + " ";
    ++words;
  }
  ASSERT_EQ(words, 78);

  const std::vector<std::pair<std::string, int>> requests = {
      {"python list dictionary", 1},
      {"+python \"standard library\" -tuple", 0},
      {"module function \"the python tutorial\"", 1},
      {"exception | error || handling", 0},
      {filler + "| python", 0},
  };
  const std::vector<std::string> allhits = {"list dictionary set tuple string", "+object \"return value new reference\"",
                                            "+function \"the reference count\""};

  const log_handler_fn old_handler = log_handler.load();
  const uint32_t old_mask = log_mask.load();
  log_mask.store(LOG_ERROR);
  log_handler.store(&count_refinement_errors);

  Work main{db, &requests, &allhits, {}};
  run_work(&main);
  ASSERT_EQ(refinement_errors.load(), 1);
  for (size_t i = 0; i < main.out.responses.size(); ++i) EXPECT_FALSE(main.out.responses[i].empty()) << i;
  for (size_t i = 0; i < main.out.docids.size(); ++i) EXPECT_FALSE(main.out.docids[i].empty()) << i;

  std::vector<Work> work(kThreads, Work{db, &requests, &allhits, {}});
  std::vector<pthread_t> threads(kThreads);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, kStackBytes), 0);
  for (int k = 0; k < kThreads; ++k) {
    ASSERT_EQ(pthread_create(
                  &threads[k], &attr,
                  [](void* p) -> void* {
                    run_work(static_cast<Work*>(p));
                    return nullptr;
                  },
                  &work[k]),
              0);
  }
  for (pthread_t t : threads) pthread_join(t, nullptr);
  pthread_attr_destroy(&attr);
  log_handler.store(old_handler);
  log_mask.store(old_mask);

  EXPECT_EQ(refinement_errors.load(), 1 + kThreads);
  for (int k = 0; k < kThreads; ++k) EXPECT_TRUE(work[k].out == main.out) << "thread " << k;
  idbm_close(db);
  cache_release_arenas();
}

}  // namespace
}  // namespace vorlane::engine
