// Table operations: opening (flags, settings, header checks), stores,
// deletions under the sequential cursor, damaged pages and write failures.
#include "hashdb/hdb_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "hashdb/testing/hdb_test_support.h"
#include "platform/testing/test_root.h"

namespace vorlane::hashdb {
namespace {

using testing::B;
using testing::S;

hdb_handle* open_rw(const std::string& path, const hdb_params* params = nullptr) {
  return hdb_open(path.c_str(), kOpenReadWrite | kOpenCreate, 0644, kTypeHash, params);
}

TEST(HdbTable, OpenFlagsAndSettings) {
  platform::TestRoot root;
  std::string path = root.file("t.db");
  struct Case {
    int flags;
    int type;
    hdb_params params;
    int expect_errno;
  };
  const Case cases[] = {
      {kOpenReadOnly, 1, {}, 1203002},                         // missing file without create
      {kOpenWriteOnly | kOpenCreate, 1, {}, 1201022},          // write only
      {kOpenReadWrite | 0x10, 1, {}, 22},                      // an unknown flag bit
      {kOpenReadWrite | kOpenCreate, 2, {}, 22},               // not a hash table
      {kOpenReadWrite | kOpenCreate, 1, {32, 0, 0, 0, nullptr, 0}, 1204022},     // pages below 64 bytes
      {kOpenReadWrite | kOpenCreate, 1, {70000, 0, 0, 0, nullptr, 0}, 1204022},  // above 65536
      {kOpenReadWrite | kOpenCreate, 1, {0, 0, 0, 0, nullptr, 1111}, 1204022},   // byte order
      {kOpenReadWrite | kOpenCreate, 1, {4096, 1, 0xFFFFFFFF, 0, nullptr, 0}, 1215027},  // too many pairs
      {kOpenReadWrite | kOpenCreate, 1, {65536, 1, 40000, 0, nullptr, 0}, 1215027},  // bitmap past 2 GB
  };
  for (const Case& c : cases) {
    errno = 1000000;
    EXPECT_EQ(hdb_open(path.c_str(), c.flags, 0644, c.type, &c.params), nullptr);
    EXPECT_EQ(errno, c.expect_errno) << std::hex << c.flags;
  }
  // A size that is no power of two is rounded up; the three top bits are ignored.
  hdb_params params{};
  params.bucket_size = 100;
  hdb_handle* h = hdb_open(path.c_str(), kOpenReadWrite | kOpenCreate | kOpenBinary | static_cast<int>(0x80000000u),
                           0644, kTypeHash, &params);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->internal->header.bucket_size, 128u);
  EXPECT_EQ(h->internal->header.header_pages, 2u);
  EXPECT_EQ(h->fd(h), h->internal->fd);
  ASSERT_EQ(h->close(h), 0);
  // An existing file keeps its own settings whatever the params say.
  params = {4096, 3, 1000, 0, nullptr, 1234};
  h = open_rw(path, &params);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->internal->header.bucket_size, 128u);
  EXPECT_EQ(h->internal->header.byte_order, 4321u);
  EXPECT_EQ(h->internal->header.fill_factor, 65536u);
  EXPECT_EQ(h->close(h), 0);
  // An existing empty file.
  testing::write_file(path, {});
  errno = 1000000;
  EXPECT_EQ(hdb_open(path.c_str(), kOpenReadWrite, 0, kTypeHash, nullptr), nullptr);
  EXPECT_EQ(errno, 1205022);
}

TEST(HdbTable, DefaultBucketSizeAndDisable) {
  platform::TestRoot root;
  hdb_handle* h = open_rw(root.file("default.db"));
  ASSERT_NE(h, nullptr);
  uint32_t bs = h->internal->header.bucket_size;
  EXPECT_EQ(bs, hdb_sector_size(h->internal->fd));  // the device's sector size, 4096 when unknown
  EXPECT_GE(bs, kMinBucketSize);
  EXPECT_LE(bs, kMaxBucketSize);
  EXPECT_EQ(bs & (bs - 1), 0u);
  hdb_disable(h);
  hdb_bytes k = B("k"), v = B("v"), data{};
  EXPECT_EQ(h->put(h, &k, &v, 0), -1);
  EXPECT_EQ(h->get(h, &k, &data, 0), -1);
  EXPECT_EQ(h->del(h, &k, 0), -1);
  EXPECT_EQ(h->seq(h, &k, &data, kSeqFirst), -1);
  EXPECT_EQ(h->sync(h), -1);
  EXPECT_EQ(h->fd(h), -1);
  EXPECT_EQ(h->close(h), 0);
}

TEST(HdbTable, DamagedHeadersAreRefused) {
  platform::TestRoot root;
  std::string path = root.file("h.db");
  hdb_params params{};
  params.bucket_size = 512;
  hdb_handle* h = open_rw(path, &params);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(h->close(h), 0);
  const std::vector<uint8_t> good = testing::read_file(path);
  struct Case {
    const char* what;
    std::function<void(hdb_header&)> damage;
    int expect_errno;
  };
  const Case cases[] = {
      {"magic", [](hdb_header& x) { x.magic = 0x00061562; }, 1206022},
      {"version", [](hdb_header& x) { x.version = 2; }, 1207022},
      {"hash check", [](hdb_header& x) { x.hash_check ^= 1; }, 1208022},
      {"size not a power of two", [](hdb_header& x) { x.bucket_size = 500; }, 1208022},
      {"size zero", [](hdb_header& x) { x.bucket_size = 0; }, 1208022},
      {"size above 65536", [](hdb_header& x) { x.bucket_size = 131072; x.bucket_shift = 17; }, 1208022},
      {"shift", [](hdb_header& x) { x.bucket_shift = 8; }, 1208022},
      {"header pages", [](hdb_header& x) { x.header_pages = 0; }, 1208022},
      {"byte order", [](hdb_header& x) { x.byte_order = 0; }, 1208022},
      {"masks", [](hdb_header& x) { x.high_mask = 0xFFFFFFFF; }, 1208022},
      {"low mask", [](hdb_header& x) { x.low_mask = 0; x.high_mask = 1; }, 1208022},
      {"last bucket", [](hdb_header& x) { x.last_bucket = 7; }, 1208022},
      {"overflow point", [](hdb_header& x) { x.overflow_point = 40; }, 1208022},
      {"spares decrease", [](hdb_header& x) { x.spares[0] = 5; }, 1208022},
      {"no slots", [](hdb_header& x) { x.spares[1] = 0; }, 1208022},
      {"bitmap missing", [](hdb_header& x) { x.bitmap_pages[0] = 0; }, 1208022},
      {"bitmap beyond spares", [](hdb_header& x) { x.bitmap_pages[0] = hdb_oaddr(1, 9); }, 1208022},
      {"bitmap beyond its split point",
       [](hdb_header& x) {
         x.overflow_point = 2;
         x.spares[2] = 10;
         x.bitmap_pages[0] = hdb_oaddr(1, 5);  // page of slot (2, 1)
       },
       1208022},
      {"too many bitmaps", [](hdb_header& x) { x.spares[1] = 40000; }, 1208022},
      {"fill factor", [](hdb_header& x) { x.fill_factor = 0; }, 1208022},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = good;
    hdb_header header;
    hdb_header_decode(bytes.data(), &header);
    c.damage(header);
    hdb_header_encode(header, bytes.data());
    testing::write_file(path, bytes);
    errno = 1000000;
    EXPECT_EQ(hdb_open(path.c_str(), kOpenReadWrite, 0, kTypeHash, nullptr), nullptr) << c.what;
    EXPECT_EQ(errno, c.expect_errno) << c.what;
  }
  // Shorter than a header.
  testing::write_file(path, std::vector<uint8_t>(good.begin(), good.begin() + 247));
  errno = 1000000;
  EXPECT_EQ(hdb_open(path.c_str(), kOpenReadOnly, 0, kTypeHash, nullptr), nullptr);
  EXPECT_EQ(errno, 1205022);
}

TEST(HdbTable, StoreReplaceNoOverwriteAndReadOnly) {
  platform::TestRoot root;
  std::string path = root.file("s.db");
  hdb_handle* h = open_rw(path);
  hdb_bytes k = B("key"), v1 = B("one"), v2 = B("two"), data{};
  ASSERT_EQ(h->put(h, &k, &v1, 0), 0);
  ASSERT_EQ(h->put(h, &k, &v2, 0), 0);
  ASSERT_EQ(h->get(h, &k, &data, 0), 0);
  EXPECT_EQ(S(data), "two");
  EXPECT_EQ(h->put(h, &k, &v1, kPutNoOverwrite), 1);
  ASSERT_EQ(h->get(h, &k, &data, 0), 0);
  EXPECT_EQ(S(data), "two");
  EXPECT_EQ(h->internal->header.key_count, 1u);
  errno = 0;
  EXPECT_EQ(h->put(h, &k, &v1, 4), -1);
  EXPECT_EQ(errno, 22);
  EXPECT_EQ(h->get(h, &k, &data, 1), -1);
  for (unsigned flags : {6u, 9u, 1u}) {
    errno = 0;
    EXPECT_EQ(h->seq(h, &k, &data, flags), -1);
    EXPECT_EQ(errno, 22);
  }
  // The empty key on 65536-byte pages is kept as a big pair.
  ASSERT_EQ(h->close(h), 0);
  hdb_params big{};
  big.bucket_size = 65536;
  h = hdb_open(root.file("big.db").c_str(), kOpenReadWrite | kOpenCreate, 0644, kTypeHash, &big);
  ASSERT_NE(h, nullptr);
  hdb_bytes empty = B(""), other = B("x");
  ASSERT_EQ(h->put(h, &other, &v1, 0), 0);
  ASSERT_EQ(h->put(h, &empty, &v2, 0), 0);
  ASSERT_EQ(h->del(h, &other, 0), 0);  // moves what follows up the page
  ASSERT_EQ(h->get(h, &empty, &data, 0), 0);
  EXPECT_EQ(S(data), "two");
  EXPECT_EQ(testing::check_table(h), "");
  ASSERT_EQ(h->close(h), 0);

  h = hdb_open(path.c_str(), kOpenReadOnly, 0, kTypeHash, nullptr);
  ASSERT_NE(h, nullptr);
  errno = 0;
  EXPECT_EQ(h->put(h, &k, &v1, 0), -1);
  EXPECT_EQ(errno, 1);
  errno = 0;
  EXPECT_EQ(h->del(h, &k, 0), -1);
  EXPECT_EQ(errno, 1);
  EXPECT_EQ(h->sync(h), 0);
  int (*close_fn)(hdb_handle*) = h->close;
  EXPECT_EQ(h->close(h), 0);
  EXPECT_EQ(close_fn(nullptr), -1);
}

// Lookups tell a page's keys apart by a byte of their hash before comparing
// bytes. With hash functions whose byte is the same for every key, or whose
// whole hash is, every key is still found, missing keys are not, and gets
// that follow stores, replacements and deletions on the same pages see them,
// with big pairs among the others.
uint32_t one_hash(const void*, size_t) { return 0x5A000003; }
uint32_t low_bits_hash(const void* bytes, size_t n) { return hdb_default_hash(bytes, n) & 0x00FFFFFF; }
uint32_t high_bits_hash(const void* bytes, size_t n) { return hdb_default_hash(bytes, n) & 0xFF000000; }

TEST(HdbTable, GetsFollowStoresWhateverTheHash) {
  platform::TestRoot root;
  for (hdb_hash_fn hash : {hdb_default_hash, one_hash, low_bits_hash, high_bits_hash}) {
    hdb_params params{};
    params.hash = hash;
    params.bucket_size = 1024;
    std::string path = root.file("tags.db");
    ::unlink(path.c_str());
    hdb_handle* h = open_rw(path, &params);
    ASSERT_NE(h, nullptr);
    std::map<std::string, std::string> model;
    auto check_all = [&](int round) {
      for (int i = 0; i < 400; ++i) {
        std::string k = "key" + std::to_string(i);
        hdb_bytes key = B(k), data{};
        auto it = model.find(k);
        int r = h->get(h, &key, &data, 0);
        ASSERT_EQ(r, it == model.end() ? 1 : 0) << k << " round " << round;
        if (r == 0) {
          ASSERT_EQ(S(data), it->second) << k;
        }
      }
    };
    for (int round = 0; round < 4; ++round) {
      for (int i = round; i < 400; i += 2 + round) {
        std::string k = "key" + std::to_string(i);
        std::string v = std::string(static_cast<size_t>(i % 7 + round), 'v') + std::to_string(round);
        // Some pairs are big, so that pages hold big entries between the
        // regular ones a lookup passes over.
        if (i % 13 == 0) v = std::string(1500 + static_cast<size_t>(i), 'b') + std::to_string(round);
        hdb_bytes key = B(k);
        if (round == 3 && i % 3 == 0) {
          ASSERT_EQ(h->del(h, &key, 0), model.erase(k) ? 0 : 1);
          continue;
        }
        hdb_bytes value = B(v);
        ASSERT_EQ(h->put(h, &key, &value, 0), 0);
        model[k] = v;
      }
      check_all(round);
    }
    EXPECT_EQ(testing::check_table(h), "");
    ASSERT_EQ(h->close(h), 0);
    h = hdb_open(path.c_str(), kOpenReadOnly, 0, kTypeHash, &params);
    ASSERT_NE(h, nullptr);
    check_all(4);
    ASSERT_EQ(h->close(h), 0);
  }
}

// Hashes whose tag byte (the top one) tells keys apart well, or only in two
// values, so that many regular keys share the tag 0 of big entries.
uint32_t mixed_hash(const void* bytes, size_t n) {
  uint32_t h = hdb_default_hash(bytes, n);
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  return h ^ (h >> 12);
}
uint32_t two_tags_hash(const void* bytes, size_t n) { return mixed_hash(bytes, n) & 0x01FFFFFF; }

// A store grows the table early when the chain its lookup walked holds more
// than twice the fill factor, counting every entry passed, whether compared
// or passed over by its tag. Seeded stores, replacements and deletions,
// with gets between them so that stores walk pages whose tags are made,
// grow the table to the same size as a count of every entry does; the
// figures are that count's (a deliberate change of when tables grow changes
// them).
TEST(HdbTable, StoresAmongGetsGrowTheTableByTheEntriesTheyPass) {
  struct Case {
    uint32_t bucket_size;
    hdb_hash_fn hash;
    uint32_t last_bucket, overflow_point;
    off_t file_size;
  };
  const Case cases[] = {
      {256, hdb_default_hash, 589, 10, 400896},
      {256, mixed_hash, 398, 9, 278016},
      {256, two_tags_hash, 398, 9, 278016},
      {1024, hdb_default_hash, 188, 8, 610304},
  };
  platform::TestRoot root;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bucket_size);
    std::string path = root.file("grow.db");
    ::unlink(path.c_str());
    hdb_params params{};
    params.bucket_size = c.bucket_size;
    params.hash = c.hash;
    hdb_handle* h = open_rw(path, &params);
    ASSERT_NE(h, nullptr);
    std::map<std::string, std::string> model;
    uint32_t x = 99;
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
      x = x * 1103515245u + 12345u;
      std::string k = "k" + std::to_string(x % (2 * n));
      size_t size = (x >> 16) % 40;
      if ((x >> 8) % 17 == 0) size = c.bucket_size + (x >> 12) % 300;  // a big pair
      std::string v(size, static_cast<char>('a' + i % 26));
      hdb_bytes key = B(k), value = B(v), data{};
      if ((x >> 20) % 9 == 0) {
        ASSERT_EQ(h->del(h, &key, 0), model.erase(k) ? 0 : 1);
      } else {
        ASSERT_EQ(h->put(h, &key, &value, 0), 0) << "errno " << errno;
        model[k] = v;
      }
      if (i % 3 == 0)
        for (int j = 0; j < 8; ++j) {
          std::string g = "k" + std::to_string((x >> 3) * (j + 1) % (2 * n));
          hdb_bytes wanted = B(g);
          auto it = model.find(g);
          int r = h->get(h, &wanted, &data, 0);
          ASSERT_EQ(r, it == model.end() ? 1 : 0) << g;
          if (r == 0) {
            ASSERT_EQ(S(data), it->second) << g;
          }
        }
    }
    const hdb_header& header = h->internal->header;
    EXPECT_EQ(header.key_count, model.size());
    EXPECT_EQ(header.last_bucket, c.last_bucket);
    EXPECT_EQ(header.overflow_point, c.overflow_point);
    EXPECT_EQ(testing::check_table(h), "");
    ASSERT_EQ(h->close(h), 0);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, c.file_size);
  }
}

// Deleting each pair right after the walk returned it: pages that empty are
// unlinked and freed under the cursor, and the walk still sees every pair once.
TEST(HdbTable, DeletingUnderTheWalk) {
  platform::TestRoot root;
  hdb_params params{};
  params.bucket_size = 64;
  params.hash = [](const void*, size_t) -> uint32_t { return 0; };
  hdb_handle* h = open_rw(root.file("w.db"), &params);
  ASSERT_NE(h, nullptr);
  std::set<std::string> keys;
  for (int i = 0; i < 40; ++i) {
    std::string key = "k" + std::to_string(i);
    std::string value(40 - key.size(), 'v');  // one pair per page
    hdb_bytes k = B(key), v = B(value);
    ASSERT_EQ(h->put(h, &k, &v, 0), 0);
    keys.insert(key);
  }
  ASSERT_EQ(testing::check_table(h), "");
  std::set<std::string> seen;
  hdb_bytes key{}, data{};
  unsigned flags = kSeqFirst;
  while (h->seq(h, &key, &data, flags) == 0) {
    flags = kSeqNext;
    std::string k = S(key);
    ASSERT_TRUE(seen.insert(k).second) << k;
    hdb_bytes kk = B(k);
    ASSERT_EQ(h->del(h, &kk, 0), 0);
  }
  EXPECT_EQ(seen, keys);
  EXPECT_EQ(h->internal->header.key_count, 0u);
  EXPECT_EQ(testing::check_table(h), "");
  ASSERT_EQ(h->close(h), 0);
}

// Stores during a walk split buckets under the cursor: the walk may see a
// pair again but never reads a freed page, and every pair stays.
TEST(HdbTable, StoringDuringTheWalk) {
  platform::TestRoot root;
  hdb_params params{};
  params.bucket_size = 64;
  hdb_handle* h = open_rw(root.file("g.db"), &params);
  for (int i = 0; i < 50; ++i) {
    std::string key = "a" + std::to_string(i), value(20, 'v');
    hdb_bytes k = B(key), v = B(value);
    ASSERT_EQ(h->put(h, &k, &v, 0), 0);
  }
  hdb_bytes key{}, data{};
  unsigned flags = kSeqFirst;
  int added = 0, steps = 0;
  while (h->seq(h, &key, &data, flags) == 0 && ++steps < 10000) {
    flags = kSeqNext;
    if (added < 300) {
      std::string k2 = "b" + std::to_string(added++), v2(25, 'w');
      hdb_bytes k = B(k2), v = B(v2);
      ASSERT_EQ(h->put(h, &k, &v, 0), 0);
    }
  }
  EXPECT_LT(steps, 10000);
  EXPECT_EQ(h->internal->header.key_count, 50u + added);
  EXPECT_EQ(testing::check_table(h), "");
  // Sizes are checked in 64 bits before anything is read.
  hdb_bytes huge_key{"x", 0x80000000u}, small = B("v");
  errno = 0;
  EXPECT_EQ(h->put(h, &huge_key, &small, 0), -1);
  EXPECT_EQ(errno, EFBIG);
  hdb_bytes k = B("k"), huge_value{"x", 0xFFFFFFFFFFFFFFF0u};
  errno = 0;
  EXPECT_EQ(h->put(h, &k, &huge_value, 0), -1);
  EXPECT_EQ(errno, EFBIG);
  ASSERT_EQ(h->close(h), 0);
}

// A damaged overflow page and a truncated file give -1, never "not found".
TEST(HdbTable, DamagedAndUnreadablePagesAreErrors) {
  platform::TestRoot root;
  std::string path = root.file("d.db");
  hdb_params params{};
  params.bucket_size = 64;
  params.hash = [](const void*, size_t) -> uint32_t { return 0; };
  params.fill_factor = 1000;
  hdb_handle* h = open_rw(path, &params);
  for (int i = 0; i < 6; ++i) {
    std::string key = "k" + std::to_string(i), value(30, 'v');
    hdb_bytes k = B(key), v = B(value);
    ASSERT_EQ(h->put(h, &k, &v, 0), 0);
  }
  uint32_t bucket_page = static_cast<uint32_t>(hdb_bucket_page(h->internal->header, 0));
  ASSERT_EQ(h->close(h), 0);
  std::vector<uint8_t> good = testing::read_file(path);
  uint32_t next;
  std::memcpy(&next, good.data() + bucket_page * 64 + 4, 4);
  ASSERT_NE(next, kNoPage);

  std::vector<uint8_t> bad = good;
  bad[next * 64 + 10] = 9;  // type of the first overflow page
  testing::write_file(path, bad);
  h = hdb_open(path.c_str(), kOpenReadWrite, 0, kTypeHash, &params);
  ASSERT_NE(h, nullptr);
  hdb_bytes k = B("k5"), missing = B("nothere"), v = B("v"), data{};
  errno = 0;
  EXPECT_EQ(h->get(h, &missing, &data, 0), -1);
  EXPECT_EQ(errno, 5);
  EXPECT_EQ(h->put(h, &missing, &v, 0), -1);
  EXPECT_EQ(h->del(h, &k, 0), -1);
  int r;
  unsigned flags = kSeqFirst;
  int steps = 0;
  while ((r = h->seq(h, &k, &data, flags)) == 0 && ++steps < 100) flags = kSeqNext;
  EXPECT_EQ(r, -1);
  h->close(h);

  // A chain that loops back on itself ends with an error, not a hang.
  bad = good;
  std::memcpy(bad.data() + next * 64 + 4, &bucket_page, 4);
  testing::write_file(path, bad);
  h = hdb_open(path.c_str(), kOpenReadOnly, 0, kTypeHash, &params);
  ASSERT_NE(h, nullptr);
  errno = 0;
  EXPECT_EQ(h->get(h, &missing, &data, 0), -1);
  h->close(h);

  // The file ends inside a page of the chain.
  bad = good;
  bad.resize(next * 64 + 20);
  testing::write_file(path, bad);
  h = hdb_open(path.c_str(), kOpenReadOnly, 0, kTypeHash, &params);
  ASSERT_NE(h, nullptr);
  errno = 1000000;
  EXPECT_EQ(h->get(h, &missing, &data, 0), -1);
  EXPECT_EQ(errno, 1105022);
  h->close(h);
}

TEST(HdbTable, FailedSyncIsReported) {
  platform::TestRoot root;
  std::string path = root.file("f.db");
  hdb_handle* h = open_rw(path);
  hdb_bytes k = B("a"), v = B("b");
  ASSERT_EQ(h->put(h, &k, &v, 0), 0);
  int ro = ::open(path.c_str(), O_RDONLY);
  ASSERT_EQ(::dup2(ro, h->internal->fd), h->internal->fd);
  ::close(ro);
  errno = 1000000;
  EXPECT_EQ(h->sync(h), -1);
  EXPECT_EQ(errno, 1108000 + EBADF);
  EXPECT_EQ(h->close(h), -1);
}

}  // namespace
}  // namespace vorlane::hashdb
