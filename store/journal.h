// The journal "jnl" of a database opened for incremental indexing: one record
// per indexed document, in docid order (format in store/db_files.h). It is
// written by idbm_index_and_log (store/indexing.h), flushed per document, and
// replayed by idbm_recover_log when the database is opened again; idbm_write
// deletes it once the saved files are on disk.
#pragma once

#include <cstdint>

namespace vorlane {

struct idbm_db;
struct doc_terms;

// Opens "jnl" of the handle's directory for reading and writing as the
// handle's journal stream (creating it empty when missing) and replays its
// records into the handle, normalising when asked. 1, or 0 when the journal
// can be neither opened nor created, or when the maps cannot hold its next
// document ("too many docs": the open fails and the journal is left as it
// is).
//
// A read error fails the replay without cutting anything; so does a
// document that does not fit the term table or the icube (the capacity is too
// small: the deletion byte is left as it was).
//
// The replay stops at the first damaged record (short length or body, a
// reclen above 0xB4000 or not a multiple of 9, a hash word below 1, a
// frequency outside 1..127, or a reclen of 0 for a document that is not
// deleted and has no title), keeps the documents before it, and cuts the
// journal there, so the next document is written where the damaged record
// began. A document whose deletion byte is 255 only takes its docid.
int idbm_recover_log(idbm_db* db, int normalise);

// Number of terms of a compacted table that go into its journal record (those
// idbm_index can store; 0 for null).
uint32_t jnl_valid_terms(const doc_terms* terms);

// Appends the journal record of a document (its storable terms; null for a
// record without terms) with one write to the journal's descriptor: once it
// returns the record survives the end of the process (it is not synced, so a
// power loss may take the last records). When the record cannot be written
// whole, the journal is cut back to its start and an empty record written
// there; when even that fails, the journal ends before the record and
// journal_failed is set. 1, or 0 after its message.
int jnl_write_record(idbm_db* db, const doc_terms* terms);

// Closes the handle's journal stream, if open; the file "jnl" stays. The
// handle then refuses further documents (they would have no journal
// record). 1, or 0 after report_error ("idbm_close_journal: fclose") when the
// close failed; the stream is gone either way.
int idbm_close_journal(idbm_db* db);

}  // namespace vorlane
