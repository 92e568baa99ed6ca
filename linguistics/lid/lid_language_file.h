// The language file of the language identifier: the language models, as four
// chunks of big-endian numbers, in this order:
//
//   header     8 bytes        u32 magic 0xFACE8EAD, u16, u16 (the writer
//                             stores 1 and 0; ignored when read)
//   info       8 bytes        u32 magic 0xFACE8ABE, u32 (the writer stores 8;
//                             ignored when read)
//   languages  12 + 12n       u32 magic 0xFACE8AAE, u32 length = (3n + 3) x 4,
//                             u32 n, then n language entries of 12 bytes:
//                               +0  u32 kind: 1 trigram model, 2 character model
//                               +4  i16 low score: added for a position the
//                                   model has no score for; bottom of its scale
//                               +6  i16 top score: the largest over all entries
//                                   (and the score floor) tops every scale
//                               +8  i16 mid score: the average that maps to 100
//                               +10 u8  language code 1..42
//                               +11 u8  type, copied into result rows (type 2
//                                   has special rules)
//   n-grams    16 + 4(k + m)  u32 magic 0xFACE333A, u32 length = (k + m) x 4
//                             + 16, u32 k, u32 m, then k key words, then m
//                             score entries. A key word holds its run length
//                             (the number of score entries of the key) in its
//                             top 8 bits and the 24-bit key below; keys ascend
//                             and their runs follow each other in key order. A
//                             score entry is i16 score, then i16 language-entry
//                             index; within a run the indexes ascend.
//
// Keys: a trigram of units a, b, c (each below 256) is a << 16 | b << 8 | c; a
// single unit u is (u >> 8) << 16 | 0x2000 | (u & 0xFF).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorlane {

inline constexpr uint32_t kLidHeaderMagic = 0xFACE8EAD;
inline constexpr uint32_t kLidInfoMagic = 0xFACE8ABE;
inline constexpr uint32_t kLidLanguagesMagic = 0xFACE8AAE;
inline constexpr uint32_t kLidNgramsMagic = 0xFACE333A;

struct lid_language {
  uint32_t kind = 0;
  int16_t low = 0;
  int16_t top = 0;
  int16_t mid = 0;
  uint8_t code = 0;
  uint8_t type = 0;
};

struct lid_score_entry {
  int16_t score = 0;
  int16_t index = 0;  // language-entry index
};

struct lid_ngram_table {
  std::vector<uint32_t> keys;         // 24-bit keys, ascending
  std::vector<uint16_t> run_length;   // per key
  std::vector<uint32_t> run_start;    // per key, into entries
  std::vector<lid_score_entry> entries;
};

// Everything a language file holds.
struct lid_language_data {
  uint32_t header_magic = kLidHeaderMagic;
  uint16_t header_a = 1, header_b = 0;
  uint32_t info_magic = kLidInfoMagic;
  uint32_t info = 8;
  std::vector<lid_language> languages;
  lid_ngram_table ngrams;
};

// Reads a language file: 0, -53 when it cannot be opened, -54 when a chunk
// is short, has a wrong magic or length, or its runs overrun the entries.
// Throws std::bad_alloc when memory runs out.
int lid_read_language_file(const char* path, lid_language_data* data);

// Writes the whole language file (run starts are implied by key order);
// true when every byte was written.
bool lid_write_language_file(const char* path, const lid_language_data& data);

// Index of the key in the table, -1 when absent (binary search).
long lid_find_key(const lid_ngram_table& table, uint32_t key);

inline uint32_t lid_trigram_key(uint32_t a, uint32_t b, uint32_t c) { return a << 16 | b << 8 | c; }
inline uint32_t lid_unit_key(uint16_t u) { return static_cast<uint32_t>(u >> 8) << 16 | 0x2000 | (u & 0xFF); }

}  // namespace vorlane
