#include "engine/query/query_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/module/engine_globals.h"

namespace vorlane::engine {
namespace {

// The pool and its globals are process-wide: each test starts from an empty
// pool and puts the globals back.
class QueryBufferPool : public testing::Test {
 protected:
  void SetUp() override {
    saved_size_ = query_buffer_size;
    saved_limit_ = query_pool_limit;
    query_buffer_size = 3 * 4096;
  }
  void TearDown() override {
    while (pooled_query_buffers() > 0) reap_query_buffers();
    query_buffer_size = saved_size_;
    query_pool_limit = saved_limit_;
  }
  size_t saved_size_;
  uint32_t saved_limit_;
};

TEST_F(QueryBufferPool, NoBufferBeforeTheSizeIsSet) {
  query_buffer_size = 0;
  EXPECT_EQ(query_buffer_get(), nullptr);
}

TEST_F(QueryBufferPool, TakesTheBufferMostRecentlyPutBack) {
  query_pool_limit = 4;
  void* a = query_buffer_get();
  void* b = query_buffer_get();
  ASSERT_TRUE(a && b);
  ASSERT_NE(a, b);
  std::memset(a, 0xAB, query_buffer_size);  // the whole block is usable
  query_buffer_put(a);
  query_buffer_put(b);
  EXPECT_EQ(pooled_query_buffers(), 2);
  EXPECT_EQ(query_buffer_get(), b);
  EXPECT_EQ(query_buffer_get(), a);
  EXPECT_EQ(pooled_query_buffers(), 0);
  // Reused without clearing.
  EXPECT_EQ(static_cast<unsigned char*>(a)[query_buffer_size - 1], 0xAB);
  query_buffer_put(a);
  query_buffer_put(b);
}

TEST_F(QueryBufferPool, LimitOfZeroKeepsNothing) {
  query_pool_limit = 0;
  query_buffer_put(query_buffer_get());
  EXPECT_EQ(pooled_query_buffers(), 0);
  EXPECT_EQ(reap_query_buffers(), 0);
}

// Three queries at once with a limit of 2: three buffers exist, two stay
// pooled; reaping then frees one, one, none.
TEST_F(QueryBufferPool, ThreeAtOnceWithLimitTwoThenReaping) {
  query_pool_limit = 2;
  void* held[3];
  for (void*& p : held) ASSERT_NE(p = query_buffer_get(), nullptr);
  for (void* p : held) query_buffer_put(p);
  EXPECT_EQ(pooled_query_buffers(), 2);
  EXPECT_EQ(reap_query_buffers(), 1);
  EXPECT_EQ(pooled_query_buffers(), 1);
  EXPECT_EQ(reap_query_buffers(), 1);
  EXPECT_EQ(pooled_query_buffers(), 0);
  EXPECT_EQ(reap_query_buffers(), 0);
}

TEST_F(QueryBufferPool, ReapingKeepsTheOlderHalf) {
  query_pool_limit = 20;
  void* held[5];
  for (void*& p : held) ASSERT_NE(p = query_buffer_get(), nullptr);
  for (void* p : held) query_buffer_put(p);
  EXPECT_EQ(reap_query_buffers(), 3);  // 5 - 5/2
  EXPECT_EQ(query_buffer_get(), held[1]);
  EXPECT_EQ(query_buffer_get(), held[0]);
}

TEST(QueryBufferLayoutTest, AreasFillTheBufferExactly) {
  for (uint32_t m : {1000u, 40000u, 131071u}) {
    QueryBufferLayout l = query_buffer_layout(m);
    EXPECT_EQ(l.heap, kQueryAreaSize);
    EXPECT_EQ(l.heap_entries, (m * 2 + 2) * 3);
    EXPECT_EQ(l.list_words, m * 2 + 10);
    // 48 databases with copies, then 500 title records, end at the size.
    EXPECT_EQ(query_titles_offset(l, kMaxQueryDbs, true) + 500 * 448, query_buffer_size_for(m)) << m;
    EXPECT_EQ(query_response_offset(l, 1, false), l.responses + kQueryAreaSize);
    EXPECT_EQ(query_response_offset(l, 1, true), l.responses + 2 * kQueryAreaSize);
  }
  EXPECT_EQ(query_buffer_size_for(40000), 18859416u);
}

}  // namespace
}  // namespace vorlane::engine
