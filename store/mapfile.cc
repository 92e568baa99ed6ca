#include "store/mapfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/alloc.h"
#include "store/db_commit.h"
#include "store/log.h"

namespace vorlane {

namespace {

std::mutex views_mutex;
std::map<void*, size_t>& view_sizes() {
  static auto* views = new std::map<void*, size_t>;
  return *views;
}

void remember_view(void* address, size_t size) {
  std::lock_guard<std::mutex> lock(views_mutex);
  view_sizes()[address] = size;
}

// The recorded size of a view, 0 when unknown; forgets it.
size_t forget_view(void* address) {
  std::lock_guard<std::mutex> lock(views_mutex);
  auto it = view_sizes().find(address);
  if (it == view_sizes().end()) return 0;
  size_t size = it->second;
  view_sizes().erase(it);
  return size;
}

void sleep_one_second() { sleep(1); }

uint64_t page_bytes() {
  static const uint64_t size = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return size;
}

struct file_failure {
  std::string path;
  int error = 0;
};
thread_local file_failure last_file_failure;

// The path an open descriptor names, for the fault hook.
std::string descriptor_path(int fd) {
  char link[64], buf[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Maps a whole file, or its first want bytes when want is not 0.
int map_whole(const char* path, mapped_file* out, bool writable, uint64_t want = 0) {
  const char* opening = writable ? "fmapwrite: opening" : "fmap: opening";
  const char* handle = writable ? "fmapwrite: map handle" : "fmap: map handle";
  const char* mapping = writable ? "fmapwrite: mapping" : "fmap: mapping";
  *out = mapped_file{};
  int fd = open(path, (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return report_error(opening, path);
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size <= 0 || static_cast<uint64_t>(st.st_size) > kMaxMappedSize ||
      static_cast<uint64_t>(st.st_size) < want) {
    int saved = errno;
    close(fd);
    errno = saved;
    return report_error(handle, path);
  }
  size_t size = static_cast<size_t>(want ? want : static_cast<uint64_t>(st.st_size));
  out->size = size;
  void* view = mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    int saved = errno;
    close(fd);
    errno = saved;
    return report_error(mapping, path);
  }
  remember_view(view, size);
  out->address = view;
  out->fd = fd;
  return 1;
}

}  // namespace

void (*fopen_retry_wait)(void) = &sleep_one_second;

int report_error(const char* what, const char* name) {
  char buf[256];
  const char* text = strerror_r(errno, buf, sizeof buf);
  log_msg(LOG_WARNING, "exception %s at %s %s", text, what, name);
  return 0;
}

int report_file_error(const char* what, const char* path) {
  const int saved = errno;
  last_file_failure.path = path ? path : "";
  last_file_failure.error = saved;
  report_error(what, path ? path : "");
  errno = saved;
  return 0;
}

void clear_file_failure() {
  last_file_failure.path.clear();
  last_file_failure.error = 0;
}

std::string file_failure_text() {
  if (last_file_failure.path.empty()) return std::string();
  char buf[256];
  return last_file_failure.path + ": " + strerror_r(last_file_failure.error, buf, sizeof buf);
}

int fmap_reserve(mapped_file& file, uint64_t offset, uint64_t length) {
  if (!file.address || file.fd < 0 || offset >= file.size || length == 0) return 1;
  if (length > file.size - offset) length = file.size - offset;
  if (durable_hook) {
    if (const int e = durable_hook("reserve", descriptor_path(file.fd).c_str())) {
      errno = e;
      return 0;
    }
  }
  const uint64_t page = page_bytes();
  const uint64_t first = offset / page, end = (offset + length + page - 1) / page;
  uint64_t known = file.reserved.packed.load(std::memory_order_acquire);
  if (first >= (known & 0xFFFFFFFFu) && end <= (known >> 32)) return 1;
  const uint64_t to = std::min(end * page, file.size);
  int rc;
  do {
    rc = posix_fallocate(file.fd, static_cast<off_t>(first * page), static_cast<off_t>(to - first * page));
  } while (rc == EINTR);
  if (rc != 0) {
    errno = rc;
    return 0;
  }
  // The run grows by the pages reserved now when they touch it, and is
  // replaced by them otherwise; either way it holds only reserved pages.
  for (;;) {
    const uint64_t low = known & 0xFFFFFFFFu, high = known >> 32;
    const bool joins = low < high && first <= high && end >= low;
    const uint64_t run = joins ? (std::max(high, end) << 32) | std::min(low, first) : (end << 32) | first;
    if (run == known ||
        file.reserved.packed.compare_exchange_weak(known, run, std::memory_order_acq_rel, std::memory_order_acquire))
      return 1;
  }
}

FILE* fopen_retry(const char* path, const char* mode) {
  if (!path) return nullptr;
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (FILE* f = fopen(path, mode)) return f;
    fopen_retry_wait();
  }
  return nullptr;
}

long long fsize(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

int fmap(const char* path, mapped_file* out) { return map_whole(path, out, false); }
int fmapwrite(const char* path, mapped_file* out) { return map_whole(path, out, true); }
int fmapwrite_size(const char* path, uint64_t bytes, mapped_file* out) {
  if (bytes == 0) {
    *out = mapped_file{};
    errno = EINVAL;
    return report_error("fmapwrite: map handle", path);
  }
  return map_whole(path, out, true, bytes);
}

void* fmaplock(const char* path, size_t size, int* fd_out, void*, int mode) {
  int access = mode & 3;
  int flags = access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR;
  if (mode & 0x100) flags |= O_CREAT;
  int fd = open(path, flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    report_error("fmaplock: opening", path);
    return nullptr;
  }
  long long have = fsize(fd);
  size_t use = size;
  if (size == 0 || (have >= 0 && static_cast<unsigned long long>(have) >= size)) {
    use = have > 0 ? static_cast<size_t>(have) : 0;
  } else if (access == 2) {
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
      int saved = errno;
      close(fd);
      errno = saved;
      report_error("fmaplock: fsize", path);
      return nullptr;
    }
  } else {
    close(fd);
    report_error("fmaplock: fsize", path);
    return nullptr;
  }
  if (use == 0 || use > kMaxMappedSize || access < 2) {
    int saved = errno;
    close(fd);
    errno = saved;
    report_error("fmaplock: map handle", path);
    return nullptr;
  }
  void* view = mmap(nullptr, use, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    int saved = errno;
    close(fd);
    errno = saved;
    report_error("fmaplock: mapping", path);
    return nullptr;
  }
  remember_view(view, use);
  lock_pages(view, use);
  if (fd_out) *fd_out = fd; else close(fd);
  return view;
}

int funmap(mapped_file* file) {
  if (vorlane::munmap(file->address, static_cast<size_t>(file->size)) != 0)
    return report_error("funmap: unmap failed", "");
  file->address = nullptr;
  return 1;
}

int munmap(void* address, size_t length) {
  size_t size = forget_view(address);
  if (size == 0) size = length;
  if (!address || size == 0 || ::munmap(address, size) != 0) {
    errno = 22;
    return -1;
  }
  return 0;
}

int msync(void* address, size_t length, int) {
  uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t a = reinterpret_cast<uintptr_t>(address);
  uintptr_t start = a & ~(page - 1);
  if (!address || ::msync(reinterpret_cast<void*>(start), length + (a - start), MS_SYNC) != 0) {
    errno = 22;
    return -1;
  }
  return 0;
}

}  // namespace vorlane

namespace vorlane {

int flush_range(void* address, size_t length, int flags) {
  if (!address) return -1;
  uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t a = reinterpret_cast<uintptr_t>(address);
  uintptr_t start = a & ~(page - 1);
  return ::msync(reinterpret_cast<void*>(start), length + (a - start), flags) == 0 ? 0 : -1;
}

}  // namespace vorlane
