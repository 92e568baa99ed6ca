#include "engine/query/query_transform.h"

#include <gtest/gtest.h>

#include <string>

#include "store/testing/log_capture.h"
#include "store/term_hash.h"

namespace vorlane::engine {
namespace {

struct Table {
  ~Table() { free_query_transforms(t); }
  QueryTransformTable t;
};

TEST(QueryTransform, NormalisedKeysAndModes) {
  LogCapture log;
  Table table;
  ASSERT_EQ(add_query_transform(table.t, "\t Foo Bar \n", "foo OR bar", 3, 9), 1);
  const QueryTransform* e = apply_query_transform(table.t, "foo bar", 3);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->key, "foo bar03");
  EXPECT_STREQ(e->replacement, "foo OR bar");
  EXPECT_EQ(e->mode, 3u);
  EXPECT_EQ(e->new_mode, 9u);
  EXPECT_EQ(e->hash, term_hash1("foo bar03"));
  EXPECT_EQ(apply_query_transform(table.t, " FOO BAR ", 3), e);
  EXPECT_EQ(apply_query_transform(table.t, "foo bar", 4), nullptr) << "another mode, another key";
  EXPECT_EQ(apply_query_transform(table.t, "foo  bar", 3), nullptr) << "inner space kept";
  EXPECT_EQ(apply_query_transform(table.t, "foo\tbar", 3), nullptr) << "inner space kept";
  // Bytes above 0x7F are not letters of the C locale: kept as they are.
  char out[16];
  EXPECT_EQ(normalise_transform_key(" \xC4Z\xE4 ", out, sizeof out), 3u);
  EXPECT_STREQ(out, "\xC4z\xE4");
  EXPECT_EQ(normalise_transform_key(nullptr, out, sizeof out), 0u);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(normalise_transform_key(" \t\r\n\v\f", out, sizeof out), 0u);
  EXPECT_EQ(normalise_transform_key("  ABCDEFGHIJKLMNOPQRSTUVWXYZ", out, 4), 26u) << "whole length, cut output";
  EXPECT_STREQ(out, "abc");
}

TEST(QueryTransform, CapacityAndTheFullTable) {
  LogCapture log;
  Table small;
  ASSERT_EQ(init_query_transforms(small.t, 2), 1);
  EXPECT_EQ(small.t.capacity, 4u);
  EXPECT_EQ(add_query_transform(small.t, "a", "x", 0, 0), 1);
  EXPECT_EQ(add_query_transform(small.t, "b", "x", 0, 0), 1);
  EXPECT_EQ(add_query_transform(small.t, "c", "x", 0, 0), 1);
  EXPECT_EQ(add_query_transform(small.t, "d", "x", 0, 0), 0) << "count >= capacity - 1";
  EXPECT_TRUE(log.contains("Query Transformation table is full (4)")) << log.all();
  EXPECT_NE(apply_query_transform(small.t, "c", 0), nullptr);
  EXPECT_EQ(apply_query_transform(small.t, "d", 0), nullptr) << "the free entry ends the probe";
  EXPECT_EQ(init_query_transforms(small.t, 50), 1) << "created once";
  EXPECT_EQ(small.t.capacity, 4u);

  Table dflt;
  ASSERT_EQ(init_query_transforms(dflt.t, 0), 1);
  EXPECT_EQ(dflt.t.capacity, 1024u);
  Table implicit;
  ASSERT_EQ(add_query_transform(implicit.t, "q", "r", 0, 0), 1);
  EXPECT_EQ(implicit.t.capacity, 2048u) << "created with 1,024";

  Table limit;
  EXPECT_EQ(init_query_transforms(limit.t, 50000), 1);
  EXPECT_EQ(limit.t.capacity, 100000u);
  Table over;
  EXPECT_EQ(init_query_transforms(over.t, 50001), 0);
  EXPECT_FALSE(over.t.created);
  EXPECT_TRUE(log.contains("Too many query transformation (100002) for hash table")) << log.all();
  EXPECT_EQ(init_query_transforms(over.t, INT32_MAX), 0);
  EXPECT_TRUE(log.contains("Too many query transformation (4294967294) for hash table")) << log.all();
  Table negative;
  EXPECT_EQ(init_query_transforms(negative.t, -1), 0);
  EXPECT_FALSE(negative.t.created);
  EXPECT_EQ(add_query_transform(negative.t, "q", "r", 0, 0), 1) << "a later add still creates it";
}

TEST(QueryTransform, DuplicateKeyIsShadowed) {
  LogCapture log;
  Table table;
  ASSERT_EQ(add_query_transform(table.t, "Cats", "first", 1, 1), 1);
  ASSERT_EQ(add_query_transform(table.t, "cats ", "second", 1, 2), 1);
  EXPECT_EQ(table.t.count, 2u);
  const QueryTransform* e = apply_query_transform(table.t, "cats", 1);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->replacement, "first");
}

TEST(QueryTransform, Lengths) {
  LogCapture log;
  Table table;
  const std::string q127(127, 'q'), q128(128, 'q');
  EXPECT_EQ(add_query_transform(table.t, q128.c_str(), "r", 0, 0), 0);
  EXPECT_TRUE(log.contains("Query for transformation is too long (" + q128 + " > 128)")) << log.all();
  // 127 bytes fit the query, but not with the mode's digits in the key.
  EXPECT_EQ(add_query_transform(table.t, q127.c_str(), "r", 0, 0), 0);
  const std::string q125(125, 'q'), q119(119, 'q');
  EXPECT_EQ(add_query_transform(table.t, q125.c_str(), "r", 0xAB, 0), 1) << "125 + 2 digits + NUL = 128";
  EXPECT_NE(apply_query_transform(table.t, q125.c_str(), 0xAB), nullptr);
  // A 32-bit mode prints 8 digits, all counted against the key.
  EXPECT_EQ(add_query_transform(table.t, q125.c_str(), "r", 0xFFFFFFFFu, 0), 0);
  EXPECT_EQ(add_query_transform(table.t, q119.c_str(), "r", 0xFFFFFFFFu, 0), 1);
  EXPECT_NE(apply_query_transform(table.t, q119.c_str(), 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(apply_query_transform(table.t, q125.c_str(), 0xFFFFFFFFu), nullptr);

  const std::string r159(159, 'r'), r160(160, 'r');
  EXPECT_EQ(add_query_transform(table.t, "long", r159.c_str(), 0, 0), 1);
  EXPECT_EQ(add_query_transform(table.t, "longer", r160.c_str(), 0, 0), 0);
  EXPECT_TRUE(log.contains("Query for transformation is too long (" + r160 + " > 160)")) << log.all();
  EXPECT_EQ(add_query_transform(table.t, "", "r", 0, 0), 0);
  EXPECT_EQ(add_query_transform(table.t, nullptr, "r", 0, 0), 0);
  EXPECT_TRUE(log.contains("No query specified for transformation")) << log.all();
  EXPECT_EQ(add_query_transform(table.t, "no replacement", nullptr, 0, 0), 1);
  EXPECT_STREQ(apply_query_transform(table.t, "no replacement", 0)->replacement, "");

  // Texts around the 2,033-byte limit, padded so that they normalise to a
  // key that is there.
  ASSERT_EQ(add_query_transform(table.t, "foo", "bar", 0, 0), 1);
  const std::string fits = "foo" + std::string(2030, ' ');
  const std::string too_long = "foo" + std::string(2031, ' ');
  EXPECT_NE(apply_query_transform(table.t, fits.c_str(), 0), nullptr);
  EXPECT_EQ(apply_query_transform(table.t, too_long.c_str(), 0), nullptr);
  EXPECT_EQ(apply_query_transform(table.t, std::string(2034, 'x').c_str(), 0), nullptr);
  EXPECT_EQ(apply_query_transform(table.t, std::string(129, 'x').c_str(), 0), nullptr);
  EXPECT_EQ(apply_query_transform(table.t, nullptr, 0), nullptr);
}

TEST(QueryTransform, TheProcessTable) {
  // Before any add the process table is missing and finds nothing.
  EXPECT_FALSE(query_transforms.created);
  EXPECT_EQ(apply_query_transform("anything", 0), nullptr);
  LogCapture log;
  ASSERT_EQ(add_query_transform("Anything", "something", 0, 5), 1);
  EXPECT_TRUE(log.contains("Adding Query Transformation for Anything (anything) to something")) << log.all();
  EXPECT_EQ(query_transforms.capacity, 2048u);
  const QueryTransform* e = apply_query_transform("anything", 0);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->new_mode, 5u);
  EXPECT_EQ(init_query_transforms(10), 1);
}

}  // namespace
}  // namespace vorlane::engine
