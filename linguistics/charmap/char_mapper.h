// CharMapper: converts byte strings in Western and Japanese encodings into
// 16-bit Unicode (UCS-2) units, and UCS-2 into Shift-JIS. The one class
// libvorlane.so exports; inside the system only the language identifier uses
// it.
//
// Encoding numbers (from -> to pairs MapString supports):
//    3  UCS-2, big-endian units                (3 -> 3, 3 -> 19)
//    5, 12  single-byte sets whose bytes are their code points (-> 3)
//    7  Macintosh Roman                        (-> 3)
//   15  JIS X 0208, table only: its into-Unicode table serves 18-21
//   16  JIS X 0212, table only: its into-Unicode table serves 18, 20, 21
//   18  ISO-2022-JP                            (-> 3)
//   19  Shift-JIS                              (-> 3; its out-of-Unicode table)
//   20  EUC-JP packed, 1 to 3 bytes a character (-> 3)
//   21  EUC-JP fixed, two bytes a character    (-> 3)
//
// Tables live in 46 slots, slot = encoding x 2 - 2 + direction, direction 0
// into Unicode ("F0"), 1 out of Unicode ("F1"). The table file format and the
// layouts are in charmap/mapping_table.h.
//
// Configuration file: lines of at most 255 bytes; lines beginning with '/' or
// '[' are comments; the first other line of 3 bytes or more (newline
// included) is a header and is skipped; every later line of 2 bytes or more is
// an encoding line "n F0|F1 path" (n 1..42; a line whose second field is
// neither F0 nor F1 is ignored). A trailing CR is dropped.
//
// Results: 0 success; -3 memory; -28 null pointer; -29 bad length; -51
// configuration file cannot be opened; -52 malformed configuration or bad
// encoding/direction; -56 table file cannot be opened; -57 table file short
// or inconsistent; -58 Init not done; -59 unsupported pair.
//
// After loading, conversions only read the object and may run on several
// threads; loading must not overlap conversions.
#pragma once

#include <cstddef>
#include <cstdint>

class __attribute__((visibility("default"))) CharMapper {
 public:
  static void* operator new(size_t size) noexcept;  // null on failure
  static void operator delete(void* block) noexcept;

  CharMapper();
  ~CharMapper();
  CharMapper(const CharMapper&) = delete;             // owns raw memory
  CharMapper& operator=(const CharMapper&) = delete;

  int Init();
  int Init(char* config);
  int InitEncoding(char* line);
  int LoadMappingTable(int encoding, int direction, char* file);

  // Returns the number of source bytes consumed (or a negative code) and
  // sets *outbytes to the bytes written to dst. Into Unicode, dst receives
  // host-order units and a character that cannot be converted becomes the
  // unit default2[0] x 256 + default2[1]; out of Unicode, default2[0] is the
  // one-byte default character.
  int MapString(int from, int to, char* src, int srclen, char* dst, int dstlen, int* outbytes,
                char* default2);
  // Overloads with 16-bit buffers: no pair is supported (-59).
  int MapString(int from, int to, uint16_t* src, int srclen, char* dst, int dstlen, int* outbytes,
                char* default2);
  int MapString(int from, int to, char* src, int srclen, uint16_t* dst, int dstlen, int* outbytes,
                char* default2);
  int MapString(int from, int to, uint16_t* src, int srclen, uint16_t* dst, int dstlen,
                int* outbytes, char* default2);


 private:
  struct Table;  // a loaded mapping table: its count and values
  static int MapIndex(int encoding, int direction) { return encoding * 2 - 2 + direction; }
  static uint16_t ComposeWideChar(unsigned char high, unsigned char low) {
    return static_cast<uint16_t>(high << 8 | low);
  }
  // The table entry at index of (encoding, direction), 0 when the table is
  // absent or the index lies past its end.
  uint16_t TableEntry(int encoding, int direction, long index) const;

  int MapUnicode_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                         int* outbytes) const;
  int MapISO8859_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                         int* outbytes) const;
  int MapMacintosh_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                           int* outbytes) const;
  int MapPackedEUC_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                           int* outbytes, uint16_t fallback) const;
  int MapTwoByteEUC_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                            int* outbytes, uint16_t fallback) const;
  int MapShiftJIS_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen,
                          int* outbytes, uint16_t fallback) const;
  int MapJIS_Unicode(const unsigned char* src, int srclen, char* dst, int dstlen, int* outbytes,
                     uint16_t fallback) const;
  int MapUnicode_ShiftJIS(const unsigned char* src, int srclen, char* dst, int dstlen,
                          int* outbytes, unsigned char fallback) const;

  // Per-character converters; 0 means "not convertible".
  static uint16_t MapChar_Macintosh_Unicode(unsigned char byte);
  static uint16_t MapChar_JISRoman_Unicode(unsigned char byte);
  static uint16_t MapChar_Halfwidth_Katakana_Unicode(unsigned char byte);
  static uint16_t Map_JIS0208_hex23_27(unsigned char row, unsigned char column);
  uint16_t MapChar_JIS0208_Unicode(unsigned char row, unsigned char column) const;
  uint16_t MapChar_JIS0208_1983_Unicode(unsigned char row, unsigned char column) const {
    return MapChar_JIS0208_Unicode(row, column);
  }
  uint16_t MapChar_JIS1978_Unicode(unsigned char row, unsigned char column) const {
    return MapChar_JIS0208_Unicode(row, column);
  }
  uint16_t MapChar_JIS0212_Unicode(unsigned char row, unsigned char column) const;

  Table** slots_ = nullptr;  // 46 table pointers once Init has run
};
