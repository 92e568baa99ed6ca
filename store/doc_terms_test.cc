#include "store/doc_terms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "store/log.h"
#include "store/testing/log_capture.h"

namespace vorlane {
namespace {

// A standard table in its own arena.
struct Table {
  doc_terms t;
  void* arena;
  Table() : arena(doc_terms_alloc(&t)) { EXPECT_NE(arena, nullptr); }
  ~Table() { doc_terms_free(arena); }
  int cell_of(const char* text) const {
    hash_pair p = pair_from_u64(term_hash_pair(text));
    for (int i = 0; i < t.size; ++i)
      if (t.pairs[i].hash1 == p.hash1 && t.pairs[i].hash2 == p.hash2) return i;
    return -1;
  }
  int freq(const char* text) const {
    int i = cell_of(text);
    return i < 0 ? -1 : t.freqs[i];
  }
};

// A small table with a small pool, for the pool's limits.
struct SmallTable {
  doc_terms t;
  std::vector<uint32_t> arena;  // 4-byte aligned
  SmallTable(int32_t cells, size_t pool) : arena((doc_terms_arena_size(cells, pool) + 3) / 4) {
    doc_terms_carve(&t, arena.data(), cells, pool);
  }
};

TEST(DocTerms, ArenaIsCarvedInItsOrderAndEndsAtItsEnd) {
  Table tb;
  const doc_terms& t = tb.t;
  const char* base = static_cast<const char*>(tb.arena);
  const size_t n = 81920;
  EXPECT_EQ(reinterpret_cast<const char*>(t.pairs), base);
  EXPECT_EQ(reinterpret_cast<const char*>(t.freqs), base + 8 * n);
  EXPECT_EQ(reinterpret_cast<const char*>(t.raw), base + 9 * n);
  EXPECT_EQ(reinterpret_cast<const char*>(t.window), base + 13 * n);
  EXPECT_EQ(reinterpret_cast<const char*>(t.deductions), base + 17 * n);
  EXPECT_EQ(reinterpret_cast<const char*>(t.texts), base + 21 * n);
  EXPECT_EQ(reinterpret_cast<const char*>(t.types), base + 25 * n);
  EXPECT_EQ(t.pool, base + 29 * n);
  EXPECT_EQ(t.pool_cursor, t.pool);
  EXPECT_EQ(t.pool_end - t.pool, 1310720);
  EXPECT_EQ(t.pool_end, base + 3686400);
  EXPECT_EQ(t.docid, 0u);
  EXPECT_EQ(t.size, 81920);
  EXPECT_EQ(t.cells, 81920);
  EXPECT_EQ(t.no_penalty, 0u);
  for (uint32_t c : t.counters) EXPECT_EQ(c, 0u);
}

TEST(DocTerms, FrequencyAddsUpAndCapsAt127) {
  Table tb;
  EXPECT_EQ(idbm_incr_text(&tb.t, "word", 10, -1, 1), 1);
  EXPECT_EQ(tb.freq("word"), 10);
  EXPECT_EQ(idbm_incr_text(&tb.t, "word", 200, -1, 1), 1);
  EXPECT_EQ(tb.freq("word"), 127);
  // A new term with an increment over 127 is stored at 127.
  EXPECT_EQ(idbm_incr_text(&tb.t, "other", 500, -1, 1), 1);
  EXPECT_EQ(tb.freq("other"), 127);
  EXPECT_STREQ(doc_terms_text(&tb.t, tb.cell_of("other")), "other");
}

// Frequencies after each occurrence of one term, counted without clearing.
struct Throttle {
  const char* name;
  int incr, window;
  uint32_t no_penalty;
  std::vector<int> freqs;
};

TEST(DocTerms, ThrottleSequences) {
  const Throttle cases[] = {
      // Two occurrences add; up to 3 x window unchanged; then the penalty.
      {"window 3", 5, 3, 0, {5, 10, 10, 10, 10, 10, 10, 10, 5, 1, 1, 1}},
      {"no penalty", 5, 3, 1, {5, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10}},
      // Adds while raw < 15; unchanged to the 20th; every later one lowers.
      {"window 100", 1, 100, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 14, 14, 14, 14, 14, 14, 13, 12, 11, 10, 9}},
      {"window 0", 5, 0, 0, {5, 1, 1}},
      {"window -1", 50, -1, 0, {50, 100, 127, 127}},
      {"window -1 past 20", 1, -1, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22}},
      {"incr 0", 0, 3, 0, {-1, -1}},  // never stored
  };
  for (const Throttle& c : cases) {
    SCOPED_TRACE(c.name);
    Table tb;
    tb.t.no_penalty = c.no_penalty;
    for (size_t k = 0; k < c.freqs.size(); ++k) {
      EXPECT_EQ(idbm_incr_text(&tb.t, "spam", c.incr, c.window, 1), 1);
      EXPECT_EQ(tb.freq("spam"), c.freqs[k]) << "occurrence " << k + 1;
    }
  }
}

TEST(DocTerms, ClearingTheWindowCountersLetsATermAddAgain) {
  Table tb;
  const int expected[] = {4, 4, 8, 8, 12};
  for (int k = 0; k < 5; ++k) {
    if (k == 2) clear_raw_freq(&tb.t);
    idbm_incr_text(&tb.t, "w", 4, 2, 1);
    EXPECT_EQ(tb.freq("w"), expected[k]) << k + 1;
    if (k == 3) clear_raw_freq(&tb.t);
  }
  const int i = tb.cell_of("w");
  EXPECT_EQ(tb.t.raw[i], 5u);
  EXPECT_EQ(tb.t.window[i], 1u);
}

TEST(DocTerms, NewTermWithNoWeightIsNotStoredButCounted) {
  Table tb;
  EXPECT_EQ(idbm_incr_text(&tb.t, "zero", 0, -1, 3), 1);
  EXPECT_EQ(tb.cell_of("zero"), -1);
  const int home = static_cast<int>(term_hash1("zero") % 81920);
  EXPECT_EQ(tb.t.pairs[home].hash1, 0u);
  EXPECT_EQ(tb.t.raw[home], 1u);
  EXPECT_EQ(tb.t.window[home], 1u);
  EXPECT_EQ(tb.t.counters[DT_OCCUR_3], 1u);
  EXPECT_EQ(tb.t.counters[DT_DISTINCT_3], 0u);
  EXPECT_EQ(tb.t.pool_cursor, tb.t.pool);
  // A later occurrence with weight stores it, the counters going on.
  EXPECT_EQ(idbm_incr_text(&tb.t, "zero", 6, -1, 3), 1);
  EXPECT_EQ(tb.freq("zero"), 6);
  EXPECT_EQ(tb.t.raw[home], 2u);
}

TEST(DocTerms, DeductionReducesEachIncrement) {
  Table tb;
  const int home = static_cast<int>(term_hash1("d") % 81920);
  tb.t.deductions[home] = 3;
  idbm_incr_text(&tb.t, "d", 2, -1, 1);  // 2 - 3 < 0: nothing stored
  EXPECT_EQ(tb.freq("d"), -1);
  idbm_incr_text(&tb.t, "d", 10, -1, 1);
  EXPECT_EQ(tb.freq("d"), 7);
  idbm_incr_text(&tb.t, "d", 10, -1, 1);
  EXPECT_EQ(tb.freq("d"), 14);
}

TEST(DocTerms, CountersByTypeInTheirOrder) {
  Table tb;
  idbm_incr_text(&tb.t, "t1", 1, -1, 1);
  idbm_incr_text(&tb.t, "t2", 1, -1, 2);
  idbm_incr_text(&tb.t, "t3", 1, -1, 3);
  idbm_incr_text(&tb.t, "t4", 1, -1, 4);
  idbm_incr_text(&tb.t, "t4", 1, -1, 4);
  idbm_incr_text(&tb.t, "t5", 1, -1, 5);
  idbm_incr_text(&tb.t, "t5b", 1, -1, 5);
  idbm_incr_text(&tb.t, "t7", 1, -1, 7);  // no counter of its own
  const uint32_t expected[10] = {1, 1, 1, 2, 1, 1, 1, 1, 2, 2};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(tb.t.counters[i], expected[i]) << i;
  EXPECT_EQ(tb.t.types[tb.cell_of("t7")], 7u);
  EXPECT_EQ(tb.t.types[tb.cell_of("t5")], 5u);
}

TEST(DocTerms, FullTableRefusesTheNextNewTermAndStillCountsOldOnes) {
  Table tb;
  char text[32];
  for (int i = 0; i < 81920; ++i) {
    snprintf(text, sizeof text, "term%d", i);
    ASSERT_EQ(idbm_incr_text(&tb.t, text, 1, -1, 1), 1) << i;
  }
  EXPECT_EQ(tb.t.counters[DT_DISTINCT_1], 81920u);
  EXPECT_EQ(idbm_incr_text(&tb.t, "term81920", 1, -1, 1), 0) << "the 81,921st term";
  EXPECT_EQ(tb.t.counters[DT_DISTINCT_1], 81920u);
  EXPECT_EQ(idbm_incr_text(&tb.t, "term77", 5, -1, 1), 1);
  EXPECT_EQ(tb.freq("term77"), 6);
  EXPECT_EQ(doc_terms_compact(&tb.t), 81920);
}

TEST(DocTerms, FullPoolGivesTheUnknownTextButCountsTheTerm) {
  SmallTable st(16, 10);
  EXPECT_EQ(idbm_incr_text(&st.t, "abcd", 3, -1, 1), 1);  // 5 bytes
  EXPECT_EQ(idbm_incr_text(&st.t, "efgh", 3, -1, 1), 1);  // 5 bytes: the pool is full
  EXPECT_EQ(idbm_incr_text(&st.t, "ij", 4, -1, 1), 1);
  EXPECT_EQ(st.t.pool_cursor, st.t.pool_end);
  EXPECT_EQ(doc_terms_compact(&st.t), 3);
  std::map<std::string, int> seen;
  for (int i = 0; i < 3; ++i) seen[doc_terms_text(&st.t, i)] = st.t.freqs[i];
  EXPECT_EQ(seen, (std::map<std::string, int>{{"abcd", 3}, {"efgh", 3}, {"???", 4}}));
  int unknown = 0;
  for (int i = 0; i < 3; ++i) unknown += st.t.texts[i] == kDocTextUnknown;
  EXPECT_EQ(unknown, 1) << "the sentinel marks the fallback text";
}

TEST(DocTerms, CompactionKeepsCellOrderAndEveryField) {
  Table tb;
  std::mt19937 rng(11);
  std::map<std::string, int> model;  // text -> frequency (no throttling)
  std::map<std::string, int> raws;
  for (int n = 0; n < 5000; ++n) {
    std::string text = "w" + std::to_string(rng() % 700);
    int incr = static_cast<int>(rng() % 9);  // 0 leaves new terms out
    ASSERT_EQ(idbm_incr_text(&tb.t, text.c_str(), incr, -1, 1 + static_cast<int>(rng() % 5)), 1);
    raws[text]++;
    auto it = model.find(text);
    if (it != model.end()) it->second = std::min(127, it->second + incr);
    else if (incr > 0) model[text] = incr;
  }
  tb.t.deductions[tb.cell_of(model.begin()->first.c_str())] = 0;  // all zero, as made
  struct Cell {
    hash_pair pair;
    int freq;
    uint32_t raw, window, type;
    std::string text;
  };
  std::vector<Cell> before;
  for (int i = 0; i < tb.t.size; ++i)
    if (tb.t.pairs[i].hash1)
      before.push_back({tb.t.pairs[i], tb.t.freqs[i], tb.t.raw[i], tb.t.window[i], tb.t.types[i],
                        doc_terms_text(&tb.t, i)});
  const int n = doc_terms_compact(&tb.t);
  ASSERT_EQ(n, static_cast<int>(model.size()));
  EXPECT_EQ(tb.t.size, n);
  EXPECT_EQ(tb.t.cells, n);
  for (int i = 0; i < n; ++i) {
    const Cell& c = before[i];
    ASSERT_EQ(tb.t.pairs[i].hash1, c.pair.hash1);
    ASSERT_EQ(tb.t.pairs[i].hash2, c.pair.hash2);
    ASSERT_EQ(tb.t.freqs[i], c.freq);
    ASSERT_EQ(tb.t.raw[i], c.raw);
    ASSERT_EQ(tb.t.window[i], c.window);
    ASSERT_EQ(tb.t.types[i], c.type);
    ASSERT_EQ(doc_terms_text(&tb.t, i), c.text);
    ASSERT_EQ(model.at(c.text), c.freq) << c.text;
    ASSERT_EQ(pair_from_u64(term_hash_pair(c.text.c_str())).hash1, c.pair.hash1);
  }
  // After compaction every cell holds a term: a new one finds no place, an
  // old one is still counted.
  EXPECT_EQ(idbm_incr_text(&tb.t, "brand new", 1, -1, 1), 0);
  EXPECT_EQ(idbm_incr_text(&tb.t, before[0].text.c_str(), 1, -1, 1), 1);
}

TEST(DocTerms, EmptyTableCompactsToNothing) {
  Table tb;
  EXPECT_EQ(doc_terms_compact(&tb.t), 0);
  EXPECT_EQ(idbm_incr_text(&tb.t, "late", 1, -1, 1), 0);
  EXPECT_EQ(idbm_decr_text(&tb.t, "late", 1, 1), -1);
}

TEST(DocTerms, DecrLowersToOneAndReportsAbsentTerms) {
  Table tb;
  idbm_incr_text(&tb.t, "x", 20, -1, 1);
  EXPECT_EQ(idbm_decr_text(&tb.t, "x", 5, 1), tb.cell_of("x"));
  EXPECT_EQ(tb.freq("x"), 15);
  EXPECT_EQ(idbm_decr_text(&tb.t, "x", 15, 1), tb.cell_of("x"));
  EXPECT_EQ(tb.freq("x"), 1);
  LogCapture log(LOG_FREQUENCY | LOG_POSTINGS);
  EXPECT_EQ(idbm_decr_text(&tb.t, "absent", 1, 1), -1);
  EXPECT_TRUE(log.contains("idbm_decr: \"absent\" not found in hash table.\n"));
}

TEST(DocTerms, TracesOnlyWithBothLogBits) {
  Table tb;
  {
    LogCapture log(LOG_FREQUENCY);
    idbm_incr_text(&tb.t, "a", 300, -1, 1);
    EXPECT_TRUE(log.lines().empty());
  }
  LogCapture log(LOG_FREQUENCY | LOG_POSTINGS);
  idbm_incr_text(&tb.t, "b", 300, -1, 1);
  idbm_incr_text(&tb.t, "b", 1, -1, 1);
  for (int k = 0; k < 9; ++k) idbm_incr_text(&tb.t, "c", 5, 3, 1);
  clear_raw_freq(&tb.t);
  const std::string all = log.all();
  EXPECT_NE(all.find("idbm_incr: bad incr (300).\n"), std::string::npos) << all;
  EXPECT_NE(all.find("idbm_incr: \"b\": freq=127, raw_freq=1, window freq=1, TFNORM 100\n"), std::string::npos);
  EXPECT_NE(all.find("idbm_incr: SCORE_FIELD reached (incr=1).\n"), std::string::npos);
  EXPECT_NE(all.find("idbm_incr: max_raw_freq reached(3). freq not incremented (freq=10).\n"), std::string::npos);
  EXPECT_NE(all.find("idbm_incr: spam_penalty reached(9). freq decremented to 5).\n"), std::string::npos);
  EXPECT_NE(all.find("Clearing raw freq counter\n"), std::string::npos);
  for (const LogCapture::Line& l : log.lines()) EXPECT_EQ(l.level, LOG_FREQUENCY);
}

// A table in zeroed memory of its own, without bookkeeping: each clearing
// zeroes every window counter. The model of the standard tables, which
// clear only the counters raised since the last clearing and clean only
// the cells they used when a document is done.
struct PlainTable {
  doc_terms t;
  std::vector<uint32_t> arena;
  PlainTable() : arena(kDocArenaSize / 4) { doc_terms_carve(&t, arena.data(), kDocTermCells, kDocTextPoolSize); }
};

constexpr size_t kCellBytes = kDocArenaSize - kDocTextPoolSize;  // the arrays before the pool

// Same cells, counters and texts (the pairs lie at the arena's start).
void expect_same(const doc_terms& a, const doc_terms& b, const char* when) {
  SCOPED_TRACE(when);
  ASSERT_EQ(a.size, b.size);
  ASSERT_EQ(a.cells, b.cells);
  ASSERT_EQ(memcmp(a.pairs, b.pairs, kCellBytes), 0);
  ASSERT_EQ(memcmp(a.counters, b.counters, sizeof a.counters), 0);
  ASSERT_EQ(a.pool_cursor - a.pool, b.pool_cursor - b.pool);
  ASSERT_EQ(memcmp(a.pool, b.pool, static_cast<size_t>(a.pool_cursor - a.pool)), 0);
}

struct Document {
  const char* name;
  int vocabulary;  // distinct texts drawn from
  int occurrences;
  bool compact;
  bool overflow;  // the bookkeeping lists overflow halfway
};

// Document after document in the standard table's reused block, each
// against a fresh plain table: the same operations give the same arrays,
// and the block comes back as clean as a fresh one, whether few cells were
// used (cleaned one by one) or many (cleaned whole), the table compacted
// or not, the lists overflowed or not.
TEST(DocTerms, ClearingTheCellsTouchedCountsAsClearingThemAll) {
  const Document docs[] = {
      {"few terms", 300, 3000, true, false},
      {"many terms, not compacted", 12000, 40000, false, false},
      {"many terms", 12000, 40000, true, false},
      {"lists overflowed", 500, 4000, true, true},
      {"few terms, not compacted", 40, 800, false, false},
      {"few terms after many", 200, 1500, true, false},
  };
  const std::vector<char> zero(kCellBytes, 0);
  const int windows[] = {-1, 0, 1, 3, 100};
  std::mt19937 rng(7);
  void* block = nullptr;
  for (const Document& d : docs) {
    SCOPED_TRACE(d.name);
    doc_terms t;
    void* arena = doc_terms_alloc(&t);
    ASSERT_NE(arena, nullptr);
    if (block) {
      EXPECT_EQ(arena, block) << "the block of the document before is reused";
    }
    block = arena;
    ASSERT_EQ(memcmp(arena, zero.data(), kCellBytes), 0) << "every cell is zero at the start";
    ASSERT_NE(t.book, nullptr);
    PlainTable plain;
    int clears = 0;
    int until_clear = 1 + static_cast<int>(rng() % 150);
    auto occur = [&](int vocabulary) {
      const std::string text = "t" + std::to_string(rng() % vocabulary);
      const int incr = static_cast<int>(rng() % 9), window = windows[rng() % 5], type = 1 + static_cast<int>(rng() % 5);
      ASSERT_EQ(idbm_incr_text(&t, text.c_str(), incr, window, type),
                idbm_incr_text(&plain.t, text.c_str(), incr, window, type));
      if (--until_clear == 0) {
        until_clear = 1 + static_cast<int>(rng() % 150);
        clear_raw_freq(&t);
        clear_raw_freq(&plain.t);
        ASSERT_EQ(memcmp(t.window, plain.t.window, static_cast<size_t>(t.cells) * 4), 0) << "clearing " << clears;
        if (++clears % 25 == 0) expect_same(t, plain.t, "after a clearing");
      }
    };
    for (int k = 0; k < d.occurrences; ++k) {
      if (d.overflow && k == d.occurrences / 2) t.book->touched_count = t.book->window_count = kDocTermCells + 1u;
      occur(d.vocabulary);
    }
    expect_same(t, plain.t, "at the end");
    if (d.compact) {
      ASSERT_EQ(doc_terms_compact(&t), doc_terms_compact(&plain.t));
      expect_same(t, plain.t, "compacted");
      // Counting goes on over the compacted cells (terms that are there).
      for (int k = 0; k < 500; ++k) occur(std::min(d.vocabulary, 20));
      expect_same(t, plain.t, "counted after compaction");
    }
    doc_terms_free(arena);
  }
  doc_terms t;
  void* arena = doc_terms_alloc(&t);
  EXPECT_EQ(arena, block);
  EXPECT_EQ(memcmp(arena, zero.data(), kCellBytes), 0);
  EXPECT_EQ(t.book->touched_count, 0u);
  EXPECT_EQ(t.book->window_count, 0u);
  doc_terms_free(arena);
}

}  // namespace
}  // namespace vorlane
