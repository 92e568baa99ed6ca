// CharMapper's Japanese converters: Shift-JIS, EUC-JP (packed and fixed
// two-byte), ISO-2022-JP into Unicode, and Unicode into Shift-JIS.
//
// Common rules into Unicode: conversion stops when the destination cannot
// take one more unit or the source is exhausted; a multi-byte character whose
// remaining bytes lie beyond the source end is not consumed (the caller can
// pass it again with more text); a character that cannot be converted becomes
// the default unit. The result is the number of source bytes consumed.
#include "linguistics/charmap/char_mapper.h"

#include <algorithm>
#include <iterator>

#include "linguistics/charmap/mapping_table.h"
#include "linguistics/charmap/unit_io.h"

using vorlane::charmap::get_be;
using vorlane::charmap::jis0208_index;
using vorlane::charmap::jis0212_index;
using vorlane::charmap::put_unit;
using vorlane::charmap::sjis_out_index;

namespace {

// The destination of a conversion into Unicode.
struct UnitSink {
  char* dst;
  int capacity;  // units
  int count = 0;
  bool full() const { return count >= capacity; }
  void put(uint16_t unit) { put_unit(dst, count++, unit); }
};

// Shift-JIS codes written directly for Unicode values outside the table.
struct DirectCode {
  uint16_t unicode;
  uint16_t sjis;
};

constexpr DirectCode kDirectCodes[] = {
    {0x005C, 0x815F}, {0x00A2, 0x8191}, {0x00A3, 0x8192}, {0x00A7, 0x8198}, {0x00A8, 0x814E},
    {0x00AC, 0x81CA}, {0x00B0, 0x818B}, {0x00B1, 0x817D}, {0x00B4, 0x814C}, {0x00B6, 0x81F7},
    {0x00D7, 0x817E}, {0x00F7, 0x8180}, {0x2103, 0x818E}, {0x212B, 0x81F0}, {0x2190, 0x81A9},
    {0x2191, 0x81AA}, {0x2192, 0x81A8}, {0x2193, 0x81AB}, {0x21D2, 0x81CB}, {0x21D4, 0x81CC},
    {0x223D, 0x81E4}, {0x2252, 0x81E0}, {0x2282, 0x81BC}, {0x2283, 0x81BD}, {0x2286, 0x81BA},
    {0x2287, 0x81BB}, {0x22A5, 0x81DB}, {0x2312, 0x81DC}, {0x25A0, 0x81A1}, {0x25A1, 0x81A0},
    {0x25EF, 0x81FC}, {0x2605, 0x819A}, {0x2606, 0x8199}, {0x2640, 0x818A}, {0x2642, 0x8189},
    {0x266A, 0x81F4}, {0x266D, 0x81F3}, {0x266F, 0x81F2}, {0x301C, 0x8160}, {0xFFE3, 0x8150},
    {0xFFE5, 0x818F},
};

// The direct code of u, 0 when it has none. Cyrillic is computed by range.
uint16_t direct_sjis(uint16_t u) {
  if (u == 0x0401) return 0x8446;
  if (u >= 0x0410 && u <= 0x0415) return static_cast<uint16_t>(0x8440 + (u - 0x0410));
  if (u >= 0x0416 && u <= 0x042F) return static_cast<uint16_t>(0x8447 + (u - 0x0416));
  if (u >= 0x0430 && u <= 0x0435) return static_cast<uint16_t>(0x8470 + (u - 0x0430));
  if (u == 0x0451) return 0x8476;
  if (u >= 0x0436 && u <= 0x043D) return static_cast<uint16_t>(0x8477 + (u - 0x0436));
  if (u >= 0x043E && u <= 0x044F) return static_cast<uint16_t>(0x8480 + (u - 0x043E));
  const DirectCode* end = std::end(kDirectCodes);
  const DirectCode* it = std::lower_bound(std::begin(kDirectCodes), end, u,
                                          [](const DirectCode& d, uint16_t v) { return d.unicode < v; });
  return it != end && it->unicode == u ? it->sjis : 0;
}

// Escape sequences of ISO-2022-JP (the bytes after ESC) and the modes they
// select.
enum class JisMode { none, jis0208, jis0212, roman, ascii, katakana };

struct Escape {
  const char* bytes;
  int length;
  JisMode mode;
};

constexpr Escape kEscapes[] = {
    {"\x24\x40", 2, JisMode::jis0208},                  // JIS X 0208-1978
    {"\x24\x42", 2, JisMode::jis0208},                  // JIS X 0208-1983
    {"\x26\x40\x1B\x24\x42", 5, JisMode::jis0208},      // JIS X 0208-1990
    {"\x24\x28\x44", 3, JisMode::jis0212},
    {"\x28\x4A", 2, JisMode::roman},
    {"\x28\x48", 2, JisMode::roman},
    {"\x28\x42", 2, JisMode::ascii},
    {"\x28\x49", 2, JisMode::katakana},
};

}  // namespace

uint16_t CharMapper::MapChar_JISRoman_Unicode(unsigned char byte) {
  if (byte == '\\') return 0x00A5;
  if (byte == '~') return 0x203E;
  return byte;
}

uint16_t CharMapper::MapChar_Halfwidth_Katakana_Unicode(unsigned char byte) {
  return byte >= 0xA1 && byte <= 0xDF ? static_cast<uint16_t>(0xFF61 + (byte - 0xA1)) : 0;
}

uint16_t CharMapper::Map_JIS0208_hex23_27(unsigned char r, unsigned char c) {
  auto from = [c](unsigned char first, unsigned base) { return static_cast<uint16_t>(base + (c - first)); };
  switch (r) {
    case 0x23:
      if (c >= 0x30 && c <= 0x7A) return from(0x30, 0xFF10);
      break;
    case 0x24:
      if (c >= 0x21 && c <= 0x73) return from(0x21, 0x3041);
      break;
    case 0x25:
      if (c >= 0x21 && c <= 0x76) return from(0x21, 0x30A1);
      break;
    case 0x26:
      if (c >= 0x21 && c <= 0x31) return from(0x21, 0x0391);
      if (c >= 0x32 && c <= 0x38) return from(0x32, 0x03A3);
      if (c >= 0x41 && c <= 0x51) return from(0x41, 0x03B1);
      if (c >= 0x52 && c <= 0x58) return from(0x52, 0x03C3);
      break;
    case 0x27:
      if (c >= 0x21 && c <= 0x26) return from(0x21, 0x0410);
      if (c == 0x27) return 0x0401;
      if (c >= 0x28 && c <= 0x41) return from(0x28, 0x0416);
      if (c >= 0x51 && c <= 0x56) return from(0x51, 0x0430);
      if (c == 0x57) return 0x0451;
      if (c >= 0x58 && c <= 0x71) return from(0x58, 0x0436);
      break;
  }
  return 0;
}

uint16_t CharMapper::MapChar_JIS0208_Unicode(unsigned char r, unsigned char c) const {
  if (r >= 0x23 && r <= 0x27) return Map_JIS0208_hex23_27(r, c);
  return TableEntry(15, 0, jis0208_index(r, c));
}

uint16_t CharMapper::MapChar_JIS0212_Unicode(unsigned char r, unsigned char c) const {
  if (r == 0x27) {
    if (c >= 0x42 && c <= 0x4C) return static_cast<uint16_t>(0x0402 + (c - 0x42));
    if (c >= 0x4D && c <= 0x4E) return static_cast<uint16_t>(0x040E + (c - 0x4D));
    if (c >= 0x72 && c <= 0x7C) return static_cast<uint16_t>(0x0452 + (c - 0x72));
    if (c >= 0x7D && c <= 0x7E) return static_cast<uint16_t>(0x045E + (c - 0x7D));
    return 0;
  }
  return TableEntry(16, 0, jis0212_index(r, c));
}

int CharMapper::MapShiftJIS_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                                    int* outbytes, uint16_t fallback) const {
  UnitSink out{dst, dstlen / 2};
  int i = 0;
  while (i < srclen && !out.full()) {
    unsigned char b = src[i];
    if (b < 0x7F) {
      out.put(MapChar_JISRoman_Unicode(b));
      ++i;
    } else if (b >= 0xA1 && b <= 0xDF) {
      out.put(MapChar_Halfwidth_Katakana_Unicode(b));
      ++i;
    } else if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEA)) {
      if (i + 1 >= srclen) break;  // the trail byte has not come yet
      unsigned char t = src[i + 1];
      uint16_t u = 0;
      if (t >= 0x40 && t <= 0xFC && t != 0x7F) {
        unsigned row = (b <= 0x9F ? 2u * b + 0x1F : 2u * b - 0x61) & 0xFF;
        unsigned column;
        if (t > 0x9E) {
          ++row;
          column = t - 0x7Eu;
        } else {
          column = t <= 0x7E ? t - 0x1Fu : t - 0x20u;
        }
        u = MapChar_JIS0208_Unicode(static_cast<unsigned char>(row), static_cast<unsigned char>(column));
      }
      out.put(u ? u : fallback);  // the trail is consumed even when invalid
      i += 2;
    } else if (b >= 0xF0 && b <= 0xFC) {
      if (i + 1 >= srclen) break;
      out.put(fallback);
      i += 2;
    } else {
      out.put(fallback);
      ++i;
    }
  }
  *outbytes = out.count * 2;
  return i;
}

int CharMapper::MapPackedEUC_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                                     int* outbytes, uint16_t fallback) const {
  UnitSink out{dst, dstlen / 2};
  int i = 0;
  while (i < srclen && !out.full()) {
    unsigned char b = src[i];
    if (b < 0x7F) {
      out.put(MapChar_JISRoman_Unicode(b));
      ++i;
    } else if (b >= 0xA1 && b <= 0xFE) {
      if (i + 1 >= srclen) break;
      uint16_t u = MapChar_JIS0208_Unicode(static_cast<unsigned char>(b - 0x80),
                                           static_cast<unsigned char>(src[i + 1] - 0x80));
      out.put(u ? u : fallback);
      i += u ? 2 : 1;  // on failure only the lead byte is consumed
    } else if (b == 0x8E) {
      if (i + 1 >= srclen) break;
      uint16_t u = MapChar_Halfwidth_Katakana_Unicode(src[i + 1]);
      out.put(u ? u : fallback);
      i += u ? 2 : 1;
    } else if (b == 0x8F) {
      if (i + 2 >= srclen) break;
      uint16_t u = MapChar_JIS0212_Unicode(static_cast<unsigned char>(src[i + 1] - 0x80),
                                           static_cast<unsigned char>(src[i + 2] - 0x80));
      out.put(u ? u : fallback);
      i += u ? 3 : 1;
    } else {
      out.put(b);
      ++i;
    }
  }
  *outbytes = out.count * 2;
  return i;
}

int CharMapper::MapTwoByteEUC_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                                      int* outbytes, uint16_t fallback) const {
  UnitSink out{dst, dstlen / 2};
  int i = 0;
  while (i < srclen && !out.full()) {
    if (i + 1 >= srclen) {  // a final odd byte counts as consumed
      i = srclen;
      break;
    }
    unsigned char f = src[i], s = src[i + 1];
    i += 2;
    if (f >= 0xA1 && f <= 0xFE) {
      uint16_t u = s > 0x7E ? MapChar_JIS0208_Unicode(static_cast<unsigned char>(f - 0x80),
                                                      static_cast<unsigned char>(s - 0x80))
                            : MapChar_JIS0212_Unicode(static_cast<unsigned char>(f - 0x80), s);
      out.put(u ? u : fallback);
    } else if (f == 0) {
      if (s <= 0x7E) out.put(MapChar_JISRoman_Unicode(s));
      else if (s >= 0xA1 && s <= 0xDF) out.put(MapChar_Halfwidth_Katakana_Unicode(s));
      else out.put(s);
    } else {
      out.put(fallback);
    }
  }
  *outbytes = out.count * 2;
  return i;
}

int CharMapper::MapJIS_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                               int* outbytes, uint16_t fallback) const {
  UnitSink out{dst, dstlen / 2};
  JisMode mode = JisMode::none;
  bool shifted = false;  // SO seen (katakana shift)
  int i = 0;
  while (i < srclen && !out.full()) {
    unsigned char b = src[i];
    if (b == 0x1B) {
      const unsigned char* rest = src + i + 1;
      int left = srclen - i - 1;
      bool partial = false;
      const Escape* found = nullptr;
      for (const Escape& e : kEscapes) {
        int n = std::min(left, e.length);
        if (std::equal(rest, rest + n, reinterpret_cast<const unsigned char*>(e.bytes))) {
          if (n == e.length) {
            found = &e;
            break;
          }
          partial = true;
        }
      }
      if (found) {
        mode = found->mode;
        i += 1 + found->length;
        continue;
      }
      if (partial) break;  // the rest of the sequence has not come yet
      // Any other escape byte is handled as an ordinary byte below.
    }
    switch (mode) {
      case JisMode::none:  // nothing designated yet: skipped
        ++i;
        break;
      case JisMode::jis0208:
      case JisMode::jis0212: {
        if (i + 1 >= srclen) {
          *outbytes = out.count * 2;
          return i;
        }
        unsigned char c = src[i + 1];
        uint16_t u = mode == JisMode::jis0208 ? MapChar_JIS0208_Unicode(b, c) : MapChar_JIS0212_Unicode(b, c);
        out.put(u ? u : fallback);
        i += 2;
        break;
      }
      case JisMode::roman:
      case JisMode::ascii:
      case JisMode::katakana:
        if (b == 0x0E || b == 0x0F) {
          shifted = b == 0x0E;
        } else if (mode == JisMode::katakana) {
          uint16_t u = MapChar_Halfwidth_Katakana_Unicode(shifted ? b : static_cast<unsigned char>(b + 0x80));
          out.put(u ? u : fallback);
        } else if (shifted) {
          uint16_t u = MapChar_Halfwidth_Katakana_Unicode(static_cast<unsigned char>(b | 0x80));
          out.put(u ? u : fallback);
        } else {
          out.put(MapChar_JISRoman_Unicode(b));
        }
        ++i;
        break;
    }
  }
  *outbytes = out.count * 2;
  return i;
}

int CharMapper::MapUnicode_ShiftJIS(const unsigned char* src, int srclen, char* dst, int dstlen,
                                    int* outbytes, unsigned char fallback) const {
  int i = 0, n = 0;
  while (srclen - i >= 2) {
    uint16_t u = get_be(src + i);
    int one = -1;
    if (u <= 0x7D && u != 0x5C) one = u;
    else if (u == 0xA5) one = 0x5C;
    else if (u >= 0xFF61 && u <= 0xFF9F) one = 0xA1 + (u - 0xFF61);
    if (one >= 0) {
      if (n >= dstlen) break;
      dst[n++] = static_cast<char>(one);
    } else {
      if (dstlen - n < 2) break;  // a two-byte code needs room for both bytes
      uint16_t code = TableEntry(19, 1, sjis_out_index(u));
      if (!code) code = direct_sjis(u);
      if (code) {
        dst[n++] = static_cast<char>(code >> 8);
        dst[n++] = static_cast<char>(code & 0xFF);
      } else {
        dst[n++] = static_cast<char>(fallback);
      }
    }
    i += 2;
  }
  *outbytes = n;
  return i;
}
