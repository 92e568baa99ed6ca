// Byte-order conversion of numbers and of index-file blocks for the transfer
// to a host of the other byte order (layouts in engine/transfer/index_layout.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

inline uint32_t reverse_word(uint32_t w) { return __builtin_bswap32(w); }
inline uint64_t reverse_word64(uint64_t w) { return __builtin_bswap64(w); }

// In place over n whole words.
void reverse_words(uint32_t* words, size_t n);
void reverse_words64(uint64_t* words, size_t n);

// Directory records in place: n 16-byte records; when with_header is set the
// first is the header (each word reversed), every other an entry (packed
// word turned into part << 24 | size, then every word reversed).
void convert_dir_records(uint32_t* words, size_t n, bool with_header);

// A full term record of count postings in place (count + 5 words): word 2
// becomes docf << 7 | norm, word 3 count | free << 17, then every word is
// reversed.
void convert_full_term_record(uint32_t* words, uint32_t count);

// The signed 32-bit number in network byte order (big-endian) and back.
int32_t convert_to_net_format(int32_t number);
int32_t convert_to_host_format(int32_t number);

// Physical memory of the host in bytes: available now, and in all.
int64_t physavail();
int64_t physsize();

}  // namespace vorlane::engine
