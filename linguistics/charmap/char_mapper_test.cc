#include "linguistics/charmap/char_mapper.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/testing/test_root.h"

namespace {

using Units = std::vector<uint16_t>;

// A table file assembled byte by byte: u32 count (big-endian), then the
// values (big-endian). `count` may differ from values.size() on purpose.
void write_table(const std::string& path, uint32_t count, const Units& values) {
  std::string bytes = {static_cast<char>(count >> 24), static_cast<char>(count >> 16),
                       static_cast<char>(count >> 8), static_cast<char>(count)};
  for (uint16_t v : values) {
    bytes.push_back(static_cast<char>(v >> 8));
    bytes.push_back(static_cast<char>(v));
  }
  std::ofstream(path, std::ios::binary) << bytes;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct Result {
  int consumed;
  Units units;
};

char kDefault[2] = {'\xFF', '\xFD'};  // unit 0xFFFD for what does not convert

Result to_unicode(CharMapper& m, int from, const std::string& src, int dst_units = 64) {
  std::vector<char> dst(2 * dst_units + 2);
  int outbytes = -1;
  std::string copy = src;
  int consumed = m.MapString(from, 3, copy.data(), static_cast<int>(copy.size()), dst.data(),
                             2 * dst_units, &outbytes, kDefault);
  Result r{consumed, {}};
  for (int i = 0; i + 1 < outbytes; i += 2) {
    uint16_t u;
    std::memcpy(&u, dst.data() + i, 2);
    r.units.push_back(u);
  }
  return r;
}

class CharMapperTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(mapper.Init(), 0); }
  std::string path(const char* name) { return root.file(name); }
  int load(int encoding, int direction, const std::string& file) {
    std::string p = file;
    return mapper.LoadMappingTable(encoding, direction, p.data());
  }
  // A JIS X 0208 table that holds only row 0x30 column 0x21 (index 220):
  // U+4E9C.
  void load_small_jis0208() {
    Units v(221, 0);
    v[220] = 0x4E9C;
    write_table(path("jis0208.tbl"), 221, v);
    ASSERT_EQ(load(15, 0, path("jis0208.tbl")), 0);
  }

  vorlane::platform::TestRoot root;
  CharMapper mapper;
};

TEST_F(CharMapperTest, PartEdgeCases) {
  load_small_jis0208();
  // Shift-JIS 82 A0: row 0x24 column 0x22, computed without a table.
  EXPECT_EQ(to_unicode(mapper, 19, "\x82\xA0").units, Units({0x3042}));
  // A lone lead byte at the end is not consumed and writes nothing.
  Result lone = to_unicode(mapper, 19, "A\x82");
  EXPECT_EQ(lone.consumed, 1);
  EXPECT_EQ(lone.units, Units({'A'}));
  EXPECT_EQ(to_unicode(mapper, 7, "\xDB\xBD\xF0").units, Units({0x00A4, 0x2126, 0xF8FF}));
  EXPECT_EQ(to_unicode(mapper, 5, "\xE9").units, Units({0x00E9}));
  EXPECT_EQ(to_unicode(mapper, 12, "\xE9").units, Units({0x00E9}));
  // ISO-2022-JP: ESC $ B, 30 21, ESC ( B, 'A'.
  Result jis = to_unicode(mapper, 18, "\x1B$B\x30\x21\x1B(BA");
  EXPECT_EQ(jis.units, Units({0x4E9C, 'A'}));
  EXPECT_EQ(jis.consumed, 9);
  Result ucs = to_unicode(mapper, 3, std::string("\x30\x42\x00\x41", 4));
  EXPECT_EQ(ucs.units, Units({0x3042, 0x0041}));
  EXPECT_EQ(ucs.consumed, 4);
  char src[2] = {'a', 'b'}, dst[8];
  int out = 0;
  EXPECT_EQ(mapper.MapString(5, 19, src, 2, dst, 8, &out, kDefault), -59);
  EXPECT_EQ(mapper.MapString(19, 5, src, 2, dst, 8, &out, kDefault), -59);
  uint16_t wide[4] = {};
  EXPECT_EQ(mapper.MapString(3, 3, wide, 2, dst, 8, &out, kDefault), -59);
  EXPECT_EQ(mapper.MapString(3, 3, src, 2, wide, 8, &out, kDefault), -59);
  EXPECT_EQ(mapper.MapString(3, 3, wide, 2, wide, 8, &out, kDefault), -59);
}

TEST_F(CharMapperTest, Ucs2ByteOrderMarksAndOddLengths) {
  struct Case {
    std::string src;
    int consumed;
    Units units;
  };
  const Case cases[] = {
      {std::string("\xFE\xFF\x30\x42", 4), 4, {0x3042}},     // big-endian mark, skipped
      {std::string("\xFF\xFE\x42\x30\x41\x00", 6), 6, {0x3042, 0x41}},  // little-endian
      {std::string("\x00\x41\x00", 3), 2, {0x41}},            // odd length: whole units only
      {std::string("\x00", 1), 0, {}},
      {std::string("\xFE\xFF", 2), 2, {}},
  };
  for (const Case& c : cases) {
    Result r = to_unicode(mapper, 3, c.src);
    EXPECT_EQ(r.consumed, c.consumed);
    EXPECT_EQ(r.units, c.units);
  }
  // The destination bounds the conversion; the count stays even.
  Result r = to_unicode(mapper, 3, std::string("\x00\x41\x00\x42\x00\x43", 6), 1);
  EXPECT_EQ(r.consumed, 2);
  EXPECT_EQ(r.units, Units({0x41}));
}

TEST_F(CharMapperTest, SingleByteStopsAtDestinationRoom) {
  char src[] = "abcdef";
  char dst[7];
  int out = 0;
  EXPECT_EQ(mapper.MapString(5, 3, src, 6, dst, 5, &out, kDefault), 2);  // room for two units
  EXPECT_EQ(out, 4);
  EXPECT_EQ(mapper.MapString(7, 3, src, 6, dst, 1, &out, kDefault), 0);
  EXPECT_EQ(out, 0);
}

TEST_F(CharMapperTest, ShiftJisRules) {
  load_small_jis0208();
  struct Case {
    std::string src;
    int consumed;
    Units units;
  };
  const Case cases[] = {
      {"\\~a", 3, {0x00A5, 0x203E, 'a'}},             // JIS-Roman
      {"\xA1\xDF", 2, {0xFF61, 0xFF9F}},              // half-width katakana
      {"\x88\x9F", 2, {0x4E9C}},                       // row 0x30 column 0x21 through the table
      {"\x88\xA0", 2, {0xFFFD}},                       // beyond this short table
      {"\x82\x20x", 3, {0xFFFD, 'x'}},                 // invalid trail consumed all the same
      {"\x82\x7F", 2, {0xFFFD}},
      {"\x82\x60", 2, {0xFF21}},                       // row 0x23 column 0x41: 'A' full width
      {"\x83\x9F", 2, {0x0391}},                       // Greek capital alpha
      {"\x84\x40\x84\x91", 4, {0x0410, 0x044F}},       // Cyrillic
      {"\xF0\x40z", 3, {0xFFFD, 'z'}},                 // user area: trail consumed
      {"\xF0", 0, {}},                                 // its trail not here yet
      {"\x80\xA0\xEB\x7F", 4, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
  };
  for (const Case& c : cases) {
    Result r = to_unicode(mapper, 19, c.src);
    EXPECT_EQ(r.consumed, c.consumed) << testing::PrintToString(c.src);
    EXPECT_EQ(r.units, c.units) << testing::PrintToString(c.src);
  }
}

TEST_F(CharMapperTest, EucJpPackedAndFixedRules) {
  load_small_jis0208();
  struct Case {
    int encoding;
    std::string src;
    int consumed;
    Units units;
  };
  const Case cases[] = {
      {20, "\xB0\xA1", 2, {0x4E9C}},
      {20, "\xA4\xA2", 2, {0x3042}},
      {20, "\xB0\xA2x", 3, {0xFFFD, 0xFFFD, 'x'}},   // failure: only the lead consumed
      {20, "\x8E\xB1", 2, {0xFF71}},
      {20, "\x8E" "A", 2, {0xFFFD, 'A'}},            // second byte not consumed
      {20, "\x8F\xA7\xC2", 3, {0x0402}},             // JIS X 0212 row 0x27, computed
      {20, "\x8F\xB0\xA1", 3, {0xFFFD, 0x4E9C}},     // no 0212 table: 8F alone fails
      {20, "\x80\x7F\xFF", 3, {0x80, 0x7F, 0xFF}},   // other bytes: their own value
      {20, "\xA4", 0, {}},                           // trail not here yet
      {20, "\x8F\xB0", 0, {}},
      {21, "\xB0\xA1", 2, {0x4E9C}},
      {21, std::string("\x00\x41\x00\xB1\x00\x80", 6), 6, {0x41, 0xFF71, 0x80}},
      {21, std::string("\x00\x5C", 2), 2, {0x00A5}},
      {21, "\xA7\x42", 2, {0x0402}},                 // second byte up to 0x7E: JIS X 0212
      {21, "\x41\x41", 2, {0xFFFD}},                 // other first bytes fail
      {21, "\xA4\xA2\xA4", 3, {0x3042}},             // a final odd byte counts as consumed
  };
  for (const Case& c : cases) {
    Result r = to_unicode(mapper, c.encoding, c.src);
    EXPECT_EQ(r.consumed, c.consumed) << c.encoding << " " << testing::PrintToString(c.src);
    EXPECT_EQ(r.units, c.units) << c.encoding << " " << testing::PrintToString(c.src);
  }
}

TEST_F(CharMapperTest, Iso2022JpModes) {
  load_small_jis0208();
  struct Case {
    std::string src;
    int consumed;
    Units units;
  };
  const Case cases[] = {
      {"ab\x1B(Bc", 6, {'c'}},                           // nothing designated: skipped
      {"\x1B$@\x24\x22\x1B(J\\", 9, {0x3042, 0x00A5}},   // 1978 set, then JIS-Roman
      {"\x1B&@\x1B$B\x24\x22", 8, {0x3042}},             // 1990 set
      {"\x1B$(D\x27\x42", 6, {0x0402}},                  // JIS X 0212
      {"\x1B(I\x31\x0E\xB1\x0F", 7, {0xFF71, 0xFF71}},   // katakana: +0x80 unshifted, as is shifted
      {"\x1B(B\x0E\x31\x0F" "a", 7, {0xFF71, 'a'}},      // SO/SI in ASCII mode
      {"\x1B$B\x24", 3, {}},                             // half a pair: not consumed
      {"\x1B$", 0, {}},                                  // escape not complete yet
  };
  for (const Case& c : cases) {
    Result r = to_unicode(mapper, 18, c.src);
    EXPECT_EQ(r.consumed, c.consumed) << testing::PrintToString(c.src);
    EXPECT_EQ(r.units, c.units) << testing::PrintToString(c.src);
  }
}

TEST_F(CharMapperTest, UnicodeToShiftJis) {
  // Out-of-Unicode table with U+3042 (index 0x42 + 233 = 299) -> 82 A0.
  Units v(300, 0);
  v[299] = 0x82A0;
  write_table(path("sjis.tbl"), 300, v);
  ASSERT_EQ(load(19, 1, path("sjis.tbl")), 0);
  auto from_unicode = [&](const Units& units, int dstlen, int* consumed) {
    std::string src;
    for (uint16_t u : units) {
      src.push_back(static_cast<char>(u >> 8));
      src.push_back(static_cast<char>(u));
    }
    std::vector<char> dst(dstlen + 1);
    int out = 0;
    char def[2] = {'?', 0};
    *consumed = mapper.MapString(3, 19, src.data(), static_cast<int>(src.size()), dst.data(), dstlen, &out, def);
    return std::string(dst.data(), out);
  };
  int consumed = 0;
  EXPECT_EQ(from_unicode({'A', 0x5C, 0xA5, 0xFF61, 0x3042, 0x0401, 0x044F, 0xFFE5, 0x7E, 0x4E00}, 64, &consumed),
            "A\x81\x5F\x5C\xA1\x82\xA0\x84\x46\x84\x91\x81\x8F?\?");
  EXPECT_EQ(consumed, 20);
  // One byte of room left for a two-byte code: stop, the unit not consumed.
  EXPECT_EQ(from_unicode({'A', 0x3042}, 2, &consumed), "A");
  EXPECT_EQ(consumed, 2);
}

TEST_F(CharMapperTest, LoadMappingTableErrors) {
  write_table(path("ok.tbl"), 221, Units(221, 0x1111));
  CharMapper fresh;
  std::string ok = path("ok.tbl");
  EXPECT_EQ(fresh.LoadMappingTable(15, 0, ok.data()), -58);
  for (int encoding : {0, -1, 23, 24}) EXPECT_EQ(load(encoding, 0, path("ok.tbl")), -52) << encoding;
  EXPECT_EQ(load(15, 2, path("ok.tbl")), -52);
  EXPECT_EQ(load(15, -1, path("ok.tbl")), -52);
  EXPECT_EQ(load(15, 0, path("missing.tbl")), -56);
  write_text(path("three.tbl"), std::string("\x00\x00\x01", 3));
  EXPECT_EQ(load(15, 0, path("three.tbl")), -57);
  write_table(path("huge.tbl"), 0xFFFFFFFFu, Units(4, 1));  // count far past the file
  EXPECT_EQ(load(15, 0, path("huge.tbl")), -57);

  load_small_jis0208();
  // Count 10 with 9 values: refused, the loaded table stays.
  write_table(path("nine.tbl"), 10, Units(9, 0x2222));
  EXPECT_EQ(load(15, 0, path("nine.tbl")), -57);
  EXPECT_EQ(to_unicode(mapper, 19, "\x88\x9F").units, Units({0x4E9C}));
  // A path written with '\' separators opens too.
  std::string backslashed = path("jis0208.tbl");
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  EXPECT_EQ(load(15, 0, backslashed), 0);
}

TEST_F(CharMapperTest, ShortTablesAreNotOverRead) {
  // Tables far shorter than their layouts: every index past the count is
  // "not convertible" (ASan would catch a read past the block).
  write_table(path("one.tbl"), 1, Units{0x3000});
  ASSERT_EQ(load(15, 0, path("one.tbl")), 0);
  ASSERT_EQ(load(16, 0, path("one.tbl")), 0);
  ASSERT_EQ(load(19, 1, path("one.tbl")), 0);
  write_table(path("empty.tbl"), 0, {});
  EXPECT_EQ(to_unicode(mapper, 19, "\x81\x40\xEA\xA4").units, Units({0x3000, 0xFFFD}));
  // 8F fails alone; ED E3, E3 FE and FE FE fail and give up their lead bytes
  // only; the last FE waits for its trail.
  EXPECT_EQ(to_unicode(mapper, 20, "\x8F\xED\xE3\xFE\xFE").units, Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}));
  ASSERT_EQ(load(15, 0, path("empty.tbl")), 0);
  EXPECT_EQ(to_unicode(mapper, 21, "\xA1\xA1\xF4\xA6").units, Units({0xFFFD, 0xFFFD}));
  char src[2] = {'\x9F', '\xA0'}, dst[4];
  int out = 0;
  char def[2] = {'?', 0};
  EXPECT_EQ(mapper.MapString(3, 19, src, 2, dst, 4, &out, def), 2);
  EXPECT_EQ(std::string(dst, out), "?");
}

TEST_F(CharMapperTest, ConfigurationFile) {
  Units v(221, 0);
  v[220] = 0x4E9C;
  write_table(path("jis0208.tbl"), 221, v);
  Units w(300, 0);
  w[299] = 0x82A0;
  write_table(path("sjis.tbl"), 300, w);
  std::string backslashed = path("sjis.tbl");
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  write_text(path("map.cfg"),
             "// comment\r\n"
             "[section]\n"
             "x\n"                               // too short for a header
             "Mapping tables\r\n"                // the header
             "\n"
             "15 F0 " + path("jis0208.tbl") + "\r\n"
             "19 L 12\n"                         // no table on this line: ignored
             "19\n"                              // no second field: ignored
             "19\tF1\t" + backslashed + "\n");
  CharMapper m;
  std::string cfg = path("map.cfg");
  const std::string before = cfg;
  ASSERT_EQ(m.Init(cfg.data()), 0);
  EXPECT_EQ(cfg, before);  // the caller's path is not rewritten
  EXPECT_EQ(to_unicode(m, 20, "\xB0\xA1").units, Units({0x4E9C}));
  char src[2] = {'\x30', '\x42'}, dst[4];
  int out = 0;
  EXPECT_EQ(m.MapString(3, 19, src, 2, dst, 4, &out, kDefault), 2);
  EXPECT_EQ(std::string(dst, out), "\x82\xA0");

  struct Case {
    std::string text;
    int code;
  };
  const Case cases[] = {
      {"/ only comments\n", -52},
      {"header\n0 F0 x\n", -52},
      {"header\n43 F0 x\n", -52},
      {"header\nzz F0 x\n", -52},
      {"header\n15 F0 " + path("missing.tbl") + "\n", -56},
      {"header\n23 F0 " + path("jis0208.tbl") + "\n", -52},
      {"header\n", 0},
  };
  for (const Case& c : cases) {
    write_text(path("bad.cfg"), c.text);
    CharMapper b;
    std::string p = path("bad.cfg");
    EXPECT_EQ(b.Init(p.data()), c.code) << c.text;
  }
  CharMapper missing;
  std::string none = path("none.cfg");
  EXPECT_EQ(missing.Init(none.data()), -51);
  // Tables loaded before a failing line stay loaded.
  write_text(path("partial.cfg"), "header\n15 F0 " + path("jis0208.tbl") + "\n16 F0 " + path("missing.tbl") + "\n");
  CharMapper partial;
  std::string pp = path("partial.cfg");
  EXPECT_EQ(partial.Init(pp.data()), -56);
  EXPECT_EQ(to_unicode(partial, 20, "\xB0\xA1").units, Units({0x4E9C}));
}

TEST_F(CharMapperTest, HeapObjectAndNullArguments) {
  CharMapper* m = new CharMapper;
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Init(), 0);
  char dst[4];
  int out = 0;
  EXPECT_EQ(m->MapString(5, 3, static_cast<char*>(nullptr), 1, dst, 4, &out, kDefault), -28);
  char src[1] = {'a'};
  EXPECT_EQ(m->MapString(5, 3, src, -1, dst, 4, &out, kDefault), -29);
  delete m;
  // Without Init, conversions that need no table still work.
  CharMapper bare;
  EXPECT_EQ(to_unicode(bare, 19, "\x82\xA0\x88\x9F").units, Units({0x3042, 0xFFFD}));
}

}  // namespace
