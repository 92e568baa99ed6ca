// Merging the term files of several databases into a new one (the term files,
// sparse directory and catalog; the caller gives the new database its titles,
// deletion bytes and date entries, store/doc_files.h).
//
// Source s contributes docids base(s) .. base(s) + ndocs(s) - 1 of one global
// docid space (base(0) = 0, base(s + 1) = base(s) + ndocs(s)). An optional
// docid map holds one signed word per global docid: -1 drops the document,
// otherwise its new docid is the global docid minus (word >> 7), an
// arithmetic shift. The new database (idbm_newdb) carries the merged document
// count in ndocs and bounds merged records by its posting_limit.
//
// One pass: a k-way merge by hash pair of the sources' sequential readers,
// kept in an order array sorted by (current pair, source number). For each
// group of records with one pair:
//  - threshold: unless every posting fits (no score base and at most
//    posting_limit postings), the live postings (not dropped, docid below
//    the source's count) are counted per merged score (score + the record's
//    base; 128 or more is clamped to 127 with a warning "score overflow
//    base=%d score=%d db=%s"); whole score groups from 127 down are kept while
//    they fit the posting limit, the first that does not is the threshold t
//    and its first quota = limit - kept postings stay;
//  - the merged record lists each source's kept postings in order, renumbered;
//  - docf: the sum of the sources' docfs, less the dropped postings and the
//    same fraction of the postings never seen (cut earlier), capped at the new
//    document count, raised to the postings kept; "url:http" gets the new
//    document count;
//  - a catalog entry {hash1 | 0x80000000, hash2 | 0x80000000, (docf << 7) +
//    highest score, (count << 7) + mean score} when docf reaches new ndocs /
//    10000 (or the integer square root of ndocs when that is 0) and the
//    highest score is at least 24.
// A source whose term files fail validation fails the merge.
#pragma once

#include <cstdint>

namespace vorlane {

struct idbm_db;

inline constexpr int kMaxMergeSources = 800;

// Merges n open source databases into new_db (a handle of idbm_newdb). The
// new term files, directory and catalog are committed at the end, after the
// title, deletion, date and "inf" files are synced too (store/db_commit.h).
// 1 on success, 0 after the failure's message; the directory then holds what
// it held before (the uncommitted files go when new_db is closed).
int idbm_merge(int n, idbm_db* const* sources, idbm_db* new_db, const int32_t* docid_map);

// idbm_merge without the commit: the new term files, directory and catalog
// are written whole but stay under their temporary names, so that the
// caller can finish the new database's other files (store/doc_files.h) and
// commit them all together with db_commit_new_files. 1, or 0 after the
// failure's message.
int idbm_merge_terms(int n, idbm_db* const* sources, idbm_db* new_db, const int32_t* docid_map);

// The document count of a new database whose term files alone are merged,
// without a document set (store/doc_files.h; idbm_end_docs sets the count
// of one that has it): the merged directory and catalog carry it, and it
// bounds every merged record's docf. Set before idbm_merge.
void idbm_set_doc_count(idbm_db* new_db, uint32_t ndocs);

// The third word of the 16-byte entry (key1, key2, value, spare) of the
// process-wide merge map probed from key1 mod size by steps of one with
// wrap-around, or -1 at an empty entry (first word 0) or without a table.
// Nothing fills the table.
struct merge_map_entry {
  uint32_t key1, key2;
  int32_t value;
  uint32_t spare;
};
extern merge_map_entry* idbm_merge_map;
int32_t idbm_merge_map_find(uint32_t size, uint32_t key1, uint32_t key2);

}  // namespace vorlane
