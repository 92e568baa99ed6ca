#include "store/title_fetch.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/mapfile.h"
#include "store/pread.h"

namespace vorlane {

// ti0.address is published last, with release order, by idbm_map_titles
// while other threads read titles: it is loaded with acquire order, and the
// size (written before it) read only once it is seen.
titles_view idbm_titles_view(const idbm_db* db) {
  titles_view v;
  void* address = std::atomic_ref<void*>(const_cast<void*&>(db->ti0.address)).load(std::memory_order_acquire);
  v.held = address || db->ti0_heap;
  if (address) {
    v.records = static_cast<const unsigned char*>(address);
    v.size = db->ti0.size;
  }
  return v;
}

namespace {

// Maps the whole file open at fd read-only into out, with a descriptor of
// its own. 1, or 0 after report_error as fmap's ("fmap: map handle" for an
// empty file).
int map_open_file(int fd, const std::string& path, mapped_file* out) {
  const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return report_error("fmap: opening", path.c_str());
  const long long size = fsize(own);
  if (size <= 0 || static_cast<uint64_t>(size) > kMaxMappedSize) {
    const int saved = errno;
    close(own);
    errno = saved;
    return report_error("fmap: map handle", path.c_str());
  }
  void* view = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, own, 0);
  if (view == MAP_FAILED) {
    const int saved = errno;
    close(own);
    errno = saved;
    return report_error("fmap: mapping", path.c_str());
  }
  out->address = view;
  out->size = static_cast<uint64_t>(size);
  out->fd = own;
  return 1;
}

bool same_file(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

int idbm_map_titles(idbm_db* db) {
  std::lock_guard<std::mutex> lock(db->titles_mutex);
  if (idbm_titles_view(db).held) return 1;
  const std::string path = db_file_path(db->name, "ti0");
  mapped_file m;
  errno = 0;
  if (!fmap(path.c_str(), &m)) {
    if (errno == 0) errno = EIO;
    return 0;
  }
  // A merge may have put another title file under the name since the handle
  // opened its own: the handle keeps reading the one it opened.
  const int own = db->title_files && db->ntitle_files > 0 ? db->title_files[0].fd : -1;
  if (own >= 0 && !same_file(own, m.fd)) {
    funmap(&m);
    close(m.fd);
    m = mapped_file{};
    if (!map_open_file(own, path, &m)) {
      if (errno == 0) errno = EIO;
      return 0;
    }
  }
  db->ti0.size = m.size;
  db->ti0.fd = m.fd;
  std::atomic_ref<void*>(db->ti0.address).store(m.address, std::memory_order_release);
  return 1;
}

int idbm_title_record(idbm_db* db, uint32_t docid, unsigned char* record, title_host* host) {
  const char* name = db->name ? db->name : "";
  if (docid >= db->ndocs) return report_error("idbm_title_record: docid out of range", name);
  if (!record) return report_error("idbm_title_record: null buffer", name);
  if (const titles_view ti0 = idbm_titles_view(db); ti0.held) {
    const uint64_t offset = uint64_t{docid} * kTitleBytes;
    if (offset + kTitleBytes > ti0.size) return report_error("idbm_title_record: docid beyond titles map", name);
    memcpy(record, ti0.records + offset, kTitleBytes);
  } else {
    const uint32_t file = docid >> kTitleFileShift;
    if (!db->title_files || file >= db->ntitle_files || db->title_files[file].fd < 0)
      return report_error("idbm_title_record: cannot find titles file", name);
    const uint64_t offset = uint64_t{docid & (kTitlesPerFile - 1)} * kTitleBytes;
    if (pread(db->title_files[file].fd, record, kTitleBytes, offset) != static_cast<ssize_t>(kTitleBytes))
      return report_error("idbm_title_record: cannot read title", name);
  }
  if (host) title_unpack(record, host);
  return 1;
}

const char* idbm_title_fields(idbm_db* db, uint32_t docid, unsigned char* record, uint32_t* checksum_out,
                              uint32_t* extra_out, uint32_t* date_out) {
  title_host host;
  if (!idbm_title_record(db, docid, record, &host)) return nullptr;
  if (checksum_out) {
    checksum_out[0] = host.checksum[0];
    checksum_out[1] = host.checksum[1];
  }
  if (extra_out) *extra_out = host.extra;
  if (date_out) *date_out = host.date;
  return host.title;
}

const char* idbm_title_url(idbm_db* db, uint32_t docid, unsigned char* record) {
  title_host host;
  return idbm_title_record(db, docid, record, &host) ? host.url : nullptr;
}

const char* idbm_title_publisher(idbm_db* db, uint32_t docid, unsigned char* record) {
  title_host host;
  return idbm_title_record(db, docid, record, &host) ? host.publisher : nullptr;
}

uint32_t idbm_title_doctype(idbm_db* db, uint32_t docid, unsigned char* record) {
  title_host host;
  return idbm_title_record(db, docid, record, &host) ? host.doctype : 0;
}

}  // namespace vorlane
