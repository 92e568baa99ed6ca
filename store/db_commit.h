// How a database directory changes without ever being half-written.
//
// A save (idbm_write), a merge (idbm_merge) and a new database (idbm_newdb)
// write their new files under temporary names beside the live ones, which
// stay whole and readable meanwhile. A temporary is named "." + the name it
// takes + ".new":
//
//   ".dir.new"     the new "dir"; it exists from the start of the writing to
//                  the commit and marks the other temporaries as unfinished
//   ".cat.new"     the new "cat"
//   ".tf<N>.new"   the new part N
// and, when the writing brings a new document set (a merge, store/doc_files.h):
//   ".ti<N>.new"   the new title file N
//   ".din.new"     the new date map
//   ".inf.new"     the new score setting
//   ".del.new"     the new deletion map
//   ".adj.new"     the new "adj" (optional; engine/dbmerge/adj_file.h)
//
// Commit, with the directory locked (flock on the directory itself):
//   1. every temporary and every file the new "dir" describes (titles,
//      deletion and date maps, "inf": the temporaries of a new document set,
//      else the live files) is flushed and synced, and then the directory;
//   2. ".dir.new" is renamed to "dir": the single commit point. Before it the
//      old files are whole, after it the new ones are;
//   3. a commit with a new document set first removes what belonged to the
//      documents it replaces: "jnl", and "adj" when it brings none; then
//      ".cat.new", every ".tf<N>.new", ".ti<N>.new", ".din.new" and
//      ".inf.new" take their real names, parts and title files the new "dir"
//      does not use are removed, ".del.new" follows and ".adj.new" comes
//      last; the directory is synced.
// Without ".dir.new" any temporary left in the directory belongs to a commit
// whose step 3 was cut short; every open finishes it (db_finish_commit) before
// it reads anything, in the same order: while ".del.new" is there the
// journal and a stale "adj" still go, and once it has been renamed they are
// gone. Temporaries beside ".dir.new" are unfinished writing: they are
// ignored by readers, removed by the next writer and when their handle is
// closed.
//
// Handles that opened the old files keep reading them (renames do not touch
// open descriptors or mappings) until they reopen; nothing a reader has
// mapped is truncated or written.
//
// The directory rebuild (idbm_mkdir) writes ".dir", syncs it, keeps the old
// directory as "dir~" and renames ".dir" over "dir", so "dir" always exists.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vorlane {

struct idbm_db;

inline constexpr const char* kNewDirFile = ".dir.new";
inline constexpr const char* kNewCatFile = ".cat.new";
inline constexpr const char* kRebuildDirFile = ".dir";
inline constexpr const char* kOldDirFile = "dir~";

// "<dir>/.<name>.new": the temporary of the file name.
std::string db_new_file_path(const char* dir, const char* name);
// "<dir>/.tf<N>.new" and "<dir>/.ti<N>.new".
std::string db_new_part_path(const char* dir, uint32_t part);
std::string db_new_title_path(const char* dir, uint32_t file);

// Called, when set, before every step that makes files last or moves them
// ("sync", "dirsync", "rename", "unlink", "close", "append"), before a
// refused open for indexing sets a file's size back ("truncate"), before each
// journal write and each document a new document set takes ("write"), each
// record the replay reads ("read") and each reservation of blocks of a
// mapped file ("reserve", store/mapfile.h), with the file concerned. A
// non-zero result fails the step with that errno. Tests use it to end the
// process at a chosen step or to inject failures.
extern int (*durable_hook)(const char* op, const char* path);

// 1 when the step may go on; 0 with errno set by durable_hook.
int durable_step(const char* op, const char* path);

// Each 1, or 0 with errno set (nothing reported).
int durable_sync_fd(int fd, const char* path);
int durable_sync_path(const std::string& path);   // a file that may be missing: 1
int durable_sync_dir(const std::string& dir);
int durable_rename(const std::string& from, const std::string& to);
int durable_unlink(const std::string& path);      // a missing file: 1
// Flushes, syncs and closes a stream (stream cleared in every case).
int durable_finish(FILE*& stream, const char* path);

// Holds an exclusive flock on a database directory for its lifetime; held()
// is false when the directory cannot be opened (a missing one, say).
class db_dir_lock {
 public:
  explicit db_dir_lock(const char* dir);
  ~db_dir_lock();
  db_dir_lock(const db_dir_lock&) = delete;
  db_dir_lock& operator=(const db_dir_lock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Finishes a commit cut short after its commit point (see above); the caller
// holds the directory lock. 1, or 0 after its message.
int db_finish_commit(const char* dir);

// Starts new term files, directory and catalog under the temporary names:
// dir_stream, cat_stream and tf_stream of the handle (closed first when
// open) write ".dir.new", ".cat.new" and ".tf0.new". Temporaries of earlier
// unfinished writing are removed. 1, or 0 after its message.
int db_begin_new_files(idbm_db* db);

// Part N of the files being written (tf_stream moves to ".tf<N>.new"), the
// finished part synced and closed first. 1, or 0 with errno set.
int db_start_new_part(idbm_db* db, uint32_t part);

// Ends the writing of the files begun by db_begin_new_files: header (four
// words) goes to the start of ".dir.new", and the dir, cat and tf streams are
// flushed. 1, or 0 after its message.
int db_end_new_files(idbm_db* db, const uint32_t header[4]);

// Commits the files ended by db_end_new_files, with the handle's new
// document set when it has one (store/doc_files.h): syncs the temporaries
// and the files they describe, and renames them into place (steps 1 to 3
// above). The handle's dir, cat and tf streams are closed. 1, or 0 after its
// message: before the commit point the old files stay as they were; after it
// the new database is in place and the next open finishes what is left.
int db_commit_new_files(idbm_db* db);

// Drops the uncommitted files of a handle (its streams closed, temporaries
// removed). Called by idbm_close.
void db_abandon_new_files(idbm_db* db);

}  // namespace vorlane
