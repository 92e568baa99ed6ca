#include "engine/db/title_cache.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "store/term_hash.h"

namespace vorlane::engine {
namespace {

std::vector<unsigned char> record_of(int seed) {
  std::vector<unsigned char> r(kTitleRecordSize);
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<unsigned char>(seed + i);
  return r;
}

struct CacheDeleter {
  void operator()(title_cache* c) const { title_cache_free(c); }
};
using cache_ptr = std::unique_ptr<title_cache, CacheDeleter>;

TEST(TitleCache, SizeFromTheBudget) {
  EXPECT_EQ(title_cache_create(579), nullptr);
  EXPECT_EQ(title_cache_create(0), nullptr);
  cache_ptr c(title_cache_create(5800));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->nslots, 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(c->slots[i].docid, -1);
  cache_ptr one(title_cache_create(580 * 2 - 1));
  EXPECT_EQ(one->nslots, 1);
}

TEST(TitleCache, HitsLookupsAndCollisions) {
  cache_ptr c(title_cache_create(5800));
  auto a = record_of(1), b = record_of(2);
  std::vector<unsigned char> out(kTitleRecordSize);
  EXPECT_EQ(title_cache_lookup(c.get(), "/db/a", 3, out.data()), 0);
  EXPECT_EQ(title_cache_insert(c.get(), "/db/a", 3, a.data()), 1);
  EXPECT_EQ(title_cache_lookup(c.get(), "/db/a", 3, out.data()), 1);
  EXPECT_EQ(out, a);
  EXPECT_EQ(c->lookups.load(), 2);
  EXPECT_EQ(c->hits.load(), 1);
  // Same path, docid 13: the same slot of 10; the newer pair replaces the older.
  EXPECT_EQ(title_cache_insert(c.get(), "/db/a", 13, b.data()), 1);
  EXPECT_EQ(title_cache_lookup(c.get(), "/db/a", 3, out.data()), 0);
  EXPECT_EQ(title_cache_lookup(c.get(), "/db/a", 13, out.data()), 1);
  EXPECT_EQ(out, b);
  // Another path that lands in the same slot does not match.
  const uint32_t slot_a = (term_hash1("/db/a") + 13u) % 10u;
  std::string other;
  for (int i = 0; other.empty(); ++i) {
    std::string name = "/db/other" + std::to_string(i);
    if ((term_hash1(name.c_str()) + 13u) % 10u == slot_a) other = name;
  }
  EXPECT_EQ(title_cache_lookup(c.get(), other.c_str(), 13, out.data()), 0);
}

TEST(TitleCache, RefusedArguments) {
  cache_ptr c(title_cache_create(5800));
  auto a = record_of(1);
  std::vector<unsigned char> out(kTitleRecordSize);
  const std::string long_name(128, 'x'), longest(127, 'x');
  EXPECT_EQ(title_cache_insert(c.get(), long_name.c_str(), 1, a.data()), 0);
  EXPECT_EQ(title_cache_insert(c.get(), longest.c_str(), 1, a.data()), 1);
  EXPECT_EQ(title_cache_lookup(c.get(), longest.c_str(), 1, out.data()), 1);
  EXPECT_EQ(title_cache_insert(c.get(), "/db", -1, a.data()), 0);
  EXPECT_EQ(title_cache_lookup(c.get(), "/db", -1, out.data()), 0);
  EXPECT_EQ(title_cache_insert(nullptr, "/db", 1, a.data()), 0);
  EXPECT_EQ(title_cache_lookup(nullptr, "/db", 1, out.data()), 0);
  EXPECT_EQ(title_cache_insert(c.get(), nullptr, 1, a.data()), 0);
  EXPECT_EQ(title_cache_lookup(c.get(), "/db", 1, nullptr), 0);
}

TEST(TitleCache, PurgeForgetsOnePath) {
  cache_ptr c(title_cache_create(580 * 1000));
  auto a = record_of(1);
  std::vector<unsigned char> out(kTitleRecordSize);
  for (int d = 0; d < 5; ++d) {
    title_cache_insert(c.get(), "/db/a", d, a.data());
    title_cache_insert(c.get(), "/db/b", d + 100, a.data());
  }
  // Names of the path's title files go with it; those of a longer path stay.
  const std::string file_of_a = std::string("/db/a") + kTitleCacheFileMark + "803:1f",
                    file_of_ab = std::string("/db/ab") + kTitleCacheFileMark + "803:1f";
  title_cache_insert(c.get(), file_of_a.c_str(), 7, a.data());
  title_cache_insert(c.get(), file_of_ab.c_str(), 7, a.data());
  title_cache_purge(c.get(), "/db/a");
  for (int d = 0; d < 5; ++d) {
    EXPECT_EQ(title_cache_lookup(c.get(), "/db/a", d, out.data()), 0);
    EXPECT_EQ(title_cache_lookup(c.get(), "/db/b", d + 100, out.data()), 1);
  }
  EXPECT_EQ(title_cache_lookup(c.get(), file_of_a.c_str(), 7, out.data()), 0);
  EXPECT_EQ(title_cache_lookup(c.get(), file_of_ab.c_str(), 7, out.data()), 1);
  title_cache_purge(nullptr, "/db/a");
}

// Readers never see a record torn between two writers, and counts add up.
TEST(TitleCache, ConcurrentReadersAndWriters) {
  cache_ptr c(title_cache_create(580 * 4));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::vector<unsigned char> out(kTitleRecordSize);
      for (int i = 0; i < 2000; ++i) {
        auto r = record_of(t);
        title_cache_insert(c.get(), "/db", i % 8, r.data());
        if (title_cache_lookup(c.get(), "/db", (i + t) % 8, out.data())) {
          for (size_t k = 1; k < out.size(); ++k)
            ASSERT_EQ(static_cast<unsigned char>(out[k] - out[0]), static_cast<unsigned char>(k));
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(c->lookups.load(), 8000);
  EXPECT_LE(c->hits.load(), 8000);
  EXPECT_GT(c->hits.load(), 0);
}

}  // namespace
}  // namespace vorlane::engine
