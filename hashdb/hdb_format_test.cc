// The file format: hash vectors, arithmetic, and the bytes of real files.
#include "hashdb/hdb_format.h"

#include <gtest/gtest.h>

#include "hashdb/hdb_access.h"
#include "hashdb/testing/hdb_test_support.h"
#include "platform/testing/test_root.h"

namespace vorlane::hashdb {
namespace {

using testing::B;
using testing::S;

TEST(HdbFormat, HashVectors) {
  EXPECT_EQ(hdb_default_hash("abc", 3), 108966u);
  EXPECT_EQ(hdb_default_hash("", 0), 0u);
  EXPECT_EQ(hdb_hash_check(hdb_default_hash), 0x956E7DE3u);
  EXPECT_EQ(kHashCheckBytes, 12u);
  // Every length, every byte value: the same as one byte at a time.
  uint8_t bytes[64];
  for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(255 - i * 37);
  for (size_t n = 0; n <= sizeof bytes; ++n) {
    uint32_t h = 0;
    for (size_t i = 0; i < n; ++i) h = h * 33 + bytes[i];
    EXPECT_EQ(hdb_default_hash(bytes, n), h) << n;
  }
}

TEST(HdbFormat, Arithmetic) {
  const uint32_t log2s[][2] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {65536, 16}, {65537, 17}};
  for (auto [n, l] : log2s) EXPECT_EQ(hdb_log2(n), l) << n;
  EXPECT_EQ(hdb_header_pages_for(4096), 1u);
  EXPECT_EQ(hdb_header_pages_for(256), 1u);
  EXPECT_EQ(hdb_header_pages_for(128), 2u);
  EXPECT_EQ(hdb_header_pages_for(64), 5u);
  EXPECT_EQ(hdb_max_page(4096), 524286u);
  // Big versus regular in a 4096-byte table: 3000 + 100 + 4 > 3072, 3000 + 65 + 4 <= 3072.
  EXPECT_TRUE(hdb_is_big(3000, 100, 4096));
  EXPECT_FALSE(hdb_is_big(3000, 65, 4096));
  EXPECT_FALSE(hdb_is_big(3000, 68, 4096));  // exactly 3072
  EXPECT_TRUE(hdb_is_big(3000, 69, 4096));

  hdb_header h{};
  h.header_pages = 1;
  h.spares[0] = 0;
  h.spares[1] = 2;
  h.spares[2] = 2;
  h.overflow_point = 1;
  h.last_bucket = 1;
  h.low_mask = 1;
  h.high_mask = 3;
  EXPECT_EQ(hdb_bucket_page(h, 0), 1u);
  EXPECT_EQ(hdb_bucket_page(h, 1), 2u);
  EXPECT_EQ(hdb_bucket_page(h, 2), 5u);  // after the two slots of split point 1
  EXPECT_EQ(hdb_oaddr_page(h, hdb_oaddr(1, 1)), 3u);
  EXPECT_EQ(hdb_oaddr_page(h, hdb_oaddr(1, 2)), 4u);
  EXPECT_EQ(hdb_oaddr_bit(h, hdb_oaddr(1, 2)), 1u);
  EXPECT_EQ(hdb_page_oaddr(h, 3), hdb_oaddr(1, 1));
  EXPECT_EQ(hdb_page_oaddr(h, 4), hdb_oaddr(1, 2));
  EXPECT_EQ(hdb_page_oaddr(h, 2), 0u);  // a bucket page
  EXPECT_EQ(hdb_page_oaddr(h, 0), 0u);
  EXPECT_EQ(hdb_bucket_of(h, 108966), 108966u & 1);  // 0x1A9A6 & 3 = 2 > last_bucket: & 1
  // A page past every split point (and damaged spares) maps to no slot; the
  // search never reads past spares[31].
  EXPECT_EQ(hdb_page_oaddr(h, 0xFFFFFFFF), 0u);
  hdb_header full = h;
  for (uint32_t& s : full.spares) s = 0xFFFFFFF0;
  EXPECT_EQ(hdb_page_oaddr(full, 0x7FFFFFFF), 0u);
}

uint32_t one_bucket_hash(const void*, size_t) { return 0; }

hdb_handle* create_table(const std::string& path, uint32_t bucket_size) {
  hdb_params params{};
  params.bucket_size = bucket_size;
  params.hash = one_bucket_hash;
  return hdb_open(path.c_str(), kOpenReadWrite | kOpenCreate | kOpenTruncate, 0644, kTypeHash, &params);
}

// The entries of bucket 0's page, as (key offset, data offset).
std::vector<std::pair<uint16_t, uint16_t>> bucket0_entries(hdb_handle* h) {
  hdb_table* t = h->internal;
  uint8_t* page = hdb_chain_page(t, static_cast<uint32_t>(hdb_bucket_page(t->header, 0)), true);
  std::vector<std::pair<uint16_t, uint16_t>> out;
  if (!page) return out;
  for (uint32_t i = 0; i < pg_count(page); ++i) out.emplace_back(pg_key_off(page, i), pg_data_off(page, i));
  hdb_pool_put(t->pool, page, 0);
  return out;
}

// Stored pairs on both sides of the big threshold of a 4096-byte page:
// 3000 + 100 + 4 = 3104 > 3072 goes to big pages (key offset 0), 3000 + 65 + 4
// = 3069 is packed at the page's end: key at 4096 - 3000 = 1096, data at 1031.
TEST(HdbFormat, BigAndRegularPairsOnThePage) {
  platform::TestRoot root;
  hdb_handle* h = create_table(root.file("thr.db"), 4096);
  ASSERT_NE(h, nullptr);
  std::string big_key(3000, 'a'), big_data(100, 'x'), key(3000, 'b'), data(65, 'y');
  hdb_bytes k1 = B(big_key), d1 = B(big_data), k2 = B(key), d2 = B(data), out{};
  ASSERT_EQ(h->put(h, &k1, &d1, 0), 0);
  ASSERT_EQ(h->put(h, &k2, &d2, 0), 0);
  auto entries = bucket0_entries(h);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].first, 0);
  EXPECT_NE(entries[0].second, 0);  // the overflow address of the big chain
  EXPECT_EQ(entries[1], std::make_pair(uint16_t{1096}, uint16_t{1031}));
  ASSERT_EQ(h->get(h, &k2, &out, 0), 0);
  EXPECT_EQ(S(out), data);
  EXPECT_EQ(testing::check_table(h), "");
  EXPECT_EQ(h->close(h), 0);
}

// On a 65536-byte page an empty key first on the page would need offset
// 65536: it is stored big, and so stays readable when the pairs before it go.
TEST(HdbFormat, EmptyKeyOnLargestPagesIsBig) {
  platform::TestRoot root;
  std::string path = root.file("empty.db");
  hdb_handle* h = create_table(path, 65536);
  ASSERT_NE(h, nullptr);
  std::string empty, value = "data of the empty key";
  hdb_bytes kx = B("x"), dx = B("1"), ke = B(empty), de = B(value), out{};
  ASSERT_EQ(h->put(h, &kx, &dx, 0), 0);
  ASSERT_EQ(h->put(h, &ke, &de, 0), 0);
  auto entries = bucket0_entries(h);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].first, 0);
  ASSERT_EQ(h->del(h, &kx, 0), 0);
  ASSERT_EQ(h->close(h), 0);
  hdb_params params{};
  params.hash = one_bucket_hash;
  h = hdb_open(path.c_str(), kOpenReadWrite, 0, kTypeHash, &params);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(h->get(h, &ke, &out, 0), 0);
  EXPECT_EQ(S(out), value);
  EXPECT_EQ(testing::check_table(h), "");
  // An empty key with empty data too.
  hdb_bytes none = B(empty);
  ASSERT_EQ(h->put(h, &ke, &none, 0), 0);
  ASSERT_EQ(h->get(h, &ke, &out, 0), 0);
  EXPECT_EQ(out.size, 0u);
  EXPECT_EQ(testing::check_table(h), "");
  EXPECT_EQ(h->close(h), 0);
}

std::vector<uint8_t> le(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
  return out;
}

TEST(HdbFormat, DefaultFileHasHeaderAndBitmapPageOnly) {
  platform::TestRoot root;
  std::string path = root.file("new.db");
  hdb_params params{};
  params.bucket_size = 4096;
  hdb_handle* h = hdb_open(path.c_str(), kOpenReadWrite | kOpenCreate, 0644, kTypeHash, &params);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(h->close(h), 0);
  std::vector<uint8_t> file = testing::read_file(path);
  ASSERT_EQ(file.size(), 4u * 4096);
  // magic, version, byte_order, bucket_size, bucket_shift, overflow_point,
  // last_freed, last_bucket, high_mask, low_mask, fill_factor, key_count,
  // header_pages, hash_check, spares[0..2]
  std::vector<uint8_t> expect = le({0x00061561, 3, 4321, 4096, 12, 1, 2, 1, 3, 1, 65536, 0, 1, 0x956E7DE3, 0, 2, 2});
  expect.resize(184, 0);
  expect.push_back(0x01);  // bitmap_pages[0] = split point 1, offset 1 = 0x0801
  expect.push_back(0x08);
  expect.resize(248, 0);
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 248), expect);
  // Pages 1 and 2 (buckets 0 and 1) were never written.
  for (size_t i = 4096; i < 3 * 4096; ++i) ASSERT_EQ(file[i], 0) << i;
  // Page 3: the bitmap, bits 0..1 clear then bit 0 set for itself, every later bit set.
  EXPECT_EQ(file[3 * 4096 + 0], 0xFD);
  for (size_t i = 3 * 4096 + 1; i < 4 * 4096; ++i) ASSERT_EQ(file[i], 0xFF) << i;

  // Every bucket reads as an empty bucket page.
  h = hdb_open(path.c_str(), kOpenReadOnly, 0, kTypeHash, nullptr);
  ASSERT_NE(h, nullptr);
  hdb_bytes key = B("abc"), data{};
  EXPECT_EQ(h->get(h, &key, &data, 0), 1);
  EXPECT_EQ(h->seq(h, &key, &data, kSeqFirst), 1);
  EXPECT_EQ(testing::check_table(h), "");
  EXPECT_EQ(h->close(h), 0);
}

// The first bitmap page of a new file (page 3) in each byte order: its first
// word 0xFFFFFFFD (bit 1 clear) is stored FD FF FF FF for 4321, FF FF FF FD for 1234.
TEST(HdbFormat, NewBitmapPageInBothByteOrders) {
  for (int order : {4321, 1234}) {
    platform::TestRoot root;
    std::string path = root.file("bitmap.db");
    hdb_params params{};
    params.bucket_size = 4096;
    params.byte_order = order;
    hdb_handle* h = hdb_open(path.c_str(), kOpenReadWrite | kOpenCreate, 0644, kTypeHash, &params);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->close(h), 0);
    std::vector<uint8_t> file = testing::read_file(path);
    ASSERT_EQ(file.size(), 4u * 4096);
    std::vector<uint8_t> word(file.begin() + 3 * 4096, file.begin() + 3 * 4096 + 4);
    EXPECT_EQ(word, order == 4321 ? (std::vector<uint8_t>{0xFD, 0xFF, 0xFF, 0xFF})
                                  : (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFD}));
    // Read back through the hooks: the walk sees an empty, well-formed table.
    h = hdb_open(path.c_str(), kOpenReadWrite, 0, kTypeHash, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(testing::check_table(h), "");
    EXPECT_EQ(h->close(h), 0);
  }
}

// Page 5 of a 4096-byte table is the page of bucket 2 (after the bitmap page
// and the first overflow slot); its own-number field shows the byte order.
TEST(HdbFormat, PageFiveInBothByteOrders) {
  for (int order : {4321, 1234}) {
    platform::TestRoot root;
    std::string path = root.file("order.db");
    hdb_params params{};
    params.bucket_size = 4096;
    params.byte_order = order;
    params.fill_factor = 1;
    hdb_handle* h = hdb_open(path.c_str(), kOpenReadWrite | kOpenCreate, 0644, kTypeHash, &params);
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < 8; ++i) {
      std::string k = "key" + std::to_string(i);
      hdb_bytes key = B(k), data = B("v");
      ASSERT_EQ(h->put(h, &key, &data, 0), 0);
    }
    ASSERT_GE(h->internal->header.last_bucket, 2u);
    ASSERT_EQ(hdb_bucket_page(h->internal->header, 2), 5u);
    ASSERT_EQ(h->close(h), 0);
    std::vector<uint8_t> file = testing::read_file(path);
    ASSERT_GE(file.size(), 6u * 4096);
    const uint8_t* page5 = file.data() + 5 * 4096;
    std::vector<uint8_t> own(page5, page5 + 4);
    std::vector<uint8_t> none(page5 + 4, page5 + 8);
    if (order == 4321) {
      EXPECT_EQ(own, (std::vector<uint8_t>{5, 0, 0, 0}));
      EXPECT_EQ(page5[10], kBucketPage);
      EXPECT_LT(page5[13], 0x10);  // free_end < 4096, little-endian
    } else {
      EXPECT_EQ(own, (std::vector<uint8_t>{0, 0, 0, 5}));
      EXPECT_LT(page5[12], 0x10);  // free_end < 4096, big-endian
    }
    EXPECT_EQ(none, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    // The header is little-endian whatever the pages' order.
    EXPECT_EQ(file[8], order == 4321 ? 0xE1 : 0xD2);
    EXPECT_EQ(file[9], order == 4321 ? 0x10 : 0x04);
  }
}

}  // namespace
}  // namespace vorlane::hashdb
