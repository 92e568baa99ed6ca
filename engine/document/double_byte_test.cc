// Double-byte expansion: characters as words and the windows of three, four
// and five characters.
#include "engine/document/double_byte.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace vorlane::engine {
namespace {

std::string expand(const std::string& text, size_t size = kCtpProcessSize) {
  std::string out(size, '\0');
  out.resize(ctp_expand(text.data(), text.size(), out.data(), size));
  return out;
}

// Two-byte characters c1..c6 (Shift-JIS-like lead bytes; the second byte of
// c2 is below 0x80, which still belongs to the character).
const std::string c1 = "\x88\xA0", c2 = "\x88\x41", c3 = "\x93\xFA", c4 = "\x96\x7B", c5 = "\x8C\xEA",
                  c6 = "\x82\xA0";

TEST(DoubleByte, Examples) {
  EXPECT_EQ(expand("ab" + c1 + "cd"), "ab " + c1 + " cd ");
  EXPECT_EQ(expand(c1 + c2 + c3 + c4), c1 + " " + c2 + " " + c3 + " " + c4 + " " + c1 + c2 + c3 + " ; ");
  // Three characters give no three-character window.
  EXPECT_EQ(expand(c1 + c2 + c3), c1 + " " + c2 + " " + c3 + " ");
  // Six characters: windows of three from c1..c3 to c3..c5, of four from
  // c1..c4 and c2..c5, of five from c1..c5; none ends at c6.
  const std::string six = c1 + c2 + c3 + c4 + c5 + c6;
  std::string want;
  for (const std::string& c : {c1, c2, c3, c4, c5, c6}) want += c + " ";
  want += c1 + c2 + c3 + " ; " + c2 + c3 + c4 + " ; " + c3 + c4 + c5 + " ; ";
  want += c1 + c2 + c3 + c4 + " ; " + c2 + c3 + c4 + c5 + " ; ";
  want += c1 + c2 + c3 + c4 + c5 + " ; ";
  EXPECT_EQ(expand(six), want);
}

TEST(DoubleByte, RunsAndBlanks) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"plain text", "plain text "},
      {"ends with blank ", "ends with blank "},
      {c1 + "x", c1 + " x "},
      {"x" + c1 + " " + c2, "x " + c1 + "  " + c2 + " "},  // the blank run is copied, then nothing added
      {c1 + "\x88", c1 + " "},                           // a last lone lead byte is dropped
      {"\x88", ""},
      // Characters in different runs still form windows together.
      {c1 + "a" + c2 + "b" + c3 + c4, c1 + " a " + c2 + " b " + c3 + " " + c4 + " " + c1 + c2 + c3 + " ; "},
  };
  for (const Case& c : cases) EXPECT_EQ(expand(c.in), c.out) << c.in;
}

TEST(DoubleByte, NothingIsWrittenPastTheArea) {
  const std::string text = c1 + c2 + c3 + c4 + c5 + "ascii" + c6;
  const std::string full = expand(text);
  for (size_t size = 0; size <= full.size() + 2; ++size) {
    std::string out(size + 8, 'Z');
    const size_t n = ctp_expand(text.data(), text.size(), out.data(), size);
    ASSERT_LE(n, size);
    EXPECT_EQ(out.substr(size), std::string(8, 'Z')) << size;
    // What is written is the start of the characters and runs that fit.
    if (size > full.size()) {
      EXPECT_EQ(out.substr(0, n), full);
    }
  }
  // A pairs area that is full keeps the characters written but stops
  // collecting them.
  char out[64], pairs[4];
  size_t np = 0;
  const std::string three = c1 + c2 + c3;
  const size_t n = ctp_mark_pairs(three.data(), three.size(), out, sizeof out, pairs, sizeof pairs, &np);
  EXPECT_EQ(std::string(out, n), c1 + " " + c2 + " " + c3 + " ");
  EXPECT_EQ(np, 4u);
  EXPECT_EQ(std::string(pairs, np), c1 + c2);
}

TEST(DoubleByte, WindowsNeedRoomWithAByteToSpare) {
  const std::string pairs = c1 + c2 + c3 + c4;
  char out[16];
  EXPECT_EQ(ctp_windows(pairs.data(), pairs.size(), 6, out, 9), 0u);
  EXPECT_EQ(ctp_windows(pairs.data(), pairs.size(), 6, out, 10), 9u);
  EXPECT_EQ(ctp_windows(pairs.data(), pairs.size(), 8, out, sizeof out), 0u);
}

TEST(DoubleByte, FileForm) {
  FILE* in = tmpfile();
  FILE* out = tmpfile();
  ASSERT_TRUE(in && out);
  const std::string text = "ab" + c1 + c2 + c3 + c4;
  fwrite(text.data(), 1, text.size(), in);
  rewind(in);
  EXPECT_EQ(ctp_file(in, out), 1);
  rewind(out);
  char buffer[256];
  const size_t n = fread(buffer, 1, sizeof buffer, out);
  EXPECT_EQ(std::string(buffer, n), expand(text));
  fclose(in);
  fclose(out);
}

}  // namespace
}  // namespace vorlane::engine
