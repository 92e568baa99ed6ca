#include <atomic>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/testing/test_root.h"
#include "store/db_handle.h"
#include "store/db_reader.h"
#include "store/testing/log_capture.h"
#include "store/pread.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane {
namespace {

using testing::expected_cached;
using testing::image_options;
using testing::image_term;
using testing::record_words;

std::atomic<int> reads{0};
ssize_t counting_pread(int fd, void* buffer, size_t count, uint64_t offset) {
  reads.fetch_add(1);
  return vorlane::pread(fd, buffer, count, offset);
}

class TermFindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_percent_table();
    cache_release_arenas();
    cache_add_arena(0, 64);
    cache_add_arena(200, 256);
    idbm_pread = &counting_pread;
    reads = 0;
  }
  void TearDown() override {
    for (idbm_db* db : open_) idbm_close(db);
    idbm_pread = &vorlane::pread;
    cache_release_arenas();
  }
  idbm_db* open(const std::string& dir) {
    idbm_db* db = idbm_open(dir.c_str(), 0, 0, 0, nullptr);
    if (db && !idbm_cache(db, 4 * cache_total_slots())) return nullptr;
    if (db) open_.push_back(db);
    return db;
  }
  // Finds, checks against the expectation, unpins; the reads it took.
  int find_reads(idbm_db* db, uint32_t h1, uint32_t h2, const std::vector<uint32_t>& want) {
    int before = reads.load();
    const uint32_t* r = idbm_find(db, h1, h2);
    EXPECT_EQ(record_words(r), want) << h1 << "." << h2;
    unpin_record(r);
    return reads.load() - before;
  }

  platform::TestRoot root_;
  std::vector<idbm_db*> open_;
};

TEST_F(TermFindTest, EveryTermOfAGeneratedDatabase) {
  // Several parts (small part size) and pages full of records without entries.
  image_options options;
  options.part_limit = 40000;
  auto g = testing::make_generated_db(root_.file("db"), 3000, 5000, 60, 11, options);
  ASSERT_GT(g.records.back().part, 2u);
  idbm_db* db = open(root_.file("db"));
  ASSERT_NE(db, nullptr);
  int with_entry = 0, without_entry = 0;
  for (const auto& t : g.terms) {
    EXPECT_LE(find_reads(db, t.hash1, t.hash2, expected_cached(t, g.ndocs)), 1);
  }
  for (const auto& r : g.records) (r.has_entry ? with_entry : without_entry)++;
  EXPECT_GT(with_entry, 20);
  EXPECT_GT(without_entry, 1000);
}

// The cell arrays of a closed handle serve the next handle opened: it finds
// its own records only, never one the first handle had cached.
TEST_F(TermFindTest, AHandleAfterAClosedOneFindsOnlyItsOwnTerms) {
  auto a = testing::make_generated_db(root_.file("a"), 1500, 3000, 30, 21);
  auto b = testing::make_generated_db(root_.file("b"), 1500, 2000, 30, 22);
  idbm_db* first = idbm_open(root_.file("a").c_str(), 0, 0, 0, nullptr);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(idbm_cache(first, 4 * cache_total_slots()), 1);
  for (const auto& t : a.terms) unpin_record(idbm_find(first, t.hash1, t.hash2));
  ASSERT_GT(first->cache_used.load(), 300);
  const void* table = first->cache_table;
  idbm_close(first);

  idbm_db* db = open(root_.file("b"));
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(static_cast<const void*>(db->cache_table), table) << "the closed handle's arrays are taken again";
  EXPECT_EQ(db->cache_used.load(), 0);
  for (size_t i = 0; i < a.terms.size(); ++i) {
    const auto& t = b.terms[i];
    find_reads(db, t.hash1, t.hash2, expected_cached(t, b.ndocs));
    find_reads(db, a.terms[i].hash1, a.terms[i].hash2, {});
  }
}

TEST_F(TermFindTest, TheCasesOfOneLookup) {
  // Hand-picked pairs: records of 1, 2 and many postings; the key after the
  // last entry of part 0 sits in part 0's last page.
  std::vector<image_term> terms;
  for (uint32_t i = 0; i < 400; ++i) {
    image_term t{1000 + i * 10, 7, {}, 0};
    uint32_t n = i % 3 == 0 ? 1 : i % 3 == 1 ? 2 : 3 + i % 40;
    for (uint32_t k = 0; k < n; ++k) t.postings.push_back(((i + k * 7) << 7) | (1 + (i + k) % 127));
    terms.push_back(t);
  }
  image_options options;
  options.ndocs = 4000;
  options.part_limit = 12000;
  auto records = testing::write_db_image(root_.file("db"), terms, options);
  idbm_db* db = open(root_.file("db"));
  ASSERT_NE(db, nullptr);
  auto term_of = [&](uint32_t h1) -> const image_term& {
    for (const auto& t : terms)
      if (t.hash1 == h1) return t;
    throw std::runtime_error("no term");
  };

  // Exact read through an entry: the first record of the database.
  EXPECT_TRUE(records[0].has_entry);
  EXPECT_EQ(find_reads(db, 1000, 7, expected_cached(term_of(1000), 4000)), 1);
  // A compact record of one posting: 12 bytes read into a 24-byte slot and
  // cached in the full form with docf 1.
  const uint32_t* one = idbm_find(db, 1000, 7);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(rec_full_docf(one), 1u);
  EXPECT_EQ(slot_of_record(one)->home->chunk_size, 20u + 4 * 200);
  unpin_record(one);
  // Cached: no read.
  EXPECT_EQ(find_reads(db, 1000, 7, expected_cached(term_of(1000), 4000)), 0);

  // A page read: a record without an entry.
  const testing::image_record* page_rec = nullptr;
  for (size_t i = 5; i < records.size() && !page_rec; ++i)
    if (!records[i].has_entry && records[i].part == 0) page_rec = &records[i];
  ASSERT_NE(page_rec, nullptr);
  EXPECT_EQ(find_reads(db, page_rec->hash1, 7, expected_cached(term_of(page_rec->hash1), 4000)), 1);

  // A key between two records of one page: absent, cached as a stub; the
  // next lookup reads nothing.
  EXPECT_EQ(find_reads(db, page_rec->hash1 + 1, 7, {}), 1);
  EXPECT_EQ(find_reads(db, page_rec->hash1 + 1, 7, {}), 0);

  // A key before the first entry: absent without a read, nothing cached.
  const int32_t used = db->cache_used.load();
  EXPECT_EQ(find_reads(db, 999, 7, {}), 0);
  EXPECT_EQ(db->cache_used.load(), used);

  // The last record of part 0 (after part 0's last entry) and a record of
  // part 1.
  const testing::image_record* last0 = nullptr;
  const testing::image_record* in1 = nullptr;
  for (const auto& r : records) {
    if (r.part == 0) last0 = &r;
    if (r.part == 1 && !r.has_entry && !in1) in1 = &r;
  }
  ASSERT_NE(last0, nullptr);
  ASSERT_NE(in1, nullptr);
  EXPECT_FALSE(last0->has_entry);
  EXPECT_EQ(find_reads(db, last0->hash1, 7, expected_cached(term_of(last0->hash1), 4000)), 1);
  EXPECT_EQ(find_reads(db, last0->hash1 + 1, 7, {}), 1);
  EXPECT_EQ(find_reads(db, in1->hash1, 7, expected_cached(term_of(in1->hash1), 4000)), 1);
  // A key after the last record of the database.
  EXPECT_EQ(find_reads(db, 0x7FFFFFFF, 7, {}), 1);
}

TEST_F(TermFindTest, HandAssembledImage) {
  // Written word by word, not by the test writer.
  const std::string dir = root_.file("db");
  mkdir(dir.c_str(), 0777);
  const std::vector<uint32_t> tf0 = {
      // offset 0: full form, 3 postings
      10, 20,                    // hash1, hash2
      3,                         // norm 0, docf 3
      3u << 15,                  // count 3, free 0
      (0u << 7) | 127, (1u << 7) | 127, (2u << 7) | 14,
      0xFFFFFF80u,               // end mark
      // offset 32: compact, one posting
      11u | 0x80000000u, 5, (4u << 7) | 1,
      // offset 44: compact, two postings
      12u | 0x80000000u, 7u | 0x80000000u, (1u << 7) | 2, (3u << 7) | 127,
  };
  const std::vector<uint32_t> dirwords = {
      1, 3, 5, 40000,            // nparts, nterms, ndocs, posting limit
      10, 20, 0, (32u << 8) | 0, // entry: the record at offset 0 of part 0
  };
  auto put = [&](const char* name, const void* data, size_t size) {
    FILE* f = fopen((dir + "/" + name).c_str(), "wb");
    fwrite(data, 1, size, f);
    fclose(f);
  };
  put("tf0", tf0.data(), tf0.size() * 4);
  put("dir", dirwords.data(), dirwords.size() * 4);
  put("ti0", std::string(5 * 448, '\0').data(), 5 * 448);
  put("del", "\0\0\0\0\0", 5);
  const uint32_t incr = 1;
  put("inf", &incr, 4);
  idbm_db* db = open(dir);
  ASSERT_NE(db, nullptr);
  // Weights: idf_scale(3, 5) = 31, (1, 5) = 100, (2, 5) = 56. Class 127 has
  // weight 100 and takes the term's weight; class 14 weighs 55, class 2 22,
  // class 1 14: 55% of 31 = 17, 22% of 56 = 12, 14% of 100 = 14.
  EXPECT_EQ(find_reads(db, 10, 20,
                       {10, 20, (31u << 25) | 3, 3u << 15, (0u << 7) | 31, (1u << 7) | 31, (2u << 7) | 17,
                        0xFFFFFF80u}),
            1);
  EXPECT_EQ(find_reads(db, 11, 5, {11, 5, (100u << 25) | 1, 1u << 15, (4u << 7) | 14, 0xFFFFFF80u}), 1);
  EXPECT_EQ(find_reads(db, 12, 7, {12, 7, (56u << 25) | 2, 2u << 15, (1u << 7) | 12, (3u << 7) | 56, 0xFFFFFF80u}),
            1);
  EXPECT_EQ(find_reads(db, 11, 6, {}), 1);
  EXPECT_EQ(find_reads(db, 13, 0, {}), 1);
  EXPECT_EQ(find_reads(db, 9, 99, {}), 0);
}

TEST_F(TermFindTest, DocidsOutOfOrderAreSorted) {
  image_options options;
  options.ndocs = 100;
  testing::write_db_image(root_.file("db"), {{50, 5, {(9u << 7) | 127, (3u << 7) | 127, (7u << 7) | 127}, 0}},
                          options);
  idbm_db* db = open(root_.file("db"));
  ASSERT_NE(db, nullptr);
  LogCapture log;
  const uint32_t* r = idbm_find(db, 50, 5);
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(log.contains("idbm_norm: docids out of order,"));
  EXPECT_EQ(posting_docid(r[4]), 3u);
  EXPECT_EQ(posting_docid(r[5]), 7u);
  EXPECT_EQ(posting_docid(r[6]), 9u);
  EXPECT_EQ(r[7], kRecEndMark);
  unpin_record(r);
}

TEST_F(TermFindTest, PurgeEmptiesDeletedRunsThatEndAtAnEmptyCell) {
  auto* db = new idbm_db;
  cache_release_arenas();
  cache_add_arena(0, 1);
  ASSERT_EQ(idbm_cache(db, 8), 1);  // size 10
  ASSERT_EQ(db->cache_table[0].load(), 10u);
  // Cells 2-3 deleted then empty: reclaimed. Cells 5-6 deleted then a
  // record: kept. Cells 9-10 deleted, wrapping to the deleted cells 1-3 and
  // the empty cell 4: reclaimed.
  static uint32_t record[5] = {1, 1, 0, 0, kRecEndMark};
  for (uint32_t c : {1u, 2u, 3u, 5u, 6u, 9u, 10u}) db->cache_table[c].store(CACHE_DEL);
  db->cache_table[7].store(reinterpret_cast<uintptr_t>(record));
  db->cache_used.store(8);
  db->cache_free.store(2);
  EXPECT_EQ(idbm_purge(db), 5);
  for (uint32_t c : {1u, 2u, 3u, 9u, 10u}) EXPECT_EQ(db->cache_table[c].load(), 0u) << c;
  for (uint32_t c : {5u, 6u}) EXPECT_EQ(db->cache_table[c].load(), CACHE_DEL) << c;
  EXPECT_EQ(db->cache_used.load(), 3);
  EXPECT_EQ(db->cache_free.load(), 7);
  db->cache_table[7].store(0);
  idbm_close(db);
}

TEST_F(TermFindTest, FullFormSmallRecords) {
  // Records of one and two postings stored in the full form are read too.
  image_options options;
  options.full_form_only = true;
  auto g = testing::make_generated_db(root_.file("db"), 500, 100, 3, 5, options);
  idbm_db* db = open(root_.file("db"));
  ASSERT_NE(db, nullptr);
  for (const auto& t : g.terms) find_reads(db, t.hash1, t.hash2, expected_cached(t, g.ndocs));
}

TEST_F(TermFindTest, EmptyDatabaseReadsNothing) {
  image_options options;
  testing::write_db_image(root_.file("db"), {}, options);
  idbm_db* db = open(root_.file("db"));
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(find_reads(db, 5, 6, {}), 0);
  EXPECT_EQ(find_reads(db, 0x7FFFFFFF, 0x7FFFFFFF, {}), 0);
}

TEST_F(TermFindTest, LongRecordCutToThePostingLimit) {
  // 45,000 postings, limit 40,000: the best scores stay, ties in docid order.
  cache_add_arena(45000, 2);
  image_term t{77, 88, {}, 0};
  for (uint32_t d = 0; d < 45000; ++d) t.postings.push_back((d << 7) | (d % 3 == 0 ? 127u : d % 3 == 1 ? 64u : 2u));
  image_options options;
  options.ndocs = 50000;
  testing::write_db_image(root_.file("db"), {t}, options);
  idbm_db* db = idbm_open(root_.file("db").c_str(), 40000, 0, 0, nullptr);
  ASSERT_NE(db, nullptr);
  open_.push_back(db);
  ASSERT_EQ(idbm_cache(db, 100), 1);
  LogCapture log;
  const uint32_t* r = idbm_find(db, 77, 88);
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(log.contains("idbm_trunc: termlist longer than 40K"));
  EXPECT_EQ(rec_full_count(r), 40000u);
  EXPECT_EQ(rec_full_free(r), 0u);
  EXPECT_EQ(rec_full_docf(r), 45000u);
  // Scores 127 and 64 (15,000 each) all stay; 10,000 of score 2 in docid order.
  std::vector<uint32_t> want;
  uint32_t low = 0;
  for (uint32_t d = 0; d < 45000; ++d) {
    if (d % 3 == 2) {
      if (low == 10000) continue;
      ++low;
    }
    want.push_back(d);
  }
  ASSERT_EQ(want.size(), 40000u);
  for (uint32_t i = 0; i < 40000; ++i) ASSERT_EQ(posting_docid(r[4 + i]), want[i]) << i;
  EXPECT_EQ(r[4 + 40000], kRecEndMark);
  unpin_record(r);
}

TEST(IdbmTrunc, KeepsTheBestScoresAndTiesInDocidOrder) {
  // 10 postings, limit 6: scores 9 (x2) and 5 (x3) stay, then one of the
  // three of score 3, the first by docid.
  const uint32_t scores[10] = {3, 9, 5, 3, 5, 1, 9, 3, 5, 1};
  std::vector<uint32_t> r = {1, 2, 10, 10u << 15};
  for (uint32_t d = 0; d < 10; ++d) r.push_back((d << 7) | scores[d]);
  r.push_back(kRecEndMark);
  idbm_trunc(r.data(), 6);
  EXPECT_EQ(rec_full_count(r.data()), 6u);
  EXPECT_EQ(rec_full_free(r.data()), 4u);
  std::vector<uint32_t> kept;
  for (uint32_t i = 0; i < 6; ++i) kept.push_back(posting_docid(r[4 + i]));
  EXPECT_EQ(kept, (std::vector<uint32_t>{0, 1, 2, 4, 6, 8}));
  EXPECT_EQ(r[10], kRecEndMark);
  for (size_t i = 11; i < r.size(); ++i) EXPECT_EQ(r[i], 0u);
  EXPECT_EQ(r.size(), 15u);  // the record keeps its size
}

TEST_F(TermFindTest, StaysWithinTinyArenasAndRecyclesSlots) {
  cache_release_arenas();
  cache_add_arena(0, 4);
  cache_add_arena(200, 4);
  auto g = testing::make_generated_db(root_.file("db"), 300, 1000, 30, 3);
  idbm_db* db = open(root_.file("db"));
  ASSERT_NE(db, nullptr);
  for (int round = 0; round < 3; ++round)
    for (const auto& t : g.terms) find_reads(db, t.hash1, t.hash2, expected_cached(t, g.ndocs));
  // Pins held by a query keep their records: with every big slot pinned the
  // next lookup that needs one fails with a clear message.
  std::vector<const uint32_t*> held;
  for (const auto& t : g.terms) {
    if (held.size() == 4) break;
    if (t.postings.size() < 3) continue;
    const uint32_t* r = idbm_find(db, t.hash1, t.hash2);
    ASSERT_NE(r, nullptr);
    held.push_back(r);
  }
  std::vector<std::vector<uint32_t>> copies;
  for (const uint32_t* r : held) copies.push_back(record_words(r));
  LogCapture log;
  int misses = 0;
  for (const auto& t : g.terms)
    if (t.postings.size() >= 3) {
      const uint32_t* r = idbm_find(db, t.hash1, t.hash2);
      if (!r) ++misses;
      unpin_record(r);
    }
  EXPECT_GT(misses, 0);
  EXPECT_TRUE(log.contains("alloc_slot: all slots are in use"));
  for (size_t i = 0; i < held.size(); ++i) EXPECT_EQ(record_words(held[i]), copies[i]);
  for (const uint32_t* r : held) unpin_record(r);
  for (const auto& t : g.terms) find_reads(db, t.hash1, t.hash2, expected_cached(t, g.ndocs));
}

TEST_F(TermFindTest, CorruptTermFilesAreReportedNotRead) {
  // A record in a page whose count runs past the part: corruption.
  std::vector<image_term> terms;
  for (uint32_t i = 0; i < 20; ++i) terms.push_back({100 + i, 1, {(i << 7) | 5, ((i + 1) << 7) | 5, ((i + 2) << 7) | 5}, 0});
  image_options options;
  options.ndocs = 100;
  auto records = testing::write_db_image(root_.file("db"), terms, options);
  ASSERT_FALSE(records[3].has_entry);
  FILE* f = fopen(root_.file("db/tf0").c_str(), "r+b");
  fseek(f, records[2].offset + 12, SEEK_SET);
  uint32_t huge = 0xFFFF8000u;  // count 0x1FFFF
  fwrite(&huge, 4, 1, f);
  fclose(f);
  idbm_db* db = open(root_.file("db"));
  ASSERT_NE(db, nullptr);
  LogCapture log;
  EXPECT_EQ(idbm_find(db, 103, 1), nullptr);
  EXPECT_TRUE(log.contains("idbm_find: CORRUPTION or BAD INDEX"));
  // The exact record of an entry whose pair differs.
  f = fopen(root_.file("db/tf0").c_str(), "r+b");
  uint32_t other = 5;
  fwrite(&other, 4, 1, f);
  fclose(f);
  EXPECT_EQ(idbm_find(db, 100, 1), nullptr);
  EXPECT_TRUE(log.contains("idbm_find: dir entry hash != rec hash"));
}

TEST_F(TermFindTest, RandomlyDamagedFilesAreNeverReadOutOfBounds) {
  // Bytes of "dir" and the parts flipped at random: the open may refuse the
  // database, lookups and the sequential reader may report damage, but
  // nothing is read outside its buffer (checked under AddressSanitizer) and
  // every record returned keeps its docids below the document count.
  image_options options;
  options.part_limit = 20000;
  auto g = testing::make_generated_db(root_.file("good"), 400, 500, 30, 17, options);
  std::mt19937 rng(99);
  for (int round = 0; round < 150; ++round) {
    const std::string dir = root_.file("bad" + std::to_string(round));
    std::filesystem::copy(root_.file("good"), dir);
    const char* victim = round % 3 == 0 ? "dir" : round % 3 == 1 ? "tf0" : "tf1";
    const std::string path = dir + "/" + victim;
    FILE* f = fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    for (int k = 0; k < 6; ++k) {
      long at = static_cast<long>(rng() % static_cast<uint32_t>(size));
      if (victim == std::string("dir") && at < 16) at += 16;  // keep the header
      if (at >= size) continue;
      fseek(f, at, SEEK_SET);
      unsigned char b = static_cast<unsigned char>(rng());
      fwrite(&b, 1, 1, f);
    }
    fclose(f);
    LogCapture log(LOG_ERROR | LOG_NOTICE);
    idbm_db* db = idbm_open(dir.c_str(), 0, 0, 0, nullptr);
    if (!db) continue;
    ASSERT_EQ(idbm_cache(db, 4 * cache_total_slots()), 1);
    for (const auto& t : g.terms) {
      const uint32_t* r = idbm_find(db, t.hash1, t.hash2);
      if (r) {
        for (uint32_t i = 0; i < rec_full_count(r); ++i) ASSERT_LT(posting_docid(r[4 + i]), g.ndocs);
      }
      unpin_record(r);
    }
    idbm_reader* reader = idbm_buffer(db);
    if (reader) {
      while (idbm_record(db, reader)) {
      }
      idbm_buffer_free(reader);
    }
    idbm_close(db);
  }
}

TEST_F(TermFindTest, FullCacheTableEndsTheProcess) {
  // A forked child (not a re-executed one) dies inside this fixture's root,
  // which the parent then removes; a re-executed child would make a root of
  // its own and leave it behind when it ends with _exit.
  GTEST_FLAG_SET(death_test_style, "fast");
  std::vector<image_term> terms;
  for (uint32_t i = 0; i < 400; ++i) terms.push_back({1000000 + i * 1000, 7, {(i << 7) | 9}, 0});
  image_options options;
  options.ndocs = 400;
  testing::write_db_image(root_.file("db"), terms, options);
  EXPECT_EXIT(
      {
        // A table of 100 cells, and slots enough that no stub is recycled:
        // every absent term stays cached until the limit, raised by 2 cells
        // at a time, reaches the size.
        cache_release_arenas();
        cache_add_arena(0, 1);
        idbm_db* db = idbm_open(root_.file("db").c_str(), 0, 0, 0, nullptr);
        idbm_cache(db, 80);
        cache_release_arenas();
        cache_add_arena(0, 300);
        for (uint32_t i = 0; i < 200; ++i) idbm_find(db, 1000000 + i * 1000 + 1, 7);
      },
      ::testing::ExitedWithCode(1), "Search Engine termlist hash table is full!!!");
}

}  // namespace
}  // namespace vorlane
