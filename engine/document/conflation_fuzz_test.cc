// Random texts and random area sizes through every conflation entry point.
// The areas are heap blocks of exactly the size given, so that a write past
// one is caught (under AddressSanitizer) and the sentinel checks catch it in
// the plain build.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "engine/document/conflate.h"
#include "engine/document/conflation_tables.h"
#include "engine/document/double_byte.h"
#include "engine/testing/text_analysis_testing.h"

namespace vorlane::engine {
namespace {

// Texts of Latin-1 letters, expanding letters, ASCII words, blanks,
// punctuation and double-byte characters.
std::string random_text(std::mt19937& rng, size_t max) {
  static const char* pieces[] = {"a", "Z", " ", "  ", ".", ", ", "\xDF", "\xC4", "\xFE", "\xE9", "\x88\xA0",
                                 "\x93", "word", "Word", "THE", "the", "42", "C++", "-", "\n", "\xB8"};
  std::uniform_int_distribution<size_t> len(0, max), pick(0, std::size(pieces) - 1);
  std::string s;
  const size_t n = len(rng);
  while (s.size() < n) s += pieces[pick(rng)];
  return s;
}

// An area of exactly size bytes followed, in a separate block, by nothing:
// any write past it lands outside the allocation.
struct Area {
  explicit Area(size_t n) : size(n), data(new char[n ? n : 1]) { memset(data.get(), 0x5A, n ? n : 1); }
  size_t size;
  std::unique_ptr<char[]> data;
};

TEST(ConflationFuzz, EveryEntryPointStaysInsideItsArea) {
  std::mt19937 rng(20261210);
  std::uniform_int_distribution<size_t> small(0, 64), large(0, 4096);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = random_text(rng, round % 10 == 0 ? 2000 : 120);
    {
      Area out(small(rng));
      const size_t skip = small(rng) % 8;
      conflate(text.c_str(), out.data.get(), out.size, skip, conflation_map,
               round % 2 ? conflation_expansions : nullptr);
      if (out.size) {
        ASSERT_LT(strlen(out.data.get()), out.size);
      }
      Area low(small(rng));
      lower_term(text.c_str(), low.data.get(), low.size, skip);
    }
    {
      Area out(large(rng));
      Area pairs(small(rng));
      size_t np = 0;
      const size_t n =
          ctp_mark_pairs(text.data(), text.size(), out.data.get(), out.size, pairs.data.get(), pairs.size, &np);
      ASSERT_LE(n, out.size);
      ASSERT_LE(np, pairs.size);
      Area windows(small(rng));
      ASSERT_LE(ctp_windows(pairs.data.get(), np, 6 + 2 * (round % 3), windows.data.get(), windows.size),
                windows.size);
      Area expanded(large(rng));
      ASSERT_LE(ctp_expand(text.data(), text.size(), expanded.data.get(), expanded.size), expanded.size);
    }
    {
      // No stems: the words and phrases need no linguistic resources.
      const ConflateFlags flags{int(round & 1), int((round >> 1) & 1), int((round >> 2) & 1), 0,
                                int((round >> 3) & 1), int((round >> 4) & 1)};
      Area out(1 + large(rng) / 4);
      Area list(large(rng));
      const size_t n = conflate_text_write(text.data(), text.size(), flags, testing_text::english(),
                                           out.data.get(), out.size, list.data.get(), list.size);
      ASSERT_LT(n, out.size);
      ASSERT_EQ(out.data[n], '\0');
      ASSERT_EQ(strlen(out.data.get()), n);
      if (n) {
        ASSERT_EQ(out.data[n - 1], ' ');
      }
    }
  }
}

}  // namespace
}  // namespace vorlane::engine
