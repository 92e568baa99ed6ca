// The FSM: one loaded transducer file (format in fst_format.h), and its
// reader.
//
// The reader loads the table area and the transition area whole and checks,
// before anything else reads them, every offset, count, index and length the
// library uses: a file that fails is refused with -2 ("damaged"), a file cut
// short with -3, one that cannot be opened with -1. Everything the library
// reads afterwards is inside the loaded areas, so the walks and the coding
// functions trust the positions stored here. Multi-byte values are read from
// the areas through big-endian accessors; nothing is converted in place.
//
// An FSM is read-only once built (its lookup memo aside, which locks);
// any number of threads may use it at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "linguistics/fst/fst_format.h"
#include "linguistics/fst/lookup_memo.h"

namespace vorlane {

// First word of every object the library hands out, so that an object of the
// wrong kind is told apart (-5) instead of being read as another.
inline constexpr uint32_t kFsmMagic = 0x46534d31;     // "FSM1"
inline constexpr uint32_t kHeaderMagic = 0x46534831;  // "FSH1"

// The header object of fst_read_header: the 92 header bytes as in the file.
struct FstHeaderObject {
  uint32_t magic = kHeaderMagic;
  uint8_t bytes[kFstHeaderSize] = {};
};

// One net descriptor. Only the INSTR label, the epsilon bound, the initial
// flag register and the start location are read by the walks; the rest is
// carried as the file has it.
struct FstNet {
  uint8_t flags = 0;          // 0x80, 0x40, 0x20 from net flags 8, 4, 16
  uint8_t byte1 = 0;
  uint8_t instr_label = 0;
  uint8_t epsilon_bound = 0;
  uint16_t byte6 = 0;
  uint16_t initial_flags = 0;
  uint32_t start = 0;         // location, inside the transition area
  uint32_t offset2 = 0;       // carried offsets (file positions, unchecked)
  uint32_t offset4 = 0;
  uint32_t offset14 = 0;
  uint8_t file_bytes[kFstDescriptorSize] = {};
};

// One class record; positions are table-area positions (file offset - 92),
// all checked at load.
struct FstClass {
  uint16_t name_index = 0;
  uint32_t symbols = 0;        // position of the symbol list
  uint16_t symbol_count = 0;   // 0 when the file's list is unusable
  uint32_t member_names = 0;   // position of member-count name indices
  uint32_t member_codes = 0;   // position of member-count symbol codes
  uint16_t member_count = 0;
};

// A tag-table slot; an empty slot has a null name.
struct FstTagSlot {
  uint16_t code = 0;
  uint16_t length = 0;
  const char* name = nullptr;
};

inline constexpr int kTagSlotsByCode = 1024;
inline constexpr int kTagSlotsByName = 1009;

struct FSM {
  uint32_t magic = kFsmMagic;
  uint8_t header[kFstHeaderSize] = {};

  // Header values the library reads.
  uint8_t esc = 0;
  uint8_t esc_step = 1;
  uint8_t alphabase = 0;
  uint8_t short_op = 0, medium_op = 0, long_op = 0;
  uint8_t table_label = 0, nid_label = 0, eps_label = 0;
  uint8_t format_flags = 0, coding_flags = 0;
  uint8_t pointer_width = 3;

  // Table area (file positions 92 up to the transition-area start).
  std::unique_ptr<uint8_t[]> table;
  uint32_t table_length = 0;
  // Transition area.
  std::unique_ptr<uint8_t[]> trans;
  uint32_t trans_length = 0;

  // Pointer tables: positions in the table area and the number of whole
  // entries that lie inside it (0 when the table is unusable).
  uint32_t short_table = 0, short_count = 0;
  uint32_t medium_table = 0, medium_count = 0;

  std::unique_ptr<FstNet[]> nets;
  uint32_t net_count = 0;

  uint32_t char_table = 0;        // position of the character table
  uint16_t char_table_count = 0;
  uint32_t function_table = 0;    // position of the function table
  uint32_t names = 0;             // position of the names area
  uint32_t names_size = 0;        // its size in bytes
  uint32_t info = 0;              // position of the info text's length byte

  // First alphabet record: the character map.
  uint32_t char_map = 0;
  uint8_t char_low = 1, char_high = 0;  // empty when high < low
  bool wide_map = false;

  std::unique_ptr<FstClass[]> classes;
  uint32_t class_count = 0;
  int32_t tagmode = -1;           // index of the class TAGMODE, -1 without it

  // Tag tables (absent without TAGMODE) and the storage of their names.
  std::unique_ptr<FstTagSlot[]> tags_by_code;
  std::unique_ptr<FstTagSlot[]> tags_by_name;
  std::unique_ptr<char[]> tag_names;

  // Special symbols of the class "*DIACRITICS*"; 1 stands for no symbol.
  uint8_t tagsep = 0;
  uint8_t end_symbol = 1;
  uint8_t acccap = 1;
  uint8_t tb = 1;
  uint8_t eof = 1;
  uint8_t eof_esc = 0;

  // The walks' results of fst_lookup by word and mode, shared by every thread
  // that uses the FSM (absent when it could not be made).
  std::unique_ptr<LookupMemo> memo;

  const uint8_t* at(uint32_t table_position) const { return table.get() + table_position; }
};

// The reader. Both return the object or an error handle of -1, -2 or -3.
void* fst_read(const char* path);
void* fst_read_header(const char* path);
// Builds an FSM from a file image in memory, with the same checks and codes
// as fst_read (used to test every damaged variant of a file quickly).
void* fst_read_memory(const uint8_t* data, size_t size);
void fst_free(FSM* fsm);

// The FSM behind an object pointer: 0 and the FSM, or -28 for null, the code
// of an error handle, -5 for an object that is not an FSM.
int32_t fst_check(const void* object, const FSM** fsm);

// The net serving function f, or 255 when the file has none (f 0, f above the
// table's highest number, a byte of 255, or a net index past the nets).
uint8_t fst_function(int32_t f, const FSM* fsm);

}  // namespace vorlane
