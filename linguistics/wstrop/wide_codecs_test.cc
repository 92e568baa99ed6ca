#include "linguistics/wstrop/wide_codecs.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace vorlane::linguistics {
namespace {

using Cells = std::vector<wcell>;
using Decoder = ConvertResult (*)(const unsigned char*, size_t, int, wcell*);

// The input in a heap block of exactly its size, so that AddressSanitizer
// reports any read past its end.
std::unique_ptr<unsigned char[]> exact_copy(const std::string& bytes) {
  auto block = std::make_unique<unsigned char[]>(bytes.size() ? bytes.size() : 1);
  std::copy(bytes.begin(), bytes.end(), block.get());
  return block;
}

// Runs both passes, checks that they agree, and returns the cells.
ConvertResult decode(Decoder decoder, const std::string& bytes, int flags, Cells* cells) {
  auto src = exact_copy(bytes);
  ConvertResult counted = decoder(src.get(), bytes.size(), flags, nullptr);
  cells->clear();
  if (counted.status != ConvertStatus::ok) return counted;
  auto out = std::make_unique<wcell[]>(counted.count + 1);
  ConvertResult filled = decoder(src.get(), bytes.size(), flags, out.get());
  EXPECT_EQ(filled.status, ConvertStatus::ok);
  EXPECT_EQ(filled.count, counted.count);
  cells->assign(out.get(), out.get() + filled.count);
  return filled;
}

ConvertResult utf8_decoder(const unsigned char* src, size_t n, int, wcell* out) { return utf8_to_cells(src, n, out); }

std::string encode(size_t (*encoder)(const wcell*, size_t, unsigned char*), const Cells& cells) {
  size_t size = encoder(cells.data(), cells.size(), nullptr);
  std::string out(size, '\0');
  EXPECT_EQ(encoder(cells.data(), cells.size(), reinterpret_cast<unsigned char*>(out.data())), size);
  return out;
}

struct DecodeCase {
  std::string bytes;
  int flags;
  ConvertStatus status;
  Cells cells;
};

void check_cases(Decoder decoder, const std::vector<DecodeCase>& cases) {
  for (const DecodeCase& c : cases) {
    Cells cells;
    ConvertResult r = decode(decoder, c.bytes, c.flags, &cells);
    EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.bytes) << " flags " << c.flags;
    if (c.status == ConvertStatus::ok) {
      EXPECT_EQ(cells, c.cells) << testing::PrintToString(c.bytes);
    }
  }
}

constexpr auto kOk = ConvertStatus::ok;
constexpr auto kIllegal = ConvertStatus::illegal_byte_sequence;

TEST(Utf8ToCells, Cases) {
  check_cases(utf8_decoder, {
      {"", 0, kOk, {}},
      {"A\x7f", 0, kOk, {0x41, 0x7F}},
      {"\xc3\xa9", 0, kOk, {0xE9}},
      {"\xe2\x82\xac", 0, kOk, {0x20AC}},
      {"\xef\xbf\xbf", 0, kOk, {0xFFFF}},
      {"\xc0\x80", 0, kOk, {0x0000}},              // overlong forms are read as they say
      {"\xed\xa0\x80", 0, kOk, {0xD800}},          // a surrogate is a cell
      {"\xf0\x9f\x98\x80", 0, kOk, {0xD83D, 0xDE00}},  // U+1F600 as a pair
      {"\xf4\x8f\xbf\xbf", 0, kOk, {0xDBFF, 0xDFFF}},  // U+10FFFF
      {"\xf0\x80\x81\x81", 0, kOk, {0x41}},
      {"\x80", 0, kIllegal, {}},
      {"A\xbf", 0, kIllegal, {}},
      {"\xc3\x41", 0, kIllegal, {}},               // bad continuation
      {"\xf4\x90\x80\x80", 0, kIllegal, {}},       // U+110000
      {"\xf7\xbf\xbf\xbf", 0, kIllegal, {}},
      {"\xf8\x88\x80\x80\x80", 0, kIllegal, {}},   // 5-byte form
      {"\xfc\x84\x80\x80\x80\x80", 0, kIllegal, {}},  // 6-byte form
      {"\xfe", 0, kIllegal, {}},
      {"\xff", 0, kIllegal, {}},
  });
}

// Every cut of a multi-byte sequence at the end of the text is refused,
// without a read past the end (the input sits at the end of its block).
TEST(Utf8ToCells, TruncatedTails) {
  for (std::string seq : {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"}) {
    for (size_t cut = 1; cut < seq.size(); ++cut) {
      Cells cells;
      EXPECT_EQ(decode(utf8_decoder, "ab" + seq.substr(0, cut), 0, &cells).status, kIllegal)
          << testing::PrintToString(seq.substr(0, cut));
    }
  }
}

TEST(Utf8ToCells, RandomBytesAgreeInBothPasses) {
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 12, '\0');
    for (char& b : bytes) b = static_cast<char>(rng() % 4 ? 0x80 | (rng() & 0x7F) : rng() & 0xFF);
    Cells cells;
    ConvertResult r = decode(utf8_decoder, bytes, 0, &cells);
    if (r.status == kOk) {
      EXPECT_LE(cells.size(), bytes.size());
    }
  }
}

TEST(CellsToUtf8, EveryCodePointRoundTrips) {
  for (uint32_t cp = 0; cp <= kMaxCodePoint; ++cp) {
    Cells cells(2);
    cells.resize(put_code_point(cp, cells.data()));
    std::string utf8 = encode(cells_to_utf8, cells);
    size_t want = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    ASSERT_EQ(utf8.size(), want) << cp;
    Cells back;
    ASSERT_EQ(decode(utf8_decoder, utf8, 0, &back).status, kOk) << cp;
    ASSERT_EQ(back, cells) << cp;
  }
}

TEST(CellsToUtf8, LoneAndReversedSurrogatesStillConvert) {
  EXPECT_EQ(encode(cells_to_utf8, {0xD800}), "\xed\xa0\x80");
  EXPECT_EQ(encode(cells_to_utf8, {0xDC00, 0xD800}), "\xed\xb0\x80\xed\xa0\x80");
  EXPECT_EQ(encode(cells_to_utf8, {0x41, 0xDBFF}), "A\xed\xaf\xbf");  // a high half at the end
  EXPECT_EQ(encode(cells_to_utf8, {0xD83D, 0xDE00}), "\xf0\x9f\x98\x80");
  EXPECT_EQ(encode(cells_to_utf8, {0x20AC}), "\xe2\x82\xac");
}

TEST(Ucs2ToCells, Cases) {
  const int skip = kSkipInvalid, utf16 = kUcs2DoUtf16;
  check_cases(ucs2_to_cells, {
      {std::string("\x00\x41\x20\xac", 4), 0, kOk, {0x41, 0x20AC}},
      {std::string("\x00\x41\x00", 3), 0, ConvertStatus::odd_ucs2_length, {}},
      {std::string("\x00\x41\x00", 3), skip, kOk, {0x41}},
      {std::string("\x00\x41\xd8\x00", 4), 0, ConvertStatus::utf16_in_ucs2, {}},
      {std::string("\x00\x41\xd8\x00", 4), skip, kOk, {0x41}},
      {std::string("\xd8\x3d\xde\x00", 4), 0, ConvertStatus::utf16_in_ucs2, {}},
      {std::string("\xd8\x3d\xde\x00", 4), utf16, kOk, {0xD83D, 0xDE00}},
      {std::string("\xdc\x00\x00\x41", 4), utf16, ConvertStatus::unpaired_low_half, {}},
      {std::string("\xdc\x00\x00\x41", 4), utf16 | skip, kOk, {0x41}},
      {std::string("\x00\x41\xd8\x00", 4), utf16, ConvertStatus::unpaired_high_half, {}},
      {std::string("\xd8\x00\x00\x41", 4), utf16, ConvertStatus::unpaired_high_half, {}},
      // The unit after a dropped high half is read normally, even another
      // high half that then pairs.
      {std::string("\xd8\x00\x00\x41", 4), utf16 | skip, kOk, {0x41}},
      {std::string("\xd8\x00\xd8\x3d\xde\x00", 6), utf16 | skip, kOk, {0xD83D, 0xDE00}},
      {std::string("\xd8\x00\xd8\x01", 4), utf16 | skip, kOk, {}},
  });
}

TEST(Ucs4ToCells, Cases) {
  const int skip = kSkipInvalid;
  check_cases(ucs4_to_cells, {
      {std::string("\0\0\0\x41\0\0\x20\xac", 8), 0, kOk, {0x41, 0x20AC}},
      {std::string("\0\x01\xf6\x00", 4), 0, kOk, {0xD83D, 0xDE00}},  // all four bytes are read
      {std::string("\0\x10\xff\xff", 4), 0, kOk, {0xDBFF, 0xDFFF}},
      {std::string("\0\0\xd8\x00", 4), 0, kOk, {0xD800}},
      {std::string("\0\x11\0\0", 4), 0, ConvertStatus::above_max_code_point, {}},
      {std::string("\xff\xff\0\x41", 4), 0, ConvertStatus::above_max_code_point, {}},
      {std::string("\0\x11\0\0\0\0\0\x41", 8), skip, kOk, {0x41}},
      {std::string("\0\0\0\x41\0\0", 6), 0, ConvertStatus::ucs4_length, {}},
      {std::string("\0\0\0\x41\0\0", 6), skip, kOk, {0x41}},
  });
}

TEST(CellsToUcs, Forms) {
  EXPECT_EQ(encode(cells_to_ucs2, {0x41, 0xD83D, 0xDE00}), std::string("\x00\x41\xd8\x3d\xde\x00", 6));
  EXPECT_EQ(encode(cells_to_ucs4, {0x41, 0xD83D, 0xDE00, 0xDC00}),
            std::string("\0\0\0\x41\0\x01\xf6\x00\0\0\xdc\x00", 12));
}

}  // namespace
}  // namespace vorlane::linguistics
