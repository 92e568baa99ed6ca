// Fetching a docid's title record (store/title_record.h) from an open
// database: from the mapped "ti0" of an incremental database, else with one
// positional read from title file docid >> 22 at (docid & 0x3FFFFF) x 448.
#pragma once

#include <cstdint>

#include "store/title_record.h"

namespace vorlane {

struct idbm_db;

// Reads the record of docid into the caller's 448-byte buffer and unpacks it
// into host. 1, or 0 after report_error: "idbm_title_record: docid out of
// range" (docid >= ndocs), "idbm_title_record: null buffer",
// "idbm_title_record: docid beyond titles map", "idbm_title_record: cannot
// find titles file", "idbm_title_record: cannot read title" (a failed or
// short read).
int idbm_title_record(idbm_db* db, uint32_t docid, unsigned char* record, title_host* host);

// idbm_title_record, then the title; the checksum pair, extra word and date
// are stored through the pointers that are not null. Null on failure.
const char* idbm_title_fields(idbm_db* db, uint32_t docid, unsigned char* record, uint32_t* checksum_out,
                              uint32_t* extra_out, uint32_t* date_out);

// One field of a docid's record (0 or null on failure).
const char* idbm_title_url(idbm_db* db, uint32_t docid, unsigned char* record);
const char* idbm_title_publisher(idbm_db* db, uint32_t docid, unsigned char* record);
uint32_t idbm_title_doctype(idbm_db* db, uint32_t docid, unsigned char* record);

}  // namespace vorlane
