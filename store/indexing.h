// Indexing documents into a database opened for incremental indexing
// (idbm_open_incr), and the deletion-map operations.
//
// Each document gets the next docid. Its terms go into term records in the
// icube, found through the handle's term table (cache_table, probed with
// idbm_freq_find); its title record, deletion byte and date entry go straight
// into the mapped title, deletion and date files; idbm_index_and_log then
// appends its journal record (store/journal.h) and flushes it.
//
// Records built here are in the full form (store/db_files.h) with room to
// grow: free counts the spare words after the end mark. Bits 25-31 of word 2
// hold the term's document-frequency weight (the norm, 1..100) when indexing
// normalises, 0 when it stores raw frequencies. A posting is docid << 7 |
// score: normalising, the score is percent_table[log_scale(freq)][norm]
// (0..100; idbm_append divides the norm out again when the record is saved);
// otherwise the raw frequency byte 1..127.
//
// A record that is full is copied into a new one with room for as many more
// postings as it has, but never more than the 15-bit free field holds, and the
// 17-bit count stops at kMaxRecCount: later documents then raise docf only
// (saving keeps the first posting_limit postings anyway).
//
// A handle holds records of one mode: a document indexed in the other mode is
// refused whole ("idbm_index: inconsistent normalization", result 0).
//
// Terms with a hash word outside 1..0x7FFFFFFF or a frequency outside 1..127
// are skipped ("idbm_index: illegal hash", "idbm_index: illegal score") and
// left out of the journal record, so that the journal never holds a record
// its replay rejects.
//
// No lock is taken: one thread at a time may index into, write or close a
// handle. idbm_demote and idbm_delete change single bytes of the deletion
// map, which queries read without a lock.
#pragma once

#include <cstdint>

namespace vorlane {

struct idbm_db;
struct doc_terms;

// Indexes one document: terms is a compacted table (size terms; may be null
// for none), title a 448-byte record or null. The new document count (> 0);
// -1 when a capacity is exhausted (the maps hold no room for another
// document: nothing is taken; or the term table or the icube is full: the
// docid is taken and the document stays deleted); 0 when the title cannot be
// stored or the document's mode contradicts the handle's, and 0 with nothing
// taken when the disk has no room for the blocks of its deletion byte, title
// record or date entry (fmap_reserve; report_file_error names the file).
int idbm_index(idbm_db* db, const doc_terms* terms, const unsigned char* title, uint8_t flag_byte,
               uint32_t din_word0, uint32_t din_word1, int normalise);

// idbm_index, then the document's journal record, flushed. A handle without a
// journal stream refuses the document before indexing it (0, with a
// message). A document whose indexing failed after its docid was taken is
// journaled as a record without terms (it stays deleted), so replay keeps
// later docids aligned. 0 also when the journal record cannot be written:
// the journal is cut back to the record's start and given the empty record
// of a failed insert, and the document is deleted, so later docids stay
// aligned; when not even the empty record can be written, the handle refuses
// every later document. A handle whose save failed after its commit point
// takes its directory again first (store/db_commit.h); while another handle
// writes there the document is refused (0, "idbm: another handle is
// writing").
int idbm_index_and_log(idbm_db* db, const doc_terms* terms, const unsigned char* title, uint8_t flag_byte,
                       uint32_t din_word0, uint32_t din_word1, int normalise);

// Sets a document's deletion byte to value (no flush). 1 (also when the value
// is already there), 0 when docid is not below the deletion map's size, the
// map is read-only or the disk has no room for the byte's block.
int idbm_demote(idbm_db* db, uint32_t docid, uint8_t value);

// Marks a document deleted (255), flushes the byte and sets the "del" file's
// modification time to now. 1 (an already deleted document: at once, file
// untouched), 0 as idbm_demote.
int idbm_delete(idbm_db* db, uint32_t docid);

// Is the pair and frequency of a term storable (both hash words 1..0x7FFFFFFF,
// frequency 1..127)?
inline bool index_term_valid(uint32_t hash1, uint32_t hash2, uint32_t freq) {
  return hash1 - 1u < 0x7FFFFFFFu && hash2 - 1u < 0x7FFFFFFFu && freq - 1u < 127u;
}

}  // namespace vorlane
