#include "store/term_merge.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "platform/testing/test_root.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/testing/log_capture.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/testing/db_image.h"
#include "store/testing/lookup_fixture.h"

namespace vorlane {
namespace {

using testing::image_options;
using testing::image_term;
using pair_key = std::pair<uint32_t, uint32_t>;

std::vector<uint32_t> read_words(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  const std::string b = s.str();
  std::vector<uint32_t> w(b.size() / 4);
  if (!w.empty()) memcpy(w.data(), b.data(), w.size() * 4);
  return w;
}

void patch_word(const std::string& path, uint64_t offset, uint32_t value) {
  FILE* f = fopen(path.c_str(), "r+b");
  fseek(f, static_cast<long>(offset), SEEK_SET);
  fwrite(&value, 4, 1, f);
  fclose(f);
}

class TermMergeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_percent_table(); }
  void SetUp() override { cache_release_arenas(); }
  void TearDown() override {
    for (idbm_db* db : opened_) idbm_close(db);
    cache_release_arenas();
  }
  idbm_db* source(const std::string& name, const std::vector<image_term>& terms, uint32_t ndocs) {
    image_options o;
    o.ndocs = ndocs;
    records_[name] = testing::write_db_image(root_.file(name), terms, o);
    idbm_db* db = idbm_open_plain(root_.file(name).c_str(), nullptr);
    if (db) opened_.push_back(db);
    return db;
  }
  idbm_db* target(uint32_t ndocs, int32_t limit) {
    idbm_db* db = idbm_newdb(root_.file("merged").c_str(), limit);
    db->ndocs = ndocs;
    opened_.push_back(db);
    return db;
  }
  platform::TestRoot root_;
  std::vector<idbm_db*> opened_;
  std::map<std::string, std::vector<testing::image_record>> records_;
};

// Three sources with a docid map that drops documents and shifts the rest:
// the merged records, document frequencies, the cut to the posting limit and
// the catalog are what a model of the merge gives, and the merged database
// opens with every kept term found.
TEST_F(TermMergeTest, ThreeSourcesWithADocidMap) {
  const uint32_t limit = 15;
  const uint32_t ndocs[3] = {30, 40, 50};
  const hash_pair url = pair_from_u64(term_hash_pair("url:http"));
  std::mt19937 rng(77);
  std::vector<std::pair<uint32_t, uint32_t>> vocab;
  for (int i = 0; i < 60; ++i) vocab.push_back({rng() % 0x7FFFFFFF + 1, rng() % 0x7FFFFFFF + 1});
  vocab.push_back({url.hash1, url.hash2});
  const pair_key only_dropped{123, 456};

  // The docid map: every document with global docid % 7 == 3 is dropped.
  const uint32_t total = 120;
  std::vector<int32_t> map(total);
  uint32_t shift = 0;
  for (uint32_t g = 0; g < total; ++g) {
    if (g % 7 == 3) {
      map[g] = -1;
      ++shift;
    } else {
      map[g] = static_cast<int32_t>(shift << 7);
    }
  }
  const uint32_t new_ndocs = total - shift;

  // Sources and the model: per pair, the merged (new docid, score) list.
  std::map<pair_key, std::vector<std::pair<uint32_t, uint32_t>>> merged;
  std::map<pair_key, int64_t> docf, dropped;
  idbm_db* sources[3];
  uint32_t base = 0;
  for (int s = 0; s < 3; ++s) {
    std::vector<image_term> terms;
    for (size_t v = 0; v < vocab.size(); ++v) {
      if (rng() % 3 == 0) continue;  // not in this source
      image_term t{vocab[v].first, vocab[v].second, {}, 0};
      const uint32_t want = v == vocab.size() - 1 ? ndocs[s] : 1 + rng() % (ndocs[s] / 2);
      std::set<uint32_t> docids;
      while (docids.size() < want) docids.insert(rng() % ndocs[s]);
      for (uint32_t d : docids) t.postings.push_back((d << 7) | (1 + rng() % 127));
      terms.push_back(t);
    }
    if (s == 1) terms.push_back({only_dropped.first, only_dropped.second, {(1u << 7) | 50, (8u << 7) | 60}, 0});
    for (const image_term& t : terms) {
      const pair_key k{t.hash1, t.hash2};
      docf[k] += static_cast<int64_t>(t.postings.size());
      for (uint32_t p : t.postings) {
        const uint32_t g = base + (p >> 7);
        if (map[g] == -1) {
          ++dropped[k];
          continue;
        }
        merged[k].push_back({g - (static_cast<uint32_t>(map[g]) >> 7), p & 127});
      }
    }
    sources[s] = source("src" + std::to_string(s), terms, ndocs[s]);
    ASSERT_NE(sources[s], nullptr);
    base += ndocs[s];
  }
  ASSERT_EQ(std::max(docf.size(), merged.size()), docf.size());

  idbm_db* out = target(new_ndocs, static_cast<int32_t>(limit));
  ASSERT_EQ(idbm_merge(3, sources, out, map.data()), 1);

  // The model's records and catalog entries.
  const uint32_t min_docf = static_cast<uint32_t>(std::sqrt(static_cast<double>(new_ndocs)));  // below 10000 docs
  std::map<pair_key, image_term> expected;
  std::vector<uint32_t> catalog = {0x80000000u, 0x80000000u, new_ndocs << 7, 0};
  bool cut = false;
  for (const auto& [k, df0] : docf) {
    auto list = merged[k];
    if (list.size() > limit) {
      // The limit best scores, ties in merged order, back in merged order.
      cut = true;
      std::vector<size_t> idx(list.size());
      for (size_t i = 0; i < idx.size(); ++i) idx[i] = i;
      std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) { return list[a].second > list[b].second; });
      idx.resize(limit);
      std::sort(idx.begin(), idx.end());
      std::vector<std::pair<uint32_t, uint32_t>> kept;
      for (size_t i : idx) kept.push_back(list[i]);
      list = kept;
    }
    if (list.empty()) continue;
    int64_t df = std::max<int64_t>(std::min<int64_t>(df0 - dropped[k], new_ndocs), static_cast<int64_t>(list.size()));
    if (k == pair_key{url.hash1, url.hash2}) df = new_ndocs;
    image_term t{k.first, k.second, {}, static_cast<uint32_t>(df)};
    uint32_t highest = 0, sum = 0;
    for (const auto& [d, sc] : list) {
      t.postings.push_back((d << 7) | sc);
      highest = std::max(highest, sc);
      sum += sc;
    }
    expected[k] = t;
    const uint32_t count = static_cast<uint32_t>(list.size());
    if (static_cast<uint32_t>(df) >= min_docf && highest >= 24)
      catalog.insert(catalog.end(), {k.first | 0x80000000u, k.second | 0x80000000u,
                                     (static_cast<uint32_t>(df) << 7) + highest, (count << 7) + (sum + count / 2) / count});
  }
  EXPECT_TRUE(cut);
  EXPECT_EQ(expected.count(only_dropped), 0u);
  ASSERT_EQ(expected.count({url.hash1, url.hash2}), 1u);
  EXPECT_EQ((expected[pair_key{url.hash1, url.hash2}].docf), new_ndocs);
  idbm_close(out);
  opened_.pop_back();

  EXPECT_EQ(read_words(root_.file("merged/cat")), catalog);
  EXPECT_GT(catalog.size(), 4u);
  EXPECT_LT(catalog.size(), 4 + 4 * expected.size());  // the thresholds leave some terms out

  cache_add_arena(0, 32);
  cache_add_arena(limit, 32);
  idbm_db* db = idbm_open(root_.file("merged").c_str(), 0, 0, 0, nullptr);
  ASSERT_NE(db, nullptr);
  opened_.push_back(db);
  ASSERT_EQ(idbm_cache(db, 4 * cache_total_slots()), 1);
  EXPECT_EQ(idbm_dir_words(db)[1], expected.size());
  EXPECT_EQ(db->ndocs, new_ndocs);
  for (const auto& [k, t] : expected) {
    const uint32_t* r = idbm_find(db, k.first, k.second);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(testing::record_words(r), testing::expected_cached(t, new_ndocs));
    unpin_record(r);
  }
  EXPECT_EQ(idbm_find(db, only_dropped.first, only_dropped.second), nullptr);
}

TEST_F(TermMergeTest, CatalogThresholds) {
  struct threshold_case {
    uint32_t ndocs;
    uint32_t docf;
    uint32_t highest;
    bool entry;
  };
  const threshold_case cases[] = {
      {9999, 99, 24, true},    // the square root, truncated
      {9999, 98, 24, false},
      {9999, 99, 23, false},   // scores too weak
      {20000, 2, 24, true},    // 20000 / 10000
      {20000, 1, 127, false},
  };
  for (const threshold_case& c : cases) {
    SCOPED_TRACE(std::to_string(c.ndocs) + "/" + std::to_string(c.docf));
    std::vector<uint32_t> postings = {(0u << 7) | c.highest};
    if (c.docf >= 3) postings = {(0u << 7) | 1, (1u << 7) | c.highest, (2u << 7) | 1};
    else if (c.docf == 2) postings = {(0u << 7) | 1, (1u << 7) | c.highest};
    idbm_db* src = source("src", {{9, 10, postings, c.docf}}, c.ndocs);
    ASSERT_NE(src, nullptr);
    idbm_db* out = target(c.ndocs, 0);
    ASSERT_EQ(idbm_merge(1, &src, out, nullptr), 1);
    fflush(out->cat_stream);
    const auto cat = read_words(root_.file("merged/cat"));
    EXPECT_EQ(cat.size(), c.entry ? 8u : 4u);
    if (c.entry) {
      EXPECT_EQ(cat[6], (c.docf << 7) + c.highest);
    }
    for (idbm_db* db : opened_) idbm_close(db);
    opened_.clear();
  }
}

// A record stored with a score base: merged scores of 128 and more are
// clamped to 127 (with a warning) and counted in that group.
TEST_F(TermMergeTest, ScoreOverflowIsClampedAndCountedAt127) {
  idbm_db* src = source("src", {{9, 10, {(0u << 7) | 120, (1u << 7) | 5, (2u << 7) | 117}, 0}}, 5);
  ASSERT_NE(src, nullptr);
  // The record (full form, offset 0 of tf0): base 10 in bits 25-31 of word 2.
  patch_word(root_.file("src/tf0"), 8, (10u << 25) | 3);
  idbm_db* out = target(5, 2);
  LogCapture log;
  ASSERT_EQ(idbm_merge(1, &src, out, nullptr), 1);
  EXPECT_TRUE(log.contains("score overflow base=10 score=120 db="));
  fflush(out->tf_stream);
  // Two postings fit: both at 127; the one at 15 falls below the threshold.
  EXPECT_EQ(read_words(root_.file("merged/tf0")),
            (std::vector<uint32_t>{9 | kCompactFlag, 10 | kCompactFlag, (0u << 7) | 127, (2u << 7) | 127}));
}

// A source without terms still takes its place in the docid space.
TEST_F(TermMergeTest, SourceWithoutTermsShiftsTheNextOne) {
  idbm_db* empty = source("empty", {}, 5);
  idbm_db* other = source("other", {{9, 10, {(0u << 7) | 5, (2u << 7) | 6}, 0}}, 3);
  ASSERT_NE(empty, nullptr);
  ASSERT_NE(other, nullptr);
  idbm_db* sources[] = {empty, other};
  idbm_db* out = target(8, 0);
  ASSERT_EQ(idbm_merge(2, sources, out, nullptr), 1);
  fflush(out->tf_stream);
  EXPECT_EQ(read_words(root_.file("merged/tf0")),
            (std::vector<uint32_t>{9 | kCompactFlag, 10 | kCompactFlag, (5u << 7) | 5, (7u << 7) | 6}));
}

TEST_F(TermMergeTest, FailuresFailTheMerge) {
  idbm_db* good = source("good", {{9, 10, {(0u << 7) | 5}, 0}}, 3);
  // The second record of this source has a docid beyond its document count.
  idbm_db* bad = source("bad", {{3, 4, {(0u << 7) | 5}, 0}, {5, 6, {(1u << 7) | 5}, 0}}, 3);
  ASSERT_NE(bad, nullptr);
  patch_word(root_.file("bad/tf0"), 12 + 8, (7u << 7) | 5);
  idbm_db* sources[] = {good, bad};
  idbm_db* out = target(6, 0);
  {
    LogCapture log;
    EXPECT_EQ(idbm_merge(2, sources, out, nullptr), 0);
    EXPECT_TRUE(log.contains("idbm_record: invalid 1st docid:"));
    EXPECT_TRUE(log.contains("idbm_merge: can't retrieve record from db"));
  }
  // Nothing is committed: no directory, and closing drops the temporaries.
  EXPECT_NE(access(root_.file("merged/dir").c_str(), F_OK), 0);
  opened_.erase(std::find(opened_.begin(), opened_.end(), out));
  idbm_close(out);
  EXPECT_NE(access(root_.file("merged/.dir.new").c_str(), F_OK), 0);
  EXPECT_NE(access(root_.file("merged/.tf0.new").c_str(), F_OK), 0);
  {
    LogCapture log;
    std::vector<idbm_db*> many(801, good);
    EXPECT_EQ(idbm_merge(801, many.data(), target(3, 0), nullptr), 0);
    EXPECT_TRUE(log.contains("too many dbs"));
  }
  EXPECT_EQ(idbm_merge_map_find(16, 1, 2), -1);  // no table
}

}  // namespace
}  // namespace vorlane
