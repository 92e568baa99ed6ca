// Database merge: a new database made of the documents of one or more open
// databases, without the deleted ones and those without a usable title, and
// the later carrying-over of the sources' deletions to it through its "adj"
// file (engine/dbmerge/adj_file.h).
//
// The document map has one signed 32-bit entry per source document, sources
// in list order and docids ascending: kDroppedDoc for a dropped document,
// (i - k) << 7 for a kept one, where i is its position in the map and k the
// number of documents kept before it; idbm_merge (store/term_merge.h) finds
// the new docid as position - (entry >> 7). The new docid of the document at
// map position i is therefore k.
//
// Both operations run without the interpreter lock and without locking the
// sources: other threads may query them and mark deletions meanwhile, which
// the merge copies over at its end; nothing may add documents to a source
// (a source opened for indexing is refused before anything is written).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/db_files.h"

namespace vorlane {
struct idbm_db;
}

namespace vorlane::engine {

// Sources of one merge: at most this many.
inline constexpr size_t kMaxMergeDbs = 128;

// A map entry holds (i - k) << 7 in a signed word, and new docids have 25
// bits: a merge may drop fewer than 2^24 documents and keep fewer than 2^25.
inline constexpr uint64_t kMaxDroppedDocs = uint64_t{1} << 24;
inline constexpr uint64_t kMaxMergedDocs = uint64_t{1} << 25;

struct merge_outcome {
  bool ok = true;
  bool out_of_memory = false;  // the script gets the memory error
  std::string message;         // the sorn.error text when not ok
};

// Called, when set, as merge_databases passes its steps: "begun" (the new
// database's temporaries begun, nothing of it written; n is 0), "map"
// (titles, date entries and deletion bytes taken, the document map complete;
// before idbm_merge) and "merged" (the term files merged; before "adj" and
// the deletions made meanwhile). map holds n entries. Tests set it to look at
// the map, to act at a chosen point, or to end the process there.
extern void (*merge_db_step)(const char* step, const int32_t* map, uint64_t n);

// Checks a merge can be made from these sources into path before anything is
// written: empty when it can, else the message. Refused are a source opened
// for indexing ("Database open for indexing: %d", with its id) and a target
// that is the directory of a source or of another database open in this
// process, or lies inside one ("Merge target lies in database %d"): in one
// process two databases would then be open under one path, and titles are
// cached by path (engine/db/title_cache.h).
std::string merge_precheck(const char* path, const std::vector<idbm_db*>& sources,
                           const std::vector<idbm_db*>& open);

// Writes the merged database to path and closes it (it is not opened for
// use). counts holds each source's document count as taken before the merge
// began. With write_adj the "adj" file is written; with recompute_din each
// date entry is rebuilt from the title (make_date_entry), else copied (zero
// past a source's date map). Every file is written under a temporary name
// and all of them are committed at once (store/db_commit.h): a merge that
// fails, or is killed, before its commit leaves a directory that held a
// database as it was; once committed the new database is whole, and a
// reused directory keeps no journal or "adj" of what it held before. Log
// lines at level 4: "expunging %d docs out of %d, keeping %d (%d%%)" and
// "propagated %d new doc deletions made while merging".
merge_outcome merge_databases(const char* path, const std::vector<idbm_db*>& sources,
                              const std::vector<uint32_t>& counts, uint32_t posting_limit, bool write_adj,
                              bool recompute_din);

// Copies the sources' current deletion bytes onto the open merged database's
// deletion map through its "adj" file ("adj open: %s", "adj corrupt"). The
// sources must hold exactly the N documents the file covers and their kept
// documents must number the merged database's count ("adj does not match
// the databases", nothing changed); a byte that can't be set fails the call
// ("Failed: idbm_demote"). Logs "propagated %d new doc deletions" at level 4.
merge_outcome merge_deletion_map(idbm_db* merged, const std::vector<idbm_db*>& sources);

}  // namespace vorlane::engine
