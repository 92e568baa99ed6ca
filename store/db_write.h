// Writing a database: the record appender shared by saving and merging, the
// save of an incremental database and its score setting.
//
// A save writes every record of the handle's term table in hash-pair order
// into new term files (from part 0 at offset 0), with the sparse directory and
// an empty catalog, all under temporary names, and commits them by renaming
// the new directory over "dir" once everything is synced (store/db_commit.h).
// Until then the old files are whole; the journal is deleted only after the
// commit. A save cut short at any point, or failing, leaves the database that
// was there (or the journal) and the handle can save again.
#pragma once

#include <cstdint>

namespace vorlane {

struct idbm_db;

// The writer's state: where the last record went, {offset in its part,
// (size << 8) | part}; {0, 0} before the first record.
struct idbm_position {
  uint32_t offset = 0;
  uint32_t size_part = 0;
};

// A record that would make offset + size reach this starts the next part at
// offset 0 (0x7FFF0000; tests lower it).
extern uint64_t idbm_part_limit;

// Appends a full-form record to the handle's term files (tf_stream, opening
// the next part when the current one is full) and its directory entry, when it
// needs one, to dir_stream. A record with a non-zero norm (built by indexing
// with normalisation) is first rescaled into stored classes in a work copy of
// at most posting_limit postings. Records of one or two postings take the
// compact forms. 1; 0 for a record of count 0 (nothing written) or after the
// message of a failed check or write.
int idbm_append(idbm_db* db, const uint32_t* record, idbm_position* position);

// Called, when set, as idbm_write passes each of its steps: "records" (every
// record handed to the streams), "synced" (every new file written, nothing
// committed), "header" (the new directory committed) and "journal" (the
// journal deleted). Tests set it to end the process at a chosen step.
extern void (*idbm_write_step)(const char* step);

// Saves a database opened for incremental indexing (a handle of idbm_newdb
// or idbm_open_incr; "inf" open): the score setting, every term record (each
// cut to its first posting_limit postings), the title, deletion and date areas
// held in heap buffers, all synced and committed; last it closes and deletes
// the journal. A later save of the same handle writes new files again. 1, or
// 0 after the message of the failed step (the journal then stays).
int idbm_write(idbm_db* db, int32_t score_incr);

// Writes the score setting into "inf": value, or the stored one when value is
// 0. Fails when a stored non-zero setting differs from a non-zero value, or
// when both are below 1. 1 or 0.
int idbm_write_score_incr(idbm_db* db, int32_t value);

}  // namespace vorlane
