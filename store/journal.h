// Journal replay of a database opened for incremental indexing (the "jnl"
// format is described in store/db_files.h).
#pragma once

namespace vorlane {

struct idbm_db;

// Opens "jnl" of the handle's directory for reading and writing as the
// handle's journal stream, creating it empty when missing, and replays its
// records into the handle (normalising when asked). 1, or 0 when the journal
// can be neither opened nor created.
//
// The replay of documents belongs to the indexing code; until it is built, a
// journal that holds records is refused (result 0, "idbm_recover_log: journal
// replay is not available") so that no database opens without its documents.
int idbm_recover_log(idbm_db* db, int normalise);

}  // namespace vorlane
