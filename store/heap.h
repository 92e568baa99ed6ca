// Memory statistics of the process.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
// Exported; 0 at load. When non-zero, heap_stats and heap_growth return 0.
extern int DisableHeapChecking;
}

namespace vorlane {

// Private data memory of the process now (VmData of /proc/self/status) minus
// the baseline the first call records; the first call returns 0. Never
// negative: a process that shrank below its baseline reports 0.
uint32_t heap_growth();

// Prints "heaps: %d blocks: %d alloc: (%d, %d) free: (%d, %d) vmem: %d\n"
// from the allocator's statistics and returns the allocated bytes.
size_t heap_stats(size_t vmem);

// size must be 0; where one byte of fresh address space lay (null on failure).
void* heap_probe(size_t size);

}  // namespace vorlane
