// Document term tables made, filled and released on many threads at once:
// their blocks pass from thread to thread through the shared pool, each
// arriving as clean as a fresh one and counting as a table of its own.
#include "store/doc_terms.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace vorlane {
namespace {

TEST(DocTermsConcurrency, PooledTablesPassBetweenThreadsClean) {
  constexpr int kThreads = 6, kDocuments = 40;
  const size_t cell_bytes = kDocArenaSize - kDocTextPoolSize;
  const std::vector<char> zero(cell_bytes, 0);
  std::atomic<int> dirty{0}, wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int d = 0; d < kDocuments; ++d) {
        doc_terms table;
        void* arena = doc_terms_alloc(&table);
        if (!arena) {
          wrong++;
          return;
        }
        if (memcmp(arena, zero.data(), cell_bytes) != 0) dirty++;
        // Few terms on most documents, many on some: both ways of cleaning.
        const int terms = d % 5 == 0 ? 6000 : 200;
        for (int k = 0; k < terms; ++k) {
          const std::string text = "t" + std::to_string(t) + "." + std::to_string(k);
          idbm_incr_text(&table, text.c_str(), 1 + k % 7, 3, 1);
          if (k % 100 == 99) clear_raw_freq(&table);
        }
        idbm_incr_text(&table, "t.0", 2, -1, 1);
        if (table.counters[DT_DISTINCT_1] != static_cast<uint32_t>(terms) + 1) wrong++;
        if (d % 2) doc_terms_compact(&table);
        doc_terms_free(arena);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(dirty.load(), 0);
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace vorlane
