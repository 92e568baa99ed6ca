#include "engine/db/get_titles.h"

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

#include "engine/db/title_cache.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/log.h"
#include "store/title_fetch.h"

namespace vorlane::engine {

namespace {

ssize_t read_nowait(int fd, void* buffer, size_t count, uint64_t offset) {
  iovec v{buffer, count};
  return preadv2(fd, &v, 1, static_cast<off_t>(offset), RWF_NOWAIT);
}

// A read the first pass could not complete; key indexes the call's keys.
struct pending_read {
  int fd;
  uint64_t offset;
  size_t key;
  int32_t docid;
  unsigned char* record;
};

// The title cache's keys of the title files one call reads: the database's
// path and the identity of the file its handle opened. Handles of one path
// that hold different files (a merge in another process put new ones under
// the names after one of them opened) thus never take each other's records,
// while handles of the same files share them; a purge of the path forgets
// them all (engine/db/title_cache.h). An empty key (the file can't be
// looked at) is not cached.
class file_keys {
 public:
  size_t of(const idbm_db* db, uint32_t file, int fd) {
    for (size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].db == db && entries_[i].file == file) return i;
    std::string key;
    struct stat st;
    if (db->name && fstat(fd, &st) == 0) {
      char tag[48];
      snprintf(tag, sizeof tag, "%c%llx:%llx", kTitleCacheFileMark, static_cast<unsigned long long>(st.st_dev),
               static_cast<unsigned long long>(st.st_ino));
      key = std::string(db->name) + tag;
    }
    entries_.push_back({db, file, std::move(key)});
    return entries_.size() - 1;
  }
  // Null for an empty key.
  const char* name(size_t i) const { return entries_[i].key.empty() ? nullptr : entries_[i].key.c_str(); }

 private:
  struct entry {
    const idbm_db* db;
    uint32_t file;
    std::string key;
  };
  std::vector<entry> entries_;
};

void log_read_failure(int fd, uint64_t offset, const char* call, int error) {
  char buf[256];
  log_msg(LOG_WARNING, "get_titles fd=0x%8.8x offset=%lld count=%d %s: %s", static_cast<unsigned>(fd),
          static_cast<long long>(offset), static_cast<int>(kTitleRecordSize), call,
          strerror_r(error, buf, sizeof buf));
}

// A blocking read of a whole record: the bytes read (short only at the end of
// the file), or -1 with errno.
ssize_t read_record(int fd, unsigned char* record, uint64_t offset) {
  size_t done = 0;
  while (done < kTitleRecordSize) {
    ssize_t r = ::pread(fd, record + done, kTitleRecordSize - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

// Errors that mean "read it with a blocking read instead": the data is not
// at hand, or the file system or kernel does not take non-blocking reads.
bool retry_blocking(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL ||
         error == EINTR;
}

}  // namespace

ssize_t (*title_read_nowait)(int fd, void* buffer, size_t count, uint64_t offset) = read_nowait;

void get_titles(idbm_db* const* dbs, const int32_t* docids, unsigned char (*records)[kTitleRecordSize], int n) {
  title_cache* cache = the_title_cache.load(std::memory_order_acquire);
  std::vector<pending_read> pending;
  file_keys keys;
  for (int i = 0; i < n; ++i) {
    unsigned char* record = records[i];
    idbm_db* db = dbs[i];
    const int32_t docid = docids[i];
    if (i >= kMaxTitlesPerCall || !db || docid < 0 || static_cast<uint32_t>(docid) >= db->ndocs) {
      memset(record, 0, kTitleRecordSize);
      continue;
    }
    const uint32_t file = static_cast<uint32_t>(docid) / kTitlesPerFile;
    const uint64_t offset = uint64_t{static_cast<uint32_t>(docid) % kTitlesPerFile} * kTitleRecordSize;
    if (file == 0) {
      // The mapping serves the first title file alone.
      if (const titles_view ti0 = idbm_titles_view(db); ti0.held) {
        if (ti0.records && offset + kTitleRecordSize <= ti0.size)
          memcpy(record, ti0.records + offset, kTitleRecordSize);
        else
          memset(record, 0, kTitleRecordSize);
        continue;
      }
    }
    if (!db->title_files || file >= db->ntitle_files || db->title_files[file].fd < 0) {
      memset(record, 0, kTitleRecordSize);
      continue;
    }
    const int fd = db->title_files[file].fd;
    const size_t key = cache ? keys.of(db, file, fd) : 0;
    if (cache && title_cache_lookup(cache, keys.name(key), docid, record)) continue;
    const ssize_t r = title_read_nowait(fd, record, kTitleRecordSize, offset);
    if (r == static_cast<ssize_t>(kTitleRecordSize)) {
      if (cache) title_cache_insert(cache, keys.name(key), docid, record);
    } else if (r >= 0 || retry_blocking(errno)) {
      // Not at hand (or only in part): ask for it now, read it below.
      posix_fadvise(fd, static_cast<off_t>(offset), kTitleRecordSize, POSIX_FADV_WILLNEED);
      pending.push_back({fd, offset, key, docid, record});
    } else {
      log_read_failure(fd, offset, "ReadFile", errno);
      memset(record, 0, kTitleRecordSize);
    }
  }
  for (const pending_read& p : pending) {
    const ssize_t r = read_record(p.fd, p.record, p.offset);
    if (r < 0) {
      log_read_failure(p.fd, p.offset, "GetOverlappedResult", errno);
      memset(p.record, 0, kTitleRecordSize);
    } else if (r == static_cast<ssize_t>(kTitleRecordSize)) {
      if (cache) title_cache_insert(cache, keys.name(p.key), p.docid, p.record);
    } else {
      memset(p.record, 0, kTitleRecordSize);
    }
  }
}

}  // namespace vorlane::engine
