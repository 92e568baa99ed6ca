#include "store/alloc.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "store/log.h"

namespace vorlane {

namespace {

std::mutex block_mutex;
std::map<void*, size_t>& block_sizes() {
  static auto* sizes = new std::map<void*, size_t>;
  return *sizes;
}

size_t page_size() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

long locked_pages = 0;
bool may_raise = true;

}  // namespace

void* s_malloc(size_t size) {
  void* p = malloc(size ? size : 1);
  if (!p) {
    fputs("malloc failed\n", stderr);
    fflush(stderr);
    _exit(1);
  }
  return p;
}

void* s_realloc(void* block, size_t size) {
  void* p = realloc(block, size ? size : 1);
  if (!p) {
    fputs("realloc failed\n", stderr);
    fflush(stderr);
    _exit(1);
  }
  return p;
}

void* s_malloc_debug(size_t size, const char* file, int line) {
  fprintf(stderr, "s_malloc(%zu) at line %d in file %s\n", size, line, file);
  return s_malloc(size);
}

void* s_realloc_debug(void* block, size_t size, const char* file, int line) {
  fprintf(stderr, "s_realloc(%zu) at line %d in file %s\n", size, line, file);
  return s_realloc(block, size);
}

void s_free(void* block) {
  if (block) free(block);
}

void* valloc(size_t size) {
  if (size == 0) size = 1;
  size_t pages = (size + page_size() - 1) / page_size();
  if (pages > SIZE_MAX / page_size()) return nullptr;
  size_t bytes = pages * page_size();
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  std::lock_guard<std::mutex> lock(block_mutex);
  block_sizes()[p] = bytes;
  return p;
}

void* valloc_arena(size_t size) { return valloc(size); }

int vfree_block(void* address) {
  if (!address) return 0;
  size_t bytes;
  {
    std::lock_guard<std::mutex> lock(block_mutex);
    auto it = block_sizes().find(address);
    if (it == block_sizes().end()) return 0;
    bytes = it->second;
    block_sizes().erase(it);
  }
  return ::munmap(address, bytes) == 0;
}

int vfree(void* address, size_t) { return vfree_block(address); }

size_t valloc_size(const void* address) {
  std::lock_guard<std::mutex> lock(block_mutex);
  auto it = block_sizes().find(const_cast<void*>(address));
  return it == block_sizes().end() ? 0 : it->second;
}

int lock_pages(void* address, size_t size) {
  if (size == 0) return 1;
  uintptr_t a = reinterpret_cast<uintptr_t>(address);
  long touched = static_cast<long>(((a + size - 1) >> 12) - a / 4096 + 1);
  int ok = mlock(address, size) == 0;
  if (!ok && may_raise) {
    long limit = locked_pages + touched + 10;
    struct rlimit rl;
    rl.rlim_cur = static_cast<rlim_t>(limit) * 4096;
    rl.rlim_max = rl.rlim_cur;
    struct rlimit old;
    if (getrlimit(RLIMIT_MEMLOCK, &old) == 0 && old.rlim_max != RLIM_INFINITY && old.rlim_max > rl.rlim_max)
      rl.rlim_max = old.rlim_max;
    if (setrlimit(RLIMIT_MEMLOCK, &rl) != 0) {
      may_raise = false;
      syslog_write(6, "Can't raise working set size");
    } else {
      syslog_write(6, "Raised working set size to %ld pages", limit);
    }
    ok = mlock(address, size) == 0;
  }
  locked_pages += touched;
  return ok;
}

int unlock_pages(void* address, size_t size) {
  if (size == 0) return 1;
  uintptr_t a = reinterpret_cast<uintptr_t>(address);
  long touched = static_cast<long>(((a + size - 1) >> 12) - a / 4096 + 1);
  int ok = munlock(address, size) == 0;
  locked_pages -= touched;
  return ok;
}

}  // namespace vorlane
