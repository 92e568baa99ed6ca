#include "linguistics/wstrop/utf7.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace vorlane::linguistics {
namespace {

using Cells = std::vector<wcell>;

ConvertResult decode(const std::string& text, int flags, Cells* cells) {
  // Exactly sized, so that AddressSanitizer sees any read past the end.
  auto src = std::make_unique<unsigned char[]>(text.size() + 1);
  std::copy(text.begin(), text.end(), src.get());
  ConvertResult counted = utf7_to_cells(src.get(), text.size(), flags, nullptr);
  cells->clear();
  if (counted.status != ConvertStatus::ok) return counted;
  auto out = std::make_unique<wcell[]>(counted.count + 1);
  ConvertResult filled = utf7_to_cells(src.get(), text.size(), flags, out.get());
  EXPECT_EQ(filled.count, counted.count);
  cells->assign(out.get(), out.get() + filled.count);
  return filled;
}

std::string encode(const Cells& cells, int flags) {
  size_t size = cells_to_utf7(cells.data(), cells.size(), flags, nullptr);
  std::string out(size, '\0');
  EXPECT_EQ(cells_to_utf7(cells.data(), cells.size(), flags, reinterpret_cast<unsigned char*>(out.data())), size);
  return out;
}

Cells ascii(const std::string& s) { return Cells(s.begin(), s.end()); }

Cells join(Cells a, const Cells& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The examples of RFC 2152, both ways.
TEST(Utf7, RfcExamples) {
  const std::pair<Cells, std::string> examples[] = {
      {{0x41, 0x2262, 0x0391, 0x2E}, "A+ImIDkQ."},
      {join(join(ascii("Hi Mom -"), {0x263A}), ascii("-!")), "Hi Mom -+Jjo--!"},
      {{0x65E5, 0x672C, 0x8A9E}, "+ZeVnLIqe-"},
  };
  for (const auto& [cells, text] : examples) {
    EXPECT_EQ(encode(cells, 0), text);
    Cells back;
    ASSERT_EQ(decode(text, 0, &back).status, ConvertStatus::ok) << text;
    EXPECT_EQ(back, cells) << text;
  }
}

TEST(Utf7, EncodingCases) {
  struct Case {
    Cells cells;
    int flags;
    std::string text;
  } cases[] = {
      {{0x2262, '-'}, 0, "+ImI--"},     // the run's '-' and the character
      {{0x2262, 'a'}, 0, "+ImI-a"},     // a base64 letter after a run
      {{0x2262, '.'}, 0, "+ImI."},      // no '-' before a byte outside base64
      {ascii("1+1"), 0, "1+-1"},
      {{0x2262, '+'}, 0, "+ImIAKw-"},   // '+' inside a run is base64
      {ascii("a b!\t~\\"), 0, "a b!\t+AH4AXA-"},
      {ascii("a b!"), kUtf7QuoteOptionals, "a+ACA-b+ACE-"},
      {ascii(" !"), kUtf7QuoteOptionals, "+ACAAIQ-"},
      {{0xD83D, 0xDE00}, 0, "+2D3eAA-"},
      {{}, 0, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(encode(c.cells, c.flags), c.text);
}

TEST(Utf7, DecodingCases) {
  const int skip = kSkipInvalid;
  struct Case {
    std::string text;
    int flags;
    ConvertStatus status;
    Cells cells;
  } cases[] = {
      {"1+-1", 0, ConvertStatus::ok, ascii("1+1")},
      {"+ImI.x", 0, ConvertStatus::ok, {0x2262, '.', 'x'}},
      {"+ImI", 0, ConvertStatus::ok, {0x2262}},      // the text may end inside a run
      {"+ImI--", 0, ConvertStatus::ok, {0x2262, '-'}},
      {"+A-x", 0, ConvertStatus::ok, {'x'}},          // 6 bits left over are allowed
      {"+AA-", 0, ConvertStatus::utf7_odd_octets, {}},
      {"+AAAA", 0, ConvertStatus::utf7_odd_octets, {}},
      {"+AA-x", skip, ConvertStatus::ok, {'x'}},
      {"a+", 0, ConvertStatus::utf7_invalid_escape, {}},
      {"a+", skip, ConvertStatus::ok, {'a'}},
      {"+!b", 0, ConvertStatus::utf7_invalid_escape, {}},
      {"+!b", skip, ConvertStatus::ok, {'!', 'b'}},
      {"\xe9", 0, ConvertStatus::ok, {0xE9}},         // any byte outside a run is its unit
      {"+2D3eAA-", 0, ConvertStatus::utf16_in_ucs2, {}},
      {"+2D3eAA-", kUcs2DoUtf16, ConvertStatus::ok, {0xD83D, 0xDE00}},
      {"+2D3eAA-", skip, ConvertStatus::ok, {}},
      {"+2D0-", kUcs2DoUtf16, ConvertStatus::unpaired_high_half, {}},
      // A UTF-7 error later in the text wins over an earlier unit error.
      {"+2D3eAA-+AA-", 0, ConvertStatus::utf7_odd_octets, {}},
  };
  for (const Case& c : cases) {
    Cells cells;
    EXPECT_EQ(decode(c.text, c.flags, &cells).status, c.status) << c.text;
    if (c.status == ConvertStatus::ok) {
      EXPECT_EQ(cells, c.cells) << c.text;
    }
  }
}

TEST(Utf7, RandomCellsRoundTrip) {
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    Cells cells(rng() % 10);
    for (wcell& c : cells) {
      do c = static_cast<wcell>(rng() % 3 ? rng() % 0x80 : rng() & 0xFFFF);
      while (is_surrogate(c));
    }
    for (int flags : {0, kUtf7QuoteOptionals}) {
      std::string text = encode(cells, flags);
      Cells back;
      ASSERT_EQ(decode(text, 0, &back).status, ConvertStatus::ok) << text;
      ASSERT_EQ(back, cells) << text;
    }
  }
}

}  // namespace
}  // namespace vorlane::linguistics
