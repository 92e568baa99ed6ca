// Every truncation and every single-byte change of a small transducer file
// must load to -2, -3 or a valid FSM on which every operation stays inside
// its data. Run under the sanitizer build, any stray read is reported.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "linguistics/fst/coding.h"
#include "linguistics/fst/lookup.h"
#include "linguistics/testing/fsm_hand_file.h"
#include "linguistics/testing/fst_test_fixtures.h"
#include "linguistics/fst/symbol_classes.h"

namespace vorlane {
namespace {

std::vector<uint8_t> small_file() {
  fstw::Alphabet a;
  for (char c : std::string("abc")) a.add_char(static_cast<uint8_t>(c));
  a.add_tag("N");
  a.with_eof = false;
  fstw::FileDesc desc;
  desc.info = "m";
  desc.version = "1.2";
  a.apply(&desc);
  auto sym = [&](char c) { return static_cast<uint8_t>(a.char_code(static_cast<uint8_t>(c)) >> 8); };
  desc.nets.push_back(fst_test::trie_net({{sym('a'), sym('b')}, {sym('c'), sym('a'), sym('b')}, {sym('c'), sym('b')}}));
  desc.functions = {{12, 0}};
  return fst_test::write_image(desc);
}

// Uses a loaded FSM the way the library's callers do.
void exercise(const FSM* fsm) {
  char text[300];
  fst_info(text, sizeof text, fsm);
  fst_version(text, sizeof text, fsm);
  fst_capabilities(fsm);
  for (int f = 0; f < 70; ++f) fst_function(f, fsm);
  uint16_t codes[8];
  fst_tag_list(fsm, codes, 8, text, sizeof text);
  fst_find_class(fsm, "TAGMODE", 7);
  uint8_t coded[128];
  for (const char* word : {"abc", "a[N]b[N]", "c[X]", "[N]"}) {
    if (fst_encode(word, 0x7FFFFFFF, coded, sizeof coded, true, true, true, fsm) >= 0) {
      fst_decode(coded, text, sizeof text, 0, false, fsm);
      fst_decoded_length(coded, fsm);
    }
  }
  // Arbitrary coded strings.
  const uint8_t noise[] = {0x98, 0xA4, 0x94, 0x94, 0x98, 0xFC, 0x01, 0x80, 0x9C, 0xB0, 0x98, 0x94, 0x00};
  fst_decode(noise, text, sizeof text, 0, false, fsm);
  fst_decoded_length(noise, fsm);
  // Walks over the (possibly damaged) net end with a result or a code.
  for (const char* word : {"ab", "cab", "cb", "a[N]"}) {
    for (int32_t mode : {2, 8}) {
      int32_t rc = fst_lookup(word, kFstWholeWord, text, sizeof text, mode, fsm, nullptr, 0);
      EXPECT_GE(rc, -29) << word;
    }
  }
}

int32_t check(const std::vector<uint8_t>& image) {
  // An exact-size copy, so that reads past the image are reported.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[image.size() + (image.empty() ? 1 : 0)]);
  if (!image.empty()) std::memcpy(copy.get(), image.data(), image.size());
  void* object = fst_read_memory(copy.get(), image.size());
  int32_t rc = fst_status(object);
  if (rc == 0) {
    exercise(static_cast<const FSM*>(object));
    fst_close(object);
  }
  return rc;
}

void mutate_all(const std::vector<uint8_t>& good) {
  ASSERT_EQ(check(good), 0);

  for (size_t n = 0; n < good.size(); ++n) {
    int32_t rc = check(std::vector<uint8_t>(good.begin(), good.begin() + n));
    EXPECT_TRUE(rc == -2 || rc == -3 || rc == 0) << "cut at " << n << ": " << rc;
  }
  int valid = 0;
  for (size_t pos = 0; pos < good.size(); ++pos) {
    std::vector<uint8_t> image = good;
    for (int v = 0; v < 256; ++v) {
      if (v == good[pos]) continue;
      image[pos] = static_cast<uint8_t>(v);
      int32_t rc = check(image);
      ASSERT_TRUE(rc == -2 || rc == -3 || rc == 0) << "byte " << pos << " = " << v << ": " << rc;
      valid += rc == 0;
    }
  }
  // Most changes hit bytes that the reader does not check (labels, texts).
  EXPECT_GT(valid, 0);
}

TEST(FsmMutation, HandAssembledFile) {
  ASSERT_EQ(kHandFile.size(), 306u);
  mutate_all(kHandFile);
}

TEST(FsmMutation, WriterBuiltFile) {
  std::vector<uint8_t> good = small_file();
  EXPECT_LT(good.size(), 400u);
  mutate_all(good);
}

}  // namespace
}  // namespace vorlane
