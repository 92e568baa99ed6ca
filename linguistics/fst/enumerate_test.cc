#include "linguistics/fst/enumerate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "linguistics/fst/coding.h"
#include "linguistics/testing/fst_test_fixtures.h"
#include "linguistics/fst/net_dump.h"
#include "linguistics/fst/symbol_classes.h"
#include "tools/fst/fst_pairs.h"

namespace vorlane {
namespace {

using fst_test::FsmPtr;

FsmPtr class_net(const std::vector<fstw::WordClasses>& words, int table_threshold) {
  fstw::PairOptions options;
  options.functions = {60, 61};
  options.table_threshold = table_threshold;
  fstw::FileDesc desc;
  std::string error;
  EXPECT_TRUE(fstw::compile_classes(words, options, &desc, &error)) << error;
  return fst_test::load(fst_test::write_image(desc));
}

int32_t enumerate(const FsmPtr& fsm, const std::string& word, std::vector<uint16_t>* numbers, int32_t length = 64,
                  bool tagsep = true) {
  const FSM* f = fst_test::as_fsm(fsm);
  uint8_t coded[256];
  EXPECT_GE(fst_encode(word.c_str(), static_cast<int32_t>(word.size()), coded, sizeof coded, false, false, tagsep, f),
            0);
  FstFrame frames[32];
  numbers->assign(static_cast<size_t>(length), 0);
  int32_t n = apply_fst_enum(coded, numbers->data(), length, 0, frames, 32, f);
  if (n >= 0) numbers->resize(static_cast<size_t>(n));
  return n;
}

uint16_t class_number(const FSM* fsm, const std::string& tag) {
  uint16_t code = fst_tag_code(fsm, tag.c_str(), tag.size());
  return static_cast<uint16_t>((code >> 10) + 64 * (code & 0xFF));
}

TEST(FstEnumerate, ReturnsTheClassesOfEachWord) {
  std::mt19937 rng(7);
  std::vector<std::string> tags;
  for (int t = 0; t < 70; ++t) tags.push_back("C" + std::to_string(t));  // codes up to 3 ESC bytes
  for (int round = 0; round < 20; ++round) {
    std::vector<fstw::WordClasses> words;
    std::set<std::string> seen;
    for (int w = 0; w < 12; ++w) {
      std::string word;
      for (int k = 0, n = 1 + static_cast<int>(rng() % 5); k < n; ++k) word += static_cast<char>('a' + rng() % 6);
      if (!seen.insert(word).second) continue;
      fstw::WordClasses entry{word, {}};
      for (int c = 0, n = 1 + static_cast<int>(rng() % 4); c < n; ++c) entry.classes.push_back(tags[rng() % 70]);
      words.push_back(entry);
    }
    for (int threshold : {0, 2}) {
      FsmPtr fsm = class_net(words, threshold);
      ASSERT_TRUE(fsm);
      for (const auto& w : words) {
        std::set<uint16_t> expected;
        for (const auto& c : w.classes) expected.insert(class_number(fst_test::as_fsm(fsm), c));
        std::vector<uint16_t> numbers;
        ASSERT_GE(enumerate(fsm, w.word, &numbers), 0) << w.word;
        EXPECT_EQ(std::set<uint16_t>(numbers.begin(), numbers.end()), expected) << w.word << " tables " << threshold;
      }
    }
  }
}

TEST(FstEnumerate, Limits) {
  FsmPtr fsm = class_net({{"ab", {"X", "Y"}}, {"abc", {"Z"}}}, 0);
  std::vector<uint16_t> numbers;
  EXPECT_EQ(enumerate(fsm, "ab", &numbers, 1), -12);
  EXPECT_EQ(enumerate(fsm, "ab", &numbers, 2), 2);
  EXPECT_EQ(enumerate(fsm, "ab", &numbers, 64, false), -16);  // no TAGSEP in the input
  EXPECT_EQ(enumerate(fsm, "b", &numbers), 0);
  FstFrame frames[2];
  uint16_t out[4];
  uint8_t empty[1] = {0};
  EXPECT_EQ(apply_fst_enum(empty, out, 4, 3, frames, 2, fst_test::as_fsm(fsm)), -11);
}

TEST(FstEnumerate, DecodeSymbols) {
  FsmPtr fsm = class_net({{"a", {"X"}}}, 0);
  const FSM* f = fst_test::as_fsm(fsm);
  uint8_t esc = f->esc;
  uint16_t out[4];
  const uint8_t two_esc[] = {0xA8, esc, esc, 0};
  EXPECT_EQ(fst_decode_symbols(two_esc, out, 4, f), 1);
  EXPECT_EQ(out[0], (0xA8 >> 2) + 128);
  const uint8_t three[] = {0xA8, 0xAC, esc, 0xB0, 0};
  EXPECT_EQ(fst_decode_symbols(three, out, 4, f), 3);
  EXPECT_EQ(out[1], (0xAC >> 2) + 64);
  EXPECT_EQ(fst_decode_symbols(three, out, 3, f), -12);  // the last symbol fills the array
  EXPECT_EQ(fst_decode_symbols(three, out, 2, f), -12);
  const uint8_t none[] = {0};
  EXPECT_EQ(fst_decode_symbols(none, out, 0, f), 0);
}

std::string captured(const std::function<void(std::FILE*)>& print) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* f = open_memstream(&text, &size);
  print(f);
  std::fclose(f);
  std::string s(text, size);
  std::free(text);
  return s;
}

TEST(FstDump, ArcsPathsAndCodedStrings) {
  fstw::Alphabet a = fst_test::small_alphabet();
  fstw::Net net;
  net.states.resize(5);
  net.states[0].arcs = {{fstw::kPlanInstr, 1}, {static_cast<uint8_t>(a.char_code('c') >> 8), 4}};
  net.states[1].arcs = {{fstw::plan_operand(2, 3), 2}};
  net.states[2].arcs = {{fstw::kPlanDiacritic, 3}};
  net.states[3].arcs = {{fstw::kPlanTagsep, 4}};
  net.states[4].final = true;
  fstw::FileDesc desc;
  a.apply(&desc);
  desc.nets.push_back(net);
  FsmPtr fsm = fst_test::load(fst_test::write_image(desc));
  const FSM* f = fst_test::as_fsm(fsm);
  // The start byte, INSTR (more), its operand, a diacritic, TAGSEP (final), the end.
  EXPECT_EQ(captured([&](std::FILE* out) { fst_dump_path_to(out, 0, 10, 0, f); }),
            " EPS INSTR* U.2.3 DIACRITIC(136) TAGSEP$ FAILPTR\n");
  EXPECT_EQ(captured([&](std::FILE* out) { fst_dump_path_to(out, 0, 2, 0, f); }), " EPS INSTR* U.2.3\n");
  EXPECT_EQ(captured([&](std::FILE* out) { EXPECT_EQ(fst_dump_arc_to(out, fstw::kPlanInstr, false, 0, f), 1); }),
            "INSTR");
  const uint8_t coded[] = {static_cast<uint8_t>(a.char_code('d') >> 8), fstw::kPlanTagsep, fstw::kPlanEsc,
                           fstw::kPlanEnd, 0};
  EXPECT_EQ(captured([&](std::FILE* out) { fst_dump_coded_to(out, coded, 10, 0, f); }), "d TAGSEP ESC TB BUFTERM\n");
  EXPECT_EQ(captured([&](std::FILE* out) { fst_dump_coded_to(out, coded, 2, 0, f); }), "d TAGSEP ...\n");
  EXPECT_EQ(captured([&](std::FILE* out) { fst_dump_arc_to(out, 0x8C | 3, false, 0, f); }), "TABLELABEL*$");
  EXPECT_EQ(captured([&](std::FILE* out) { fst_dump_arc_to(out, 0x90, false, 0, f); }), "NID");
}

}  // namespace
}  // namespace vorlane
