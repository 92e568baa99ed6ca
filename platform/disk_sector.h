// Bytes per sector of the disk that holds an open file: the stand-in for the
// "bytes per sector" of a drive's free-space query.
//
// The answer is the unit the disk really writes: the device's physical block
// size (from /sys/dev/block/MAJOR:MINOR/queue, or the queue of the whole disk
// for a partition), or the file system's block size when that is larger. A
// device that reports 512-byte logical sectors over 4096-byte physical blocks
// answers 4096. Values are powers of two from 512 to 65536; 0 when neither
// figure can be had.
#pragma once

#include <cstdint>

namespace vorlane::platform {

uint32_t bytes_per_sector(int fd);

}  // namespace vorlane::platform
