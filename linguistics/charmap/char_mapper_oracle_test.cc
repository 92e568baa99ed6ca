// CharMapper against the C library's iconv, with tables made by the
// generator in tools/charmap: every two-byte Shift-JIS and EUC-JP code iconv
// decodes, JIS X 0212 through EUC-JP, ISO-2022-JP texts, and Mac Roman.
#include <gtest/gtest.h>

#include <cstring>
#include <iconv.h>
#include <map>
#include <string>
#include <vector>

#include "linguistics/charmap/char_mapper.h"
#include "platform/testing/test_root.h"
#include "tools/charmap/mapping_table_gen.h"

namespace {

constexpr uint16_t kDefaultUnit = 0xFFFD;
char kDefault[2] = {'\xFF', '\xFD'};

// Decodes bytes with iconv into UCS-2 units; false when iconv refuses any.
bool iconv_decode(const char* encoding, const std::string& bytes, std::vector<uint16_t>* units) {
  iconv_t cd = iconv_open("UCS-2BE", encoding);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(bytes.size() * 4 + 16, '\0');
  char* ip = const_cast<char*>(bytes.data());
  size_t il = bytes.size();
  char* op = out.data();
  size_t ol = out.size();
  bool ok = iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && il == 0;
  iconv_close(cd);
  units->clear();
  for (char* p = out.data(); p + 1 < op; p += 2)
    units->push_back(static_cast<uint16_t>(static_cast<unsigned char>(p[0]) << 8 | static_cast<unsigned char>(p[1])));
  return ok;
}

std::vector<uint16_t> ours(CharMapper& m, int encoding, const std::string& bytes, int* consumed = nullptr) {
  std::string src = bytes;
  std::vector<char> dst(bytes.size() * 2 + 2);
  int out = 0;
  int used = m.MapString(encoding, 3, src.data(), static_cast<int>(src.size()), dst.data(),
                         static_cast<int>(dst.size()), &out, kDefault);
  if (consumed) *consumed = used;
  std::vector<uint16_t> units(out / 2);
  std::memcpy(units.data(), dst.data(), out);
  return units;
}

class CharMapperOracle : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root = new vorlane::platform::TestRoot;
    std::string error;
    ASSERT_TRUE(vorlane::tools::write_mapping_tables(root->path(), &error)) << error;
    mapper = new CharMapper;
    std::string config = root->file("charmap.cfg");
    ASSERT_EQ(mapper->Init(config.data()), 0);
  }
  static void TearDownTestSuite() {
    delete mapper;
    delete root;
  }
  static vorlane::platform::TestRoot* root;
  static CharMapper* mapper;
};
vorlane::platform::TestRoot* CharMapperOracle::root = nullptr;
CharMapper* CharMapperOracle::mapper = nullptr;

std::string hex(const std::string& bytes) {
  std::string s;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02X", c);
    s += b;
  }
  return s;
}

TEST_F(CharMapperOracle, EveryTwoByteShiftJisCode) {
  int compared = 0;
  std::map<std::string, std::string> differences;
  for (int lead = 0x81; lead <= 0xFC; ++lead)
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      std::string code{static_cast<char>(lead), static_cast<char>(trail)};
      std::vector<uint16_t> want;
      if (!iconv_decode("SHIFT_JIS", code, &want) || want.size() != 1) continue;
      ++compared;
      std::vector<uint16_t> got = ours(*mapper, 19, code);
      if (got != std::vector<uint16_t>{want[0]}) {
        char text[64];
        std::snprintf(text, sizeof text, "iconv %04X ours %04X", want[0], got.empty() ? 0 : got[0]);
        differences[hex(code)] = text;
      }
    }
  EXPECT_EQ(compared, 6879);  // the characters of JIS X 0208
  for (auto& [code, text] : differences) ADD_FAILURE() << code << ": " << text;
}

// Expected differences from iconv: codes iconv refuses that CharMapper maps
// or gives the default for.
TEST_F(CharMapperOracle, ExpectedDifferencesFromIconv) {
  // Row 0x23 is computed over columns 0x30-0x7A: its 13 unassigned codes
  // between the digits and the letters also map (to U+FF1A-U+FF20 and
  // U+FF3B-U+FF40), where iconv refuses them.
  int extra = 0;
  for (int c = 0x30; c <= 0x7A; ++c) {
    std::string euc{'\xA3', static_cast<char>(c | 0x80)};
    std::vector<uint16_t> want;
    if (iconv_decode("EUC-JP", euc, &want)) continue;
    ++extra;
    EXPECT_EQ(ours(*mapper, 20, euc), std::vector<uint16_t>{static_cast<uint16_t>(0xFF10 + c - 0x30)});
  }
  EXPECT_EQ(extra, 13);
  // Shift-JIS lead bytes 0xEB-0xFC give the default character (0xF0-0xFC
  // consume their trail byte, 0xEB-0xEF do not).
  for (int lead = 0xEB; lead <= 0xFC; ++lead) {
    std::string code{static_cast<char>(lead), '\x40'};
    int consumed = 0;
    std::vector<uint16_t> got = ours(*mapper, 19, code, &consumed);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], kDefaultUnit) << std::hex << lead;
    EXPECT_EQ(got.size(), lead >= 0xF0 ? 1u : 2u) << std::hex << lead;
  }
}

TEST_F(CharMapperOracle, EveryEucJpCode) {
  int compared = 0;
  std::map<std::string, std::string> differences;
  auto check = [&](const std::string& code) {
    std::vector<uint16_t> want;
    if (!iconv_decode("EUC-JP", code, &want) || want.size() != 1) return;
    ++compared;
    std::vector<uint16_t> packed = ours(*mapper, 20, code);
    if (packed != want) differences[hex(code)] = "packed";
    if (code.size() == 2 && static_cast<unsigned char>(code[0]) != 0x8E) {
      // The fixed form of a JIS X 0208 code is the same two bytes.
      if (ours(*mapper, 21, code) != want) differences[hex(code)] += " fixed";
    }
  };
  for (int a = 0xA1; a <= 0xFE; ++a)
    for (int b = 0xA1; b <= 0xFE; ++b) {
      check({static_cast<char>(a), static_cast<char>(b)});
      check({'\x8F', static_cast<char>(a), static_cast<char>(b)});
    }
  for (int b = 0xA1; b <= 0xDF; ++b) check({'\x8E', static_cast<char>(b)});
  EXPECT_EQ(compared, 6879 + 6067 + 63);  // JIS X 0208, JIS X 0212, katakana
  for (auto& [code, text] : differences) ADD_FAILURE() << code << ": " << text;
}

TEST_F(CharMapperOracle, Iso2022JpTexts) {
  // Every JIS X 0208 character in one text, row by row, between ASCII runs;
  // then a short text with JIS-Roman and a JIS X 0212 character.
  // (Both start in ASCII: iconv reads bytes before the first escape as
  // ASCII, CharMapper skips them; see the unit tests.)
  std::string all = "\x1B(BRows:";
  for (int r = 0x21; r <= 0x74; ++r) {
    all += "\x1B$B";
    for (int c = 0x21; c <= 0x7E; ++c) {
      std::string euc{static_cast<char>(r | 0x80), static_cast<char>(c | 0x80)};
      std::vector<uint16_t> probe;
      if (!iconv_decode("EUC-JP", euc, &probe)) continue;
      all += static_cast<char>(r);
      all += static_cast<char>(c);
    }
    all += "\x1B(B row\n";
  }
  struct Text {
    const char* oracle;  // glibc reads JIS X 0212 only in ISO-2022-JP-2
    std::string bytes;
  };
  const Text texts[] = {
      {"ISO-2022-JP", all},
      {"ISO-2022-JP", "\x1B(B\x1B$B$3$l$O%F%9%H$G$9!#\x1B(B abc 123.\n"},
      {"ISO-2022-JP", "\x1B(J[x]\x1B(B{y}"},
      {"ISO-2022-JP-2", "\x1B(Bk\x1B$(D\x30\x21\x22\x2F\x1B(B."},
  };
  for (const Text& t : texts) {
    const std::string& text = t.bytes;
    std::vector<uint16_t> want;
    ASSERT_TRUE(iconv_decode(t.oracle, text, &want));
    int consumed = 0;
    EXPECT_EQ(ours(*mapper, 18, text, &consumed), want) << hex(text).substr(0, 60);
    EXPECT_EQ(consumed, static_cast<int>(text.size()));
  }
}

TEST_F(CharMapperOracle, MacRomanMatchesIconvOutsideItsThreeVersionBytes) {
  // This table is Apple's Mac OS Roman in the version with 0xBD OHM SIGN,
  // 0xDB CURRENCY SIGN and 0xF0 U+F8FF; glibc's MACINTOSH has OMEGA, EURO
  // SIGN and a private code there, and GREEK CAPITAL DELTA where Apple has
  // INCREMENT (0xC6).
  const std::map<int, uint16_t> version = {{0xBD, 0x2126}, {0xC6, 0x2206}, {0xDB, 0x00A4}, {0xF0, 0xF8FF}};
  for (int b = 0; b <= 0xFF; ++b) {
    std::string byte(1, static_cast<char>(b));
    std::vector<uint16_t> got = ours(*mapper, 7, byte);
    ASSERT_EQ(got.size(), 1u);
    auto v = version.find(b);
    if (v != version.end()) {
      EXPECT_EQ(got[0], v->second) << std::hex << b;
      continue;
    }
    std::vector<uint16_t> want;
    ASSERT_TRUE(iconv_decode("MACINTOSH", byte, &want)) << std::hex << b;
    EXPECT_EQ(got, want) << std::hex << b;
  }
}

TEST_F(CharMapperOracle, UnicodeToShiftJisRoundTrip) {
  // Every JIS X 0208 character decoded by iconv converts back to its
  // Shift-JIS code through the table and the direct codes.
  std::map<std::string, std::string> differences;
  int converted = 0;
  for (int lead = 0x81; lead <= 0xEA; ++lead)
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      std::string code{static_cast<char>(lead), static_cast<char>(trail)};
      std::vector<uint16_t> unit;
      if (!iconv_decode("SHIFT_JIS", code, &unit) || unit.size() != 1) continue;
      std::string src{static_cast<char>(unit[0] >> 8), static_cast<char>(unit[0] & 0xFF)};
      char dst[4];
      int out = 0;
      char def[2] = {'?', 0};
      ASSERT_EQ(mapper->MapString(3, 19, src.data(), 2, dst, 4, &out, def), 2);
      if (std::string(dst, out) == code) ++converted;
      else differences[hex(code)] = hex(std::string(dst, out));
    }
  EXPECT_GT(converted, 6000);
  for (auto& [code, got] : differences) ADD_FAILURE() << code << " came back as " << got;
}

}  // namespace
