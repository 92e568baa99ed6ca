#include "store/title_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace vorlane {
namespace {

using Record = std::vector<unsigned char>;

void put_bytes(Record& r, size_t offset, std::initializer_list<unsigned> bytes) {
  for (unsigned b : bytes) r[offset++] = static_cast<unsigned char>(b);
}
void put_text(Record& r, size_t offset, const char* text) {
  memcpy(r.data() + offset, text, strlen(text) + 1);  // with its NUL
}

// The record title_pack must write for the arguments of PackGolden, assembled
// byte by byte from the layout.
Record golden_record() {
  Record r(kTitleRecordSize, 0);
  put_bytes(r, 0, {253});                    // version
  put_text(r, 1, "Example page");            // title, 12 bytes + NUL at 13
  put_text(r, 14, "A short summary.");       // summary, 16 bytes + NUL at 30
  put_text(r, 31, "http://example.com/a");   // url, 20 bytes + NUL at 51
  put_text(r, 52, "Pub");                    // publisher, 3 bytes + NUL at 55
  put_text(r, 56, "alpha beta");             // index terms, 10 bytes + NUL at 66
  put_bytes(r, 392, {0x01, 0x12, 0x34, 0x56});  // class word 0: db 1, id 0x123456
  put_bytes(r, 396, {0x02, 0xFF, 0xFF, 0xFF});  // class word 1: db 2, id 0xFFFFFFFF masked
  put_bytes(r, 400, {0x00, 0x00, 0x00, 0x00});  // class word 2: absent
  put_bytes(r, 404, {0x7F, 0x00, 0x00, 0x05});  // class word 3: db 0x7F, id 5
  put_bytes(r, 408, {0x60, 0x00, 0x00, 0x01});  // download date 0x60000001
  put_bytes(r, 412, {0x01, 0x02});              // flags 0x0102
  put_bytes(r, 414, {0x03, 0x04});              // document type 0x0304
  put_bytes(r, 416, {0, 0, 0, 0, 0, 0, 0, 0});  // reserved words
  put_bytes(r, 424, {0x00, 0x0A, 0x00, 0x14, 0x00, 0x00, 0xFF, 0xFF});  // scores 10, 20, 0, 65535
  put_bytes(r, 432, {0x11, 0x22, 0x33, 0x44});  // checksum word 0
  put_bytes(r, 436, {0x55, 0x66, 0x77, 0x88});  // checksum word 1
  put_bytes(r, 440, {0x01, 0x02, 0x03, 0x04});  // extra word
  put_bytes(r, 444, {0x5F, 0x5E, 0x10, 0x00});  // date 0x5F5E1000
  return r;
}

// Writable copies of the five strings, as a caller hands them to title_pack.
struct Strings {
  std::vector<char> url, title, summary, publisher, terms;
  static std::vector<char> copy(const std::string& s) { return std::vector<char>(s.c_str(), s.c_str() + s.size() + 1); }
  Strings(const std::string& u, const std::string& t, const std::string& s, const std::string& p,
          const std::string& i)
      : url(copy(u)), title(copy(t)), summary(copy(s)), publisher(copy(p)), terms(copy(i)) {}
  void pack(Record& r, const uint16_t* db = nullptr, const uint32_t* id = nullptr,
            const uint16_t* scores = nullptr) {
    title_pack(r.data(), url.data(), title.data(), summary.data(), publisher.data(), terms.data(),
               7, 1000, 1, 2, 3, 4, db, id, scores, 5);
  }
};

Record pack_golden() {
  Strings s("http://example.com/a", "Example page", "A short summary.", "Pub", "alpha beta");
  const uint16_t db[4] = {1, 2, 0, 0x7F};
  const uint32_t id[4] = {0x123456, 0xFFFFFFFFu, 0, 5};
  const uint16_t scores[4] = {10, 20, 0, 65535};
  Record r(kTitleRecordSize, 0xEE);
  title_pack(r.data(), s.url.data(), s.title.data(), s.summary.data(), s.publisher.data(),
             s.terms.data(), 0x01020304, 0x5F5E1000, 0x11223344, 0x55667788, 0x0102, 0x0304, db,
             id, scores, 0x60000001);
  return r;
}

TEST(TitlePack, EqualsHandBuiltRecord) {
  Record packed = pack_golden();
  Record golden = golden_record();
  for (size_t i = 0; i < kTitleRecordSize; ++i)
    ASSERT_EQ(packed[i], golden[i]) << "offset " << i;
}

TEST(TitleUnpack, HandBuiltRecordOfEachVersion) {
  Record r = golden_record();
  for (unsigned version : {253u, 254u, 255u}) {
    SCOPED_TRACE(version);
    r[0] = static_cast<unsigned char>(version);
    title_host h;
    title_unpack(r.data(), &h);
    EXPECT_EQ(h.version, version);
    EXPECT_STREQ(h.title, "Example page");
    EXPECT_STREQ(h.summary, "A short summary.");
    EXPECT_STREQ(h.url, "http://example.com/a");
    EXPECT_STREQ(h.publisher, "Pub");
    EXPECT_STREQ(h.index_terms, "alpha beta");
    EXPECT_EQ(h.title, reinterpret_cast<const char*>(r.data() + 1)) << "points into the record";
    EXPECT_EQ(h.flags, 0x0102);
    EXPECT_EQ(h.doctype, 0x0304);
    EXPECT_EQ(h.scores[0], 10);
    EXPECT_EQ(h.scores[3], 65535);
    EXPECT_EQ(h.checksum[0], 0x11223344u);
    EXPECT_EQ(h.checksum[1], 0x55667788u);
    EXPECT_EQ(h.extra, 0x01020304u);
    EXPECT_EQ(h.date, 0x5F5E1000u);
    EXPECT_EQ(h.download_date, version == 255 ? 0u : 0x60000001u);
    const uint32_t classes[4] = {0x01123456u, 0x02FFFFFFu, 0, 0x7F000005u};
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(h.classifications[i], version == 253 ? classes[i] : 0u) << i;
  }
}

TEST(TitleUnpack, ReservedWordsAreReadBack) {
  Record r = golden_record();
  put_bytes(r, 416, {0x00, 0x01, 0x00, 0x02, 0x80, 0x00, 0xFF, 0xFE});
  title_host h;
  title_unpack(r.data(), &h);
  EXPECT_EQ(h.reserved[0], 1);
  EXPECT_EQ(h.reserved[1], 2);
  EXPECT_EQ(h.reserved[2], 0x8000);
  EXPECT_EQ(h.reserved[3], 0xFFFE);
}

TEST(TitleUnpack, EmptyTitleShowsTheUrl) {
  Strings s("http://x.org/", "", "sum", "pub", "terms");
  Record r(kTitleRecordSize);
  s.pack(r);
  EXPECT_EQ(r[1], 0) << "the stored title stays empty";
  title_host h;
  title_unpack(r.data(), &h);
  EXPECT_STREQ(h.title, "http://x.org/");
  EXPECT_EQ(h.title, h.url);
  EXPECT_STREQ(h.summary, "sum");
}

// Position of the last NUL of the five strings (0 when they did not fit).
size_t strings_end(const Record& r) {
  size_t at = 1;
  for (int i = 0; i < 5; ++i) {
    const void* nul = memchr(r.data() + at, 0, kTitleRecordSize - at);
    if (!nul) return 0;
    at = static_cast<const unsigned char*>(nul) - r.data() + 1;
  }
  return at - 1;
}

TEST(TitlePack, LongUrlAndTitleLeaveLittleRoom) {
  // R = 387 - 255 - 95 = 37: the 60-byte publisher is cut to 36 characters,
  // the index terms and summary become empty, the strings end at 391.
  Strings s(std::string(255, 'u'), std::string(95, 't'), "a summary that will not fit",
            std::string(60, 'p'), "index terms that will not fit");
  const uint16_t db[4] = {0xAB, 0, 0, 0};
  const uint32_t id[4] = {1, 0, 0, 0};
  Record r(kTitleRecordSize);
  s.pack(r, db, id);
  EXPECT_EQ(std::string(s.publisher.data()), std::string(36, 'p'));
  EXPECT_STREQ(s.terms.data(), "");
  EXPECT_STREQ(s.summary.data(), "");
  EXPECT_EQ(std::string(s.url.data()).size(), 255u);
  EXPECT_EQ(std::string(s.title.data()).size(), 95u);
  EXPECT_EQ(strings_end(r), 391u);
  title_host h;
  title_unpack(r.data(), &h);
  EXPECT_EQ(std::string(h.publisher), std::string(36, 'p'));
  EXPECT_STREQ(h.index_terms, "");
  EXPECT_EQ(h.classifications[0], 0xAB000001u);
}

TEST(TitlePack, PublisherFillingTheRoomExactlyStillLeavesItsNulInTheArea) {
  // R = 387 - 255 - 95 = 37 and a 37-byte publisher would use all of it: the
  // five NULs would then end at offset 392, over the first classification
  // word. The publisher is cut one short instead.
  Strings s(std::string(255, 'u'), std::string(95, 't'), "", std::string(37, 'p'), "");
  const uint16_t db[4] = {0xAB, 0, 0, 0};
  const uint32_t id[4] = {1, 0, 0, 0};
  Record r(kTitleRecordSize);
  s.pack(r, db, id);
  EXPECT_EQ(std::string(s.publisher.data()).size(), 36u);
  EXPECT_EQ(strings_end(r), 391u);
  title_host h;
  title_unpack(r.data(), &h);
  EXPECT_STREQ(h.index_terms, "");
  EXPECT_EQ(h.classifications[0], 0xAB000001u);
}

TEST(TitlePack, UrlOverItsLimitIsClampedTo255Bytes) {
  Strings s(std::string(400, 'u'), std::string(200, 't'), std::string(500, 's'),
            std::string(100, 'p'), std::string(300, 'i'));
  Record r(kTitleRecordSize);
  s.pack(r);
  EXPECT_EQ(std::string(s.url.data()), std::string(255, 'u'));
  EXPECT_LE(strings_end(r), 391u);
  EXPECT_NE(strings_end(r), 0u);
  title_host h;
  title_unpack(r.data(), &h);
  EXPECT_EQ(std::string(h.url), std::string(255, 'u'));
}

std::string random_text(std::mt19937& rng, size_t max_len) {
  std::uniform_int_distribution<size_t> len(0, max_len);
  std::uniform_int_distribution<int> ch(0, 9);
  std::string s(len(rng), 'x');
  for (char& c : s) c = ch(rng) == 0 ? ' ' : static_cast<char>('a' + ch(rng));
  return s;
}

TEST(TitlePack, RandomRecordsRoundTripWithinTheirBudgets) {
  std::mt19937 rng(1234);
  for (int n = 0; n < 3000; ++n) {
    Strings s(random_text(rng, 255), random_text(rng, 150), random_text(rng, 400),
              random_text(rng, 100), random_text(rng, 400));
    const uint16_t db[4] = {static_cast<uint16_t>(n), 1, 2, 3};
    const uint32_t id[4] = {static_cast<uint32_t>(n) * 7919u, 4, 5, 6};
    const uint16_t scores[4] = {static_cast<uint16_t>(n), 9, 8, 7};
    Record r(kTitleRecordSize, 0xEE);
    s.pack(r, db, id, scores);
    ASSERT_EQ(r[0], 253);
    size_t end = strings_end(r);
    ASSERT_NE(end, 0u);
    ASSERT_LE(end, 391u);
    for (size_t i = end + 1; i < 392; ++i) ASSERT_EQ(r[i], 0) << "string area padding at " << i;
    for (size_t i = 416; i < 424; ++i) ASSERT_EQ(r[i], 0) << "reserved byte " << i;
    ASSERT_LE(strlen(s.title.data()), 96u);
    ASSERT_LE(strlen(s.publisher.data()), 64u);

    title_host h;
    title_unpack(r.data(), &h);
    std::string title = s.title[0] ? s.title.data() : s.url.data();
    ASSERT_EQ(title, h.title);
    ASSERT_STREQ(h.summary, s.summary.data());
    ASSERT_STREQ(h.url, s.url.data());
    ASSERT_STREQ(h.publisher, s.publisher.data());
    ASSERT_STREQ(h.index_terms, s.terms.data());
    ASSERT_EQ(h.classifications[0], ((static_cast<uint32_t>(n) & 0xFFFF) << 24) |
                                        ((static_cast<uint32_t>(n) * 7919u) & 0xFFFFFF));
    ASSERT_EQ(h.classifications[3], 0x03000006u);
    ASSERT_EQ(h.scores[0], static_cast<uint16_t>(n));
    ASSERT_EQ(h.scores[3], 7);
    ASSERT_EQ(h.extra, 7u);
    ASSERT_EQ(h.date, 1000u);
    ASSERT_EQ(h.checksum[0], 1u);
    ASSERT_EQ(h.checksum[1], 2u);
    ASSERT_EQ(h.flags, 3);
    ASSERT_EQ(h.doctype, 4);
    ASSERT_EQ(h.download_date, 5u);
  }
}

TEST(TitlePack, AbsentClassificationsAndScoresStayZero) {
  Strings s("u", "t", "s", "p", "i");
  Record r(kTitleRecordSize, 0xEE);
  s.pack(r);
  for (size_t i = 392; i < 408; ++i) EXPECT_EQ(r[i], 0) << i;
  for (size_t i = 416; i < 432; ++i) EXPECT_EQ(r[i], 0) << i;
}

// Unpacks from a heap block of exactly 448 bytes, so that the address
// sanitizer sees any read past the record.
void unpack_bounded(const Record& bytes, title_host* h, std::unique_ptr<unsigned char[]>& block) {
  block.reset(new unsigned char[kTitleRecordSize]);
  memcpy(block.get(), bytes.data(), kTitleRecordSize);
  title_unpack(block.get(), h);
  for (const char* f : {h->title, h->summary, h->url, h->publisher, h->index_terms}) {
    size_t n = strlen(f);
    if (n == 0) continue;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(f);
    ASSERT_GE(p, block.get() + 1);
    ASSERT_LT(p + n, block.get() + kTitleRecordSize);
  }
}

TEST(TitleUnpack, RecordWithoutNulsStaysInsideItsBytes) {
  Record r(kTitleRecordSize, 'A');
  title_host h;
  std::unique_ptr<unsigned char[]> block;
  unpack_bounded(r, &h, block);
  EXPECT_STREQ(h.title, "");
  EXPECT_STREQ(h.url, "");
  EXPECT_STREQ(h.index_terms, "");

  // Only the last byte is a NUL: the title takes the whole record, the other
  // strings are empty.
  r[447] = 0;
  unpack_bounded(r, &h, block);
  EXPECT_EQ(strlen(h.title), 446u);
  EXPECT_STREQ(h.summary, "");
  EXPECT_STREQ(h.index_terms, "");

  // Four strings end before the last byte: the index terms would start past
  // offset 447 and are empty.
  r[444] = r[445] = r[446] = 0;
  unpack_bounded(r, &h, block);
  EXPECT_EQ(strlen(h.title), 443u);
  EXPECT_STREQ(h.publisher, "");
  EXPECT_STREQ(h.index_terms, "");
}

TEST(TitleUnpack, RandomRecordsNeverReadPastTheRecord) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> byte(0, 255), sparse(0, 40);
  title_host h;
  std::unique_ptr<unsigned char[]> block;
  for (int n = 0; n < 20000; ++n) {
    Record r(kTitleRecordSize);
    // Few NULs, so that strings run long and often reach the record's end.
    for (unsigned char& b : r) b = sparse(rng) == 0 ? 0 : static_cast<unsigned char>(1 + byte(rng) % 255);
    unpack_bounded(r, &h, block);
    if (HasFatalFailure()) return;
  }
}

struct CutCase {
  std::string text;
  int limit;
  int dots;
  std::string expected;
};

TEST(CutAtWord, Cases) {
  const std::string a40 = std::string(8, 'a') + ' ' + std::string(31, 'b');  // blank at 8
  const std::string a40b = std::string(7, 'a') + ' ' + std::string(32, 'b');  // blank at 7
  const CutCase cases[] = {
      {std::string(96, 'x'), 96, 1, std::string(64, 'x') + " ..."},
      {"abcde abcd abcde", 12, 1, "abcde ..."},
      {"abcde abcd abcde", 20, 1, "abcde abcd abcde"},
      {"abcde abcd abcde", 17, 1, "abcde abcd abcde"},
      {"abcde abcd abcde", 16, 1, "abcde abcd ..."},
      {"hello world", 8, 0, "hello"},
      {"hello world", 11, 0, "hello"},  // not shorter than the limit: cut
      {"hello world", 12, 0, "hello world"},
      {"hello", 0, 0, ""},
      {"hello", -7, 1, ""},
      {"", 0, 1, ""},
      {a40, 40, 0, std::string(8, 'a')},              // blank exactly 32 before the limit
      {a40b, 40, 0, std::string(7, 'a') + ' '},       // 33 before: hard cut at limit - 32
      // Small limits: the hard cut is clamped to the text's start.
      {"abcdefghijkl", 10, 0, ""},
      {"abcdefghijkl", 10, 1, " ..."},
      {"ab cdefghijkl", 10, 1, "ab ..."},
      {"abcdef", 3, 1, ""},   // no room for the marks
      {"ab", 3, 1, "ab"},     // fits: unchanged
      {"abcd", 4, 1, " ..."},
  };
  for (const CutCase& c : cases) {
    SCOPED_TRACE(c.text + " limit " + std::to_string(c.limit) + " dots " + std::to_string(c.dots));
    std::vector<char> buf(c.text.c_str(), c.text.c_str() + c.text.size() + 1);
    EXPECT_EQ(cut_at_word(buf.data(), c.limit, c.dots), buf.data());
    EXPECT_EQ(std::string(buf.data()), c.expected);
  }
}

TEST(CutAtWord, EverySmallLimitStaysInsideTheTextAndTheLimit) {
  const std::string texts[] = {"", "a", "word", "two words", "no_blanks_at_all_in_this_text_here",
                               " leading blank then a long run of letters", "x y z w v u t s r q p o n"};
  for (const std::string& t : texts) {
    for (int limit = 0; limit <= 40; ++limit) {
      for (int dots = 0; dots <= 1; ++dots) {
        SCOPED_TRACE(t + " limit " + std::to_string(limit) + " dots " + std::to_string(dots));
        // Exactly sized heap copy: any write before or after it is seen by ASan.
        std::unique_ptr<char[]> buf(new char[t.size() + 1]);
        memcpy(buf.get(), t.c_str(), t.size() + 1);
        std::string out = cut_at_word(buf.get(), limit, dots);
        if (static_cast<int>(t.size()) < limit) {
          EXPECT_EQ(out, t);
          continue;
        }
        EXPECT_LE(static_cast<int>(out.size()), limit);
        std::string body = out;
        if (dots && !out.empty()) {
          ASSERT_GE(out.size(), 4u);
          EXPECT_EQ(out.substr(out.size() - 4), " ...");
          body = out.substr(0, out.size() - 4);
        }
        EXPECT_EQ(t.compare(0, body.size(), body), 0) << "a prefix of the text";
      }
    }
  }
}

TEST(TitleDump, ListsEveryField) {
  setenv("TZ", "UTC", 1);
  tzset();
  Record r = golden_record();
  title_host h;
  title_unpack(r.data(), &h);
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  title_dump(&h, f);
  fclose(f);
  EXPECT_EQ(std::string(text, size),
            "title version: 253\n"
            "title url<20> http://example.com/a\n"
            "title title<12> Example page\n"
            "title summary<16> A short summary.\n"
            "title date Sun Sep 13 12:26:40 2020\n"
            "title download_date Thu Jan 14 08:25:37 2021\n"
            "title publisher<3> Pub\n"
            "title index terms<10> alpha beta\n"
            "title flags 258\n"
            "title doctype 772\n"
            "title checksum [11223344,55667788]\n"
            "title [0] classification_db 1 classification_id 1193046 score 10\n"
            "title [1] classification_db 2 classification_id 16777215 score 20\n"
            "title [2] classification_db 0 classification_id 0 score 0\n"
            "title [3] classification_db 127 classification_id 5 score 65535\n");
  free(text);

  // Version 255 has no download date line.
  r[0] = 255;
  title_unpack(r.data(), &h);
  f = open_memstream(&text, &size);
  title_dump(&h, f);
  fclose(f);
  EXPECT_EQ(std::string(text, size).find("download_date"), std::string::npos);
  free(text);
}

TEST(TitleStream, WriteThenReadOneRecord) {
  Record r = golden_record();
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(title_fwrite(f, r.data()), 1);
  fputs("short", f);
  rewind(f);
  Record back(kTitleRecordSize);
  EXPECT_EQ(title_fread(f, back.data()), 1);
  EXPECT_EQ(back, r);
  EXPECT_EQ(title_fread(f, back.data()), 0) << "a partial record is not a record";
  fclose(f);
}

}  // namespace
}  // namespace vorlane
