#include "hashdb/hdb_slab.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

namespace vorlane::hashdb {

void* hdb_slab_make(size_t bytes, bool large) {
  if (!large) return std::malloc(bytes);
  size_t size = bytes;
  // Map one large page more than needed and cut the ends off, so that the
  // slab starts on a large-page boundary.
  size_t mapped = size + kHugeSlabBytes;
  void* m = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(m);
  uintptr_t aligned = (start + kHugeSlabBytes - 1) & ~static_cast<uintptr_t>(kHugeSlabBytes - 1);
  if (aligned > start) ::munmap(m, aligned - start);
  uintptr_t end = aligned + size;
  uintptr_t mapped_end = start + mapped;
  if (mapped_end > end) ::munmap(reinterpret_cast<void*>(end), mapped_end - end);
  void* slab = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  ::madvise(slab, size, MADV_HUGEPAGE);  // advice only: no large pages is fine
#endif
#ifdef MADV_POPULATE_WRITE
  ::madvise(slab, size, MADV_POPULATE_WRITE);  // likewise on older systems
#endif
  return slab;
}

void hdb_slab_free(void* slab, size_t bytes, bool large) {
  if (!slab) return;
  if (large) ::munmap(slab, bytes);
  else std::free(slab);
}

}  // namespace vorlane::hashdb
