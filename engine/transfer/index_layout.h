// The network layout of the index files that the transfer converts. The
// files as they lie on disk ("dir" and the term files "tf<N>", 32-bit words in
// the machine's byte order) are described, and read, by store/db_files.h.
//
// The network layout that a host of the other byte order and bit-field order
// reads: every word byte-reversed, and
//   directory entry word 3:  part << 24 | size
//   full record word 2:      docf << 7 | norm
//   full record word 3:      count | free << 17
// The directory header and the compact records' words are only
// byte-reversed.
#pragma once

#include <cstdint>

#include "store/db_files.h"

namespace vorlane::engine {

// Word 3 of a directory entry, and words 2 and 3 of a full record, in the
// network layout (before the bytes are reversed).
inline uint32_t net_size_part(uint32_t size_part) {
  return dir_packed_part(size_part) << 24 | dir_packed_size(size_part);
}
inline uint32_t net_docf_word(const uint32_t* record) { return rec_full_docf(record) << 7 | rec_full_norm(record); }
inline uint32_t net_count_word(const uint32_t* record) { return rec_full_count(record) | rec_full_free(record) << 17; }

}  // namespace vorlane::engine
