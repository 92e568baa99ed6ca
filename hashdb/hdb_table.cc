// Opening, closing and flushing a table, and the handle's function table.
// The operations on pairs are in hdb_access.cc.
#include "hashdb/hdb_table.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hashdb/hdb_access.h"
#include "hashdb/hdb_cursor.h"
#include "hashdb/hdb_errno.h"
#include "hashdb/hdb_overflow.h"
#include "platform/disk_sector.h"

namespace vorlane::hashdb {

uint32_t hdb_chain_bound(const hdb_table* t) { return t->header.spares[t->header.overflow_point] + 1; }

bool hdb_is_bitmap_page(const hdb_table* t, uint32_t page_number) {
  for (uint32_t i = 0; i < t->bitmap_count && i < static_cast<uint32_t>(kMaxBitmaps); ++i)
    if (t->header.bitmap_pages[i] && hdb_oaddr_page(t->header, t->header.bitmap_pages[i]) == page_number)
      return true;
  return false;
}

uint32_t hdb_sector_size(int fd) {
  uint32_t bytes = platform::bytes_per_sector(fd);
  return bytes >= kMinBucketSize && bytes <= kMaxBucketSize ? bytes : 4096;
}

namespace {

hdb_table* table_of(hdb_handle* h) {
  if (!h || !h->internal) {
    errno = EINVAL;
    return nullptr;
  }
  return h->internal;
}

void release_bitmaps(hdb_table* t, int flags) {
  for (uint8_t*& bm : t->bitmaps) {
    if (bm) hdb_pool_put(t->pool, bm, flags);
    bm = nullptr;
  }
}

int write_header(hdb_table* t) {
  t->header.magic = kMagic;
  t->header.version = kVersion;
  t->header.hash_check = hdb_hash_check(t->hash);
  uint8_t bytes[kHeaderBytes];
  hdb_header_encode(t->header, bytes);
  ssize_t n;
  do n = ::pwrite(t->fd, bytes, kHeaderBytes, 0);
  while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(kHeaderBytes)) {
    set_site_errno(kSiteHeaderWrite);
    return -1;
  }
  return 0;
}

// Writes a read-write table back: the bitmap pages go back to the pool dirty,
// every dirty page is written, and only then the header, so that a file cut
// short by a crash never has a header that counts buckets whose pages are
// missing. Slots freed before this point become reusable afterwards. The
// result is 0 or -1, errno holding the first failure's code.
int flush(hdb_table* t) {
  if (!t->save) {
    release_bitmaps(t, 0);
    return 0;
  }
  release_bitmaps(t, kPoolDirty);
  if (hdb_pool_sync(t->pool) != 0) return -1;
  if (write_header(t) != 0) return -1;
  hdb_apply_pending_frees(t);
  return 0;
}

void free_table(hdb_table* t) {
  if (!t) return;
  if (t->seq_cursor) {
    if (t->pool) hdb_cursor_release(t, t->seq_cursor);
    std::free(t->seq_cursor);
  }
  if (t->pool) hdb_pool_close(t->pool);
  if (t->fd >= 0) ::close(t->fd);
  std::free(t->big_data);
  std::free(t->big_key);
  std::free(t->pending_frees);
  std::free(t);
}

int op_close(hdb_handle* h) {
  if (!h) return -1;
  hdb_table* t = h->internal;
  int result = 0;
  if (t) {
    if (t->seq_cursor) hdb_cursor_release(t, t->seq_cursor);
    result = flush(t);
    // Bits of slots freed before the flush were cleared after it: write them too.
    if (result == 0 && t->save) result = flush(t);
    int saved = errno;
    hdb_pool_close(t->pool);
    t->pool = nullptr;
    if (::close(t->fd) != 0 && result == 0) {
      saved = errno;
      result = -1;
    }
    t->fd = -1;
    free_table(t);
    errno = saved;
  }
  std::free(h);
  return result;
}

int op_get(hdb_handle* h, const hdb_bytes* key, hdb_bytes* data, unsigned flags) {
  hdb_table* t = table_of(h);
  if (!t) return -1;
  if (flags != 0) {
    errno = EINVAL;
    return -1;
  }
  return hdb_access(t, kAccessGet, *key, data);
}

int op_put(hdb_handle* h, const hdb_bytes* key, const hdb_bytes* data, unsigned flags) {
  hdb_table* t = table_of(h);
  if (!t) return -1;
  if (flags != 0 && flags != kPutNoOverwrite) {
    errno = EINVAL;
    return -1;
  }
  if (!t->save) {
    errno = EPERM;
    return -1;
  }
  hdb_bytes d = *data;
  return hdb_access(t, flags == kPutNoOverwrite ? kAccessPutNew : kAccessPut, *key, &d);
}

int op_del(hdb_handle* h, const hdb_bytes* key, unsigned flags) {
  hdb_table* t = table_of(h);
  if (!t) return -1;
  if (flags != 0) {
    errno = EINVAL;
    return -1;
  }
  if (!t->save) {
    errno = EPERM;
    return -1;
  }
  return hdb_access(t, kAccessDelete, *key, nullptr);
}

int op_seq(hdb_handle* h, hdb_bytes* key, hdb_bytes* data, unsigned flags) {
  hdb_table* t = table_of(h);
  if (!t) return -1;
  if (flags != kSeqFirst && flags != kSeqNext && flags != 0) {
    errno = EINVAL;
    return -1;
  }
  return hdb_seq_walk(t, key, data, flags == kSeqFirst ? kSeqFirst : kSeqNext);
}

int op_sync(hdb_handle* h) {
  hdb_table* t = table_of(h);
  if (!t) return -1;
  return flush(t);
}

int op_fd(hdb_handle* h) {
  if (!h || !h->internal) return -1;
  if (h->internal->fd < 0) {
    errno = 2;
    set_site_errno(kSiteNoFile);
    return -1;
  }
  return h->internal->fd;
}

int disabled_del(hdb_handle*, const hdb_bytes*, unsigned) { return -1; }
int disabled_get(hdb_handle*, const hdb_bytes*, hdb_bytes*, unsigned) { return -1; }
int disabled_put(hdb_handle*, const hdb_bytes*, const hdb_bytes*, unsigned) { return -1; }
int disabled_seq(hdb_handle*, hdb_bytes*, hdb_bytes*, unsigned) { return -1; }
int disabled_sync(hdb_handle*) { return -1; }
int disabled_fd(hdb_handle*) { return -1; }

// Settings of a new table; false with errno 1204xxx when refused.
bool new_settings(hdb_table* t, const hdb_params* params) {
  hdb_header& h = t->header;
  h.byte_order = kLittleEndianOrder;
  h.bucket_size = hdb_sector_size(t->fd);
  h.bucket_shift = hdb_log2(h.bucket_size);
  h.fill_factor = kDefaultFillFactor;
  t->hash = hdb_default_hash;
  if (params) {
    if (params->bucket_size) {
      if (params->bucket_size > kMaxBucketSize) {
        errno = EINVAL;
        set_site_errno(kSiteNewSettings);
        return false;
      }
      h.bucket_shift = hdb_log2(params->bucket_size);
      h.bucket_size = 1u << h.bucket_shift;
      // Smaller pages leave no room for a page header, an entry and a big page.
      if (h.bucket_size < kMinBucketSize) {
        errno = EINVAL;
        set_site_errno(kSiteNewSettings);
        return false;
      }
    }
    if (params->fill_factor) h.fill_factor = params->fill_factor;
    if (params->hash) t->hash = params->hash;
    if (params->byte_order) {
      if (params->byte_order != static_cast<int>(kLittleEndianOrder) &&
          params->byte_order != static_cast<int>(kBigEndianOrder)) {
        errno = EINVAL;
        set_site_errno(kSiteNewSettings);
        return false;
      }
      h.byte_order = static_cast<uint32_t>(params->byte_order);
    }
  }
  h.header_pages = hdb_header_pages_for(h.bucket_size);
  return true;
}

// Lays out a new table for `expected` pairs and makes its first bitmap page.
bool new_layout(hdb_table* t, uint32_t expected) {
  hdb_header& h = t->header;
  uint64_t n = (uint64_t{expected} - 1) / h.fill_factor + 1;
  uint32_t k = 0;
  while ((uint64_t{1} << k) < (n < 2 ? 2 : n)) ++k;
  // The first bitmap page, slot (k, 1), lies after the 2^k bucket pages.
  if (k >= static_cast<uint32_t>(kSplitPoints) - 1 ||
      (uint64_t{1} << k) + h.header_pages > hdb_max_page(h.bucket_size)) {
    errno = EFBIG;
    set_site_errno(kSiteFirstBitmap);
    return false;
  }
  h.last_bucket = h.low_mask = (1u << k) - 1;
  h.high_mask = (1u << (k + 1)) - 1;
  h.spares[k] = h.spares[k + 1] = k + 1;
  h.overflow_point = k;
  h.last_freed = kInitialLastFreed;
  h.key_count = 0;
  t->bitmap_count = 0;
  if (hdb_make_bitmap(t, hdb_oaddr(k, 1), k + 1, 0) != 0) {
    set_site_errno(kSiteFirstBitmap);
    return false;
  }
  return true;
}

uint32_t default_cache(int fd) {
  struct stat st;
  uint64_t size = fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  if (size < kDefaultCacheBytes) return kDefaultCacheBytes;
  return size > kDefaultCacheMaxBytes ? kDefaultCacheMaxBytes : static_cast<uint32_t>(size);
}

bool read_header(hdb_table* t) {
  uint8_t bytes[kHeaderBytes];
  size_t done = 0;
  while (done < kHeaderBytes) {
    ssize_t n = ::pread(t->fd, bytes + done, kHeaderBytes - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (done < kHeaderBytes) {
    errno = EINVAL;
    set_site_errno(kSiteHeaderShort);
    return false;
  }
  hdb_header& h = t->header;
  hdb_header_decode(bytes, &h);
  int site = 0;
  if (h.magic != kMagic) site = kSiteBadMagic;
  else if (h.version != kVersion && h.version != kOldVersion) site = kSiteBadVersion;
  else if (hdb_hash_check(t->hash) != h.hash_check || !hdb_header_consistent(h)) site = kSiteBadHeader;
  if (site) {
    errno = EINVAL;
    set_site_errno(site);
    return false;
  }
  t->bitmap_count = hdb_bitmap_count(h);
  return true;
}

}  // namespace

hdb_handle* hdb_open(const char* file, int flags, int mode, int type, const hdb_params* params) {
  const int allowed = 3 | kOpenCreate | kOpenTruncate | kOpenExclusive | kOpenBinary | kOpenIgnoredBits;
  if ((flags & ~allowed) != 0 || type != kTypeHash || (flags & 3) == 3) {
    errno = EINVAL;
    return nullptr;
  }
  if ((flags & 3) == kOpenWriteOnly) {
    errno = EINVAL;
    set_site_errno(kSiteOpenWriteOnly);
    return nullptr;
  }
  hdb_table* t = static_cast<hdb_table*>(std::calloc(1, sizeof(hdb_table)));
  if (!t) {
    set_site_errno(kSiteTableMemory);
    return nullptr;
  }
  t->fd = -1;
  t->save = (flags & kOpenReadWrite) != 0;
  t->open_flags = flags;
  bool is_new = (flags & kOpenTruncate) != 0;
  bool existed = true;
  {
    struct stat st;
    if (stat(file, &st) != 0 && errno == ENOENT) {
      is_new = true;
      existed = false;
      errno = 0;
    }
  }
  int posix_flags = O_CLOEXEC | ((flags & kOpenReadWrite) ? O_RDWR : O_RDONLY);
  if (flags & kOpenCreate) posix_flags |= O_CREAT;
  if (flags & kOpenTruncate) posix_flags |= O_TRUNC;
  if (flags & kOpenExclusive) posix_flags |= O_EXCL;
  t->fd = ::open(file, posix_flags, mode);
  if (t->fd < 0) {
    set_site_errno(kSiteOpenFile);
    free_table(t);
    return nullptr;
  }
  bool ok;
  if (is_new) {
    ok = new_settings(t, params);
  } else {
    t->hash = params && params->hash ? params->hash : hdb_default_hash;
    ok = read_header(t);
  }
  if (ok) {
    uint32_t cache = params && params->cache_size ? params->cache_size : default_cache(t->fd);
    t->pool = hdb_pool_open(t->fd, t->header.bucket_size, cache / t->header.bucket_size);
    if (!t->pool) ok = false;
    else hdb_pool_set_hooks(t->pool, hdb_page_in, hdb_page_out, t);
  }
  if (ok && is_new) ok = new_layout(t, params && params->expected_elements ? params->expected_elements : 1);
  hdb_handle* h = nullptr;
  if (ok) {
    h = static_cast<hdb_handle*>(std::calloc(1, sizeof(hdb_handle)));
    if (!h) {
      set_site_errno(kSiteHandleMemory);
      ok = false;
    }
  }
  if (!ok) {
    int saved = errno;
    free_table(t);
    // A file this open created holds nothing yet: leave no empty file behind.
    if (!existed) ::unlink(file);
    errno = saved;
    return nullptr;
  }
  if (is_new) {
    t->header.magic = kMagic;
    t->header.version = kVersion;
    t->header.hash_check = hdb_hash_check(t->hash);
  }
  h->type = kTypeHash;
  h->close = op_close;
  h->del = op_del;
  h->get = op_get;
  h->put = op_put;
  h->seq = op_seq;
  h->sync = op_sync;
  h->internal = t;
  h->fd = op_fd;
  return h;
}

void hdb_disable(hdb_handle* h) {
  if (!h) return;
  h->del = disabled_del;
  h->get = disabled_get;
  h->put = disabled_put;
  h->seq = disabled_seq;
  h->sync = disabled_sync;
  h->fd = disabled_fd;
}

}  // namespace vorlane::hashdb
