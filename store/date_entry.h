// The date-and-host entry of one document in the date map "din" (din_entry,
// described in db_files.h): built in one place for documents as they are
// indexed and for documents carried over by a database merge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "store/db_files.h"

namespace vorlane {

// The hash of a URL's host: term_hash1 of the text between the first "//"
// and the next "/" when such a "/" follows it and the host is shorter than
// 256 bytes; otherwise 0.
uint32_t url_host_hash(const char* url, size_t length);

// Word 0 = url_host_hash(url), word 1 = (local_day_number(date) & 0xFFFF)
// << 16.
din_entry make_date_entry(const char* url, size_t length, time_t date);

// din_day (store/db_files.h) reads the day number back.

}  // namespace vorlane
