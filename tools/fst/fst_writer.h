// Writer of lexical transducer files (format in linguistics/fst/fst_format.h)
// from an in-memory description: header values, info and version texts,
// character map and table, symbol classes, function table, and nets given as
// states and arcs.
//
// Conventions this writer fixes where the format leaves a choice:
//
// Label plan (FstAlphabet, fst_alphabet.h, applies it; a FileDesc may set
// any other plan by hand). alphabase 0x80, so labels are 0x80..0xFC:
//   0x80 EPS, 0x84 INSTR, 0x88 a plain diacritic; the epsilon bound of every
//   net is 0x8C, so these three consume no input;
//   0x8C TABLELABEL, 0x90 NID, 0x94 the ESC byte;
//   0x98 TAGSEP, 0x9C the end symbol (class "*DIACRITICS*" member "TB"),
//   0xA0 EOF; labels 0xA4..0xFC carry characters and tags. The ESC step is
//   23 (the number of those labels), so symbol numbers 9, 10, ... are
//   assigned in order, the label cycling through 0xA4..0xFC and one more ESC
//   byte for every full cycle. Flag operands after INSTR are 0x80 + (feature
//   << 4) + (setting << 2).
// Opcodes below alphabase: 0 ends a branch; 0x01..0x1F short pointers (31
//   short-table entries); 0x20..0x2F medium pointers (16 x 256 entries);
//   0x30..0x7F long pointers (locations below 80 x 65,536). Pointer-table
//   entries are 3 bytes wide.
// Table area, in this order from file position 92: the info text (so its
//   one-byte offset is 92), the version text and a NUL; the names area (the
//   first name has index 1); each class's member names, member codes and
//   symbol list (the symbol list maps a symbol number to the member's name
//   index, 0 elsewhere); the class records; the class list; the character
//   table; the alphabet record and the character map; the function table
//   (highest function number first); the net descriptors and the net offset
//   list; the short and the medium pointer tables, holding only the entries
//   in use.
// Transition area: nets one after the other. A net begins with its start
//   byte (label alphabase, final bit for a final start state) followed by the
//   start state's arcs; states are laid out depth first, each arc followed by
//   the arcs of the state it leads to. A state with no arcs is a 0 byte. A
//   state met again (a shared subtree or a cycle) is reached by a pointer to
//   the location of its first arc, so a pointer never leads to a pointer or
//   to a 0. With out_of_line set only a state's last arc is followed by its
//   target inline; the others get a pointer and their targets are laid out
//   later, so that skipping to a state's next arc costs little. Pointer kinds
//   are chosen before the layout: the states with most arcs into them take
//   the short-table slots, the next ones the medium-table slots, every other
//   pointer is long; so the sizes are known in one pass, pointer-table
//   entries are filled in once every state is placed and long pointers to
//   states placed later are patched.
// Tables: a TABLELABEL arc is followed by a long pointer to its table, laid
//   out after the states: its size byte (the largest label distance), then
//   one 4-byte entry per label from the lowest to the highest of its arcs:
//   the arc byte (more bit on all but the last; final bit from the target)
//   and the target as a 0 (no arcs) or a pointer, padded with 0 to 3 bytes;
//   labels without an arc get a TABLELABEL filler entry. Files with tables
//   set coding flag 0x40. With table_offsets set, a table is instead an
//   offset list, its size byte and only the entries of its arcs: the byte at
//   (first entry - 1 - d / 4) holds the distance of the entry for label
//   distance d (0: no entry; for d / 4 = 0 that byte is the size byte, and d
//   = 0 is the first entry itself), and the file sets coding flags 0x40 and
//   0x20. Arcs after a TABLELABEL arc in a state are its
//   exceptions.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vorlane::fstw {

// An arc: a label byte (its two low bits 0) leading to a state. An arc with
// table >= 0 is a TABLELABEL arc leading to that table of the net.
struct Arc {
  uint8_t label = 0;
  int32_t target = 0;
  int32_t table = -1;
};

// A table: arcs in ascending label order, labels at or above alphabase.
struct Table {
  std::vector<Arc> entries;
};

struct State {
  bool final = false;
  std::vector<Arc> arcs;  // in ascending label order, as walks expect
};

// A net: states[0] is the start state.
struct Net {
  std::vector<State> states;
  std::vector<Table> tables;
  uint8_t epsilon_bound = 0x8C;
  uint8_t instr_label = 0x84;
  uint16_t initial_flags = 0;
};

struct Member {
  std::string name;
  uint16_t code = 0;  // label byte << 8 | ESC count
};

struct SymbolClass {
  std::string name;
  std::vector<Member> members;
};

struct FileDesc {
  uint8_t file_type = 1;
  uint8_t language = 0;
  uint32_t header_word = 0;
  uint8_t property = 0;
  uint8_t format_flags = 0;    // 2: 16-bit character map entries
  uint8_t coding_flags = 0x80;
  uint8_t alphabase = 0x80;
  uint8_t esc = 0x94;
  uint8_t esc_step = 23;
  uint8_t short_op = 0x01;
  uint8_t medium_op = 0x20;
  uint8_t long_op = 0x30;
  uint8_t table_label = 0x8C;
  uint8_t nid_label = 0x90;
  uint8_t eps_label = 0x80;
  uint8_t pointer_width = 3;
  std::string info = "vorlane test transducer";
  std::string version;  // bytes written right after the info text, then a NUL

  // Character map: entries for char_low..char_high (empty when high < low).
  uint8_t char_low = 1;
  uint8_t char_high = 0;
  std::vector<uint16_t> char_map;
  // Character table: one entry per symbol number.
  std::vector<uint16_t> char_table;

  std::map<int, uint8_t> functions;  // function number -> net index
  std::vector<SymbolClass> classes;
  std::vector<Net> nets;

  // Limits on the pointer-table slots the layout may use (-1: all that the
  // opcodes allow); 0 forces the longer kinds, to test them.
  int32_t short_slots = -1;
  int32_t medium_slots = -1;
  bool out_of_line = false;
  bool table_offsets = false;
};

// The file image, or an empty vector with the reason in *error.
std::vector<uint8_t> fst_write_image(const FileDesc& desc, std::string* error);
bool fst_write_file(const std::string& path, const FileDesc& desc, std::string* error);

// Symbol number of a code under desc's plan: (label - alphabase) / 4 +
// ESC count x ESC step.
uint32_t fst_symbol_number(const FileDesc& desc, uint16_t code);

}  // namespace vorlane::fstw
