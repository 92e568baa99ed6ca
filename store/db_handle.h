// idbm_db: the handle of one open index database (formats in
// store/db_files.h).
//
// One structure serves three uses:
//  - a query database (idbm_open): "dir" mapped, every term-file part open
//    for positional reads, a term cache on the slot arenas (idbm_cache, made
//    by the owner right after opening);
//  - an incremental database (idbm_open_incr): title, deletion and date maps
//    mapped read-write at the document capacity, the term table and the icube
//    holding records under construction, the journal stream open;
//  - a loaded catalog (idbm_load): the mapped "cat" and its lookup table.
// The owner creates handles with the functions below and releases them with
// idbm_close. No lock guards a handle: it must not be closed while another
// thread uses it. The term cache has its own mutex (store/term_cache.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "store/mapfile.h"
#include "store/term_hash.h"
#include "store/sthread.h"

namespace vorlane {

struct slot;

// A term-file part or a title file: owned name, read descriptor (-1 when not
// open) and size in bytes.
struct db_file {
  char* name = nullptr;
  int fd = -1;
  uint64_t size = 0;
};

// A cache cell that lost its record (its slot was recycled); probes pass it.
inline constexpr uintptr_t CACHE_DEL = 0xFFFFFFFCu;

// The probe of a table of cells 1..size (the term cache, the catalog table):
// it starts at the cell of hash1 and steps to the next cell, from size to 1.
inline uint32_t probe_first(uint32_t hash1, uint32_t size) { return (hash1 & kHashMask) % size + 1; }
inline uint32_t probe_next(uint32_t cell, uint32_t size) { return cell == size ? 1 : cell + 1; }

// The fields are grouped by who sets them and what guards them. The handle
// lives in memory only; no file holds it whole.
struct idbm_db {
  // Set at open, read-only after: read on any thread without a lock.
  char* name = nullptr;          // owned copy of the directory path
  uint32_t id = 0;               // the owner's identifier
  int32_t posting_limit = 0;     // largest posting count a record may carry
  int32_t score_incr = 0;        // the score setting of "inf"
  mapped_file dir;               // "dir"; dir_copy when only its header is kept
  bool dir_copy = false;         // dir.address is a heap copy of the header
  uint32_t nparts = 0;
  db_file* parts = nullptr;
  uint32_t ntitle_files = 0;
  db_file* title_files = nullptr;
  idbm_db* catalog = nullptr;    // catalog of an incremental open (not owned)
  // Catalog lookup table of a catalog handle: cat_table[1..cat_size] point at
  // entries of the mapped catalog, 0 when empty.
  const uint32_t** cat_table = nullptr;
  uint32_t cat_size = 0;
  int32_t raw_score[128] = {};   // log_scale(i)
  int32_t score_map[101] = {};   // score 0..100 -> stored score class

  // Set at open; grows by one per document indexed into the handle
  // (store/indexing.h) and is set by a merge into it.
  uint32_t ndocs = 0;            // documents; next docid while indexing; in a
                                 // catalog handle the largest word 2 >> 7

  // Term cache (store/term_cache.h), guarded by cache_mutex. cache_table[0]
  // holds the size; cells 1..size hold record pointers, 0 for empty or
  // CACHE_DEL. cache_slots[i] is the slot holding cell i's record. Cells are
  // read without the mutex by lookups, hence atomics; counts change under
  // cache_mutex.
  std::atomic<int32_t> cache_free{0};
  std::atomic<int32_t> cache_limit{0};
  std::atomic<int32_t> cache_used{0};
  std::atomic<uintptr_t>* cache_table = nullptr;
  std::atomic<slot*>* cache_slots = nullptr;
  sthread_mutex cache_mutex = nullptr;

  // The first title file in memory: mapped or a heap buffer (ti0_heap) from
  // the open on, or mapped into a query handle later by idbm_map_titles,
  // under titles_mutex, while other threads read titles. Readers outside the
  // open, save and close take it through idbm_titles_view
  // (store/title_fetch.h). A catalog handle maps "cat" into ti0.
  mapped_file ti0;
  bool ti0_heap = false;
  std::mutex titles_mutex;

  // Deletion and date maps: mapped files, or heap buffers when the *_heap
  // flag is set. Set at open; their bytes change in place (deletions,
  // indexing).
  mapped_file del;
  bool del_heap = false;
  mapped_file din;
  bool din_heap = false;

  // Indexing state of an incremental database, used by the thread that
  // indexes into the handle (store/indexing.h, store/journal.h).
  // icube: the record buffer of the records under construction.
  uint32_t icube_words = 0;
  uint32_t icube_limit = 0;
  uint32_t icube_used = 0;
  uint32_t* icube = nullptr;
  // Mode of the term records built by indexing into this handle: -1 before
  // the first one, 0 raw frequencies, 1 normalised. A document indexed in the
  // other mode is refused whole (store/indexing.h).
  int32_t index_normalised = -1;
  // The journal; closed by idbm_close_journal or a save.
  FILE* jnl_stream = nullptr;
  // The journal could not be kept aligned with the documents in memory: the
  // handle refuses every later insert.
  bool journal_failed = false;

  // Streams of a database being written, used by the thread that saves or
  // merges into the handle; sum_stream is never opened.
  FILE* tf_stream = nullptr;
  FILE* ti_stream = nullptr;
  FILE* dir_stream = nullptr;
  FILE* cat_stream = nullptr;
  FILE* sum_stream = nullptr;
  FILE* del_stream = nullptr;
  FILE* din_stream = nullptr;
  FILE* inf_stream = nullptr;
  // The dir, cat and tf streams write the temporaries of a save or merge not
  // yet committed (store/db_commit.h); new_part is the part tf_stream writes;
  // new_ended: their header is written, they may be committed.
  bool new_files = false;
  bool new_ended = false;
  uint32_t new_part = 0;
  // A new document set (store/doc_files.h): ti_stream writes the temporary
  // of title file new_title_file, din_stream and inf_stream those of "din"
  // and "inf", del is a heap buffer of new_docs_room bytes holding the
  // deletion bytes of the documents added so far (del.size of them).
  bool new_docs = false;
  uint32_t new_title_file = 0;
  uint64_t new_docs_room = 0;
  // A save or merge of this handle has passed its commit point: a later save
  // begins new files.
  bool saved = false;
};

// Flags of idbm_openInner.
enum : uint32_t {
  IDBM_DEL_REQUIRED = 0x01,
  IDBM_DEL_WRITABLE = 0x02,
  IDBM_DIN_REQUIRED = 0x10,
  IDBM_DIN_WRITABLE = 0x20,
  IDBM_KEEP_DIR = 0x100,      // keep "dir" mapped, open every part for reads
  IDBM_INCREMENTAL = 0x200,   // incremental open when a journal exists
  IDBM_SCORE_MAP = 0x1000,
};

// The handle's directory path for messages; "" when it has none.
inline const char* db_name(const idbm_db* db) { return db->name ? db->name : ""; }

// The header of the directory the handle keeps (mapped or copied).
inline const uint32_t* idbm_dir_words(const idbm_db* db) {
  return static_cast<const uint32_t*>(db->dir.address);
}

// Opening. Results are handles or null after a report; a failed open releases
// everything it built.
idbm_db* idbm_openInner(const char* path, uint32_t id, int32_t posting_limit, uint32_t count,
                        int32_t score_incr, idbm_db* catalog, uint32_t flags);
idbm_db* idbm_open(const char* path, int32_t posting_limit, uint32_t count, int32_t score_incr,
                   idbm_db* catalog, uint32_t id = 0);  // keep dir, incremental, score map
idbm_db* idbm_open_full(const char* path, uint32_t id, int32_t posting_limit, uint32_t count,
                        int32_t score_incr, idbm_db* catalog);  // those, del and din required
idbm_db* idbm_open_plain(const char* path, idbm_db* catalog);  // no flags

// Incremental open of a database with (or without) a journal, at a document
// capacity of count. A capacity below the journal's record count is refused
// before any file is touched, as is one of more than one title file. Replays
// the journal; a replay that does not fit the term table or the icube of the
// capacity refuses the open and leaves the files as they were. The saved
// term files, directory and catalog stay until the handle's save commits.
idbm_db* idbm_open_incr(const char* path, int32_t posting_limit, uint32_t count, int32_t score_incr,
                        idbm_db* catalog);

// Creates (or reuses) the directory and opens its files for writing: the
// term files, directory and catalog under temporary names (store/db_commit.h),
// the title, deletion, date and "inf" files as they are (a merge gives the
// handle a new document set instead, store/doc_files.h). A path that is
// missing or not writable is moved aside as "<path>.<seconds>" first. Null
// while another handle writes new files in the directory.
idbm_db* idbm_newdb(const char* path, int32_t posting_limit);

// 1, or 0 when a stream failed to close; null gives 1.
int idbm_close(idbm_db* db);

// Fills raw_score and score_map.
void idbm_score_map(idbm_db* db);

// Set "ti0" to n x 448 bytes, "del" to n bytes, "din" to n x 8 bytes (a
// shorter file is extended with zeros, a longer one keeps its tail, since
// other handles may have it mapped), close the stream and map the first n
// records read-write into the handle. 1 or 0; the din step gives 1 when there
// is no din stream.
int idbm_trunc_titles(idbm_db* db, uint32_t n);
int idbm_trunc_del(idbm_db* db, uint32_t n);
int idbm_trunc_din(idbm_db* db, uint32_t n);

// Default cache and icube sizes for n > 100 documents (n x 384, n x 3584).
void idbm_set_incr_sizes(uint32_t n);
extern uint32_t idbm_incr_cache_size;
extern uint32_t idbm_incr_icube_size;

}  // namespace vorlane
