#include "store/heap.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <sys/mman.h>

extern "C" {
__attribute__((visibility("default"))) int DisableHeapChecking = 0;
}

namespace vorlane {

namespace {

std::atomic<uint64_t> baseline{0};

// VmData in bytes, 0 when unreadable.
uint64_t private_data_bytes() {
  FILE* f = fopen("/proc/self/status", "re");
  if (!f) return 0;
  char line[256];
  uint64_t kb = 0;
  while (fgets(line, sizeof line, f)) {
    if (strncmp(line, "VmData:", 7) == 0) {
      kb = strtoull(line + 7, nullptr, 10);
      break;
    }
  }
  fclose(f);
  return kb * 1024;
}

}  // namespace

uint32_t heap_growth() {
  if (DisableHeapChecking) return 0;
  uint64_t now = private_data_bytes();
  uint64_t expected = 0;
  baseline.compare_exchange_strong(expected, now);
  uint64_t base = baseline.load();
  if (now <= base) return 0;
  uint64_t growth = now - base;
  return growth > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(growth);
}

size_t heap_stats(size_t vmem) {
  if (DisableHeapChecking) return 0;
  struct mallinfo2 mi = mallinfo2();
  size_t alloc_count = mi.hblks;
  size_t alloc_bytes = mi.uordblks + mi.hblkhd;
  size_t free_count = mi.ordblks + mi.smblks;
  size_t free_bytes = mi.fordblks + mi.fsmblks;
  printf("heaps: %d blocks: %d alloc: (%d, %d) free: (%d, %d) vmem: %d\n", 1,
         static_cast<int>(alloc_count + free_count), static_cast<int>(alloc_count),
         static_cast<int>(alloc_bytes), static_cast<int>(free_count), static_cast<int>(free_bytes),
         static_cast<int>(vmem));
  return alloc_bytes;
}

void* heap_probe(size_t size) {
  if (size != 0) {
    fprintf(stderr, "Assertion failed: size == 0\n");
    abort();
  }
  void* p = mmap(nullptr, 1, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  ::munmap(p, 1);
  return p;
}

}  // namespace vorlane
