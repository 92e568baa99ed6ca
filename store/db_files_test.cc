#include "store/db_files.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

#include "platform/testing/test_root.h"

namespace vorlane {
namespace {

TEST(DbFiles, DirectoryEntryRule) {
  // A 20-byte record at 8180 ends in the second page; the next one at 8200
  // lies wholly in it. The record at offset 0 always has an entry.
  EXPECT_TRUE(dir_entry_needed(8180, 20));
  EXPECT_FALSE(dir_entry_needed(8200, 20));
  EXPECT_TRUE(dir_entry_needed(0, 12));
  EXPECT_FALSE(dir_entry_needed(8172, 20));  // ends at 8191
  EXPECT_TRUE(dir_entry_needed(8192, 12));   // the byte before lies in page 0
}

TEST(DbFiles, RecordFieldsOfBothForms) {
  const uint32_t one[4] = {5u | kCompactFlag, 7, (3u << 7) | 9, 0};  // 12 bytes of 16
  EXPECT_TRUE(rec_is_compact(one));
  EXPECT_EQ(rec_count(one), 1u);
  EXPECT_EQ(rec_docf(one), 1u);
  EXPECT_EQ(rec_size(one), 12u);
  EXPECT_EQ(rec_hash1(one), 5u);
  const uint32_t two[] = {5u | kCompactFlag, 7u | kCompactFlag, (3u << 7) | 9, (4u << 7) | 1};
  EXPECT_EQ(rec_count(two), 2u);
  EXPECT_EQ(rec_size(two), 16u);
  EXPECT_EQ(rec_postings(two)[1], (4u << 7) | 1);
  const uint32_t full[] = {5, 7, (3u << 25) | 10, (3u << 15) | 2, 1, 2, 3, kRecEndMark, 0, 0};
  EXPECT_FALSE(rec_is_compact(full));
  EXPECT_EQ(rec_count(full), 3u);
  EXPECT_EQ(rec_free(full), 2u);
  EXPECT_EQ(rec_docf(full), 10u);
  EXPECT_EQ(rec_norm(full), 3u);
  EXPECT_EQ(rec_size(full), 40u);
}

TEST(DbFiles, PairOrderIgnoresBit31) {
  EXPECT_EQ(pair_cmp(0x80000005u, 7, 5, 7), 0);
  EXPECT_LT(pair_cmp(5, 7, 5, 8), 0);
  EXPECT_GT(pair_cmp(6, 0, 5, 0x7FFFFFFF), 0);
}

TEST(DbFiles, PathsAndTitleFiles) {
  EXPECT_EQ(db_file_path("/a/db", "dir"), "/a/db/dir");
  EXPECT_EQ(db_part_path("/a/db", 12), "/a/db/tf12");
  EXPECT_EQ(db_title_path("/a/db", 1), "/a/db/ti1");
  EXPECT_EQ(title_file_count(0), 1u);
  EXPECT_EQ(title_file_count(0x400000), 1u);
  EXPECT_EQ(title_file_count(0x400001), 2u);
  // Docid 0x400001 lies in title file 1 at offset 448.
  EXPECT_EQ(0x400001u >> kTitleFileShift, 1u);
  EXPECT_EQ((0x400001u & (kTitlesPerFile - 1)) * kTitleBytes, 448u);
}

std::vector<unsigned char> varint_bytes(uint32_t value) {
  char* data = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&data, &size);
  put_varint(f, value);
  fclose(f);
  std::vector<unsigned char> out(data, data + size);
  free(data);
  return out;
}

TEST(DbFiles, PutVarint) {
  EXPECT_EQ(varint_bytes(300), (std::vector<unsigned char>{0x82, 0x2C}));
  EXPECT_EQ(varint_bytes(0), (std::vector<unsigned char>{0x00}));
  EXPECT_EQ(varint_bytes(0x80000000u), (std::vector<unsigned char>{0x00}));
  EXPECT_EQ(varint_bytes(127), (std::vector<unsigned char>{0x7F}));
  EXPECT_EQ(varint_bytes(0x7FFFFFFF), (std::vector<unsigned char>{0x87, 0xFF, 0xFF, 0xFF, 0x7F}));
}

// get_varint over a byte string: the values read, then the final result (0
// at a clean end, -1 for a damaged number).
std::pair<std::vector<uint32_t>, int> read_varints(const std::vector<unsigned char>& bytes) {
  FILE* f = fmemopen(const_cast<unsigned char*>(bytes.data()), bytes.size(), "rb");
  std::vector<uint32_t> values;
  uint32_t v = 0;
  int r;
  while ((r = get_varint(f, &v)) == 1) values.push_back(v);
  fclose(f);
  return {values, r};
}

TEST(DbFiles, GetVarintReadsWhatPutVarintWrites) {
  std::vector<unsigned char> all;
  const std::vector<uint32_t> values = {0, 1, 127, 128, 300, 16383, 16384, 0x0FFFFFFF, 0x10000000, 0x7FFFFFFF};
  for (uint32_t v : values) {
    std::vector<unsigned char> b = varint_bytes(v);
    all.insert(all.end(), b.begin(), b.end());
  }
  EXPECT_EQ(read_varints(all), std::make_pair(values, 0));
  EXPECT_EQ(read_varints({}), std::make_pair(std::vector<uint32_t>{}, 0));
}

TEST(DbFiles, GetVarintRefusesDamagedNumbers) {
  const struct {
    std::vector<unsigned char> bytes;
    std::vector<uint32_t> values;
  } cases[] = {
      {{0x05, 0x82}, {5}},                               // cut after a continuation byte
      {{0x81, 0x80, 0x80, 0x80, 0x80, 0x00}, {}},        // a sixth byte: longer than 5
      {{0x88, 0x80, 0x80, 0x80, 0x00}, {}},              // 5 bytes but 32 bits
      {{0x80, 0x80, 0x80, 0x80, 0x80}, {}},              // the fifth byte continues
  };
  for (const auto& c : cases) EXPECT_EQ(read_varints(c.bytes), std::make_pair(c.values, -1));
  // Leading zero groups are still one number within 5 bytes.
  EXPECT_EQ(read_varints({0x80, 0x80, 0x81, 0x00}), std::make_pair(std::vector<uint32_t>{128}, 0));
}

TEST(DbFiles, LocalDayNumber) {
  // Tests run with TZ=UTC.
  EXPECT_EQ(local_day_number(0), 1u);
  EXPECT_EQ(local_day_number(-5), 1u);
  EXPECT_EQ(local_day_number(1), 1u);
  EXPECT_EQ(local_day_number(86399), 1u);
  EXPECT_EQ(local_day_number(86400), 2u);
  EXPECT_EQ(local_day_number(86400 * 20000 + 5000), 20001u);
}

TEST(DbFiles, ExistsNeedsEveryFile) {
  platform::TestRoot root;
  const std::string dir = root.path();
  EXPECT_EQ(idbm_exists(dir.c_str()), 0);
  for (const char* name : {"dir", "ti0", "del", "inf"}) fclose(fopen((dir + "/" + name).c_str(), "w"));
  EXPECT_EQ(idbm_exists(dir.c_str()), 0);
  fclose(fopen((dir + "/tf0").c_str(), "w"));
  EXPECT_EQ(idbm_exists(dir.c_str()), 1);
  EXPECT_EQ(idbm_exists(nullptr), 0);
}

TEST(DbFiles, JournalRecordCount) {
  platform::TestRoot root;
  const std::string path = root.file("jnl");
  EXPECT_EQ(jnl_count_records(path.c_str()), 0u);
  FILE* f = fopen(path.c_str(), "wb");
  // A record of two terms, one without terms, then one cut in its body.
  uint32_t reclen = 18;
  uint32_t pairs[4] = {1, 2, 3, 4};
  unsigned char freqs[2] = {1, 2};
  fwrite(&reclen, 4, 1, f);
  fwrite(pairs, 4, 4, f);
  fwrite(freqs, 1, 2, f);
  uint32_t zero = 0;
  fwrite(&zero, 4, 1, f);
  fwrite(&reclen, 4, 1, f);
  fwrite(pairs, 4, 2, f);
  fclose(f);
  EXPECT_EQ(jnl_count_records(path.c_str()), 2u);
  // A reclen that is not a multiple of 9 ends the count.
  f = fopen(path.c_str(), "wb");
  uint32_t bad = 10;
  fwrite(&bad, 4, 1, f);
  fclose(f);
  EXPECT_EQ(jnl_count_records(path.c_str()), 0u);
}

}  // namespace
}  // namespace vorlane
