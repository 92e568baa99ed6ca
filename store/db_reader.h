// The sequential reader over every term-file part of an open database (used
// by merging and the directory rebuild), and the directory rebuild itself.
#pragma once

#include <cstdint>

namespace vorlane {

struct idbm_db;

struct idbm_reader {
  // The part being read: the handle's own descriptor when it has the part
  // open (so a handle keeps reading the files it opened after a save or
  // merge has replaced them), else one the reader opened by name (own_fd).
  int fd = -1;
  bool own_fd = false;
  uint32_t part = 0;        // its number
  uint64_t part_size = 0;
  uint64_t part_read = 0;   // bytes of the part read into the buffer so far
  unsigned char* buffer = nullptr;
  uint64_t capacity = 0;    // bytes the buffer holds
  uint64_t begin = 0;       // next unread byte in the buffer
  uint64_t end = 0;         // bytes of data in the buffer
  // Where the record last returned lies.
  uint32_t record_part = 0;
  uint64_t record_offset = 0;
  uint32_t record_size = 0;
};

// Opens part 0 and fills the first chunk of a buffer of max(posting limit x 4
// + 36, 8192) bytes (grown when a record needs more). Null after
// "idbm_buffer: can't open", "idbm_buffer: empty file" or "idbm_buffer: can't
// read from".
idbm_reader* idbm_buffer(idbm_db* db);

// The next record (compact or full form, as stored) or null at the end of the
// last part or at the first record that fails validation against the
// database's document count (its message names the part). A record cut at
// the end of a part is corruption ("idbm_record: record cut at end of part:").
// The record stays valid until the next call.
const uint32_t* idbm_record(idbm_db* db, idbm_reader* reader);

void idbm_buffer_free(idbm_reader* reader);

// True when the last null from idbm_record was the end of the data rather
// than a failure.
bool idbm_reader_at_end(const idbm_reader* reader);

// Rebuilds "dir" of an open database from its term files: header kept,
// written to ".dir" with an entry for each record that needs one, then "dir"
// renamed to "dir~", ".dir" to "dir", and the new "dir" mapped into the
// handle. 1, or 0 after its message.
int idbm_mkdir(idbm_db* db);

}  // namespace vorlane
