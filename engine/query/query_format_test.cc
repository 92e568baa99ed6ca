#include "engine/query/query_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace vorlane::engine {
namespace {

using Bytes = std::vector<uint8_t>;

void word(Bytes* b, uint32_t w) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<uint8_t>(w >> (8 * i)));
}
void text(Bytes* b, const char* s) {
  for (const char* p = s; *p; ++p) b->push_back(static_cast<uint8_t>(*p));
  b->push_back(0);
}

TEST(Hit, PackBoundsTheValue) {
  struct Case {
    int32_t v;
    uint32_t want;
  } cases[] = {{-5, 1}, {0, 1}, {1, 1}, {57, 57}, {99, 99}, {100, 100}, {101, 100}, {1000000, 100}};
  for (const Case& c : cases) {
    uint8_t out[8];
    EXPECT_EQ(pack_hit(out, 3, 12345, c.v), out + 8);
    Hit h;
    memcpy(&h, out, 8);
    EXPECT_EQ(h.db, 3u);
    EXPECT_EQ(hit_docid(h), 12345u);
    EXPECT_EQ(hit_value(h), c.want) << c.v;
  }
}

// A type 0 request assembled by hand, field by field.
Bytes hand_query_request() {
  Bytes b;
  word(&b, 56 + 10 + 5);  // size: header, "apple pie", "news"
  word(&b, 0);            // type 0
  word(&b, 1);            // written by query
  word(&b, 0);            // demotion value
  word(&b, 0x40);         // mode word
  word(&b, 0), word(&b, 0), word(&b, 0);  // 20..31 not read
  word(&b, 11);           // start
  word(&b, 10);           // hits
  word(&b, 0x00200010);   // window low: latest day 0x20, earliest 0x10
  word(&b, 0);            // window high
  word(&b, 0), word(&b, 0);  // 48..55 not read
  text(&b, "apple pie");
  text(&b, "news");
  return b;
}

TEST(QueryRequest, HandImageReadsAndWritesTheSame) {
  Bytes hand = hand_query_request();
  QueryRequest r;
  ASSERT_EQ(read_query_request(hand.data(), hand.size(), &r), RequestCheck::ok);
  EXPECT_EQ(r.size, hand.size());
  EXPECT_EQ(r.type, 0u);
  EXPECT_EQ(r.mode, 0x40u);
  EXPECT_EQ(r.start, 11);
  EXPECT_EQ(r.hits, 10);
  EXPECT_EQ(r.window_low, 0x00200010u);
  EXPECT_EQ(std::string(r.text, r.text_length), "apple pie");
  EXPECT_EQ(std::string(r.collection, r.collection_length), "news");

  QueryRequestFields f;
  f.mode = 0x40;
  f.start = 11;
  f.hits = 10;
  f.window_low = 0x00200010;
  f.text = "apple pie";
  f.text_length = 9;
  f.collection = "news";
  f.collection_length = 4;
  Bytes out(200, 0xEE);
  ASSERT_EQ(write_query_request(out.data(), out.size(), f), hand.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + hand.size()), hand);
  EXPECT_EQ(out[hand.size()], 0);  // the rest of the area is cleared
}

TEST(QueryRequest, DemotionHandImage) {
  Bytes b;
  word(&b, 40 + 16 + 26 + 1);  // size
  word(&b, 2);                 // type 2
  word(&b, 1);
  word(&b, 0x1F3);             // demotion value (low 8 bits used by the caller)
  word(&b, 0);                 // mode
  word(&b, 5), word(&b, 6);    // window low, high
  word(&b, 0), word(&b, 0);    // not read
  word(&b, 2);                 // P
  word(&b, 7), word(&b, 100);  // excepted {7, 100}
  word(&b, 7), word(&b, 200);  // excepted {7, 200}
  text(&b, "checksum:0123456789abcdef");
  text(&b, "");
  QueryRequest r;
  ASSERT_EQ(read_query_request(b.data(), b.size(), &r), RequestCheck::ok);
  EXPECT_EQ(r.demote_value, 0x1F3u);
  EXPECT_EQ(r.window_low, 5u);
  EXPECT_EQ(r.window_high, 6u);
  EXPECT_EQ(r.start, 1);
  ASSERT_EQ(r.excepted_count, 2u);
  EXPECT_EQ(request_excepted(r, 1).docid, 200u);
  EXPECT_EQ(std::string(r.text), "checksum:0123456789abcdef");
  EXPECT_EQ(r.collection_length, 0u);

  ExceptedDoc ex[2] = {{7, 100}, {7, 200}};
  QueryRequestFields f;
  f.type = kRequestDemote;
  f.demote_value = 0x1F3;
  f.window_low = 5;
  f.window_high = 6;
  f.excepted = ex;
  f.excepted_count = 2;
  f.text = "checksum:0123456789abcdef";
  f.text_length = strlen(f.text);
  Bytes out(b.size());
  ASSERT_EQ(write_query_request(out.data(), out.size(), f), b.size());
  EXPECT_EQ(out, b);
}

void set_word(Bytes* b, size_t at, uint32_t w) { memcpy(b->data() + at, &w, 4); }

TEST(QueryRequest, EveryMalformedFormIsRefused) {
  const Bytes good = hand_query_request();
  struct Case {
    const char* what;
    Bytes bytes;
    size_t length;
    RequestCheck want;
  };
  std::vector<Case> cases;
  auto with = [&](const char* what, auto change, RequestCheck want, size_t length = 0) {
    Bytes b = good;
    change(&b);
    cases.push_back({what, b, length ? length : b.size(), want});
  };
  with("type 1", [](Bytes* b) { set_word(b, 4, 1); }, RequestCheck::bad_type);
  with("type 8", [](Bytes* b) { set_word(b, 4, 8); }, RequestCheck::bad_type);
  with("length below 8", [](Bytes*) {}, RequestCheck::short_buffer, 7);
  with("size beyond the length", [](Bytes* b) { set_word(b, 0, static_cast<uint32_t>(b->size() + 1)); },
       RequestCheck::short_buffer);
  with("huge size", [](Bytes* b) { set_word(b, 0, 0xFFFFFFFFu); }, RequestCheck::short_buffer);
  with("size 0", [](Bytes* b) { set_word(b, 0, 0); }, RequestCheck::no_terminator);
  with("last byte not 0", [](Bytes* b) { b->back() = 'x'; }, RequestCheck::no_terminator);
  with("size inside the header", [](Bytes* b) { set_word(b, 0, 40); (*b)[39] = 0; },
       RequestCheck::string_overflow);
  with("size 56", [](Bytes* b) { set_word(b, 0, 56); }, RequestCheck::string_overflow);
  // The text's NUL is the last byte: the collection would begin at the end.
  with("no collection", [](Bytes* b) { b->resize(56 + 10); set_word(b, 0, 66); }, RequestCheck::string_overflow);
  for (const Case& c : cases) {
    QueryRequest r;
    EXPECT_EQ(read_query_request(c.bytes.data(), c.length, &r), c.want) << c.what;
  }

  // Demotion requests: P pairs must end before the size.
  ExceptedDoc ex[3] = {{1, 1}, {1, 2}, {1, 3}};
  QueryRequestFields f;
  f.type = kRequestDemote;
  f.excepted = ex;
  f.excepted_count = 3;
  f.text = "x";
  f.text_length = 1;
  Bytes d(100);
  const uint32_t size = write_query_request(d.data(), d.size(), f);
  ASSERT_EQ(size, 40u + 24 + 2 + 1);
  QueryRequest r;
  ASSERT_EQ(read_query_request(d.data(), size, &r), RequestCheck::ok);
  for (uint32_t p : {4u, 5u, 0x20000000u, 0xFFFFFFFFu}) {
    Bytes e = d;
    set_word(&e, 36, p);
    EXPECT_EQ(read_query_request(e.data(), size, &r), RequestCheck::string_overflow) << p;
  }
  Bytes e = d;
  set_word(&e, 0, 40);
  e[39] = 0;
  EXPECT_EQ(read_query_request(e.data(), 40, &r), RequestCheck::string_overflow);
}

TEST(QueryRequest, WriterRefusesWhatDoesNotFitAndPads) {
  std::string t(2000, 'a');
  QueryRequestFields f;
  f.text = t.c_str();
  f.text_length = t.size();
  Bytes out(2048);
  EXPECT_EQ(write_query_request(out.data(), 2000, f), 0u);
  // Padded to 2048: the text and the empty collection fit (56 + 1991 + 1).
  f.text_length = 1990;
  f.padded_size = 2048;
  ASSERT_EQ(write_query_request(out.data(), out.size(), f), 2048u);
  QueryRequest r;
  ASSERT_EQ(read_query_request(out.data(), out.size(), &r), RequestCheck::ok);
  EXPECT_EQ(r.text_length, 1990u);
  EXPECT_EQ(r.collection_length, 0u);
  f.text_length = 1991;  // leaves no room for the collection's NUL
  EXPECT_EQ(write_query_request(out.data(), out.size(), f), 0u);
}

// A merge-flag response assembled by hand: two hits, two terms with blocks.
Bytes hand_merge_response() {
  Bytes b;
  word(&b, 0);     // size, set below
  word(&b, 1);     // type 1 (answer to type 0)
  word(&b, 1);     // merge flag
  for (int i = 0; i < 5; ++i) word(&b, 0);
  word(&b, 1);     // start
  word(&b, 2);     // H
  for (int i = 0; i < 4; ++i) word(&b, 0);
  word(&b, 1000);  // documents
  word(&b, static_cast<uint32_t>(-37));  // total, estimated
  word(&b, 9), word(&b, (5u << 7) | 4);   // hit: db 9, docid 5, quality 4
  word(&b, 9), word(&b, (17u << 7) | 4);  // hit: db 9, docid 17
  word(&b, 2);                            // T
  word(&b, (37u << 7) | 22);              // term 0: docf 37, norm 22
  word(&b, (3u << 7) | 90);               // term 1: docf 3, norm 90
  word(&b, 2);                            // block 0: 2 hits
  word(&b, 9), word(&b, (5u << 7) | 31);
  word(&b, 9), word(&b, (17u << 7) | 12);
  word(&b, 0);                            // block 1: none among the top hits
  text(&b, "apple");
  text(&b, "+pie");
  text(&b, "apple +pie");
  text(&b, "");
  set_word(&b, 0, static_cast<uint32_t>(b.size()));
  return b;
}

// Writes the same response through the writer.
bool write_merge_response(uint8_t* area, size_t capacity) {
  ResponseWriter w;
  if (!response_begin(&w, area, capacity, kResponseQuery, 1, 1, 1000)) return false;
  response_set_total(&w, -37);
  uint8_t* h = response_hit_area(&w, 2);
  if (!h) return false;
  h = pack_hit(h, 9, 5, 4);
  pack_hit(h, 9, 17, 4);
  response_commit_hits(&w, 2);
  uint32_t words[2] = {term_word(37, 22), term_word(3, 90)};
  if (!response_put_term_words(&w, words, 2)) return false;
  if (!response_open_block(&w)) return false;
  uint8_t* b = response_block_area(&w, 1);
  if (!b) return false;
  pack_hit(b, 9, 5, 31);
  response_commit_block_hits(&w, 1);
  b = response_block_area(&w, 1);  // a block filled in two parts
  if (!b) return false;
  pack_hit(b, 9, 17, 12);
  response_commit_block_hits(&w, 1);
  if (!response_open_block(&w)) return false;
  return response_put_string(&w, "apple", 5) && response_put_string(&w, "+pie", 4) &&
         response_put_string(&w, "apple +pie", 10) && response_put_string(&w, "", 0) &&
         response_finish(&w);
}

TEST(QueryResponse, HandImageReadsAndWritesTheSame) {
  const Bytes hand = hand_merge_response();
  Bytes out(400, 0xEE);
  ASSERT_TRUE(write_merge_response(out.data(), out.size()));
  EXPECT_EQ(Bytes(out.begin(), out.begin() + hand.size()), hand);

  QueryResponseView v;
  ASSERT_TRUE(read_query_response(hand.data(), hand.size(), &v));
  EXPECT_TRUE(v.complete);
  EXPECT_EQ(v.type, 1u);
  EXPECT_EQ(v.merge_flag, 1u);
  EXPECT_EQ(v.hit_count, 2u);
  EXPECT_EQ(v.documents, 1000u);
  EXPECT_EQ(v.total, -37);
  EXPECT_EQ(hit_docid(response_hit(v, 1)), 17u);
  EXPECT_EQ(v.term_count, 2u);
  ResponseTermCursor c;
  ResponseTerm t;
  ASSERT_TRUE(response_next_term(v, &c, &t));
  EXPECT_EQ(term_word_docf(t.word), 37u);
  EXPECT_EQ(term_word_norm(t.word), 22u);
  EXPECT_EQ(std::string(t.text), "apple");
  ASSERT_EQ(t.block_count, 2u);
  EXPECT_EQ(hit_value(response_block_hit(v, t, 0)), 31u);
  EXPECT_EQ(hit_docid(response_block_hit(v, t, 1)), 17u);
  Bytes rewritten = hand;
  response_set_block_hit(rewritten.data(), t, 1, Hit{9, (3u << 7) | 12});
  QueryResponseView v2;
  ASSERT_TRUE(read_query_response(rewritten.data(), rewritten.size(), &v2));
  EXPECT_EQ(hit_docid(response_block_hit(v2, t, 1)), 3u);
  ASSERT_TRUE(response_next_term(v, &c, &t));
  EXPECT_EQ(std::string(t.text), "+pie");
  EXPECT_EQ(t.block_count, 0u);
  EXPECT_FALSE(response_next_term(v, &c, &t));
  EXPECT_EQ(std::string(response_query(v)), "apple +pie");
  EXPECT_EQ(std::string(response_collection(v)), "");
}

TEST(QueryResponse, DatedResponseCarriesOneEntryPerHit) {
  Bytes b;
  word(&b, 0);
  word(&b, 7);  // type 7
  word(&b, 0);  // no merge flag
  for (int i = 0; i < 5; ++i) word(&b, 0);
  word(&b, 3), word(&b, 1);  // start 3, H 1
  for (int i = 0; i < 4; ++i) word(&b, 0);
  word(&b, 50), word(&b, 12);              // documents, total
  word(&b, 2), word(&b, (40u << 7) | 77);  // the hit
  word(&b, 0xABCD), word(&b, 0x12340000);  // its date entry
  word(&b, 1), word(&b, (4u << 7) | 3);    // T = 1, its word; no blocks
  text(&b, "x");
  text(&b, "x");
  text(&b, "coll");
  set_word(&b, 0, static_cast<uint32_t>(b.size()));

  Bytes out(b.size());
  ResponseWriter w;
  ASSERT_TRUE(response_begin(&w, out.data(), out.size(), kResponseDated, 0, 3, 50));
  response_set_total(&w, 12);
  pack_hit(response_hit_area(&w, 1), 2, 40, 77);
  response_commit_hits(&w, 1);
  uint32_t words[1] = {term_word(4, 3)};
  EXPECT_FALSE(response_put_term_words(&w, words, 1));  // the date entries come first
  din_entry d{0xABCD, 0x12340000};
  memcpy(response_date_area(&w), &d, 8);
  response_commit_dates(&w);
  ASSERT_TRUE(response_put_term_words(&w, words, 1));
  EXPECT_FALSE(response_open_block(&w));  // no blocks without the merge flag
  ASSERT_TRUE(response_put_string(&w, "x", 1));
  ASSERT_TRUE(response_put_string(&w, "x", 1));
  EXPECT_FALSE(response_finish(&w));  // the collection is missing
  ASSERT_TRUE(response_put_string(&w, "coll", 4));
  ASSERT_TRUE(response_finish(&w));
  EXPECT_EQ(out, b);

  QueryResponseView v;
  ASSERT_TRUE(read_query_response(b.data(), b.size(), &v));
  EXPECT_EQ(response_date(v, 0).host_hash, 0xABCDu);
  EXPECT_EQ(response_date(v, 0).day, 0x12340000u);
  EXPECT_EQ(v.blocks_at, 0u);
  EXPECT_EQ(std::string(response_collection(v)), "coll");
}

TEST(QueryResponse, ReaderRefusesWhatReachesPastItsLimit) {
  const Bytes hand = hand_merge_response();
  QueryResponseView v;
  // Every shorter area, with the size word still claiming the whole.
  for (size_t n = 0; n < hand.size(); ++n) {
    EXPECT_FALSE(read_query_response(hand.data(), n, &v)) << n;
  }
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
  } cases[] = {
      {"size short of the strings", 0, static_cast<uint32_t>(hand.size() - 1)},
      {"size past the collection", 0, static_cast<uint32_t>(hand.size() + 0)},
      {"merge flag 2", 8, 2},
      {"H huge", 36, 0x20000000},
      {"H one more", 36, 3},
      {"T huge", 80, 0xFFFFFFFF},
      {"block count huge", 92, 0x10000000},
  };
  for (const Case& c : cases) {
    Bytes b = hand;
    b.push_back(0);  // one spare byte in the area
    set_word(&b, c.at, c.value);
    if (c.at == 0 && c.value == hand.size()) {
      set_word(&b, 0, static_cast<uint32_t>(hand.size() + 1));  // ends after the collection
    }
    EXPECT_FALSE(read_query_response(b.data(), b.size(), &v)) << c.what;
  }
}

// A writer that runs out of room at any point leaves a response that reads
// consistently: what it holds is whole, the rest empty.
TEST(QueryResponse, EveryShortAreaLeavesAReadableResponse) {
  const size_t full = hand_merge_response().size();
  for (size_t cap = kMinResponseSize; cap < full; ++cap) {
    Bytes area(cap, 0xEE);
    EXPECT_FALSE(write_merge_response(area.data(), area.size())) << cap;
    QueryResponseView v;
    ASSERT_TRUE(read_query_response(area.data(), area.size(), &v)) << cap;
    EXPECT_FALSE(v.complete);
    EXPECT_LE(v.end, cap);
    ResponseTermCursor c;
    ResponseTerm t;
    uint32_t terms = 0;
    while (response_next_term(v, &c, &t)) {
      EXPECT_LE(t.block_count, 2u);
      ++terms;
    }
    EXPECT_EQ(terms, v.term_count);
  }
  Bytes tiny(kMinResponseSize - 1);
  ResponseWriter w;
  EXPECT_FALSE(response_begin(&w, tiny.data(), tiny.size(), kResponseQuery, 0, 1, 0));
  EXPECT_EQ(response_hit_area(&w, 0), nullptr);
}

TEST(QueryResponse, ReaderSurvivesRandomBytes) {
  std::mt19937 rng(7);
  const Bytes hand = hand_merge_response();
  for (int round = 0; round < 20000; ++round) {
    Bytes b = hand;
    const int flips = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < flips; ++i) {
      size_t at = rng() % b.size();
      b[at] = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : (b[at] ^ (1u << (rng() % 8))));
    }
    b.resize(rng() % (b.size() + 16));
    QueryResponseView v;
    if (!read_query_response(b.data(), b.size(), &v)) continue;
    ResponseTermCursor c;
    ResponseTerm t;
    size_t seen = 0;
    while (response_next_term(v, &c, &t)) {
      for (uint32_t k = 0; k < t.block_count; ++k) seen += response_block_hit(v, t, k).db;
      seen += t.text_length;
    }
    for (uint32_t i = 0; i < v.hit_count; ++i) seen += response_hit(v, i).posting;
    EXPECT_LE(v.end, b.size());
    (void)seen;
  }
}

}  // namespace
}  // namespace vorlane::engine
