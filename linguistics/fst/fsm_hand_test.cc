// A transducer file assembled by hand, byte by byte, so that the reader is
// checked against the format itself and not only against the writer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "linguistics/fst/coding.h"
#include "linguistics/fst/fsm.h"
#include "linguistics/testing/fsm_hand_file.h"
#include "linguistics/fst/fst_interface.h"
#include "linguistics/fst/symbol_classes.h"

namespace vorlane {

// 306 bytes: header 0..91, table area 92..300, transition area 301..305.
const std::vector<uint8_t> kHandFile = {
    // ---- header ----
    0x00, 0x00, 0x00,        // 0-2 reserved
    0x5C,                    // 3 table-area start: 92
    0x01,                    // 4 file type: lexical transducer
    0x00,                    // 5 reserved
    0x5C,                    // 6 info text at 92
    0x07,                    // 7 language 7
    0x12, 0x34, 0x56, 0x78,  // 8 header word 0x12345678
    0x01, 0x2A,              // 12 short-pointer table at 298
    0x01, 0x2D,              // 14 medium-pointer table at 301 (no entries)
    0x00, 0x00,              // 16 reserved
    0x01, 0x2D,              // 18 transition area starts at 301
    0x00, 0xEF,              // 20 alphabet records at 239
    0x00,                    // 22 reserved
    0x94,                    // 23 ESC byte
    0x01,                    // 24 first short-pointer opcode
    0x40,                    // 25 first medium-pointer opcode
    0x60,                    // 26 first long-pointer opcode
    0x80,                    // 27 alphabase
    0x00, 0x00,              // 28 reserved
    0x00, 0xCF,              // 30 class list at 207
    0x00, 0x00,              // 32 reserved
    0x00,                    // 34 format flags: 8-bit map, plain long pointers
    0x8C,                    // 35 TABLELABEL
    0x00, 0x00, 0x00, 0x00,  // 36 reserved
    0x00, 0x00,              // 40 reserved
    0x01, 0x28,              // 42 net offset list at 296
    0x00, 0x00,              // 44 reserved
    0x01,                    // 46 ESC step 1
    0x01,                    // 47 one net
    0x00, 0x00,              // 48 reserved
    0x2A,                    // 50 property byte
    0x80,                    // 51 coding flags: label byte before its ESC bytes
    0x80,                    // 52 EPS label
    0x00, 0x00, 0x00,        // 53-55 reserved
    0x00, 0xD5,              // 56 character table at 213
    0x03,                    // 58 pointer width 3
    0x00, 0x00, 0x00,        // 59-61 reserved
    0x01, 0x02,              // 62 function table at 258
    0x00, 0x00, 0x00, 0x00,  // 64 reserved
    0x00, 0x00, 0x00, 0x05,  // 68 transition-area length 5
    0x00, 0x00,              // 72 offset A
    0x00, 0x00,              // 74 offset B
    0x00, 0x00, 0x00, 0x00,  // 76-79 reserved
    0x00, 0x00,              // 80 reserved
    0x01,                    // 82 one alphabet record
    0x00, 0x00, 0x00,        // 83-85 reserved
    0x90,                    // 86 NID label
    0x00, 0x00, 0x00,        // 87-89 reserved
    0x00, 0x63,              // 90 names area at 99
    // ---- table area ----
    0x02, 'h', 'i',          // 92 info text "hi"
    '1', '.', '5', 0x00,     // 95 version text "1.5"
    0x00, 0x36,              // 99 names area: 54 bytes
    0x00, 0x02, 0x00, 'T', 0x00, 'B',  // 101 name 1: "TB"
    0x00, 0x01, 0x00, 'N',             // 107 name 4: "N"
    0x00, 0x07, 0x00, 'T', 0x00, 'A', 0x00, 'G', 0x00, 'M', 0x00, 'O', 0x00, 'D', 0x00, 'E',  // 111 name 6
    0x00, 0x0C, 0x00, '*', 0x00, 'D', 0x00, 'I', 0x00, 'A', 0x00, 'C', 0x00, 'R', 0x00, 'I',  // 127 name 14
    0x00, 'T', 0x00, 'I', 0x00, 'C', 0x00, 'S', 0x00, '*',
    0x00, 0x01,              // 153 "*DIACRITICS*" member names: "TB"
    0x9C, 0x00,              // 155 member codes: label 0x9C, no ESC
    0x00, 0x00,              // 157 its symbol list (at 159): empty
    0x00, 0x04,              // 159 TAGMODE member names: "N"
    0xA4, 0x00,              // 161 member codes: label 0xA4 (symbol 9)
    0x00, 0x0A,              // 163 TAGMODE symbol list (at 165): 10 entries
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 165 symbols 0-4
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04,  // 175 symbols 5-9: 9 -> "N"
    0x00, 0x0E, 0x00, 0x9F, 0x00, 0x99, 0x00, 0x01, 0x00, 0x9B,  // 185 class record "*DIACRITICS*"
    0x00, 0x06, 0x00, 0xA5, 0x00, 0x9F, 0x00, 0x01, 0x00, 0xA1,  // 195 class record TAGMODE
    0x00, 0x02,              // 205 class list: 2 classes
    0x00, 0xB9, 0x00, 0xC3,  // 207 at 185 and 195
    0x00, 0x0D,              // 211 character table: 13 entries
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 213 symbols 0-4
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 223 symbols 5-9
    0x00, 'a', 0x00, 'b', 0x00, 'c',                             // 233 symbols 10-12
    0x00, 0x63, 0x00, 0x00, 0x00, 0x61,  // 239 alphabet record: highest 'c', lowest 'a'
    0x00, 0x03, 0x00, 0xFF,              // 245 3 entries, character map at 255
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 249 rest of the record
    0xA8, 0xAC, 0xAD,        // 255 map: a -> 0xA8, b -> 0xAC, c -> 0xAC + 1 ESC
    0x01, 0x00,              // 258 function table: highest 1; function 1 -> net 0
    // 260 net descriptor (36 bytes)
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 260 bytes 0-7
    0x00, 0x00, 0x00, 0x00,                          // 268 start location 0
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 272 bytes 12-20
    0x8C,                                            // 281 epsilon bound
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 282 bytes 22-31
    0x84,                                            // 292 INSTR label
    0x00,                                            // 293
    0x00, 0x03,                                      // 294 initial flag register 3
    0x01, 0x04,              // 296 net offset list: the net at 260
    0x00, 0x00, 0x01,        // 298 short-pointer entry 0: location 1
    // ---- transition area ----
    0x80,                    // 0 start byte, start state not final
    0xAA,                    // 1 arc 'a' (more), to a state with no arcs
    0x00,                    // 2 branch end
    0xAD,                    // 3 arc 'b', final, to ...
    0x01,                    // 4 short pointer 0: the start state's arcs
};

namespace {

TEST(FsmHandFile, LoadsToTheExpectedFields) {
  ASSERT_EQ(kHandFile.size(), 306u);
  void* object = fst_read_memory(kHandFile.data(), kHandFile.size());
  ASSERT_EQ(fst_status(object), 0);
  const FSM* fsm = static_cast<const FSM*>(object);

  EXPECT_EQ(fst_language(object), 7);
  EXPECT_EQ(fst_property(object), 0x2A);
  EXPECT_EQ(fst_header_word(object), 0x12345678u);
  EXPECT_EQ(fst_capabilities(object), 128u);
  EXPECT_EQ(fsm->esc, 0x94);
  EXPECT_EQ(fsm->esc_step, 1);
  EXPECT_EQ(fsm->alphabase, 0x80);
  EXPECT_EQ(fsm->short_op, 0x01);
  EXPECT_EQ(fsm->medium_op, 0x40);
  EXPECT_EQ(fsm->long_op, 0x60);
  EXPECT_EQ(fsm->table_label, 0x8C);
  EXPECT_EQ(fsm->nid_label, 0x90);
  EXPECT_EQ(fsm->eps_label, 0x80);
  EXPECT_EQ(fsm->coding_flags, 0x80);
  EXPECT_EQ(fsm->table_length, 209u);
  EXPECT_EQ(fsm->trans_length, 5u);
  EXPECT_EQ(fsm->trans[4], 0x01);
  EXPECT_EQ(fsm->short_table, 298u - 92);
  EXPECT_EQ(fsm->short_count, 1u);
  EXPECT_EQ(fsm->medium_count, 0u);
  EXPECT_EQ(fsm->char_low, 'a');
  EXPECT_EQ(fsm->char_high, 'c');
  EXPECT_EQ(fsm->char_table_count, 13);

  ASSERT_EQ(fsm->net_count, 1u);
  EXPECT_EQ(fsm->nets[0].start, 0u);
  EXPECT_EQ(fsm->nets[0].epsilon_bound, 0x8C);
  EXPECT_EQ(fsm->nets[0].instr_label, 0x84);
  EXPECT_EQ(fsm->nets[0].initial_flags, 3);
  EXPECT_EQ(fst_function(1, fsm), 0);
  EXPECT_EQ(fst_function(2, fsm), 255);

  // "*DIACRITICS*" has only "TB": the end symbol falls back to it.
  EXPECT_EQ(fsm->tagsep, 0);
  EXPECT_EQ(fsm->tb, 0x9C);
  EXPECT_EQ(fsm->end_symbol, 0x9C);
  EXPECT_EQ(fsm->acccap, 1);
  EXPECT_EQ(fsm->eof, 1);
  EXPECT_EQ(fsm->eof_esc, 0);

  EXPECT_EQ(fst_tag_count(fsm), 1);
  EXPECT_EQ(fst_tag_code(fsm, "N", 1), 0xA400);
  ASSERT_NE(fst_tag_name(fsm, 0xA400), nullptr);
  EXPECT_STREQ(fst_tag_name(fsm, 0xA400)->name, "N");
  EXPECT_EQ(fst_find_class(fsm, "TAGMODE", 7), 1);

  char text[32];
  EXPECT_EQ(fst_info(text, sizeof text, object), 0);
  EXPECT_STREQ(text, "hi");
  EXPECT_EQ(fst_version(text, sizeof text, object), 0);
  EXPECT_STREQ(text, "1.5");

  // "abc": a, b, then c as b's label with one ESC byte after it, the end symbol.
  uint8_t coded[16];
  ASSERT_EQ(fst_encode("abc", 3, coded, sizeof coded, false, true, false, fsm), 5);
  const uint8_t expected[] = {0xA8, 0xAC, 0xAC, 0x94, 0x9C, 0x00};
  EXPECT_EQ(std::memcmp(coded, expected, sizeof expected), 0);
  EXPECT_EQ(fst_decode(coded, text, sizeof text, 0, true, fsm), 3);
  EXPECT_STREQ(text, "abc");
  fst_close(object);
}

}  // namespace
}  // namespace vorlane
