// CharMapper's converters of UCS-2 and the single-byte sets into Unicode.
#include "linguistics/charmap/char_mapper.h"

#include <algorithm>

#include "linguistics/charmap/unit_io.h"

using vorlane::charmap::get_be;
using vorlane::charmap::get_le;
using vorlane::charmap::put_unit;

namespace {

// Mac OS Roman, bytes 0x80-0xFF, in the version that has 0xBD OHM SIGN
// (U+2126), 0xDB CURRENCY SIGN (U+00A4) and 0xF0 the Apple logo (U+F8FF).
constexpr uint16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 0x80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 0x88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 0x90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 0x98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // 0xA0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // 0xA8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // 0xB0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x2126, 0x00E6, 0x00F8,  // 0xB8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // 0xC0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // 0xC8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // 0xD0
    0x00FF, 0x0178, 0x2044, 0x00A4, 0x2039, 0x203A, 0xFB01, 0xFB02,  // 0xD8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // 0xE0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // 0xE8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // 0xF0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // 0xF8
};

}  // namespace

uint16_t CharMapper::MapChar_Macintosh_Unicode(unsigned char byte) {
  return byte < 0x80 ? byte : kMacRoman[byte - 0x80];
}

// UCS-2: big-endian units, unless the text starts with a byte-order mark
// (FE FF big-endian, FF FE little-endian), which is consumed and not written.
// Only whole units are converted: the result is even apart from the mark.
int CharMapper::MapUnicode_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                                   int* outbytes) const {
  int mark = 0;
  bool little = false;
  if (srclen >= 2 && src[0] == 0xFE && src[1] == 0xFF) {
    mark = 2;
  } else if (srclen >= 2 && src[0] == 0xFF && src[1] == 0xFE) {
    mark = 2;
    little = true;
  }
  int n = std::min(srclen - mark, dstlen) & ~1;
  const unsigned char* in = src + mark;
  for (int i = 0; i < n / 2; ++i) put_unit(dst, i, little ? get_le(in + 2 * i) : get_be(in + 2 * i));
  *outbytes = n;
  return mark + n;
}

int CharMapper::MapISO8859_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                                   int* outbytes) const {
  int count = std::min(srclen, dstlen / 2);
  for (int i = 0; i < count; ++i) put_unit(dst, i, src[i]);
  *outbytes = count * 2;
  return count;
}

int CharMapper::MapMacintosh_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                                     int* outbytes) const {
  int count = std::min(srclen, dstlen / 2);
  for (int i = 0; i < count; ++i) put_unit(dst, i, MapChar_Macintosh_Unicode(src[i]));
  *outbytes = count * 2;
  return count;
}
