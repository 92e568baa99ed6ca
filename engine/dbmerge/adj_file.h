// The "adj" file of a merged database: which documents of its sources the
// merge dropped, so that deletions made later in the sources can be carried
// over to the merged database (engine/dbmerge/db_merge.h).
//
// It lies in the merged database's directory; numbers are in the machine's
// (little-endian) byte order:
//
//   offset  size      field
//   0       4         N: the number of source documents the merge examined
//                     (signed 32-bit, never negative)
//   4       variable  runs, each a put_varint number (store/db_files.h): for
//                     each dropped document, in the order of the document
//                     map (sources in list order, docids ascending), the
//                     number of kept documents since the previous dropped one
//                     (or since the start); then one last number, the kept
//                     documents after the last dropped one
//
// Reading: p = 0; for each run r: p += r; while p < N the document at p is a
// dropped one and p += 1. A sound file ends with p = N: K K D K D D K K K
// gives N = 9 and the runs 2 1 0 3.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/db_files.h"

namespace vorlane::engine {

// The file is kAdjFile (store/db_files.h), committed with the merged
// database (store/db_commit.h).
using vorlane::kAdjFile;
inline constexpr uint32_t kAdjHeaderSize = 4;

// The document map of a merge: one entry per source document, -1 for a
// dropped one.
inline constexpr int32_t kDroppedDoc = -1;

// Writes the "adj" file of a document map of n entries at path (created or
// truncated, permission 0666 less the umask). Empty on success, else the
// message ("adj open: %s", "adj fwrite: %s", "adj fclose: %s").
std::string write_adj_file(const std::string& path, const int32_t* map, uint32_t n);

// Reads the "adj" file at path into marks (N bytes, 1 for a dropped
// document). Empty on success; "adj open: %s" when the file can't be opened;
// "adj corrupt" when it is shorter than 4 bytes, N is negative, a run is
// damaged or the runs don't end at exactly N; out_of_memory set when the
// marks can't be allocated.
std::string read_adj_file(const std::string& path, std::vector<uint8_t>* marks, bool* out_of_memory);

}  // namespace vorlane::engine
