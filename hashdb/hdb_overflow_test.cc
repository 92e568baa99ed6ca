// Overflow slots, bitmaps and big pairs: the worked examples, slot reuse, the
// allocator's limits (on crafted headers) and the byte-order hooks.
#include "hashdb/hdb_overflow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "hashdb/hdb_access.h"
#include "hashdb/hdb_bigpair.h"
#include "hashdb/testing/hdb_test_support.h"
#include "platform/testing/test_root.h"

namespace vorlane::hashdb {
namespace {

using testing::B;
using testing::S;

hdb_handle* create(const std::string& path, uint32_t bucket_size, int order = 4321) {
  hdb_params params{};
  params.bucket_size = bucket_size;
  params.byte_order = order;
  return hdb_open(path.c_str(), kOpenReadWrite | kOpenCreate | kOpenTruncate, 0644, kTypeHash, &params);
}

TEST(HdbOverflow, FirstOverflowPageAndSlotReuse) {
  platform::TestRoot root;
  hdb_handle* h = create(root.file("a.db"), 4096);
  ASSERT_NE(h, nullptr);
  hdb_table* t = h->internal;
  uint8_t* bucket = hdb_chain_page(t, 1, true);
  ASSERT_NE(bucket, nullptr);
  uint32_t number = 0;
  uint8_t* page = hdb_add_overflow_page(t, bucket, &number);
  ASSERT_NE(page, nullptr);
  // Slot 2: bit 1 of the first bitmap page, offset 2 of split point 1, right after the bitmap page.
  EXPECT_EQ(number, 4u);
  EXPECT_EQ(hdb_page_oaddr(t->header, number), hdb_oaddr(1, 2));
  EXPECT_EQ(get32(hdb_bitmap(t, 0), 0), 0xFFFFFFFFu);
  EXPECT_EQ(t->header.fill_factor, 4u);  // fixed at the first overflow page: count / 2, at least 4
  // Free it: the same slot comes back.
  uint8_t* again = hdb_chain_page(t, 1, true);
  pg_set_next(again, kNoPage);
  hdb_pool_put(t->pool, again, kPoolDirty);
  ASSERT_EQ(hdb_free_overflow_page(t, page), 0);
  // The slot is reusable once the sync has written the page that dropped it.
  EXPECT_EQ(get32(hdb_bitmap(t, 0), 0), 0xFFFFFFFFu);
  ASSERT_EQ(h->sync(h), 0);
  EXPECT_EQ(t->header.last_freed, 1u);
  EXPECT_EQ(get32(hdb_bitmap(t, 0), 0), 0xFFFFFFFDu);
  EXPECT_EQ(hdb_overflow_alloc(t), hdb_oaddr(1, 2));
  ASSERT_EQ(hdb_overflow_release(t, hdb_oaddr(1, 2)), 0);
  EXPECT_EQ(testing::check_table(h), "");
  EXPECT_EQ(h->close(h), 0);
}

// A damaged bitmap whose own bit is clear never hands out its own slot (which
// would turn the bitmap page into an overflow page): the bit is set again.
TEST(HdbOverflow, BitmapPageSlotIsNeverHandedOut) {
  platform::TestRoot root;
  std::string path = root.file("own.db");
  hdb_handle* h = create(path, 4096);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(h->close(h), 0);
  std::vector<uint8_t> bytes = testing::read_file(path);
  ASSERT_EQ(bytes[3 * 4096], 0xFD);
  bytes[3 * 4096] = 0xFC;  // bit 0, the bitmap page's own slot, cleared
  testing::write_file(path, bytes);
  h = hdb_open(path.c_str(), kOpenReadWrite, 0, kTypeHash, nullptr);
  ASSERT_NE(h, nullptr);
  hdb_table* t = h->internal;
  EXPECT_EQ(hdb_overflow_alloc(t), hdb_oaddr(1, 2));
  EXPECT_EQ(get32(hdb_bitmap(t, 0), 0), 0xFFFFFFFFu);
  ASSERT_EQ(hdb_overflow_release(t, hdb_oaddr(1, 2)), 0);
  EXPECT_EQ(testing::check_table(h), "");
  EXPECT_EQ(h->close(h), 0);
}

TEST(HdbOverflow, SlotAtOffset2047IsReusable) {
  platform::TestRoot root;
  hdb_handle* h = create(root.file("b.db"), 64);
  ASSERT_NE(h, nullptr);
  hdb_table* t = h->internal;
  uint16_t addr = 0;
  for (int i = 0; i < 3000 && hdb_oaddr_offset(addr) != 2047; ++i) {
    addr = hdb_overflow_alloc(t);
    ASSERT_NE(addr, 0) << errno;
  }
  ASSERT_EQ(hdb_oaddr_offset(addr), 2047u);
  ASSERT_EQ(hdb_oaddr(hdb_oaddr_split(addr), 2047), addr);
  EXPECT_EQ(hdb_overflow_alloc(t), hdb_oaddr(hdb_oaddr_split(addr) + 1, 1));  // the next split point
  ASSERT_EQ(hdb_overflow_release(t, addr), 0);
  errno = 1000000;
  EXPECT_EQ(hdb_overflow_alloc(t), addr) << errno;
  h->close(h);
}

TEST(HdbOverflow, BigPairOfFiveThousandAndFiveThousand) {
  platform::TestRoot root;
  hdb_handle* h = create(root.file("c.db"), 4096);
  std::string key(5000, 'k'), value(5000, 'v');
  key[4077] = 'X';
  value[0] = 'A';
  hdb_bytes k = B(key), v = B(value);
  ASSERT_EQ(h->put(h, &k, &v, 0), 0);
  hdb_table* t = h->internal;
  uint32_t bucket_page = static_cast<uint32_t>(hdb_bucket_page(t->header, hdb_bucket_of(t->header, t->hash(key.data(), key.size()))));
  uint8_t* page = hdb_chain_page(t, bucket_page, true);
  ASSERT_EQ(pg_count(page), 1);
  ASSERT_EQ(pg_key_off(page, 0), 0);
  uint16_t addr = pg_data_off(page, 0);
  hdb_pool_put(t->pool, page, 0);
  uint32_t numbers[8];
  ASSERT_EQ(hdb_big_pages(t, addr, numbers, 8), 3);
  const uint16_t counts[3][2] = {{4078, 0}, {922, 3156}, {0, 1844}};
  for (int i = 0; i < 3; ++i) {
    uint8_t* bp = hdb_pool_get(t->pool, numbers[i], 0);
    EXPECT_EQ(pg_type(bp), kBigPage);
    EXPECT_EQ(get16(bp, 14), counts[i][0]);
    EXPECT_EQ(get16(bp, 16), counts[i][1]);
    hdb_pool_put(t->pool, bp, 0);
  }
  hdb_bytes data{};
  ASSERT_EQ(h->get(h, &k, &data, 0), 0);
  EXPECT_EQ(S(data), value);
  // A big key matches only a key of the same length.
  std::string shorter = key.substr(0, 4078), longer = key + "k";
  hdb_bytes ks = B(shorter), kl = B(longer);
  EXPECT_EQ(h->get(h, &ks, &data, 0), 1);
  EXPECT_EQ(h->get(h, &kl, &data, 0), 1);
  EXPECT_EQ(testing::check_table(h), "");
  ASSERT_EQ(h->del(h, &k, 0), 0);
  EXPECT_EQ(testing::check_table(h), "");
  h->close(h);
}

TEST(HdbOverflow, BigKeyOnOnePageNeverMatchesALongerKey) {
  platform::TestRoot root;
  hdb_handle* h = create(root.file("d.db"), 4096);
  std::string key(3000, 'a'), value(100, 'x');
  hdb_bytes k = B(key), v = B(value), data{};
  ASSERT_EQ(h->put(h, &k, &v, 0), 0);
  for (std::string longer : {key + "a", key + key.substr(0, 100), key + std::string(1500, 'a')}) {
    hdb_bytes kl = B(longer);
    EXPECT_EQ(h->get(h, &kl, &data, 0), 1) << longer.size();
  }
  // A big pair with empty data reads as empty.
  std::string big_key(4000, 'e');
  hdb_bytes kb = B(big_key), empty = B("");
  ASSERT_EQ(h->put(h, &kb, &empty, 0), 0);
  ASSERT_EQ(h->get(h, &kb, &data, 0), 0);
  EXPECT_EQ(data.size, 0u);
  EXPECT_EQ(testing::check_table(h), "");
  h->close(h);
}

// With 64-byte pages 32 bitmap pages cover 16384 slots; a pair needing more
// fails with 1402, frees its partial chain and keeps the old value.
TEST(HdbOverflow, ThirtyThirdBitmapPageAndFailedReplace) {
  platform::TestRoot root;
  hdb_handle* h = create(root.file("e.db"), 64);
  hdb_bytes k = B("key"), v = B("old value"), data{};
  ASSERT_EQ(h->put(h, &k, &v, 0), 0);
  std::string huge(16500 * 46, 'h');
  hdb_bytes vh = B(huge);
  errno = 1000000;
  EXPECT_EQ(h->put(h, &k, &vh, 0), -1);
  EXPECT_EQ(errno, 1402000);
  ASSERT_EQ(h->get(h, &k, &data, 0), 0);
  EXPECT_EQ(S(data), "old value");
  EXPECT_EQ(testing::check_table(h), "");
  // Slots freed by the failure are usable again.
  std::string fits(1000 * 46, 'f');
  hdb_bytes vf = B(fits);
  ASSERT_EQ(h->put(h, &k, &vf, 0), 0);
  ASSERT_EQ(h->get(h, &k, &data, 0), 0);
  EXPECT_EQ(S(data), fits);
  EXPECT_EQ(testing::check_table(h), "");
  h->close(h);
}

// A crafted file: header fields given, pages given (already in stored form).
struct Crafted {
  uint32_t bucket_size;
  uint32_t overflow_point;
  std::map<uint32_t, uint32_t> spares;  // split point -> cumulative slots
  std::vector<uint16_t> bitmaps;
  uint32_t last_freed;
  std::map<uint32_t, std::vector<uint8_t>> pages;
  hdb_hash_fn hash = hdb_default_hash;
};

std::string write_crafted(const platform::TestRoot& root, const Crafted& c) {
  hdb_header h{};
  h.magic = kMagic;
  h.version = kVersion;
  h.byte_order = 4321;
  h.bucket_size = c.bucket_size;
  h.bucket_shift = hdb_log2(c.bucket_size);
  h.overflow_point = c.overflow_point;
  h.last_freed = c.last_freed;
  h.last_bucket = h.low_mask = 1;
  h.high_mask = 3;
  h.fill_factor = 4;
  h.header_pages = hdb_header_pages_for(c.bucket_size);
  h.hash_check = hdb_hash_check(c.hash);
  uint32_t running = 0;
  for (uint32_t s = 0; s < 32; ++s) {
    if (c.spares.count(s)) running = c.spares.at(s);
    h.spares[s] = s <= c.overflow_point ? running : 0;
  }
  for (size_t i = 0; i < c.bitmaps.size(); ++i) h.bitmap_pages[i] = c.bitmaps[i];
  std::vector<uint8_t> file(c.bucket_size * h.header_pages, 0);
  hdb_header_encode(h, file.data());
  for (const auto& [number, bytes] : c.pages) {
    if (file.size() < (number + 1) * c.bucket_size) file.resize((number + 1) * c.bucket_size, 0);
    std::memcpy(file.data() + number * c.bucket_size, bytes.data(), bytes.size());
  }
  std::string path = root.file("crafted.db");
  testing::write_file(path, file);
  return path;
}

TEST(HdbOverflow, AllocatorLimitsOnCraftedHeaders) {
  const std::vector<uint8_t> full4096(4096, 0xFF), full64(64, 0xFF), full65536(65536, 0xFF);
  std::vector<uint8_t> one_free(4096, 0xFF);
  one_free[2499 / 8] = static_cast<uint8_t>(~(1u << (2499 % 8)));  // slot 2500 free
  std::vector<uint8_t> slot2_free(65536, 0xFF);
  slot2_free[0] = 0xFD;
  struct Case {
    const char* what;
    Crafted crafted;
    int site;
  };
  std::vector<Case> cases = {
      // Split point 31 full (2047 slots): appending needs a 33rd split point.
      {"1401", {4096, 31, {{0, 0}, {1, 1}, {31, 2048}}, {hdb_oaddr(1, 1)}, 0, {{3, full4096}}}, 1401},
      // Five full 64-byte bitmaps, split point 31 at 2046 slots: the slot after a new bitmap page overflows it.
      {"1403",
       {64, 31, {{0, 0}, {1, 5}, {30, 514}, {31, 2560}},
        {hdb_oaddr(1, 1), hdb_oaddr(1, 2), hdb_oaddr(1, 3), hdb_oaddr(1, 4), hdb_oaddr(1, 5)}, 0,
        {{7, full64}, {8, full64}, {9, full64}, {10, full64}, {11, full64}}},
       1403},
      // An appended slot at split point 15 of 65536-byte pages lies past 2 GB.
      {"1404", {65536, 15, {{0, 0}, {1, 1}, {15, 2}}, {hdb_oaddr(1, 1)}, 0, {{3, full65536}}}, 1404},
      // A free slot 2500 slots into split point 1: offset above 2047.
      {"1405", {4096, 1, {{0, 0}, {1, 3000}}, {hdb_oaddr(1, 1)}, 0, {{3, one_free}}}, 1405},
      // A free slot at split point 15 of 65536-byte pages lies past 2 GB.
      {"1406", {65536, 15, {{0, 0}, {1, 1}, {15, 2}}, {hdb_oaddr(1, 1)}, 0, {{3, slot2_free}}}, 1406},
  };
  for (const Case& c : cases) {
    platform::TestRoot root;
    std::string path = write_crafted(root, c.crafted);
    hdb_handle* h = hdb_open(path.c_str(), kOpenReadWrite, 0, kTypeHash, nullptr);
    ASSERT_NE(h, nullptr) << c.what << " errno " << errno;
    hdb_table* t = h->internal;
    hdb_header before = t->header;
    errno = 1000000;
    EXPECT_EQ(hdb_overflow_alloc(t), 0) << c.what;
    EXPECT_EQ(errno, c.site * 1000) << c.what;
    EXPECT_EQ(std::memcmp(&before, &t->header, sizeof before), 0) << c.what << ": header changed";
    // A store that needs the slot fails the same way and leaves the chain as it was.
    std::string big(c.crafted.bucket_size, 'b');
    hdb_bytes k = B("k"), v = B(big);
    errno = 1000000;
    EXPECT_EQ(h->put(h, &k, &v, 0), -1) << c.what;
    EXPECT_EQ(errno, c.site * 1000) << c.what;
    hdb_bytes data{};
    EXPECT_EQ(h->get(h, &k, &data, 0), 1) << c.what;
    h->close(h);
  }
}

uint32_t first_digit_hash(const void* bytes, size_t length) {
  return length ? static_cast<const uint8_t*>(bytes)[0] - '0' : 0;
}

// A table with four free slots whose appended slots would pass 2 GB: a split
// that cannot have the slots its chains need changes nothing, and a store
// that cannot have an overflow page stores nothing.
TEST(HdbOverflow, SplitWithoutSlotsChangesNothing) {
  std::vector<uint8_t> bitmap(64, 0xFF);
  bitmap[0] = 0xE1;  // bit 0 (the bitmap itself) set, bits 1..4 free
  Crafted crafted{64, 25, {{0, 0}, {1, 5}}, {hdb_oaddr(1, 1)}, 0, {{7, bitmap}}};
  crafted.hash = first_digit_hash;
  platform::TestRoot root;
  std::string path = write_crafted(root, crafted);
  hdb_params params{};
  params.hash = first_digit_hash;
  hdb_handle* h = hdb_open(path.c_str(), kOpenReadWrite, 0, kTypeHash, &params);
  ASSERT_NE(h, nullptr) << errno;
  const std::string value(40, 'v');  // one pair per page
  auto put = [&](const char* key) {
    hdb_bytes k = B(key), v = B(value);
    errno = 1000000;
    return h->put(h, &k, &v, 0);
  };
  ASSERT_EQ(put("0a"), 0);  // bucket 0 takes an overflow page; bucket 2 splits it off
  ASSERT_EQ(put("2a"), 0);
  ASSERT_EQ(put("0b"), 0);
  EXPECT_EQ(h->internal->header.last_bucket, 3u);
  // Bucket 0 takes the last free slot; bucket 4 would split it, and keeping
  // its three pages needs two slots.
  EXPECT_EQ(put("0c"), -1);
  EXPECT_EQ(errno, 1404000);
  EXPECT_EQ(h->internal->header.last_bucket, 3u);
  EXPECT_EQ(testing::check_table(h), "");
  for (const char* key : {"0a", "2a", "0b", "0c"}) {
    hdb_bytes k = B(key), data{};
    ASSERT_EQ(h->get(h, &k, &data, 0), 0) << key;
    EXPECT_EQ(S(data), value);
  }
  // The last slot goes to "0d" (its growth fails again); then no slot is
  // left: the store fails and stores nothing.
  EXPECT_EQ(put("0d"), -1);
  EXPECT_EQ(put("0e"), -1);
  EXPECT_EQ(errno, 1404000);
  hdb_bytes k = B("0d"), data{};
  EXPECT_EQ(h->get(h, &k, &data, 0), 0);
  k = B("0e");
  EXPECT_EQ(h->get(h, &k, &data, 0), 1);
  EXPECT_EQ(testing::check_table(h), "");
  h->close(h);
}

TEST(HdbOverflow, BitmapWordInBigEndianOrder) {
  hdb_table t{};
  t.header.byte_order = 1234;
  t.header.bucket_size = 64;
  t.header.bucket_shift = 6;
  t.header.header_pages = 5;
  t.header.spares[1] = 2;
  t.header.bitmap_pages[0] = hdb_oaddr(1, 1);
  t.bitmap_count = 1;
  uint32_t number = static_cast<uint32_t>(hdb_oaddr_page(t.header, t.header.bitmap_pages[0]));
  uint8_t page[64] = {};
  put32(page, 0, 3);
  hdb_page_out(&t, number, page);
  EXPECT_EQ(std::vector<uint8_t>(page, page + 4), (std::vector<uint8_t>{0, 0, 0, 3}));
  hdb_page_in(&t, number, page);
  EXPECT_EQ(get32(page, 0), 3u);
  // A bucket page: header fields and entries swapped, key bytes untouched.
  uint8_t bucket[64];
  pg_init(bucket, 64, 9, kBucketPage);
  pg_set_entry(bucket, 0, 60, 58);
  pg_set_count(bucket, 1);
  bucket[60] = 'k';
  hdb_page_out(&t, 9, bucket);
  EXPECT_EQ(std::vector<uint8_t>(bucket, bucket + 4), (std::vector<uint8_t>{0, 0, 0, 9}));
  EXPECT_EQ(std::vector<uint8_t>(bucket + 14, bucket + 18), (std::vector<uint8_t>{0, 60, 0, 58}));
  EXPECT_EQ(bucket[60], 'k');
  hdb_page_in(&t, 9, bucket);
  EXPECT_EQ(pg_own(bucket), 9u);
  EXPECT_EQ(pg_key_off(bucket, 0), 60);
  // A damaged count never makes the hooks run past the page.
  pg_set_count(bucket, 0xFFFF);
  hdb_page_out(&t, 9, bucket);
  hdb_page_in(&t, 9, bucket);
  EXPECT_EQ(pg_count(bucket), 0xFFFF);
}

}  // namespace
}  // namespace vorlane::hashdb
