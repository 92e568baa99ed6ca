// Differential test: seeded random stores, replacements and deletions on a
// table and on a std::map, with reopen between phases; after every phase the
// table is checked whole and compared with the model by lookups and a walk.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "hashdb/hdb_errno.h"
#include "hashdb/testing/hdb_test_support.h"
#include "platform/testing/test_root.h"

namespace vorlane::hashdb {
namespace {

using testing::B;
using testing::S;

uint32_t collide_hash(const void*, size_t length) { return static_cast<uint32_t>(length % 3); }
uint32_t constant_hash(const void*, size_t) { return 7; }

struct Config {
  uint32_t bucket_size;
  int byte_order;
  hdb_hash_fn hash;
  const char* hash_name;
  unsigned fill_factor;
};

std::string PrintConfig(const ::testing::TestParamInfo<Config>& info) {
  return "bs" + std::to_string(info.param.bucket_size) + "_" + std::to_string(info.param.byte_order) + "_" +
         info.param.hash_name + (info.param.fill_factor ? "_ff" + std::to_string(info.param.fill_factor) : "");
}

class ModelTest : public ::testing::TestWithParam<Config> {};

std::string random_bytes(std::mt19937& rng, size_t n) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

void compare(hdb_handle* h, const std::map<std::string, std::string>& model) {
  ASSERT_EQ(testing::check_table(h), "");
  for (const auto& [k, v] : model) {
    hdb_bytes key = B(k), data{};
    ASSERT_EQ(h->get(h, &key, &data, 0), 0) << "key of " << k.size() << " bytes, errno " << errno;
    ASSERT_EQ(S(data), v);
  }
  std::map<std::string, std::string> walked;
  hdb_bytes key{}, data{};
  unsigned flags = kSeqFirst;
  int r;
  while ((r = h->seq(h, &key, &data, flags)) == 0) {
    flags = kSeqNext;
    ASSERT_TRUE(walked.emplace(S(key), S(data)).second) << "walk repeats a key";
  }
  ASSERT_EQ(r, 1) << "errno " << errno;
  ASSERT_EQ(walked, model);
}

TEST_P(ModelTest, RandomOperationsMatchAMap) {
  const Config cfg = GetParam();
  platform::TestRoot root;
  std::string path = root.file("model.db");
  std::mt19937 rng(cfg.bucket_size * 7 + static_cast<unsigned>(cfg.byte_order) + cfg.fill_factor);
  std::map<std::string, std::string> model;
  std::vector<std::string> keys;
  hdb_params params{};
  params.bucket_size = cfg.bucket_size;
  params.byte_order = cfg.byte_order;
  params.hash = cfg.hash;
  params.fill_factor = cfg.fill_factor;
  params.cache_size = cfg.bucket_size * 8;  // small: pages leave and re-enter the pool
  const int ops = cfg.bucket_size >= 65536 ? 500 : 1500;
  for (int phase = 0; phase < 3; ++phase) {
    int flags = kOpenReadWrite | kOpenCreate;
    hdb_handle* h = hdb_open(path.c_str(), flags, 0644, kTypeHash, &params);
    ASSERT_NE(h, nullptr) << "errno " << errno;
    for (int i = 0; i < ops; ++i) {
      uint32_t pick = rng() % 100;
      std::string key;
      if (!keys.empty() && pick < 30) key = keys[rng() % keys.size()];
      else {
        size_t len = rng() % 8 == 0 ? rng() % (cfg.bucket_size + 50) : rng() % 24;
        if (cfg.hash == constant_hash) len = rng() % 6;  // every key in one bucket: keep them small
        key = random_bytes(rng, len);
      }
      if (pick < 80) {
        size_t len = rng() % 10 == 0 ? rng() % (2 * cfg.bucket_size + 10) : rng() % 40;
        std::string value = random_bytes(rng, len);
        hdb_bytes k = B(key), v = B(value);
        ASSERT_EQ(h->put(h, &k, &v, 0), 0) << "errno " << errno;
        if (!model.count(key)) keys.push_back(key);
        model[key] = value;
      } else {
        hdb_bytes k = B(key);
        int r = h->del(h, &k, 0);
        ASSERT_EQ(r, model.erase(key) ? 0 : 1) << "errno " << errno;
      }
    }
    compare(h, model);
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_EQ(h->close(h), 0);
    // Reopen read-only: the same contents.
    h = hdb_open(path.c_str(), kOpenReadOnly, 0, kTypeHash, &params);
    ASSERT_NE(h, nullptr) << "errno " << errno;
    compare(h, model);
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_EQ(h->close(h), 0);
  }
}

// Lookups read only the entries of a page whose tag byte (the hash's top
// byte, 0 for big entries) is the key's or 0. Seeded stores, deletions and
// gets mixed, each get checked at once against the map, with empty keys,
// big keys and big values among small pairs, under hashes whose tags tell
// keys apart, take two values (so regular keys share the big entries' tag),
// or one, and with a cache large enough to keep the tags made or so small
// that pages keep leaving it.
uint32_t mixed_hash(const void* bytes, size_t n) {
  uint32_t h = hdb_default_hash(bytes, n);
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  return h ^ (h >> 12);
}
uint32_t two_tags_hash(const void* bytes, size_t n) { return mixed_hash(bytes, n) & 0x01FFFFFF; }
uint32_t one_tag_hash(const void* bytes, size_t n) { return (mixed_hash(bytes, n) & 0x00FFFFFF) | 0x5A000000; }

TEST(ModelGets, GetsAmongStoresMatchAMap) {
  struct Case {
    uint32_t bucket_size;
    hdb_hash_fn hash;
    unsigned cache_pages;  // 0: the default cache
  };
  const Case cases[] = {
      {256, mixed_hash, 0},    {256, two_tags_hash, 0}, {256, two_tags_hash, 4}, {1024, one_tag_hash, 0},
      {4096, two_tags_hash, 0}, {4096, mixed_hash, 3},  {65536, two_tags_hash, 0},
  };
  platform::TestRoot root;
  for (const Case& c : cases) {
    SCOPED_TRACE("pages of " + std::to_string(c.bucket_size) + ", cache of " + std::to_string(c.cache_pages));
    std::string path = root.file("gets.db");
    ::unlink(path.c_str());
    hdb_params params{};
    params.bucket_size = c.bucket_size;
    params.hash = c.hash;
    params.cache_size = c.cache_pages * c.bucket_size;
    std::mt19937 rng(c.bucket_size + c.cache_pages);
    std::map<std::string, std::string> model;
    auto some_key = [&]() -> std::string {
      uint32_t pick = rng() % 100;
      if (pick == 0) return "";
      if (pick == 1) return std::string(c.bucket_size + rng() % 100, static_cast<char>('K' + rng() % 3));
      return "key" + std::to_string(rng() % 1500);
    };
    for (int phase = 0; phase < 2; ++phase) {
      hdb_handle* h = hdb_open(path.c_str(), kOpenReadWrite | kOpenCreate, 0644, kTypeHash, &params);
      ASSERT_NE(h, nullptr) << "errno " << errno;
      for (int i = 0; i < 2500; ++i) {
        std::string k = some_key();
        hdb_bytes key = B(k);
        uint32_t op = rng() % 100;
        if (op < 40) {
          size_t size = rng() % 12 == 0 ? c.bucket_size / 2 + rng() % (2 * c.bucket_size) : rng() % 30;
          std::string v = random_bytes(rng, size);
          hdb_bytes value = B(v);
          ASSERT_EQ(h->put(h, &key, &value, 0), 0) << "errno " << errno;
          model[k] = v;
        } else if (op < 50) {
          ASSERT_EQ(h->del(h, &key, 0), model.erase(k) ? 0 : 1) << "errno " << errno;
        } else {
          hdb_bytes data{};
          auto it = model.find(k);
          int r = h->get(h, &key, &data, 0);
          ASSERT_EQ(r, it == model.end() ? 1 : 0) << "key of " << k.size() << " bytes, errno " << errno;
          if (r == 0) {
            ASSERT_EQ(S(data), it->second) << "key of " << k.size() << " bytes";
          }
        }
      }
      compare(h, model);
      if (::testing::Test::HasFatalFailure()) return;
      ASSERT_EQ(h->close(h), 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ModelTest,
    ::testing::Values(Config{64, 4321, hdb_default_hash, "default", 0}, Config{64, 1234, hdb_default_hash, "default", 0},
                      Config{256, 4321, hdb_default_hash, "default", 0}, Config{256, 1234, collide_hash, "collide", 0},
                      Config{512, 1234, hdb_default_hash, "default", 0}, Config{512, 4321, collide_hash, "collide", 2},
                      Config{4096, 4321, hdb_default_hash, "default", 0},
                      Config{4096, 1234, hdb_default_hash, "default", 1},
                      Config{4096, 4321, constant_hash, "constant", 0},
                      Config{65536, 4321, hdb_default_hash, "default", 0},
                      Config{65536, 1234, collide_hash, "collide", 0}),
    PrintConfig);

}  // namespace
}  // namespace vorlane::hashdb
