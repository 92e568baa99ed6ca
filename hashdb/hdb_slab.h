// Memory for runs of page buffers (slabs). A small slab comes from the heap;
// a large one (kHugeSlabBytes or more) is mapped on its own, aligned for
// the system's large pages, asked to use them and made present at once.
//
// Filling a buffer for the first time costs a page fault on every page of
// memory it lands on, and on a virtual machine each such fault can cost
// more than reading the page from the file. Large pages and memory made
// present in one call take nearly all of that away for a pool that grows
// past a few hundred buffers. Where the system has no large pages the
// memory is still made present at once.
#pragma once

#include <cstddef>

namespace vorlane::hashdb {

constexpr size_t kHugeSlabBytes = size_t{2} << 20;

// A slab of `bytes` bytes: from the heap, or with `large` mapped on its own
// (then `bytes` is a multiple of kHugeSlabBytes). None when there is no
// memory.
void* hdb_slab_make(size_t bytes, bool large);
// Frees a slab made with the same arguments.
void hdb_slab_free(void* slab, size_t bytes, bool large);

}  // namespace vorlane::hashdb
