// Mapping-table files of CharMapper and the layouts of the three tables.
//
// Table file (raw bytes, big-endian):
//   offset 0   u32  count: the number of values that follow
//   offset 4   u16 x count  the values
// A file shorter than 4 bytes or holding fewer values than its count is
// refused; bytes after the last value are ignored. In memory the values are
// kept in host order with their count: an index at or past the count is "not
// convertible".
//
// Layouts (r = row byte, c = column byte, each 0x21-0x7E; -1: no entry):
//   JIS X 0208 into Unicode (encoding 15, F0), 6,575 entries, 0 = no
//   character: rows 0x21-0x22 at r*94 + c - 3135; row 0x28 columns 0x21-0x40
//   at r*94 + c - 3605; rows 0x30-0x4F (row 0x4F up to column 0x53) at
//   r*94 + c - 4325; rows 0x50-0x74 (row 0x74 up to column 0x26) at
//   r*94 + c - 4368. Rows 0x23-0x27 are computed, not tabled.
//   JIS X 0212 into Unicode (encoding 16, F0), 6,056 entries, 0 = no
//   character: row 0x22 columns 0x2F-0x39 at c - 0x2F, 0x42-0x44 at c - 0x37,
//   0x6B-0x71 at c - 0x5D; row 0x26 columns 0x61-0x7C at c - 0x4C; row 0x29
//   columns 0x21-0x30 at c + 16, 0x41-0x50 at c; rows 0x2A-0x2B columns
//   0x21-0x77 at r*87 + c - 3606; rows 0x30-0x6D (row 0x6D up to column 0x63)
//   at r*94 + c - 4290. Row 0x27 is computed.
//   Unicode into Shift-JIS (encoding 19, F1), 20,372 entries, each the
//   two-byte Shift-JIS code (high byte first when written), 0 = none; index
//   by Unicode ranges, see sjis_out_index.
#pragma once

#include <cstdint>

namespace vorlane::charmap {

inline constexpr int kSlotCount = 46;
inline constexpr long kJis0208Entries = 6575;
inline constexpr long kJis0212Entries = 6056;
inline constexpr long kSjisOutEntries = 20372;

// Index of a JIS X 0208 pair in the encoding-15 table, or -1.
inline long jis0208_index(int r, int c) {
  if (c < 0x21 || c > 0x7E) return -1;
  if (r == 0x21 || r == 0x22) return r * 94 + c - 3135;
  if (r == 0x28) return c <= 0x40 ? r * 94 + c - 3605 : -1;
  if (r >= 0x30 && r <= 0x4F) return (r < 0x4F || c <= 0x53) ? r * 94 + c - 4325 : -1;
  if (r >= 0x50 && r <= 0x74) return (r < 0x74 || c <= 0x26) ? r * 94 + c - 4368 : -1;
  return -1;
}

// Index of a JIS X 0212 pair in the encoding-16 table, or -1.
inline long jis0212_index(int r, int c) {
  if (c < 0x21 || c > 0x7E) return -1;
  switch (r) {
    case 0x22:
      if (c >= 0x2F && c <= 0x39) return c - 0x2F;
      if (c >= 0x42 && c <= 0x44) return c - 0x37;
      if (c >= 0x6B && c <= 0x71) return c - 0x5D;
      return -1;
    case 0x26:
      return c >= 0x61 && c <= 0x7C ? c - 0x4C : -1;
    case 0x29:
      if (c >= 0x21 && c <= 0x30) return c + 16;
      if (c >= 0x41 && c <= 0x50) return c;
      return -1;
    case 0x2A:
    case 0x2B:
      return c <= 0x77 ? r * 87 + c - 3606 : -1;
    default:
      if (r >= 0x30 && r <= 0x6D && (r < 0x6D || c <= 0x63)) return r * 94 + c - 4290;
      return -1;
  }
}

// Index of a Unicode value in the encoding-19 out-of-Unicode table, or -1.
inline long sjis_out_index(uint16_t u) {
  const long l = u & 0xFF;
  struct Range {
    uint16_t first, last;
    bool by_low;  // index from the low byte, else from the whole value
    long add;
  };
  static constexpr Range ranges[] = {
      {0x0391, 0x03C9, true, -0x91},   {0x2010, 0x203E, true, 41},
      {0x2200, 0x2235, true, 104},     {0x2260, 0x226B, true, 62},
      {0x2500, 0x254B, true, 170},     {0x25B2, 0x25CF, true, 68},
      {0x3000, 0x3015, true, 276},     {0x3041, 0x30FE, true, 233},
      {0x4E00, 0x7E9C, false, -19480}, {0x7F36, 0x8B9A, false, -19633},
      {0x8C37, 0x8D16, false, -19789}, {0x8D64, 0x8F64, false, -19866},
      {0x8F9B, 0x9481, false, -19920}, {0x9577, 0x95E5, false, -20165},
      {0x961C, 0x9874, false, -20219}, {0x98A8, 0x9957, false, -20270},
      {0x9996, 0x9A6B, false, -20332}, {0x9AA8, 0x9C78, false, -20392},
      {0x9CE5, 0x9E1E, false, -20500}, {0x9E75, 0x9FA0, false, -20586},
      {0xFF01, 0xFF5D, true, 20278},
  };
  for (const Range& r : ranges)
    if (u >= r.first && u <= r.last) return (r.by_low ? l : static_cast<long>(u)) + r.add;
  return -1;
}

}  // namespace vorlane::charmap
