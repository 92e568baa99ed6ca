// Positional reads that any number of threads may issue on one descriptor at
// once; the descriptor's own file position is never used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace vorlane {

// Reads count bytes at offset. Returns the bytes read (fewer when the read
// crosses the end of the file) or -1 after a warning line
// "pread fd=0x%8.8x offset=%lld count=%d ReadFile: %s". A read that starts
// at or past the end of the file is a failure. Interrupted and short reads
// are continued.
ssize_t pread(int fd, void* buffer, size_t count, uint64_t offset);

}  // namespace vorlane
