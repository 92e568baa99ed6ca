#include "store/title_fetch.h"

#include <cstring>

#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/mapfile.h"
#include "store/pread.h"

namespace vorlane {

int idbm_title_record(idbm_db* db, uint32_t docid, unsigned char* record, title_host* host) {
  const char* name = db->name ? db->name : "";
  if (docid >= db->ndocs) return report_error("idbm_title_record: docid out of range", name);
  if (!record) return report_error("idbm_title_record: null buffer", name);
  if (db->ti0.address || db->ti0_heap) {
    const uint64_t offset = uint64_t{docid} * kTitleBytes;
    if (offset + kTitleBytes > db->ti0.size) return report_error("idbm_title_record: docid beyond titles map", name);
    memcpy(record, static_cast<const unsigned char*>(db->ti0.address) + offset, kTitleBytes);
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
