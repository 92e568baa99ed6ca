#include "linguistics/fst/lookup_memo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

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

// The thread's front table answers for the memo that stored the entry only:
// not for another memo holding the same key, nor for a new memo made where
// a freed one was; and an entry stored by one thread is found by another.
TEST(LookupMemo, EachMemoAnswersWithItsOwnEntriesInEveryThread) {
  MemoKey key;
  key.add(int8_t{7}).add(int32_t{200}).add_text("walking", 7);
  int32_t result = 0;
  size_t length = 0;
  char out[16];
  LookupMemo first, second;
  first.store(key.view(), 1, "walk", 5);
  EXPECT_FALSE(second.find(key.view(), &result, out, sizeof out, &length));
  second.store(key.view(), 2, "walkin", 7);
  ASSERT_TRUE(first.find(key.view(), &result, out, sizeof out, &length));
  EXPECT_EQ(result, 1);
  EXPECT_STREQ(out, "walk");
  ASSERT_TRUE(second.find(key.view(), &result, out, sizeof out, &length));
  EXPECT_EQ(result, 2);
  EXPECT_STREQ(out, "walkin");

  for (int round = 0; round < 4; ++round) {  // the allocator hands back the same block
    auto memo = std::make_unique<LookupMemo>();
    EXPECT_FALSE(memo->find(key.view(), &result, out, sizeof out, &length)) << round;
    memo->store(key.view(), round, "x", 2);
  }

  bool found = false;
  std::thread other([&] {
    int32_t r = 0;
    size_t n = 0;
    char bytes[16];
    found = first.find(key.view(), &r, bytes, sizeof bytes, &n) && r == 1 && std::strcmp(bytes, "walk") == 0;
  });
  other.join();
  EXPECT_TRUE(found);

  // A value too long for a front slot comes back whole from the shards.
  std::string stems(200, 's');
  first.store(key.view(), 3, stems.data(), stems.size());
  std::string back(stems.size(), '\0');
  ASSERT_TRUE(first.find(key.view(), &result, back.data(), back.size(), &length));
  EXPECT_EQ(result, 3);
  EXPECT_EQ(back, stems);
}

// Far more keys than the front table has places, so many share a place:
// each key still answers with its own bytes, in the order stored and after
// keys it met in its place were found again in between.
TEST(LookupMemo, KeysSharingAFrontPlaceKeepTheirOwnValues) {
  constexpr int kKeys = 100000;
  LookupMemo memo(size_t{1} << 18);
  auto key_of = [](int i) {
    MemoKey key;
    std::string word = "w" + std::to_string(i);
    key.add(int8_t{7}).add(int32_t{200}).add_text(word.data(), word.size());
    return key;
  };
  for (int i = 0; i < kKeys; ++i) {
    std::string value = std::to_string(i * 7);
    memo.store(key_of(i).view(), i, value.c_str(), value.size() + 1);
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = pass ? kKeys - 1 : 0; pass ? i >= 0 : i < kKeys; i += pass ? -3 : 1) {
      int32_t result = -1;
      size_t length = 0;
      char out[32];
      ASSERT_TRUE(memo.find(key_of(i).view(), &result, out, sizeof out, &length)) << i;
      ASSERT_EQ(result, i);
      ASSERT_STREQ(out, std::to_string(i * 7).c_str()) << i;
    }
  }
}

}  // namespace
}  // namespace vorlane
