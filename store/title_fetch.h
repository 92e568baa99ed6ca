// Fetching a docid's title record (store/title_record.h) from an open
// database: from the first title file held in memory ("ti0" mapped by an
// incremental open or by idbm_map_titles), else with one positional read from
// title file docid >> 22 at (docid & 0x3FFFFF) x 448.
#pragma once

#include <cstdint>

#include "store/title_record.h"

namespace vorlane {

struct idbm_db;

// The first title file as a handle holds it in memory. held: the handle
// serves title file 0 from memory (a mapping, or the heap buffer of a
// database being written); records: its bytes, null when none are mapped;
// size: their number.
struct titles_view {
  const unsigned char* records = nullptr;
  uint64_t size = 0;
  bool held = false;
};

// The handle's first title file in memory, read on any thread: a mapping
// that idbm_map_titles makes meanwhile is seen whole or not at all.
titles_view idbm_titles_view(const idbm_db* db);

// Maps "ti0" read-only into a query handle, so that titles of its first
// title file are copied from memory; the title files stay open (readers may
// be using them). When "ti0" is no longer the file the handle opened (a
// merge has replaced it), the handle's own is mapped. A handle that holds ti0
// already keeps it. Safe beside readers of the handle and beside another
// idbm_map_titles. 1, or 0 after the report of fmap with errno set (EIO when
// the failure set none).
int idbm_map_titles(idbm_db* db);

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
