// The two index-file layouts that the transfer converts, as they lie on disk
// (32-bit words in the machine's byte order; bit-fields counted from bit 0 of
// a word). Only what the byte-order conversion needs is described here.
//
// Directory file "dir": 16-byte records.
//   record 0, the header: nparts, nterms, ndocs, posting limit (one word each)
//   record k >= 1, an entry:
//     word 0  hash1 (bit 31 clear)
//     word 1  hash2 (bit 31 clear)
//     word 2  byte offset of the term record in its part
//     word 3  packed: bits 0-7 part number, bits 8-31 record size in bytes
//
// Term file ("tf" and the part number): term records back to back.
//   Full form, (count + 5) words; word 0 positive:
//     word 0       hash1 (bit 31 clear)
//     word 1       hash2 (bit 31 clear)
//     word 2       bits 0-24 docf (documents holding the term), bits 25-31 norm
//     word 3       bits 0-14 free (spare words; always 0 on disk),
//                  bits 15-31 count (postings)
//     words 4..    count postings (docid << 7 | score)
//     word 4+count end mark 0xFFFFFF80
//   Compact forms; bit 31 of word 0 set:
//     12 bytes  hash1 | 0x80000000, hash2, posting
//     16 bytes  hash1 | 0x80000000, hash2 | 0x80000000, posting, posting
//
// The network layout that a host of the other byte order and bit-field order
// reads: every word byte-reversed, and
//   directory entry word 3:  part << 24 | size
//   full record word 2:      docf << 7 | norm
//   full record word 3:      count | free << 17
#pragma once

#include <cstdint>

namespace vorlane::engine {

inline constexpr uint32_t kEndTermList = 0xFFFFFF80u;  // ENDTERMLIST
inline constexpr uint32_t kMaxPostings = 0x1FFFF;      // count is 17 bits wide
inline constexpr uint32_t kCompactFlag = 0x80000000u;

inline uint32_t term_docf(uint32_t word2) { return word2 & 0x1FFFFFF; }
inline uint32_t term_norm(uint32_t word2) { return word2 >> 25; }
inline uint32_t term_free(uint32_t word3) { return word3 & 0x7FFF; }
inline uint32_t term_count(uint32_t word3) { return word3 >> 15; }

inline uint32_t dir_entry_part(uint32_t packed) { return packed & 0xFF; }
inline uint32_t dir_entry_size(uint32_t packed) { return packed >> 8; }

}  // namespace vorlane::engine
