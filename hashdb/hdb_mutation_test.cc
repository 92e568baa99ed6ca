// Seeded mutations of real files (flipped bytes, flipped header bytes, torn
// pages, pages copied over others, truncations): every open and every
// operation afterwards must end with a result or an error code, never a
// crash or a hang. Run under AddressSanitizer in CI.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "hashdb/testing/hdb_test_support.h"
#include "platform/testing/test_root.h"

namespace vorlane::hashdb {
namespace {

using testing::B;

struct Base {
  uint32_t bucket_size;
  int byte_order;
  std::vector<uint8_t> bytes;
  std::vector<std::string> keys;
};

Base make_base(const platform::TestRoot& root, uint32_t bucket_size, int order, unsigned seed) {
  Base base{bucket_size, order, {}, {}};
  std::string path = root.file("base.db");
  hdb_params params{};
  params.bucket_size = bucket_size;
  params.byte_order = order;
  hdb_handle* h = hdb_open(path.c_str(), kOpenReadWrite | kOpenCreate | kOpenTruncate, 0644, kTypeHash, &params);
  EXPECT_NE(h, nullptr);
  std::mt19937 rng(seed);
  for (int i = 0; i < 250; ++i) {
    std::string key = "key" + std::to_string(rng() % 400);
    size_t len = rng() % 8 == 0 ? rng() % (3 * bucket_size) : rng() % 30;
    std::string value(len, static_cast<char>('a' + rng() % 26));
    hdb_bytes k = B(key), v = B(value);
    EXPECT_EQ(h->put(h, &k, &v, 0), 0);
    base.keys.push_back(key);
    if (rng() % 5 == 0) {
      std::string gone = "key" + std::to_string(rng() % 400);
      hdb_bytes g = B(gone);
      h->del(h, &g, 0);
    }
  }
  EXPECT_EQ(testing::check_table(h), "");
  EXPECT_EQ(h->close(h), 0);
  base.bytes = testing::read_file(path);
  return base;
}

void mutate(std::vector<uint8_t>& bytes, uint32_t page_size, std::mt19937& rng) {
  if (bytes.empty()) return;
  uint32_t pages = static_cast<uint32_t>(bytes.size() / page_size);
  switch (rng() % 7) {
    case 0:  // a flipped byte anywhere
    case 1:
      bytes[rng() % bytes.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      break;
    case 2:  // a flipped header byte
      bytes[rng() % 248] ^= static_cast<uint8_t>(1u << (rng() % 8));
      break;
    case 3: {  // a torn page: its second part zeros or noise
      if (pages < 2) break;
      uint32_t p = 1 + rng() % (pages - 1);
      uint32_t from = rng() % page_size;
      bool noise = rng() % 2;
      for (uint32_t i = from; i < page_size; ++i) bytes[p * page_size + i] = noise ? static_cast<uint8_t>(rng()) : 0;
      break;
    }
    case 4: {  // one page copied over another
      if (pages < 3) break;
      uint32_t a = 1 + rng() % (pages - 1), b = 1 + rng() % (pages - 1);
      std::copy(bytes.begin() + a * page_size, bytes.begin() + (a + 1) * page_size, bytes.begin() + b * page_size);
      break;
    }
    case 5:  // truncated
      bytes.resize(rng() % bytes.size());
      break;
    case 6: {  // a 16-bit field of a page set to a random value
      size_t at = (rng() % bytes.size()) & ~size_t{1};
      if (at + 1 < bytes.size()) {
        bytes[at] = static_cast<uint8_t>(rng());
        bytes[at + 1] = static_cast<uint8_t>(rng());
      }
      break;
    }
  }
}

bool valid_result(int r) { return r == 0 || r == 1 || r == -1; }

TEST(HdbMutation, DamagedFilesNeverCrashOrHang) {
  platform::TestRoot root;
  std::vector<Base> bases = {make_base(root, 64, 4321, 1), make_base(root, 256, 1234, 2),
                             make_base(root, 512, 4321, 3), make_base(root, 4096, 1234, 4)};
  std::string path = root.file("mutated.db");
  // HDB_ROUNDS runs a longer search locally.
  const int rounds = getenv("HDB_ROUNDS") ? atoi(getenv("HDB_ROUNDS")) : 3000;
  int opened = 0;
  for (int round = 0; round < rounds; ++round) {
    std::mt19937 rng(static_cast<unsigned>(round) * 2654435761u);
    const Base& base = bases[round % bases.size()];
    std::vector<uint8_t> bytes = base.bytes;
    int mutations = 1 + static_cast<int>(rng() % 4);
    for (int m = 0; m < mutations; ++m) mutate(bytes, base.bucket_size, rng);
    testing::write_file(path, bytes);
    bool writable = rng() % 2;
    hdb_handle* h = hdb_open(path.c_str(), writable ? kOpenReadWrite : kOpenReadOnly, 0, kTypeHash, nullptr);
    if (!h) {
      ASSERT_NE(errno, 0) << "round " << round;
      continue;
    }
    ++opened;
    hdb_bytes key{}, data{};
    unsigned flags = kSeqFirst;
    int r, steps = 0;
    while ((r = h->seq(h, &key, &data, flags)) == 0) {
      flags = kSeqNext;
      ASSERT_LT(++steps, 100000) << "round " << round;
    }
    ASSERT_TRUE(valid_result(r));
    for (size_t i = 0; i < base.keys.size(); i += 7) {
      hdb_bytes k = B(base.keys[i]);
      ASSERT_TRUE(valid_result(h->get(h, &k, &data, 0))) << "round " << round;
    }
    if (writable) {
      for (int i = 0; i < 12; ++i) {
        std::string k = "key" + std::to_string(rng() % 400);
        std::string v(rng() % 4 == 0 ? rng() % (2 * base.bucket_size) : rng() % 20, 'm');
        hdb_bytes kk = B(k), vv = B(v);
        ASSERT_TRUE(valid_result(i % 3 == 2 ? h->del(h, &kk, 0) : h->put(h, &kk, &vv, 0))) << "round " << round;
      }
      h->sync(h);
    }
    h->close(h);
  }
  // The mutations leave most files openable, so the operations were exercised.
  EXPECT_GT(opened, rounds / 3);
}

}  // namespace
}  // namespace vorlane::hashdb
