// Allocation that stops the process instead of failing, page-granular
// allocation and page locking.
#pragma once

#include <cstddef>

namespace vorlane {

// The runtime's allocation; on failure prints "malloc failed\n" (or
// "realloc failed\n") to standard error and exits with code 1.
void* s_malloc(size_t size);
void* s_realloc(void* block, size_t size);
void* s_malloc_debug(size_t size, const char* file, int line);
void* s_realloc_debug(void* block, size_t size, const char* file, int line);
void s_free(void* block);

// Fresh zero-filled read-write pages (anonymous mmap), the size rounded up to
// whole pages and recorded so that vfree releases the whole block. Null on
// failure. valloc_arena is the entry the slot arenas use.
void* valloc(size_t size);
void* valloc_arena(size_t size);
// Releases a whole valloc block; non-zero on success. The size is ignored.
int vfree(void* address, size_t size);
int vfree_block(void* address);
// The bytes of a valloc block (its size rounded up to whole pages); 0 for an
// address that starts none.
size_t valloc_size(const void* address);

// Locks the pages of a range in memory (mlock); non-zero on success. When the
// first lock fails the locked-memory limit is raised once to cover the pages
// already locked plus these and ten more.
int lock_pages(void* address, size_t size);
int unlock_pages(void* address, size_t size);

}  // namespace vorlane
