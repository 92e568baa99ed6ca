// Conversions between wide-string cells and their encoded byte forms: UTF-8,
// big-endian UCS-2 / UTF-16 and big-endian UCS-4 (UTF-7 is in utf7.h). Plain
// functions over buffers, with no interpreter in sight.
//
// Cells are 16-bit UTF-16 code units. A character of the Basic Multilingual
// Plane is one cell; a character above U+FFFF is a surrogate pair, a
// high-half cell 0xD800-0xDBFF followed by a low-half cell 0xDC00-0xDFFF.
// A surrogate cell that is not part of such a pair is kept as it is and
// still converts (to three UTF-8 bytes, one UCS-2 unit, one UCS-4 group).
//
// Every decoder serves both passes of a conversion: called with out ==
// nullptr it counts the cells the bytes give; called again with out pointing
// at that many cells it fills them. Both passes read exactly the same bytes
// and never read past src + n. The same holds for the encoders with bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::linguistics {

using wcell = uint16_t;

// The conversion flags (the module's SKIP_INVALID, UTF7_QUOTE_OPTIONALS,
// UCS_SWITCH_BYTEORDER and UCS2_DO_UTF16).
constexpr int kSkipInvalid = 1;          // drop what cannot be converted
constexpr int kUtf7QuoteOptionals = 2;   // UTF-7: optional direct characters in base64 too
constexpr int kUcsSwitchByteorder = 4;   // defined for little-endian forms; read by nothing
constexpr int kUcs2DoUtf16 = 8;          // UCS-2 units are UTF-16 (surrogate pairs allowed)

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

constexpr bool is_surrogate(uint32_t v) { return v >= 0xD800 && v <= 0xDFFF; }
constexpr bool is_high_half(uint32_t v) { return v >= 0xD800 && v <= 0xDBFF; }
constexpr bool is_low_half(uint32_t v) { return v >= 0xDC00 && v <= 0xDFFF; }

enum class ConvertStatus {
  ok,
  illegal_byte_sequence,  // bad UTF-8 (also 5- and 6-byte forms, values above U+10FFFF)
  odd_ucs2_length,
  utf16_in_ucs2,
  unpaired_low_half,
  unpaired_high_half,
  ucs4_length,
  above_max_code_point,   // a UCS-4 value above U+10FFFF
  utf7_invalid_escape,
  utf7_odd_octets,
};

// The ConvertError text of a status ("" for ok).
const char* convert_status_text(ConvertStatus status);

struct ConvertResult {
  size_t count = 0;  // cells counted or written
  ConvertStatus status = ConvertStatus::ok;
};

// Writes the cells of one code point (at most kMaxCodePoint) at out (when
// not null); returns 1 or 2.
inline size_t put_code_point(uint32_t cp, wcell* out) {
  if (cp <= 0xFFFF) {
    if (out) out[0] = static_cast<wcell>(cp);
    return 1;
  }
  if (out) {
    cp -= 0x10000;
    out[0] = static_cast<wcell>(0xD800 | (cp >> 10));
    out[1] = static_cast<wcell>(0xDC00 | (cp & 0x3FF));
  }
  return 2;
}

// The character at cells[*i] (with *i < n): a high half followed by a low
// half gives the pair's code point, any other cell its own value. Advances
// *i past what it read.
inline uint32_t next_code_point(const wcell* cells, size_t n, size_t* i) {
  uint32_t c = cells[(*i)++];
  if (is_high_half(c) && *i < n && is_low_half(cells[*i]))
    c = 0x10000 + ((c - 0xD800) << 10) + (cells[(*i)++] - 0xDC00);
  return c;
}

// UTF-8 into cells. Sequences of 1 to 4 bytes; a lead byte contributes its
// low 7, 5, 4 or 3 bits and every continuation byte (10xxxxxx) 6 more. Any
// other byte, a bad or missing continuation, a 5- or 6-byte form or a value
// above U+10FFFF is illegal_byte_sequence. Values up to 0xFFFF (overlong
// forms and surrogates included) are one cell, larger ones a pair.
ConvertResult utf8_to_cells(const unsigned char* src, size_t n, wcell* out);

// Cells into UTF-8: below 0x80 one byte, below 0x800 two, a surrogate pair
// four, any other cell three. Never fails; returns the byte count.
size_t cells_to_utf8(const wcell* cells, size_t n, unsigned char* out);

// Turns a stream of 16-bit units into cells. Without kUcs2DoUtf16 a unit in
// 0xD800-0xDFFF is utf16_in_ucs2; with it a surrogate pair is kept as its two
// cells and an unpaired half is an error. kSkipInvalid drops the offending
// unit instead (the unit after an unpaired high half is read normally). The
// first error stops the output; later units are ignored.
class UnitDecoder {
 public:
  UnitDecoder(int flags, wcell* out) : flags_(flags), out_(out) {}
  void push(wcell unit);
  ConvertResult finish();

 private:
  void put(wcell c) {
    if (out_) out_[count_] = c;
    ++count_;
  }
  // False when the failure stops the conversion.
  bool fail(ConvertStatus status);

  int flags_;
  wcell* out_;
  size_t count_ = 0;
  ConvertStatus status_ = ConvertStatus::ok;
  bool pending_high_ = false;
  wcell high_ = 0;
};

// Big-endian UCS-2 (UTF-16 with kUcs2DoUtf16) into cells. An odd length is
// odd_ucs2_length unless kSkipInvalid, which ignores the last byte.
ConvertResult ucs2_to_cells(const unsigned char* src, size_t n, int flags, wcell* out);

// Cells into big-endian 16-bit units, one per cell. Returns 2 * n.
size_t cells_to_ucs2(const wcell* cells, size_t n, unsigned char* out);

// Big-endian UCS-4 into cells: each group of four bytes is one code point.
// A length not a multiple of 4 is ucs4_length unless kSkipInvalid (the
// trailing bytes are ignored); a value above U+10FFFF is
// above_max_code_point unless kSkipInvalid (the group is dropped).
ConvertResult ucs4_to_cells(const unsigned char* src, size_t n, int flags, wcell* out);

// Cells into big-endian UCS-4: a surrogate pair gives its code point, any
// other cell its own value. Returns the byte count.
size_t cells_to_ucs4(const wcell* cells, size_t n, unsigned char* out);

}  // namespace vorlane::linguistics
