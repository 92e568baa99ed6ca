// Fetching the title records of a page of hits.
//
// get_titles fills records[i] with the 448-byte title record of docids[i] in
// dbs[i], or with zeros when it cannot be had; it raises nothing and logs
// every failure at the warning level. A record comes, in this order of
// preference, from the database's mapped first title file (docids below
// 4,194,304 only: the mapping never covers the other title files), from the
// title cache, or from the database's title files. All reads are started
// before the first wait: a first pass tries each read without blocking
// (preadv2 with RWF_NOWAIT) and advises read-ahead for those that would
// block; a second pass then reads those with blocking reads, in the order
// they were started. Where a file system does not support non-blocking
// reads, the second pass reads plainly. Records read whole from a file are
// stored in the title cache.
//
// Runs without the interpreter lock, possibly on several threads at once;
// the title-file descriptors are shared and read only positionally.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "store/title_record.h"

namespace vorlane {
struct idbm_db;
}

namespace vorlane::engine {

inline constexpr int kMaxTitlesPerCall = 500;

void get_titles(idbm_db* const* dbs, const int32_t* docids, unsigned char (*records)[kTitleRecordSize], int n);

// The non-blocking read of the first pass: the bytes read, or -1 with errno
// (EAGAIN: the data is not at hand; EOPNOTSUPP: not supported here). Tests
// replace it.
extern ssize_t (*title_read_nowait)(int fd, void* buffer, size_t count, uint64_t offset);

}  // namespace vorlane::engine
