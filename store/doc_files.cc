#include "store/doc_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store/db_commit.h"
#include "store/db_handle.h"

namespace vorlane {

namespace {

// "<file> <call>: <system text for error>".
std::string failure(const std::string& file, const char* call, int error) {
  char buf[256];
  const char* text = strerror_r(error, buf, sizeof buf);
  return file + " " + call + ": " + (text && *text ? text : std::to_string(error));
}

std::string title_name(uint32_t file) { return kTitleFilePrefix + std::to_string(file); }

// Flushes and closes a stream (cleared either way): empty, or the failure
// of the flush as a write, of the close as itself.
std::string end_stream(FILE*& stream, const std::string& file, const char* write_call) {
  FILE* f = stream;
  stream = nullptr;
  if (!f) return std::string();
  if (fflush(f) != 0) {
    const int e = errno;
    fclose(f);
    return failure(file, write_call, e);
  }
  if (fclose(f) != 0) return failure(file, "fclose", errno);
  return std::string();
}

void close_unwritten(FILE*& stream) {
  if (stream) fclose(stream);
  stream = nullptr;
}

}  // namespace

std::string idbm_begin_docs(idbm_db* db, uint64_t most) {
  if (!db->new_files || db->new_docs || db->del.address) return "docs: not a new database";
  const char* dir = db_name(db);
  for (FILE** s : {&db->ti_stream, &db->del_stream, &db->din_stream, &db->inf_stream}) close_unwritten(*s);
  void* flags = malloc(most ? most : 1);
  if (!flags) return kDocsOutOfMemory;
  db->del = mapped_file{flags, 0, -1, {}};
  db->del_heap = true;
  db->new_docs_room = most;
  db->new_docs = true;
  db->new_title_file = 0;
  db->ndocs = 0;
  db->score_incr = 0;
  db->ti_stream = fopen(db_new_title_path(dir, 0).c_str(), "w+b");
  if (!db->ti_stream) return failure(title_name(0), "fopen", errno);
  db->din_stream = fopen(db_new_file_path(dir, kDinFile).c_str(), "w+b");
  if (!db->din_stream) return failure(kDinFile, "fopen", errno);
  db->inf_stream = fopen(db_new_file_path(dir, kInfFile).c_str(), "w+b");
  if (!db->inf_stream) return failure(kInfFile, "fopen", errno);
  return std::string();
}

std::string idbm_add_doc(idbm_db* db, const unsigned char* title, uint8_t flag, const din_entry& date) {
  if (!db->new_docs || !db->ti_stream || !db->din_stream) return "docs: no new document set";
  const uint64_t k = db->del.size;
  if (k >= db->new_docs_room || k >= UINT32_MAX) return "docs: too many documents";
  const char* dir = db_name(db);
  if (k > 0 && k % kTitlesPerFile == 0) {
    std::string e = end_stream(db->ti_stream, title_name(db->new_title_file), "fwrite");
    if (!e.empty()) return e;
    db->new_title_file = static_cast<uint32_t>(k / kTitlesPerFile);
    db->ti_stream = fopen(db_new_title_path(dir, db->new_title_file).c_str(), "w+b");
    if (!db->ti_stream) return failure(title_name(db->new_title_file), "fopen", errno);
  }
  const std::string title_path = db_new_title_path(dir, db->new_title_file);
  if (!durable_step("write", title_path.c_str()) || fwrite(title, kTitleBytes, 1, db->ti_stream) != 1)
    return failure(title_name(db->new_title_file), "fwrite", errno);
  static_assert(sizeof(din_entry) == 8, "a date entry is written whole");
  if (fwrite(&date, sizeof date, 1, db->din_stream) != 1) return failure(kDinFile, "fwrite", errno);
  static_cast<uint8_t*>(db->del.address)[k] = flag;
  db->del.size = k + 1;
  return std::string();
}

std::string idbm_end_docs(idbm_db* db) {
  if (!db->new_docs) return "docs: no new document set";
  std::string e = end_stream(db->ti_stream, title_name(db->new_title_file), "fwrite");
  if (e.empty()) e = end_stream(db->din_stream, kDinFile, "fwrite");
  if (e.empty()) e = end_stream(db->inf_stream, kInfFile, "fwrite");
  if (!e.empty()) return e;
  db->ndocs = static_cast<uint32_t>(db->del.size);
  return std::string();
}

std::string idbm_write_doc_flags(idbm_db* db) {
  if (!db->new_docs) return "docs: no new document set";
  // The merge's messages name the deletion file's write "fputc".
  FILE* f = fopen(db_new_file_path(db_name(db), kDelFile).c_str(), "w+b");
  if (!f) return failure(kDelFile, "fopen", errno);
  const size_t n = static_cast<size_t>(db->del.size);
  if (n > 0 && fwrite(db->del.address, 1, n, f) != n) {
    const int e = errno;
    fclose(f);
    return failure(kDelFile, "fputc", e);
  }
  return end_stream(f, kDelFile, "fputc");
}

}  // namespace vorlane
