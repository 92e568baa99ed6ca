#include "linguistics/fst/lookup_memo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vorlane {
namespace {

TEST(LookupMemo, GivesBackTheStoredBytesAndCodeOnlyWhereTheyFit) {
  LookupMemo memo(64);
  MemoKey key;
  key.add(int8_t{3}).add(int32_t{500}).add_text("walks", 5);
  // Bytes with NULs of their own, as decoded results may hold.
  const char stored[] = "walk\0\0walks";
  memo.store(key.view(), 2, stored, sizeof stored);

  char out[32];
  std::memset(out, 'x', sizeof out);
  int32_t result = 0;
  size_t length = 0;
  ASSERT_TRUE(memo.find(key.view(), &result, out, sizeof out, &length));
  EXPECT_EQ(result, 2);
  ASSERT_EQ(length, sizeof stored);
  EXPECT_EQ(std::memcmp(out, stored, sizeof stored), 0);
  EXPECT_EQ(out[sizeof stored], 'x');  // nothing past the stored bytes

  EXPECT_FALSE(memo.find(key.view(), &result, out, sizeof stored - 1, &length));  // no room: a miss
  MemoKey other;  // same word, other output size
  other.add(int8_t{3}).add(int32_t{200}).add_text("walks", 5);
  EXPECT_FALSE(memo.find(other.view(), &result, out, sizeof out, &length));
}

TEST(LookupMemo, StaysWithinItsCapacityAndSkipsLongKeysAndValues) {
  LookupMemo memo(256);
  for (int i = 0; i < 5000; ++i) {
    std::string word = "w" + std::to_string(i);
    MemoKey key;
    key.add(int8_t{7}).add_text(word.data(), word.size());
    memo.store(key.view(), 1, word.data(), word.size() + 1);
    EXPECT_LE(memo.size(), 256u);
  }
  MemoKey last;
  last.add(int8_t{7}).add_text("w4999", 5);
  int32_t result;
  size_t length;
  char out[16];
  EXPECT_TRUE(memo.find(last.view(), &result, out, sizeof out, &length));  // the newest is kept

  std::string long_word(LookupMemo::kMaxKey, 'a');
  MemoKey long_key;
  long_key.add(int8_t{7}).add_text(long_word.data(), long_word.size());
  EXPECT_FALSE(long_key.fits());
  std::string big(LookupMemo::kMaxValue + 1, 'b');
  MemoKey key;
  key.add(int8_t{7}).add_text("big", 3);
  memo.store(key.view(), 1, big.data(), big.size());
  std::string back(big.size(), '\0');
  EXPECT_FALSE(memo.find(key.view(), &result, back.data(), back.size(), &length));
}

TEST(LookupMemo, BypassedMemosMissAndRememberNothing) {
  LookupMemo memo;
  MemoKey key;
  key.add(int8_t{5}).add_text("ran", 3);
  memo.store(key.view(), 1, "run", 4);
  LookupMemo::set_bypass(true);
  int32_t result;
  size_t length;
  char out[8];
  EXPECT_FALSE(memo.find(key.view(), &result, out, sizeof out, &length));
  MemoKey other;
  other.add(int8_t{5}).add_text("went", 4);
  memo.store(other.view(), 1, "go", 3);
  LookupMemo::set_bypass(false);
  EXPECT_TRUE(memo.find(key.view(), &result, out, sizeof out, &length));
  EXPECT_FALSE(memo.find(other.view(), &result, out, sizeof out, &length));
}

}  // namespace
}  // namespace vorlane
