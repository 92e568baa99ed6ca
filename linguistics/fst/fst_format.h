// The lexical transducer file: the one format for every network resource
// (tokenizer ".tok", stemmer ".is"/".ds", class lexicon and guesser ".clg",
// phrase grouper ".npr").
//
// All multi-byte numbers are big-endian. The file is read through the
// accessors below and never converted in place, so a structure that two
// classes share is read the same way by both.
//
// Layout: the 92-byte header, the table area, the transition area.
//
// An "offset" in the header or the table area is a file position below 65,536
// that lies inside the table area (file positions 92 up to the transition-area
// start). A counted list at offset x is an array of 16-bit words beginning at
// x whose element count is the 16-bit word at x - 2. A "location" is a 32-bit
// byte position inside the transition area.
//
// Header (92 bytes; fields not listed are reserved and only carried):
//   3   1  table-area start; must be 92
//   4   1  file type; 1 for a lexical transducer
//   6   1  offset of the info text: a length byte and that many bytes; the
//          version text follows it
//   7   1  language number
//   8   4  header word (only reported)
//   12  2  offset of the short-pointer table
//   14  2  offset of the medium-pointer table
//   18  2  transition-area start (file position); also the table area's end
//   20  2  offset of the alphabet records
//   23  1  ESC byte: the filler symbol of coded strings
//   24  1  first short-pointer opcode
//   25  1  first medium-pointer opcode
//   26  1  first long-pointer opcode
//   27  1  alphabase: the smallest label byte
//   30  2  offset of the class list (a counted list of class-record offsets)
//   34  1  format flags: 1 = long pointers carry padding and net descriptors a
//          second offset; 2 = 16-bit character map entries
//   35  1  TABLELABEL
//   42  2  offset of the net offset list (one 2-byte offset per net)
//   46  1  ESC step: symbol numbers added by one ESC byte (never 0)
//   47  1  number of nets
//   50  1  property byte (only reported)
//   51  1  coding flags: 0x80 label byte before its ESC bytes, 0x40 tables
//          preceded by their size byte, 0x20 tables preceded by an offset list
//   52  1  EPS label (named by the net dump only)
//   56  2  offset of the character table (a counted list)
//   58  1  pointer width: 2 = 2-byte pointer-table entries, else 3
//   62  2  offset of the function table
//   68  4  transition-area length
//   72  2  second-level offset A (carried, unused)
//   74  2  second-level offset B (carried, unused)
//   82  1  number of alphabet records (at least 1)
//   86  1  NID label
//   90  2  offset of the names area
//
// Table-area structures:
//   names area: a 16-bit size in bytes counted from the size word itself, then
//     the names; a name is a 16-bit length n and n 16-bit units whose low bytes
//     are its characters; a name index counts 16-bit units from the size word.
//   class record (10 bytes): name index; offset of the symbol list (a counted
//     list; for the class TAGMODE it maps a symbol number to a name index);
//     offset of the member-name list (name indices); member count; offset of
//     the member-code list (16-bit symbol codes).
//   symbol code: high byte a label byte, low bits the number of ESC bytes that
//     complete the symbol in coded strings.
//   function table: byte 0 the highest function number N, byte f (1..N) the
//     net serving function f or 255.
//   net descriptor (36 bytes): byte 1, 16-bit words at 2 and 4, byte 6, byte 7
//     (net flags) and the word at 14 are carried only; 8 (4 bytes) start
//     location; 21 epsilon bound (labels below it are diacritics); 32 INSTR
//     label; 34 (2 bytes) initial flag register.
//   alphabet record (16 bytes): byte 1 the highest character of the character
//     map, byte 5 the lowest, 16-bit word 6 an element count, 16-bit word 8 the
//     offset of the character map (first record). Only the first is used.
//   character map: one entry per character from the lowest to the highest;
//     8-bit entries (label byte's upper six bits in bits 7-2, ESC count in bits
//     1-0) or, with format flag 2, 16-bit entries (bits 15-10 and 9-0); 0 means
//     not in the alphabet.
//   character table: one 16-bit word per symbol number, low byte the character.
//   pointer tables: entries of pointer-width bytes, each a location.
//
// Transition area: a byte below alphabase ends a branch: 0 (a state with no
// further arcs), a short pointer (1 byte), a medium pointer (2 bytes: opcode,
// k) or a long pointer (3 bytes: opcode, h, l; with format flag 1 padded to
// 4, 6 or 8 bytes). A byte from alphabase up is an arc: bits 7-2 the label,
// bit 1 "more" (another arc of the state follows this arc's branch), bit 0
// "final" (the state the arc leads to is final).
//
// A state's arcs lie in ascending label order, depth first: each arc byte is
// followed by the first arc of the state it leads to (or a pointer to it, or
// 0 when that state has no arcs); an arc with the more bit is followed, after
// the end of its branch, by the state's next arc. A branch's end is found by
// counting open branches: 1 after the arc byte, +1 for each label byte with
// the more bit, -1 for each 0 or pointer. A net starts with one arc byte
// whose final bit tells whether the start state is final.
//
// Special labels: labels below the net's epsilon bound are diacritics (they
// consume no input); INSTR is followed by a flag operand arc (operand byte -
// alphabase = feature << 4 | setting << 2); NID after a symbol arc x starts
// the branch of x's non-identity pairs; TABLELABEL introduces a table: its
// first entry lies after the arc (or at its pointer's target), the entry of
// label c at first + (c - first entry's label), entries 4 bytes apart, each
// an arc byte followed by the state after it. With coding flag 0x40 the byte
// before the first entry is the largest label distance; with 0x20 the
// distance is looked up in an offset list read backwards from there. Arcs
// after a TABLELABEL arc with the more bit are exceptions that replace the
// table entries with their labels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane {

inline constexpr size_t kFstHeaderSize = 92;

// Header field positions.
enum FstHeaderField : size_t {
  kHdrTableStart = 3,
  kHdrFileType = 4,
  kHdrInfoOffset = 6,
  kHdrLanguage = 7,
  kHdrWord = 8,
  kHdrShortTable = 12,
  kHdrMediumTable = 14,
  kHdrTransStart = 18,
  kHdrAlphabet = 20,
  kHdrEsc = 23,
  kHdrShortOp = 24,
  kHdrMediumOp = 25,
  kHdrLongOp = 26,
  kHdrAlphabase = 27,
  kHdrClassList = 30,
  kHdrFormatFlags = 34,
  kHdrTableLabel = 35,
  kHdrNetList = 42,
  kHdrEscStep = 46,
  kHdrNetCount = 47,
  kHdrProperty = 50,
  kHdrCodingFlags = 51,
  kHdrEpsLabel = 52,
  kHdrCharTable = 56,
  kHdrPointerWidth = 58,
  kHdrFunctionTable = 62,
  kHdrTransLength = 68,
  kHdrOffsetA = 72,
  kHdrOffsetB = 74,
  kHdrAlphabetCount = 82,
  kHdrNidLabel = 86,
  kHdrNames = 90,
};

inline constexpr uint8_t kFstFormatLongPadding = 1;
inline constexpr uint8_t kFstFormatWideMap = 2;
inline constexpr uint8_t kFstCodingLabelFirst = 0x80;
inline constexpr uint8_t kFstCodingTableSize = 0x40;
inline constexpr uint8_t kFstCodingTableOffsets = 0x20;

inline constexpr size_t kFstDescriptorSize = 36;
inline constexpr size_t kFstClassRecordSize = 10;
inline constexpr size_t kFstAlphabetRecordSize = 16;

// Arc byte bits.
inline constexpr uint8_t kArcMore = 2;
inline constexpr uint8_t kArcFinal = 1;
inline constexpr uint8_t kArcLabelMask = 0xFC;

inline uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void put_be16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void put_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace vorlane
