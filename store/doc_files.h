// The documents of a new database, written whole before they replace what
// the directory held: a merge (engine/dbmerge/db_merge.h) gives a handle of
// idbm_newdb its documents one by one in docid order, and they take the
// place of the directory's own title, deletion, date and score files only
// when the term files are committed with them (db_commit_new_files,
// store/db_commit.h):
//
//   ".ti<N>.new"  title file N: the 448-byte title records, 0x400000 per
//                 file but the last (store/db_files.h)
//   ".din.new"    one 8-byte date entry per document
//   ".inf.new"    the score setting, written by idbm_write_score_incr
//   ".del.new"    one deletion byte per document; the bytes stay in the
//                 handle's deletion map (a heap buffer, changed with
//                 idbm_demote) until idbm_write_doc_flags writes them
//   ".adj.new"    written by the caller when it wants an "adj"
//
// The directory's own files are never written: handles that have them open
// or mapped keep reading them, and a merge that fails or is killed before its
// commit point leaves them as they were (closing the handle drops the
// temporaries).
//
// Failures come back as messages "<file> <call>: <system text>", the file
// with its number for title files: "ti1 fopen: ...", "ti0 fwrite: ...",
// "ti0 fclose: ...", "din fwrite: ...", "del fputc: ...", "inf fclose: ...".
// Empty means success; kDocsOutOfMemory when memory for the deletion bytes
// is short.
#pragma once

#include <cstdint>
#include <string>

#include "store/db_files.h"

namespace vorlane {

struct idbm_db;

inline constexpr const char* kDocsOutOfMemory = "docs: out of memory";

// Begins the new document set of a handle of idbm_newdb for at most most
// documents: ".ti0.new", ".din.new" and an empty ".inf.new" are created
// (truncated when there), and the handle's streams of its own title,
// deletion, date and score files are closed unwritten. The handle's document
// count is 0 until idbm_end_docs.
std::string idbm_begin_docs(idbm_db* db, uint64_t most);

// Appends the next document: its title record (448 bytes), deletion byte
// and date entry. The title file after a full one is begun here.
std::string idbm_add_doc(idbm_db* db, const unsigned char* title, uint8_t flag, const din_entry& date);

// Ends the title, date and score files; the handle's document count becomes
// the number of documents appended.
std::string idbm_end_docs(idbm_db* db);

// Writes the deletion bytes, as they stand now, to ".del.new".
std::string idbm_write_doc_flags(idbm_db* db);

}  // namespace vorlane
