#include "linguistics/fst/fsm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "linguistics/testing/fst_test_fixtures.h"
#include "linguistics/fst/symbol_classes.h"
#include "platform/testing/test_root.h"

namespace vorlane {
namespace {

using fst_test::FsmPtr;
using fst_test::load;
using fst_test::write_image;

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int32_t read_code(const std::vector<uint8_t>& image) {
  void* fsm = fst_read_memory(image.data(), image.size());
  int32_t rc = fst_status(fsm);
  if (rc == 0) fst_close(fsm);
  return rc;
}

// A file with two nets, several functions, every header value set and a
// class of its own beside "*DIACRITICS*" and TAGMODE.
fstw::FileDesc full_file_desc() {
  fstw::Alphabet a = fst_test::small_alphabet();
  fstw::FileDesc desc = fst_test::small_file_desc(a);
  desc.language = 9;
  desc.header_word = 0xCAFEF00D;
  desc.property = 0x5A;
  desc.info = "Test stemmer\r\nsecond line";
  desc.version = "\r\n\r\n4.2-b";
  desc.classes.push_back({"VOWELS", {{"a", a.char_code('a')}, {"e", a.char_code('e')}}});
  fstw::Net second = fst_test::trie_net({{0xA4}, {0xA8, 0xAC}});
  second.initial_flags = 0x0102;
  second.epsilon_bound = 0x88;
  second.instr_label = 0x80;
  desc.nets.push_back(second);
  desc.functions = {{1, 1}, {12, 0}, {27, 0}, {28, 1}, {60, 1}, {61, 0}, {62, 1}};
  return desc;
}

TEST(FsmRead, WriterBuiltFileReadsBackEveryField) {
  platform::TestRoot root;
  fstw::FileDesc desc = full_file_desc();
  std::string path = root.file("full.is");
  std::string error;
  ASSERT_TRUE(fstw::fst_write_file(path, desc, &error)) << error;

  void* object = fst_open(path.c_str());
  ASSERT_EQ(fst_status(object), 0);
  const FSM* fsm = static_cast<const FSM*>(object);
  EXPECT_EQ(fst_language(object), 9);
  EXPECT_EQ(fst_property(object), 0x5A);
  EXPECT_EQ(fst_header_word(object), 0xCAFEF00Du);
  EXPECT_EQ(fst_capabilities(object), 1u | 8 | 2 | 64 | 4 | 16 | 128 | 256);
  EXPECT_EQ(fsm->esc, fstw::kPlanEsc);
  EXPECT_EQ(fsm->esc_step, fstw::kPlanEscStep);
  EXPECT_EQ(fsm->alphabase, 0x80);
  EXPECT_EQ(fsm->table_label, fstw::kPlanTableLabel);
  EXPECT_EQ(fsm->nid_label, fstw::kPlanNid);
  EXPECT_EQ(fsm->eps_label, fstw::kPlanEps);
  EXPECT_EQ(fsm->coding_flags, 0x80);
  EXPECT_FALSE(fsm->wide_map);
  EXPECT_EQ(fsm->char_low, ' ');
  EXPECT_EQ(fsm->char_high, 'z');

  ASSERT_EQ(fsm->net_count, 2u);
  EXPECT_EQ(fsm->nets[0].start, 0u);
  EXPECT_EQ(fsm->nets[0].epsilon_bound, 0x8C);
  EXPECT_EQ(fsm->nets[0].instr_label, 0x84);
  EXPECT_EQ(fsm->nets[1].initial_flags, 0x0102);
  EXPECT_EQ(fsm->nets[1].epsilon_bound, 0x88);
  EXPECT_EQ(fsm->nets[1].instr_label, 0x80);
  EXPECT_GT(fsm->nets[1].start, 0u);
  EXPECT_LT(fsm->nets[1].start, fsm->trans_length);
  EXPECT_EQ(fsm->trans[fsm->nets[1].start] & 0xFC, 0x80);

  struct {
    int f;
    uint8_t net;
  } functions[] = {{1, 1}, {12, 0}, {27, 0}, {28, 1}, {60, 1}, {61, 0}, {62, 1}, {2, 255}, {63, 255}, {0, 255}};
  for (auto& c : functions) EXPECT_EQ(fst_function(c.f, fsm), c.net) << c.f;

  // Specials of the plan.
  EXPECT_EQ(fsm->tagsep, fstw::kPlanTagsep);
  EXPECT_EQ(fsm->tb, fstw::kPlanEnd);
  EXPECT_EQ(fsm->end_symbol, fstw::kPlanEnd);
  EXPECT_EQ(fsm->eof, fstw::kPlanEof);
  EXPECT_EQ(fsm->eof_esc, 0);
  EXPECT_EQ(fsm->acccap, 1);

  // Classes, members, names.
  int32_t vowels = fst_find_class(fsm, "VOWELS", 6);
  ASSERT_GE(vowels, 0);
  fstw::Alphabet a = fst_test::small_alphabet();
  EXPECT_EQ(fst_member_code(fsm, vowels, "e", 1), a.char_code('e'));
  EXPECT_EQ(fst_member_code(fsm, vowels, "i", 1), 0);
  EXPECT_EQ(fst_find_class(fsm, "VOWEL", 5), -1);
  char name[16];
  EXPECT_EQ(fst_symbol_name(fsm, fsm->classes[vowels].name_index, name, 7), 6);
  EXPECT_STREQ(name, "VOWELS");
  EXPECT_EQ(fst_symbol_name(fsm, fsm->classes[vowels].name_index, name, 6), -12);

  // Both tag tables.
  EXPECT_EQ(fst_tag_count(fsm), 4);
  for (const char* tag : {"N", "Sg", "Pl", "V"}) {
    uint16_t code = a.tag_code(tag);
    EXPECT_EQ(fst_tag_code(fsm, tag, std::strlen(tag)), code) << tag;
    ASSERT_NE(fst_tag_name(fsm, code), nullptr) << tag;
    EXPECT_STREQ(fst_tag_name(fsm, code)->name, tag);
  }
  EXPECT_EQ(fst_tag_code(fsm, "Adj", 3), 0);
  EXPECT_EQ(fst_tag_name(fsm, 0x1234), nullptr);

  char text[64];
  EXPECT_EQ(fst_info(text, sizeof text, object), 0);
  EXPECT_STREQ(text, "Test stemmer second line");
  EXPECT_EQ(fst_version(text, sizeof text, object), 0);
  EXPECT_STREQ(text, "4.2-b");

  void* header = fst_open_header(path.c_str());
  ASSERT_EQ(fst_status(header), 0);
  EXPECT_EQ(fst_compare_headers(header, object), 1);
  fst_close_header(header);
  fst_close(object);
}

TEST(FsmRead, SpecialSymbolDefaults) {
  struct Case {
    const char* what;
    std::vector<fstw::Member> members;  // of "*DIACRITICS*"; empty: no class
    uint8_t tagsep, end, tb, acccap, eof, eof_esc;
  } cases[] = {
      {"no class", {}, 0, 1, 1, 1, 1, 0},
      {"TB only", {{"TB", 0x9C00}}, 0, 0x9C, 0x9C, 1, 1, 0},
      {"EOS and TB", {{"TB", 0x9C00}, {"EOS", 0xB000}}, 0, 0xB0, 0x9C, 1, 1, 0},
      {"code 0 is absent", {{"*TAGSEP*", 0}, {"EOS", 0}, {"EOF", 0}}, 0, 1, 1, 1, 1, 0},
      {"all", {{"*TAGSEP*", 0x9800}, {"EOS", 0xB000}, {"TB", 0x9C00}, {"*ACCCAP*", 0xB400}, {"EOF", 0xA002}},
       0x98, 0xB0, 0x9C, 0xB4, 0xA0, 2},
  };
  for (const Case& c : cases) {
    fstw::Alphabet a = fst_test::small_alphabet();
    fstw::FileDesc desc = fst_test::small_file_desc(a);
    std::vector<fstw::SymbolClass> classes;
    for (auto& cls : desc.classes) {
      if (cls.name != "*DIACRITICS*") classes.push_back(cls);
    }
    if (!c.members.empty()) classes.push_back({"*DIACRITICS*", c.members});
    desc.classes = classes;
    FsmPtr fsm = load(write_image(desc));
    ASSERT_TRUE(fsm) << c.what;
    const FSM* f = fst_test::as_fsm(fsm);
    EXPECT_EQ(f->tagsep, c.tagsep) << c.what;
    EXPECT_EQ(f->end_symbol, c.end) << c.what;
    EXPECT_EQ(f->tb, c.tb) << c.what;
    EXPECT_EQ(f->acccap, c.acccap) << c.what;
    EXPECT_EQ(f->eof, c.eof) << c.what;
    EXPECT_EQ(f->eof_esc, c.eof_esc) << c.what;
  }
}

TEST(FsmRead, TagTablesKeepTheLaterEntryAndListInClassOrder) {
  fstw::Alphabet a = fst_test::small_alphabet();
  fstw::FileDesc desc = fst_test::small_file_desc(a);
  for (auto& cls : desc.classes) {
    if (cls.name == "TAGMODE") {
      cls.members = {{"N", 0xA801}, {"Sg", 0xAC01}, {"N", 0xB001}, {"Alt", 0xAC01}};
    }
  }
  FsmPtr fsm = load(write_image(desc));
  ASSERT_TRUE(fsm);
  const FSM* f = fst_test::as_fsm(fsm);
  EXPECT_EQ(fst_tag_code(f, "N", 1), 0xB001);           // the later code
  EXPECT_STREQ(fst_tag_name(f, 0xAC01)->name, "Alt");  // the later name
  EXPECT_STREQ(fst_tag_name(f, 0xA801)->name, "N");
  EXPECT_EQ(fst_tag_count(f), 4);

  uint16_t codes[4];
  char names[32];
  ASSERT_EQ(fst_tag_list(f, codes, 4, names, sizeof names), 4);
  EXPECT_EQ(std::string(names, 11), std::string("N\0Sg\0N\0Alt\0", 11));
  EXPECT_EQ(codes[0], 0xA801);
  EXPECT_EQ(codes[3], 0xAC01);
  EXPECT_EQ(fst_tag_list(f, codes, 3, names, sizeof names), -12);   // array too short
  EXPECT_EQ(fst_tag_list(f, codes, 4, names, 10), -12);             // "Alt" and its NUL need 11
  EXPECT_EQ(fst_tag_list(f, codes, 4, names, 11), 4);

  fstw::FileDesc bare = fst_test::small_file_desc(fstw::Alphabet());
  FsmPtr without = load(write_image(bare));
  ASSERT_TRUE(without);
  EXPECT_EQ(fst_tag_count(fst_test::as_fsm(without)), 0);
  EXPECT_EQ(fst_tag_list(fst_test::as_fsm(without), codes, 4, names, sizeof names), 0);
  EXPECT_EQ(fst_tag_code(fst_test::as_fsm(without), "N", 1), 0);
}

TEST(FsmRead, TagNameHashTakesBytesAsSigned) {
  // h = 0xFFFFFFE9 (-23); its top four bits fold back: 0x0FFFFFE9 ^ 0xF0.
  EXPECT_EQ(fst_tag_name_hash("\xE9", 1), 0x0FFFFF19u);
  EXPECT_EQ(fst_tag_name_hash("A", 1), 0x41u);
  EXPECT_EQ(fst_tag_name_hash("AB", 2), 0x41u * 16 + 0x42);
  EXPECT_EQ(fst_tag_name_hash("", 0), 0u);

  // Names with high bytes are found through the table built with that hash.
  fstw::Alphabet a;
  a.add_char('x');
  for (const char* t : {"\xE9t\xE9", "Na\xEFve", "\xFF\xFE\xFD\xFC\xFB\xFA\xF9\xF8"}) a.add_tag(t);
  FsmPtr fsm = load(write_image(fst_test::small_file_desc(a)));
  ASSERT_TRUE(fsm);
  for (const char* t : {"\xE9t\xE9", "Na\xEFve", "\xFF\xFE\xFD\xFC\xFB\xFA\xF9\xF8"}) {
    EXPECT_EQ(fst_tag_code(fst_test::as_fsm(fsm), t, std::strlen(t)), a.tag_code(t));
  }
}

TEST(FsmRead, FunctionNumbersOutsideTheTable) {
  fstw::FileDesc desc = fst_test::small_file_desc(fst_test::small_alphabet());
  desc.functions = {{12, 0}, {5, 7}};  // function 5 names a net the file lacks
  FsmPtr fsm = load(write_image(desc));
  ASSERT_TRUE(fsm);
  const FSM* f = fst_test::as_fsm(fsm);
  EXPECT_EQ(fst_function(12, f), 0);
  EXPECT_EQ(fst_function(13, f), 255);
  EXPECT_EQ(fst_function(0, f), 255);
  EXPECT_EQ(fst_function(-1, f), 255);
  EXPECT_EQ(fst_function(5, f), 255);
  EXPECT_EQ(fst_function(6, f), 255);
}

TEST(FsmRead, RefusedFiles) {
  std::vector<uint8_t> good = write_image(fst_test::small_file_desc(fst_test::small_alphabet()));
  ASSERT_EQ(read_code(good), 0);
  uint32_t trans_start = be16(good.data() + kHdrTransStart);
  auto with = [&](auto change) {
    std::vector<uint8_t> image = good;
    change(image);
    return image;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    int32_t code;
  } cases[] = {
      {"file type 2", with([](auto& i) { i[kHdrFileType] = 2; }), -2},
      {"50 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 50), -2},
      {"empty", {}, -2},
      {"transition area cut", std::vector<uint8_t>(good.begin(), good.end() - 1), -3},
      {"table area cut", std::vector<uint8_t>(good.begin(), good.begin() + trans_start - 1), -3},
      {"no alphabet record", with([](auto& i) { i[kHdrAlphabetCount] = 0; }), -2},
      {"table area not at 92", with([](auto& i) { i[kHdrTableStart] = 93; }), -2},
      {"transition start below 92", with([](auto& i) { put_be16(i.data() + kHdrTransStart, 91); }), -2},
      {"ESC step 0", with([](auto& i) { i[kHdrEscStep] = 0; }), -2},
      {"transition length beyond the file", with([](auto& i) { put_be32(i.data() + kHdrTransLength, 0x7FFFFFFF); }), -2},
      {"names area outside", with([](auto& i) { put_be16(i.data() + kHdrNames, 0xFFF0); }), -2},
      {"info text in the header", with([](auto& i) { i[kHdrInfoOffset] = 10; }), -2},
      {"class list outside", with([](auto& i) { put_be16(i.data() + kHdrClassList, 40); }), -2},
      {"character table outside", with([](auto& i) { put_be16(i.data() + kHdrCharTable, 0xFFFE); }), -2},
      {"function table outside", with([](auto& i) { put_be16(i.data() + kHdrFunctionTable, 0x8000); }), -2},
      {"alphabet outside", with([](auto& i) { put_be16(i.data() + kHdrAlphabet, 0x8000); }), -2},
      {"more nets than descriptors", with([](auto& i) { i[kHdrNetCount] = 200; }), -2},
  };
  for (const Case& c : cases) EXPECT_EQ(read_code(c.image), c.code) << c.what;
}

// Positions of the writer's layout, found through the header.
uint32_t first_class_record(const std::vector<uint8_t>& image) {
  uint32_t list = be16(image.data() + kHdrClassList);
  return be16(image.data() + list);
}

TEST(FsmRead, RefusedStructuresInsideTheTableArea) {
  std::vector<uint8_t> good = write_image(fst_test::small_file_desc(fst_test::small_alphabet()));
  uint32_t record = first_class_record(good);
  uint32_t net = be16(good.data() + be16(good.data() + kHdrNetList));
  uint32_t alphabet = be16(good.data() + kHdrAlphabet);
  auto with = [&](auto change) {
    std::vector<uint8_t> image = good;
    change(image.data());
    return image;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    int32_t code;
  } cases[] = {
      {"class name index past the names", with([&](uint8_t* i) { put_be16(i + record, 0x7FFF); }), -2},
      {"class name index 0", with([&](uint8_t* i) { put_be16(i + record, 0); }), -2},
      {"member count past the area", with([&](uint8_t* i) { put_be16(i + record + 6, 0x7FFF); }), -2},
      {"member-name list outside", with([&](uint8_t* i) { put_be16(i + record + 4, 3); }), -2},
      {"net start beyond the transition area", with([&](uint8_t* i) { put_be32(i + net + 8, 0x10000); }), -2},
      {"character map outside", with([&](uint8_t* i) { put_be16(i + alphabet + 8, 0xFF00); }), -2},
      {"character map longer than the area", with([&](uint8_t* i) { i[alphabet + 1] = 0xFF, i[alphabet + 5] = 0; }),
       -2},
  };
  for (const Case& c : cases) EXPECT_EQ(read_code(c.image), c.code) << c.what;

  // Fields that no operation reads never get a file refused.
  struct Lenient {
    const char* what;
    std::vector<uint8_t> image;
  } lenient[] = {
      {"descriptor offsets", with([&](uint8_t* i) {
         put_be16(i + net + 2, 0xFFFF), put_be16(i + net + 4, 0xFFFF), put_be16(i + net + 14, 0xFFFF);
         i[net + 1] = 0xFF, i[net + 6] = 0xFF, i[net + 7] = 0xFF;
       })},
      {"offsets A and B", with([&](uint8_t* i) {
         i[kHdrFormatFlags] |= 1;
         put_be16(i + kHdrOffsetA, 0xFFFF), put_be16(i + kHdrOffsetB, 3);
       })},
      {"more alphabet records than written", with([&](uint8_t* i) { i[kHdrAlphabetCount] = 200; })},
      {"symbol list outside", with([&](uint8_t* i) { put_be16(i + record + 2, 0xFFFF); })},
      {"pointer tables outside", with([&](uint8_t* i) {
         put_be16(i + kHdrShortTable, 0xFFFF), put_be16(i + kHdrMediumTable, 1);
       })},
      {"reserved header bytes", with([&](uint8_t* i) {
         for (size_t k : {0, 1, 2, 5, 16, 28, 36, 40, 44, 48, 60, 64, 76, 80, 84, 88}) i[k] = 0xEE;
       })},
  };
  for (const Lenient& c : lenient) EXPECT_EQ(read_code(c.image), 0) << c.what;
}

TEST(FsmRead, FilesThatCannotBeOpened) {
  platform::TestRoot root;
  EXPECT_EQ(fst_status(fst_open(root.file("missing.is").c_str())), -1);
  EXPECT_EQ(fst_status(fst_open(root.path().c_str())), -1);
  EXPECT_EQ(fst_status(fst_open(nullptr)), -28);
  EXPECT_EQ(fst_status(fst_open_header(nullptr)), -28);
  EXPECT_EQ(fst_status(fst_open_header(root.file("missing.is").c_str())), -1);

  std::vector<uint8_t> good = write_image(fst_test::small_file_desc(fst_test::small_alphabet()));
  std::vector<uint8_t> cut(good.begin(), good.end() - 3);
  write_bytes(root.file("cut.is"), cut);
  EXPECT_EQ(fst_status(fst_open(root.file("cut.is").c_str())), -3);
  // The header alone is sound.
  void* header = fst_open_header(root.file("cut.is").c_str());
  EXPECT_EQ(fst_status(header), 0);
  fst_close_header(header);

  write_bytes(root.file("short.is"), std::vector<uint8_t>(good.begin(), good.begin() + 50));
  EXPECT_EQ(fst_status(fst_open(root.file("short.is").c_str())), -2);
  EXPECT_EQ(fst_status(fst_open_header(root.file("short.is").c_str())), -2);
  good[kHdrFileType] = 2;
  write_bytes(root.file("type2.is"), good);
  EXPECT_EQ(fst_status(fst_open(root.file("type2.is").c_str())), -2);
  EXPECT_EQ(fst_status(fst_open_header(root.file("type2.is").c_str())), -2);
}

TEST(FsmRead, LargeAreasAreReadInPieces) {
  // A transition area above the 32 KiB piece size, many pointers of every kind.
  fstw::Alphabet a = fst_test::small_alphabet();
  fstw::FileDesc desc;
  a.apply(&desc);
  std::vector<std::vector<uint8_t>> words;
  uint32_t seed = 12345;
  auto next = [&seed]() { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int i = 0; i < 8000; ++i) {
    std::vector<uint8_t> w;
    for (uint32_t k = 0, n = 3 + next() % 6; k < n; ++k) {
      w.push_back(static_cast<uint8_t>(a.char_code(static_cast<uint8_t>('a' + next() % 26)) >> 8));
    }
    w.push_back(static_cast<uint8_t>(a.char_code('s') >> 8));
    words.push_back(w);
  }
  desc.nets.push_back(fst_test::trie_net(words));
  desc.functions[27] = 0;
  desc.short_slots = 10;
  desc.medium_slots = 20;
  platform::TestRoot root;
  ASSERT_TRUE(fstw::fst_write_file(root.file("big.is"), desc, nullptr));
  void* object = fst_open(root.file("big.is").c_str());
  ASSERT_EQ(fst_status(object), 0);
  const FSM* fsm = static_cast<const FSM*>(object);
  EXPECT_GT(fsm->trans_length, 32768u);
  // Table capacity runs to the end of the table area (the medium table follows).
  EXPECT_GE(fsm->short_count, 10u);
  EXPECT_GE(fsm->medium_count, 20u);
  EXPECT_EQ(std::filesystem::file_size(root.file("big.is")), kFstHeaderSize + fsm->table_length + fsm->trans_length);
  fst_close(object);
}

}  // namespace
}  // namespace vorlane
