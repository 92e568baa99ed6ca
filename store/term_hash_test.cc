#include "store/term_hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace vorlane {
namespace {

// Expected values computed independently (a few lines of Python over the two
// rules, modulo 2^32, without the final mask, then masked by hand).
struct HashCase {
  const char* text;
  uint32_t hash1;
  uint32_t hash2;
};

const HashCase kHashCases[] = {
    {"", 1, 1},
    {"a", 0x3ade6912u, 0x61u},
    {"hello", 0x4462cc09u, 0x28d19932u},  // rule 1 sum 0xc462cc09: bit 31 dropped
    {"title:hello", 0x5579778bu, 0x5ac399b0u},
    // High bytes enter the sums as 128..255, never negative.
    {"\xff", 0x3ade69b0u, 0xffu},
    {"\x80" "abc", 0x15fe496au, 0x738e57e2u},
    {"caf\xe9", 0x12486057u, 0x2e4cb3c1u},
    // Rule 1 sum is exactly 0x80000000: only bit 31 set, so the hash is 1.
    {"\x06\xcb\xf9\x8e\xb3", 1, 0x779cf999u},
    // Rule 1 sum is 0.
    {"\x0e\xac\xa7\xef\xbb", 1, 0x4caccb15u},
    // Rule 2 sum is exactly 0x80000000.
    {"\x06\xce\xf3\x51\xe6", 0x00609ff3u, 1},
    // Rule 2 sum is 0.
    {"\x01\x04\x02\xfc\xfd", 0x13c38a75u, 1},
};

TEST(TermHash, VectorsForBothRulesAndThePair) {
  for (const HashCase& c : kHashCases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    EXPECT_EQ(term_hash1(c.text), c.hash1);
    EXPECT_EQ(term_hash2(c.text), c.hash2);
    uint64_t pair = term_hash_pair(c.text);
    EXPECT_EQ(static_cast<uint32_t>(pair), c.hash1) << "hash1 is the low word";
    EXPECT_EQ(static_cast<uint32_t>(pair >> 32), c.hash2) << "hash2 is the high word";
    hash_pair p = pair_from_u64(pair);
    EXPECT_EQ(p.hash1, c.hash1);
    EXPECT_EQ(p.hash2, c.hash2);
    EXPECT_EQ(pair_to_u64(p), pair);
  }
}

TEST(TermHash, EveryResultIsInOneTo31Bits) {
  std::string s;
  for (int i = 0; i < 2000; ++i) {
    s.push_back(static_cast<char>(1 + (i * 37) % 255));
    hash_pair p = pair_from_u64(term_hash_pair(s.c_str()));
    ASSERT_GE(p.hash1, 1u);
    ASSERT_LE(p.hash1, kHashMask);
    ASSERT_GE(p.hash2, 1u);
    ASSERT_LE(p.hash2, kHashMask);
  }
}

TEST(HashPairCmp, OrderNullsAndMaskedFlagBit) {
  const hash_pair a{5, 7}, flagged{0x80000000u | 5, 7}, flagged2{5, 0x80000000u | 7};
  const hash_pair b{5, 9}, c{6, 1}, top{0x7FFFFFFFu, 1}, low{1, 0x7FFFFFFFu};
  EXPECT_EQ(hash_pair_cmp(&flagged, &a), 0);
  EXPECT_EQ(hash_pair_cmp(&flagged2, &a), 0);
  EXPECT_EQ(hash_pair_cmp(&a, &b), -2);  // difference of the second words
  EXPECT_EQ(hash_pair_cmp(&b, &a), 2);
  EXPECT_EQ(hash_pair_cmp(&c, &b), 1);   // first words decide before second
  EXPECT_EQ(hash_pair_cmp(&top, &low), 0x7FFFFFFE);
  EXPECT_EQ(hash_pair_cmp(&low, &top), -0x7FFFFFFE);
  EXPECT_EQ(hash_pair_cmp(nullptr, nullptr), 0);
  EXPECT_EQ(hash_pair_cmp(nullptr, &a), 1);   // a missing pair sorts last
  EXPECT_EQ(hash_pair_cmp(&a, nullptr), -1);
}

TEST(HashPairCmp, QsortOfRecordPointersSortsByMaskedPairWithNullsLast) {
  struct Record {
    hash_pair pair;
    int tag;
  };
  Record r[] = {{{9, 1}, 0}, {{0x80000000u | 3, 4}, 1}, {{3, 2}, 2}, {{0x7FFFFFFFu, 0}, 3}, {{9, 0x80000000u}, 4}};
  std::vector<const Record*> ptrs = {&r[0], nullptr, &r[1], &r[2], &r[3], &r[4]};
  qsort(ptrs.data(), ptrs.size(), sizeof ptrs[0], hash_pair_qsort_cmp);
  std::vector<int> order;
  for (const Record* p : ptrs) order.push_back(p ? p->tag : -1);
  EXPECT_EQ(order, (std::vector<int>{2, 1, 4, 0, 3, -1}));
}

}  // namespace
}  // namespace vorlane
