// Whole-file memory mappings, the retrying open, file sizes and the uniform
// failure report.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vorlane {

// The pages of a view whose blocks fmap_reserve has allocated: one run of
// pages [first, end), as page numbers packed into one word (first in the low
// half) so that threads reserving through the same view read and replace it
// whole. Copied with the view it belongs to.
struct reserved_pages {
  std::atomic<uint64_t> packed{0};
  reserved_pages() = default;
  reserved_pages(const reserved_pages& other) : packed(other.packed.load(std::memory_order_relaxed)) {}
  reserved_pages& operator=(const reserved_pages& other) {
    packed.store(other.packed.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
  }
};

// The out-record of fmap and fmapwrite. The caller owns the view and the
// descriptor: it unmaps the view (munmap or funmap) and closes the
// descriptor.
struct mapped_file {
  void* address = nullptr;  // null when not mapped
  uint64_t size = 0;        // the file size when mapped (below 4 GiB)
  int fd = -1;              // descriptor of the same open file
  reserved_pages reserved;  // what fmap_reserve found or made room for
};

// Largest file the mapping functions accept: sizes stay 32-bit figures.
inline constexpr uint64_t kMaxMappedSize = 0xFFFFFFFFull;

// Logs "exception %s at %s %s" (errno text, what, name) at the warning level
// and returns 0.
int report_error(const char* what, const char* name);

// A file that could not be written (or made to last), as report_error with
// the file's path for name; the path and errno are also kept for this thread
// until the next such failure or clear_file_failure, so that the caller of a
// store call can say which file failed (file_failure_text).
int report_file_error(const char* what, const char* path);
void clear_file_failure();
// "<path>: <errno text>" of this thread's last file failure; empty when none
// was reported since clear_file_failure.
std::string file_failure_text();

// Up to 10 opens with a wait of one second after each failure; null after the
// tenth failure or for a null path. The wait can be replaced by tests.
FILE* fopen_retry(const char* path, const char* mode);
extern void (*fopen_retry_wait)(void);

// Size of an open file, -1 on failure.
long long fsize(int fd);

// Maps a whole existing file read-only (fmap) or read-write (fmapwrite).
// Result 1, or 0 after report_error with "fmap: opening", "fmap: map handle"
// (an empty file, or one of 4 GiB or more) or "fmap: mapping".
int fmap(const char* path, mapped_file* out);
int fmapwrite(const char* path, mapped_file* out);
// Maps the first bytes bytes of an existing file at least that long
// read-write (out->size = bytes). Messages as fmapwrite's.
int fmapwrite_size(const char* path, uint64_t bytes, mapped_file* out);

// Maps a file read-write at a requested size and locks it in memory. mode &
// 3: 0 read, 1 write, 2 or 3 read and write; 0x100 creates a missing file.
// Only modes 2 and 3 succeed (the mapping is read-write). Null on failure.
void* fmaplock(const char* path, size_t size, int* fd_out, void* ignored, int mode);

// Allocates the blocks under bytes [offset, offset + length) of a mapped
// file (clipped to its size) before they are stored through the view: a
// store into a hole of a file on a full disk (or one past a file size limit)
// would end the process with SIGBUS, while the reservation fails here with
// ENOSPC or EFBIG instead. Every store through a writable view of a file
// goes after one. A store dirties whole pages, so the blocks of the whole
// pages the range lies in are allocated (up to the file's end); pages this
// view has reserved before are not asked for again, so it may be called
// before every store. 1 (also for a view that is no file: a heap buffer or
// nothing), or 0 with errno set (nothing reported). durable_hook, when set,
// is asked first, at every call, with "reserve" and the file's path.
int fmap_reserve(mapped_file& file, uint64_t offset, uint64_t length);

// Unmaps a view and clears the address; 1, or 0 after report_error
// ("funmap: unmap failed", "").
int funmap(mapped_file* file);

// Unmaps a view made by the functions above (their recorded size is used, so
// the length may be 0). 0, or -1 with errno 22.
int munmap(void* address, size_t length);
// Writes the pages of a range of a view back to its file. 0, or -1 with errno 22.
int msync(void* address, size_t length, int flags);
// Writes the pages that hold a range of a mapped view back to its file
// (flags as msync: MS_ASYNC or MS_SYNC). 0, or -1.
int flush_range(void* address, size_t length, int flags);

}  // namespace vorlane
