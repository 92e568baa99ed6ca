#include "linguistics/fst/coding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "linguistics/testing/fst_test_fixtures.h"
#include "linguistics/fst/symbol_classes.h"

namespace vorlane {
namespace {

using fst_test::FsmPtr;

struct Coder {
  fstw::Alphabet alphabet;
  FsmPtr object;
  const FSM* fsm = nullptr;
  uint8_t flags = 0;

  Coder(fstw::Alphabet a, uint8_t coding_flags) : alphabet(std::move(a)), flags(coding_flags) {
    object = fst_test::load(fst_test::write_image(fst_test::small_file_desc(alphabet, coding_flags)));
    fsm = fst_test::as_fsm(object);
  }

  // Encodes into a buffer of exactly size bytes followed by guard bytes that
  // must stay untouched.
  int32_t encode(const std::string& word, int32_t size, std::vector<uint8_t>* out, bool tags = true, bool end = true,
                 bool tagsep = false) const {
    std::vector<uint8_t> buffer(static_cast<size_t>(size) + 8, 0xEE);
    int32_t rc = fst_encode(word.c_str(), static_cast<int32_t>(word.size()), buffer.data(), size, tags, end, tagsep,
                            fsm);
    for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << word;
    if (rc >= 0) {
      EXPECT_EQ(buffer[rc], 0);
      if (out) out->assign(buffer.begin(), buffer.begin() + rc);
    }
    return rc;
  }

  int32_t decode(const std::vector<uint8_t>& coded, int32_t size, std::string* text, bool stop = false) const {
    std::vector<uint8_t> input = coded;
    input.push_back(0);
    std::vector<char> buffer(static_cast<size_t>(size) + 8, 'Z');
    int32_t rc = fst_decode(input.data(), buffer.data(), size, 0, stop, fsm);
    for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 'Z');
    if (rc >= 0) {
      EXPECT_EQ(buffer[rc], '\0');
      if (text) text->assign(buffer.data(), static_cast<size_t>(rc));
    }
    return rc;
  }

  std::vector<uint8_t> sym(uint16_t code) const { return alphabet.symbol_bytes(code, flags); }
  std::vector<uint8_t> chr(char c) const { return sym(alphabet.char_code(static_cast<uint8_t>(c))); }
  std::vector<uint8_t> tag(const std::string& t) const { return sym(alphabet.tag_code(t)); }
};

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const std::vector<uint8_t> kTagsep = {fstw::kPlanTagsep};
const std::vector<uint8_t> kEnd = {fstw::kPlanEnd};

// 92 characters (the most an 8-bit map holds under the plan: up to 3 ESC
// bytes) and 30 tags, whose codes run to 5 ESC bytes.
fstw::Alphabet narrow_alphabet() {
  fstw::Alphabet a;
  for (int c = 33; c < 33 + 92; ++c) EXPECT_TRUE(a.add_char(static_cast<uint8_t>(c)));
  EXPECT_FALSE(a.add_char(200));
  for (int t = 0; t < 30; ++t) a.add_tag("T" + std::to_string(t));
  return a;
}

// Every byte 1..255 with a 16-bit map (up to 11 ESC bytes).
fstw::Alphabet wide_alphabet() {
  fstw::Alphabet a(true);
  for (int c = 1; c < 256; ++c) EXPECT_TRUE(a.add_char(static_cast<uint8_t>(c)));
  for (int t = 0; t < 30; ++t) a.add_tag("Tag" + std::to_string(t));
  return a;
}

TEST(FstCoding, EveryCharacterAndTagRoundTrips) {
  for (bool wide : {false, true}) {
    for (uint8_t flags : {uint8_t{0x80}, uint8_t{0x00}}) {
      Coder c(wide ? wide_alphabet() : narrow_alphabet(), flags);
      ASSERT_NE(c.fsm, nullptr);
      std::string all;
      for (int ch = wide ? 1 : 33; ch < (wide ? 256 : 33 + 92); ++ch) {
        std::string word(1, static_cast<char>(ch));
        std::vector<uint8_t> coded;
        ASSERT_GT(c.encode(word, 64, &coded, false), 0) << ch;
        EXPECT_EQ(coded, cat({c.chr(static_cast<char>(ch)), kEnd})) << ch;
        std::string text;
        ASSERT_EQ(c.decode(coded, 64, &text, true), 1);
        EXPECT_EQ(text, word) << ch << " wide " << wide << " flags " << int(flags);
        all += word;
      }
      std::vector<uint8_t> coded;
      std::string text;
      ASSERT_GT(c.encode(all, 4096, &coded, false), 0);
      ASSERT_EQ(c.decode(coded, 4096, &text, true), static_cast<int32_t>(all.size()));
      EXPECT_EQ(text, all);
      EXPECT_EQ(fst_decoded_length((coded.push_back(0), coded.data()), c.fsm), static_cast<int32_t>(all.size()) + 1);

      std::string tagged;
      for (int t = 0; t < 30; ++t) tagged += std::string("A[") + (wide ? "Tag" : "T") + std::to_string(t) + "]";
      coded.clear();
      ASSERT_GT(c.encode(tagged, 4096, &coded), 0);
      int32_t length = c.decode(coded, 4096, &text);
      ASSERT_GE(length, 0);
      EXPECT_EQ(text, tagged + std::string(1, '\0'));  // the end symbol decodes as a separator
      coded.push_back(0);
      EXPECT_EQ(fst_decoded_length(coded.data(), c.fsm), length);
    }
  }
}

TEST(FstCoding, SymbolOrderFollowsCodingFlag) {
  // '}' is the 93rd character of the wide alphabet... take one with 2 ESC
  // bytes: symbol number 9 + 2 x 23 = 55, the 47th character added.
  for (uint8_t flags : {uint8_t{0x80}, uint8_t{0x00}}) {
    Coder c(narrow_alphabet(), flags);
    char ch = static_cast<char>(33 + 46);
    uint16_t code = c.alphabet.char_code(static_cast<uint8_t>(ch));
    ASSERT_EQ(code & 0xFF, 2);
    uint8_t label = static_cast<uint8_t>(code >> 8);
    std::vector<uint8_t> coded;
    ASSERT_EQ(c.encode(std::string(1, ch), 16, &coded, false, false), 3);
    std::vector<uint8_t> expected = flags ? std::vector<uint8_t>{label, fstw::kPlanEsc, fstw::kPlanEsc}
                                          : std::vector<uint8_t>{fstw::kPlanEsc, fstw::kPlanEsc, label};
    EXPECT_EQ(coded, expected);
    std::string text;
    ASSERT_EQ(c.decode(coded, 16, &text), 1);
    EXPECT_EQ(text, std::string(1, ch));
  }
}

TEST(FstCoding, TagsAreWrittenBetweenSeparators) {
  for (uint8_t flags : {uint8_t{0x80}, uint8_t{0x00}}) {
    Coder c(fst_test::small_alphabet(), flags);
    std::vector<uint8_t> coded;
    ASSERT_GT(c.encode("a[N][Sg]b", 64, &coded), 0);
    EXPECT_EQ(coded, cat({c.chr('a'), kTagsep, c.tag("N"), c.tag("Sg"), kTagsep, c.chr('b'), kEnd}));
    // A tag at the end is not closed; the TAGSEP asked for follows the end symbol.
    ASSERT_GT(c.encode("dog[N]", 64, &coded, true, true, true), 0);
    EXPECT_EQ(coded, cat({c.chr('d'), c.chr('o'), c.chr('g'), kTagsep, c.tag("N"), kEnd, kTagsep}));
    // Without tags allowed '[' is an ordinary character (not in this alphabet).
    EXPECT_EQ(c.encode("a[N]", 64, nullptr, false), -10);

    std::string text;
    ASSERT_GT(c.encode("cat[N][Pl]", 64, &coded), 0);
    ASSERT_EQ(c.decode(coded, 100, &text, true), 10);
    EXPECT_EQ(text, "cat[N][Pl]");
  }
}

TEST(FstCoding, EncoderErrors) {
  Coder c(fst_test::small_alphabet(), 0x80);
  std::string name61(61, 'x'), name62(62, 'x');
  struct Case {
    std::string word;
    int32_t code;
  } cases[] = {
      {"cat", 4},
      {"", 1},
      {"Cat", -10},           // inside the map's range, but not in the alphabet
      {std::string(1, '\x1F'), -10},  // below the lowest character (' ')
      {"caf\xE9", -10},       // above the highest
      {"a[Adj]", -10},        // unknown tag
      {"a[]", -10},           // empty tag name
      {"a[" + name61 + "]", -10},  // 61 characters read (an unknown tag)
      {"a[" + name62 + "]", -14},
      {"a[N", -14},
      {"a[", -14},
  };
  for (const Case& k : cases) EXPECT_EQ(c.encode(k.word, 256, nullptr), k.code) << k.word;

  // A tag name of 61 characters that the file knows encodes.
  fstw::Alphabet long_tags = fst_test::small_alphabet();
  long_tags.add_tag(name61);
  Coder d(long_tags, 0x80);
  std::vector<uint8_t> coded;
  ASSERT_GT(d.encode("a[" + name61 + "]", 256, &coded), 0);
  EXPECT_EQ(coded, cat({d.chr('a'), kTagsep, d.tag(name61), kEnd}));
  // The length bounds the word: a NUL or the length inside a tag is -14.
  uint8_t out[64];
  EXPECT_EQ(fst_encode("a[N]", 3, out, sizeof out, true, true, false, c.fsm), -14);
  EXPECT_EQ(fst_encode("a[N]", 4, out, sizeof out, true, true, false, c.fsm), 5);  // N has one ESC byte
  EXPECT_EQ(fst_encode("cats", 2, out, sizeof out, false, false, false, c.fsm), 2);
}

TEST(FstCoding, EncoderRoomBoundaries) {
  // The smallest output each word fits, and -12 one byte below it; nothing
  // is ever written past the given size.
  Coder c(narrow_alphabet(), 0x80);
  struct Case {
    std::string word;
    bool end, tagsep;
    int32_t smallest;
  } cases[] = {
      {"", true, false, 2},        // end symbol and NUL
      {"", false, false, 1},       // NUL only
      {"", true, true, 3},
      {"12", true, false, 5},      // no ESC bytes; the last symbol: 1 + 0 + 3 < size
      {"12", false, false, 5},
      {"1[T0]", true, false, 10},  // T0 has 4 ESC bytes: at 2 it needs 2 + 4 + 3 < size
      {"[T0]1", true, false, 11},  // the closing TAGSEP at 6 needs 6 + 3 < size; '1' at 7 needs 7 + 3 < size
  };
  for (const Case& k : cases) {
    for (int32_t size = 0; size <= k.smallest + 2; ++size) {
      int32_t rc = c.encode(k.word, size, nullptr, true, k.end, k.tagsep);
      if (size < k.smallest) {
        EXPECT_EQ(rc, -12) << k.word << " size " << size;
      } else {
        EXPECT_GE(rc, 0) << k.word << " size " << size;
      }
    }
  }
  // ESC bytes count: the 47th character carries 2 ESC bytes.
  std::string two_esc(1, static_cast<char>(33 + 46));
  EXPECT_EQ(c.encode(two_esc, 5, nullptr, false, false), -12);
  EXPECT_EQ(c.encode(two_esc, 6, nullptr, false, false), 3);
}

TEST(FstCoding, DecoderRoomAndSpecials) {
  Coder c(fst_test::small_alphabet(), 0x80);
  std::vector<uint8_t> coded = cat({c.chr('a'), c.chr('b'), kEnd, c.chr('c'), c.chr('d'), kEnd});
  std::string text;
  EXPECT_EQ(c.decode(coded, 64, &text, true), 2);
  EXPECT_EQ(text, "ab");
  EXPECT_EQ(c.decode(coded, 64, &text, false), 6);
  EXPECT_EQ(text, std::string("ab\0cd\0", 6));
  EXPECT_EQ(c.decode(coded, 7, &text, false), 6);
  EXPECT_EQ(c.decode(coded, 6, &text, false), -12);
  EXPECT_EQ(c.decode(coded, 3, &text, true), 2);
  EXPECT_EQ(c.decode(coded, 2, &text, true), -12);
  EXPECT_EQ(c.decode(coded, 0, &text, true), -12);
  EXPECT_EQ(c.decode({}, 1, &text), 0);

  // A tag needs more than 68 bytes of room.
  std::vector<uint8_t> tagged = cat({kTagsep, c.tag("N"), kTagsep});
  EXPECT_EQ(c.decode(tagged, 69, &text), 3);
  EXPECT_EQ(text, "[N]");
  EXPECT_EQ(c.decode(tagged, 68, &text), -12);
  // A code the tag table does not know.
  std::vector<uint8_t> unknown = cat({kTagsep, c.sym(0xFC07), kTagsep});
  EXPECT_EQ(c.decode(unknown, 100, &text), 5);
  EXPECT_EQ(text, "[???]");
  unknown.push_back(0);
  EXPECT_EQ(fst_decoded_length(unknown.data(), c.fsm), 5);
  // A symbol the character table does not hold.
  EXPECT_EQ(c.decode(c.sym(0xFC07), 100, &text), -2);
  EXPECT_EQ(c.decode({0x10}, 100, &text), -2);
}

TEST(FstCoding, LongTagNamesAreBoundedByTheirOwnLength) {
  fstw::Alphabet a = fst_test::small_alphabet();
  std::string name(150, 'L');
  a.add_tag(name);
  Coder c(a, 0x80);
  std::vector<uint8_t> coded = cat({kTagsep, c.tag(name), kTagsep});
  std::string text;
  EXPECT_EQ(c.decode(coded, 100, &text), -12);
  EXPECT_EQ(c.decode(coded, 152, &text), -12);
  EXPECT_EQ(c.decode(coded, 153, &text), 152);
  EXPECT_EQ(text, "[" + name + "]");
  coded.push_back(0);
  EXPECT_EQ(fst_decoded_length(coded.data(), c.fsm), 152);
}

TEST(FstCoding, TokenEncoder) {
  for (uint8_t flags : {uint8_t{0x80}, uint8_t{0x00}}) {
    Coder c(fst_test::small_alphabet(), flags);
    const char names[] = "V\0N\0_mwt\0\0Sg\0Pl";
    uint8_t a[8] = {}, b[8] = {};
    uint8_t out[64];
    int32_t rc = fst_encode_tokens(names, 5, 1, out, sizeof out, a, b, c.fsm);
    ASSERT_GT(rc, 0);
    EXPECT_EQ(std::vector<uint8_t>(out, out + rc + 1), cat({kTagsep, c.tag("N"), c.tag("Sg"), c.tag("Pl"), kEnd, {0}}));
    EXPECT_EQ(std::vector<uint8_t>(a, a + 8), (std::vector<uint8_t>{0, 0, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(b, b + 8), (std::vector<uint8_t>{0, 0, 1, 0, 0, 0, 0, 0}));
    // Only skipped strings: no TAGSEP.
    rc = fst_encode_tokens("_x\0", 2, 0, out, sizeof out, nullptr, nullptr, c.fsm);
    EXPECT_EQ(std::vector<uint8_t>(out, out + rc), kEnd);
    EXPECT_EQ(fst_encode_tokens("N\0Adj", 2, 0, out, sizeof out, a, b, c.fsm), -10);
    // N has one ESC byte: at 1 it needs 1 + 1 + 3 < size.
    EXPECT_EQ(fst_encode_tokens("N", 1, 0, out, 5, a, b, c.fsm), -12);
    EXPECT_EQ(fst_encode_tokens("N", 1, 0, out, 6, a, b, c.fsm), 4);
    EXPECT_EQ(fst_encode_tokens("", 1, 0, out, 1, a, b, c.fsm), -12);
  }
}

}  // namespace
}  // namespace vorlane
