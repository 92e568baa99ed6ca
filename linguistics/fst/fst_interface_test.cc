#include "linguistics/fst/fst_interface.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "linguistics/testing/fst_test_fixtures.h"
#include "platform/testing/test_root.h"

namespace vorlane {
namespace {

using fst_test::FsmPtr;

FsmPtr with_texts(const std::string& info, const std::string& version) {
  fstw::FileDesc desc = fst_test::small_file_desc(fst_test::small_alphabet());
  desc.info = info;
  desc.version = version;
  return fst_test::load(fst_test::write_image(desc));
}

TEST(FstInterface, InfoFoldsCarriageReturns) {
  struct Case {
    std::string info;
    std::string folded;
  } cases[] = {
      {"a\r\nb\r\n", "a b"},
      {"a\r\nb", "a b"},
      {"a\rb", "a b"},
      {"a\r", "a"},
      {"\r\n", ""},
      {"a\r\r\nb", "a  b"},
      {"x\ny", "x\ny"},
      {std::string("n\0l", 3), std::string("n\0l", 3)},
      {"", ""},
  };
  for (const Case& c : cases) {
    FsmPtr fsm = with_texts(c.info, "");
    char buffer[64];
    std::memset(buffer, 'Z', sizeof buffer);
    ASSERT_EQ(fst_info(buffer, sizeof buffer, fsm.get()), 0) << c.info;
    EXPECT_EQ(std::string(buffer, c.folded.size() + 1), c.folded + std::string(1, '\0')) << c.info;
  }
  // The buffer must be larger than the text's length plus 1.
  FsmPtr fsm = with_texts("a\r\nb\r\n", "");
  char buffer[16];
  EXPECT_EQ(fst_info(buffer, 7, fsm.get()), -12);
  EXPECT_EQ(fst_info(buffer, 8, fsm.get()), 0);
  EXPECT_EQ(fst_info(buffer, 0, fsm.get()), -12);
  EXPECT_EQ(fst_info(buffer, -1, fsm.get()), -8);
  EXPECT_EQ(fst_info(nullptr, 8, fsm.get()), -28);
  EXPECT_EQ(fst_info(buffer, 8, nullptr), -28);
  EXPECT_EQ(fst_info(buffer, 8, fst_error_handle(-2)), -2);
  EXPECT_EQ(fst_info(nullptr, -1, fst_error_handle(-3)), -3);  // the object is checked first
}

TEST(FstInterface, VersionText) {
  std::string long_line(999, 'x');
  struct Case {
    std::string info, after, version;
  } cases[] = {
      {"info", "2.0.1\r", "2.0.1"},
      {"info", "2.0.1", "2.0.1"},  // the writer's NUL ends it
      {"info", "v1_2\r", "1.0"},
      {"info", "1. 2\r", "1.0"},
      {"info", "first line\r\n\r\n3.5\r\n", "3.5"},
      {"info", "first line\r\n3.5\r\n", "1.0"},
      {"info", "a/b-c_D.e", "a/b-c_D.e"},
      {"info", "1.2+3", "1.0"},
      {"info", "", "1.0"},
      {"info", std::string(64, '9') + ".", "1.0"},  // no end within 65 bytes
      {"info", std::string(63, '9') + ".", std::string(63, '9') + "."},
      {"info", long_line + "\r\n\r\n4.4", "4.4"},
      {"info", "\xE9" "1.0x", "1.0"},
  };
  for (const Case& c : cases) {
    FsmPtr fsm = with_texts(c.info, c.after);
    char buffer[128];
    ASSERT_EQ(fst_version(buffer, sizeof buffer, fsm.get()), 0) << c.after;
    EXPECT_STREQ(buffer, c.version.c_str()) << c.after;
  }
  FsmPtr fsm = with_texts("i", "12.34\r");
  char buffer[8];
  EXPECT_EQ(fst_version(buffer, 6, fsm.get()), 0);
  EXPECT_EQ(fst_version(buffer, 5, fsm.get()), -12);
  EXPECT_STREQ(buffer, "12.3");
  EXPECT_EQ(fst_version(buffer, 8, fst_error_handle(-5)), -5);
  EXPECT_EQ(fst_version(nullptr, 8, fsm.get()), -28);
  EXPECT_EQ(fst_version(buffer, -2, fsm.get()), -8);
}

TEST(FstInterface, VersionScanStaysInsideTheTableArea) {
  // The table area is cut right after the version text's first bytes: the
  // scan stops at its end (the copy is an exact-size heap block, so the
  // sanitizer build reports any read past it).
  for (const std::string& after : {std::string("7.1"), std::string("line\r\n\r"), std::string(1100, 'x')}) {
    FsmPtr fsm = with_texts("i", after);
    FSM* f = static_cast<FSM*>(fsm.get());
    uint32_t keep = f->info + 2 + static_cast<uint32_t>(after.size());
    std::unique_ptr<uint8_t[]> cut(new uint8_t[keep]);
    std::memcpy(cut.get(), f->table.get(), keep);
    f->table = std::move(cut);
    f->table_length = keep;
    char buffer[16];
    EXPECT_EQ(fst_version(buffer, sizeof buffer, fsm.get()), 0);
    EXPECT_STREQ(buffer, "1.0") << after.substr(0, 10);
  }
}

TEST(FstInterface, Capabilities) {
  struct Case {
    std::map<int, uint8_t> functions;
    uint32_t mask;
  } cases[] = {
      {{{28, 0}, {62, 0}}, 260},
      {{{60, 0}}, 0},
      {{{60, 0}, {61, 0}}, 16},
      {{{12, 0}}, 9},
      {{{27, 0}}, 66},
      {{{1, 0}}, 128},
      {{{23, 0}, {63, 0}}, 0},
      {{}, 0},
  };
  for (const Case& c : cases) {
    fstw::FileDesc desc = fst_test::small_file_desc(fst_test::small_alphabet());
    desc.functions = c.functions;
    FsmPtr fsm = fst_test::load(fst_test::write_image(desc));
    EXPECT_EQ(fst_capabilities(fsm.get()), c.mask);
  }
  EXPECT_EQ(fst_capabilities(nullptr), 0u);
  EXPECT_EQ(fst_capabilities(fst_error_handle(-2)), 0u);
  EXPECT_EQ(fst_header_word(nullptr), 0u);
  EXPECT_EQ(fst_header_word(fst_error_handle(-2)), 0u);
  EXPECT_EQ(fst_property(nullptr), -28);
  EXPECT_EQ(fst_property(fst_error_handle(-1)), -1);
  EXPECT_EQ(fst_language(nullptr), -28);
  EXPECT_EQ(fst_language(fst_error_handle(-3)), -3);
}

TEST(FstInterface, EncodeTaggedModes) {
  for (uint8_t flags : {uint8_t{0x80}, uint8_t{0x00}}) {
    fstw::Alphabet a = fst_test::small_alphabet();
    fstw::FileDesc desc = fst_test::small_file_desc(a, flags);
    for (auto& c : desc.classes) {
      if (c.name == "*DIACRITICS*") {
        for (auto& m : c.members) {
          if (m.name == "EOF") m.code = static_cast<uint16_t>(fstw::kPlanEof << 8 | 2);
        }
      }
    }
    FsmPtr fsm = fst_test::load(fst_test::write_image(desc));
    auto bytes = [&](char c) { return a.symbol_bytes(a.char_code(static_cast<uint8_t>(c)), flags); };
    uint8_t out[64];
    std::vector<uint8_t> ab = bytes('a');
    std::vector<uint8_t> b = bytes('b');
    ab.insert(ab.end(), b.begin(), b.end());

    int32_t n = fst_encode_tagged("ab", out, sizeof out, 0, fsm.get());
    std::vector<uint8_t> expected = ab;
    expected.push_back(fstw::kPlanEnd);
    EXPECT_EQ(std::vector<uint8_t>(out, out + n), expected);

    n = fst_encode_tagged("ab", out, sizeof out, 2, fsm.get());
    expected = ab;
    std::vector<uint8_t> eof = flags ? std::vector<uint8_t>{fstw::kPlanEof, fstw::kPlanEsc, fstw::kPlanEsc}
                                     : std::vector<uint8_t>{fstw::kPlanEsc, fstw::kPlanEsc, fstw::kPlanEof};
    expected.insert(expected.end(), eof.begin(), eof.end());
    EXPECT_EQ(std::vector<uint8_t>(out, out + n + 1), (expected.push_back(0), expected));
    // Mode 2 needs more than length + ESC count + 2 bytes.
    int32_t len = static_cast<int32_t>(ab.size());
    EXPECT_EQ(fst_encode_tagged("ab", out, len + 4, 2, fsm.get()), -12);
    EXPECT_EQ(fst_encode_tagged("ab", out, len + 5, 2, fsm.get()), len + 3);

    EXPECT_GT(fst_encode_tagged("a[N]", out, sizeof out, 1, fsm.get()), 0);
    EXPECT_EQ(fst_encode_tagged("a[N]", out, sizeof out, 0, fsm.get()), -10);
    EXPECT_EQ(fst_encode_tagged("a[N", out, sizeof out, 1, fsm.get()), -14);
    EXPECT_EQ(fst_encode_tagged("ab", out, sizeof out, 3, fsm.get()), -8);
    EXPECT_EQ(fst_encode_tagged("ab", out, -1, 0, fsm.get()), -8);
    EXPECT_EQ(fst_encode_tagged(nullptr, out, 9, 0, fsm.get()), -28);
    EXPECT_EQ(fst_encode_tagged("ab", nullptr, 9, 0, fsm.get()), -28);
    EXPECT_EQ(fst_encode_tagged("ab", out, 9, 0, nullptr), -28);
    EXPECT_EQ(fst_encode_tagged("ab", out, 9, 0, fst_error_handle(-2)), -2);
  }
}

TEST(FstInterface, HeadersAndObjectKinds) {
  platform::TestRoot root;
  fstw::FileDesc desc = fst_test::small_file_desc(fst_test::small_alphabet());
  ASSERT_TRUE(fstw::fst_write_file(root.file("a.is"), desc, nullptr));
  desc.language = 3;
  ASSERT_TRUE(fstw::fst_write_file(root.file("b.is"), desc, nullptr));
  void* a = fst_open_header(root.file("a.is").c_str());
  void* a2 = FstOpenHeader(root.file("a.is").c_str());
  void* b = fst_open_header(root.file("b.is").c_str());
  void* fsm = fst_open(root.file("a.is").c_str());
  ASSERT_EQ(fst_status(a), 0);
  ASSERT_EQ(fst_status(b), 0);
  ASSERT_EQ(fst_status(fsm), 0);
  EXPECT_EQ(fst_compare_headers(a, a2), 1);
  EXPECT_EQ(FstCompareHeaders(a, b), 0);
  EXPECT_EQ(fst_compare_headers(a, fsm), 1);
  EXPECT_EQ(fst_compare_headers(a, nullptr), -28);
  EXPECT_EQ(fst_compare_headers(nullptr, a), -28);
  EXPECT_EQ(fst_compare_headers(a, fst_error_handle(-2)), -2);
  EXPECT_EQ(fst_compare_headers(fst_error_handle(-1), a), -1);
  // A header object is not an FSM.
  char buffer[16];
  EXPECT_EQ(fst_info(buffer, sizeof buffer, a), -5);
  EXPECT_EQ(fst_language(a), -5);
  fst_close(a);  // ignored: not an FSM
  EXPECT_EQ(fst_compare_headers(a, a2), 1);
  fst_close_header(fsm);  // ignored: not a header object
  EXPECT_EQ(FstLanguage(fsm), 0);
  fst_close_header(a);
  FstCloseHeader(a2);
  fst_close_header(b);
  fst_close_header(nullptr);
  fst_close_header(fst_error_handle(-3));
  FstClose(fsm);
  fst_close(nullptr);
  fst_close(fst_error_handle(-2));
}

TEST(FstInterface, SecondEntryPointsForward) {
  platform::TestRoot root;
  fstw::FileDesc desc = fst_test::small_file_desc(fst_test::small_alphabet());
  desc.language = 4;
  desc.property = 6;
  desc.header_word = 77;
  desc.info = "about";
  desc.version = "\r\n\r\n9.1";
  desc.functions = {{28, 0}};
  ASSERT_TRUE(fstw::fst_write_file(root.file("s.tok"), desc, nullptr));
  void* fsm = FstOpen(root.file("s.tok").c_str());
  ASSERT_EQ(FstStatus(fsm), 0);
  ASSERT_EQ(FstObjectStatus(fsm), 0);
  char buffer[128];
  EXPECT_EQ(FstInfo(buffer, sizeof buffer, fsm), 0);
  EXPECT_STREQ(buffer, "about");
  EXPECT_EQ(FstVersion(buffer, sizeof buffer, fsm), 0);
  EXPECT_STREQ(buffer, "9.1");
  EXPECT_EQ(FstHeaderWord(fsm), 77u);
  EXPECT_EQ(FstCapabilities(fsm), 4u);
  EXPECT_EQ(FstProperty(fsm), 6);
  EXPECT_EQ(FstLanguage(fsm), 4);
  EXPECT_EQ(FstLibraryVersion(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "2.2");
  EXPECT_EQ(FstErrorMessage(-29, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "Input/output error.");
  EXPECT_EQ(FstErrorHandle(-4), fst_error_handle(-4));
  EXPECT_EQ(FstStatus(FstErrorHandle(-4)), -4);
  EXPECT_EQ(FstObjectStatus(nullptr), -28);
  EXPECT_EQ(FstStatus(FstOpen(root.file("none").c_str())), -1);
  FstClose(fsm);
}

}  // namespace
}  // namespace vorlane
