#include "store/strtab.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace vorlane {
namespace {

struct Table {
  strtab t;
  explicit Table(uint32_t size) { EXPECT_EQ(strtab_create(&t, size), 1); }
  ~Table() { strtab_destroy(&t); }
  std::vector<std::string> layout() const {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < t.size; ++i) out.push_back(t.entries[i].value ? t.entries[i].key : "-");
    return out;
  }
  uint32_t position(const char* key) const {
    for (uint32_t i = 0; i < t.size; ++i)
      if (t.entries[i].value && std::string(t.entries[i].key) == key) return i;
    return UINT32_MAX;
  }
};

TEST(Strtab, StepModulus) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {7, 11}, {30, 7}, {1001, 17}, {1, 7}, {65536, 7}, {0, 1},
      {7u * 11 * 13 * 17 * 23, 29},
  };
  for (auto [size, mod] : cases) EXPECT_EQ(strtab_step_modulus(size), mod) << size;
  Table t(1001);
  EXPECT_EQ(t.t.step_mod, 17u);
}

// Insertion, Brent moves and counters of a size-7 table, step by step.
// Expected layouts and counters come from a separate model of the rules
// (hashes: alpha home 4 step 9, beta 1/7, gamma 2/10, delta 4/11, epsilon
// 3/5, zeta 1/7, eta 4/9, theta 6/6).
TEST(Strtab, InsertMovesAndCountersOfASmallTable) {
  Table t(7);
  const char* keys[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta"};
  const int results[] = {1, 1, 1, 1, 1, 0, 1, 1};
  const std::vector<std::vector<std::string>> layouts = {
      {"-", "-", "-", "-", "alpha", "-", "-"},
      {"-", "beta", "-", "-", "alpha", "-", "-"},
      {"-", "beta", "gamma", "-", "alpha", "-", "-"},
      // delta's home holds alpha: alpha moves on along its own sequence.
      {"-", "beta", "gamma", "-", "delta", "-", "alpha"},
      {"-", "beta", "gamma", "epsilon", "delta", "-", "alpha"},
      // zeta hashes like beta (only the first letter differs) and its step,
      // 7, is a multiple of the size: its sequence never leaves entry 1.
      {"-", "beta", "gamma", "epsilon", "delta", "-", "alpha"},
      {"-", "beta", "gamma", "epsilon", "eta", "delta", "alpha"},
      {"alpha", "beta", "gamma", "epsilon", "eta", "delta", "theta"},
  };
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(keys[i]);
    EXPECT_EQ(strtab_insert(&t.t, keys[i], i + 1), results[i]);
    EXPECT_EQ(t.layout(), layouts[i]);
  }
  EXPECT_EQ(t.t.count, 7u);
  EXPECT_EQ(t.t.inserts, 8u);
  EXPECT_EQ(t.t.lookups, 0u);

  // value, lookup counter, probe counter after each lookup.
  const uint32_t expected[][3] = {{1, 1, 6}, {2, 2, 7},  {3, 3, 8},  {4, 4, 11}, {5, 5, 12},
                                  {0, 6, 20}, {7, 7, 21}, {8, 8, 22}, {0, 9, 30}};
  const char* lookups[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta", "iota"};
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(lookups[i]);
    EXPECT_EQ(strtab_lookup(&t.t, lookups[i]), expected[i][0]);
    EXPECT_EQ(t.t.lookups, expected[i][1]);
    EXPECT_EQ(t.t.probes, expected[i][2]);
  }

  // A full table: no place within count + 1 rounds.
  EXPECT_EQ(strtab_insert(&t.t, "iota", 9), 0);
  EXPECT_EQ(t.t.count, 7u);
  EXPECT_EQ(t.t.inserts, 9u);
}

TEST(Strtab, KeysDifferingInTheirFirstCharacterCollideAndBothAreFound) {
  Table t(101);
  ASSERT_EQ(strtab_insert(&t.t, "xab", 1), 1);
  ASSERT_EQ(strtab_insert(&t.t, "yab", 2), 1);
  const uint32_t home = 1677455u % 101;  // the hash both share
  EXPECT_EQ(t.position("xab"), home);
  EXPECT_NE(t.position("yab"), home);
  EXPECT_EQ(strtab_lookup(&t.t, "xab"), 1u);
  EXPECT_EQ(strtab_lookup(&t.t, "yab"), 2u);
}

TEST(Strtab, HashReadsBytesAsSigned) {
  Table t(65536);
  ASSERT_EQ(strtab_insert(&t.t, "caf\xe9s", 1), 1);
  ASSERT_EQ(strtab_insert(&t.t, "\xe9\xe9\xe9", 2), 1);
  ASSERT_EQ(strtab_insert(&t.t, "ab", 3), 1);
  EXPECT_EQ(t.position("caf\xe9s"), 13693u);    // 15997 with unsigned bytes
  EXPECT_EQ(t.position("\xe9\xe9\xe9"), 61036u);  // 31340 with unsigned bytes
  EXPECT_EQ(t.position("ab"), 12838u);          // 'b' * 131 + 0
}

TEST(Strtab, EmptyAndOneCharacterKeys) {
  Table t(13);
  // An exactly sized copy: the hash must not read past the empty key's NUL.
  std::unique_ptr<char[]> empty(new char[1]{'\0'});
  ASSERT_EQ(strtab_insert(&t.t, empty.get(), 5), 1);
  EXPECT_EQ(t.position(""), 0u) << "the empty key hashes to 0";
  ASSERT_EQ(strtab_insert(&t.t, "q", 6), 1);  // also hashes to 0
  EXPECT_EQ(strtab_lookup(&t.t, empty.get()), 5u);
  EXPECT_EQ(strtab_lookup(&t.t, "q"), 6u);
  EXPECT_EQ(strtab_replace(&t.t, empty.get(), 8), 8u);
  EXPECT_EQ(strtab_lookup(&t.t, ""), 8u);
}

TEST(Strtab, DuplicateKeysAndReplace) {
  Table t(31);
  ASSERT_EQ(strtab_insert(&t.t, "key", 1), 1);
  ASSERT_EQ(strtab_insert(&t.t, "key", 2), 1);
  EXPECT_EQ(t.t.count, 2u) << "duplicates are not detected";
  EXPECT_EQ(strtab_lookup(&t.t, "key"), 1u) << "the entry met first on the sequence";
  EXPECT_EQ(strtab_replace(&t.t, "key", 7), 7u);
  EXPECT_EQ(strtab_lookup(&t.t, "key"), 7u);

  const std::vector<std::string> before = t.layout();
  const uint32_t lookups = t.t.lookups;
  EXPECT_EQ(strtab_replace(&t.t, "absent", 9), 0u);
  EXPECT_EQ(t.layout(), before);
  EXPECT_EQ(t.t.lookups, lookups + 1) << "replace counts as a lookup";
  EXPECT_EQ(strtab_lookup(&t.t, "absent"), 0u);
  // Value 0 would make the entry look empty: refused.
  EXPECT_EQ(strtab_insert(&t.t, "zero", 0), 0);
  EXPECT_EQ(strtab_replace(&t.t, "key", 0), 0u);
  EXPECT_EQ(strtab_lookup(&t.t, "key"), 7u);
}

TEST(Strtab, SizeZeroIsTheEmptyTable) {
  strtab t;
  ASSERT_EQ(strtab_create(&t, 0), 1);
  EXPECT_EQ(t.entries, nullptr);
  EXPECT_EQ(strtab_insert(&t, "a", 1), 0);
  EXPECT_EQ(strtab_insert(&t, "", 1), 0);
  EXPECT_EQ(strtab_lookup(&t, "a"), 0u);
  EXPECT_EQ(strtab_replace(&t, "a", 2), 0u);
  strtab_destroy(&t);
  EXPECT_EQ(t.size, 0u);
  EXPECT_EQ(t.count, 0u);
}

TEST(Strtab, ManyKeysAreAllFoundAndDestroyZeroes) {
  Table t(1009);
  std::map<std::string, uint32_t> model;
  std::mt19937 rng(5);
  for (uint32_t i = 1; i <= 900; ++i) {
    std::string key = "term" + std::to_string(rng() % 100000) + "\xe4" + std::to_string(i);
    if (strtab_insert(&t.t, key.c_str(), i)) model[key] = i;
  }
  EXPECT_GE(model.size(), 800u);
  EXPECT_EQ(t.t.count, model.size());
  for (const auto& [key, value] : model) ASSERT_EQ(strtab_lookup(&t.t, key.c_str()), value) << key;
  EXPECT_EQ(strtab_lookup(&t.t, "never inserted"), 0u);
  strtab_destroy(&t.t);
  EXPECT_EQ(t.t.entries, nullptr);
  EXPECT_EQ(t.t.size, 0u);
  EXPECT_EQ(t.t.probes, 0u);
}

}  // namespace
}  // namespace vorlane
