// The files of one index database directory, field by field.
//
// An index database is one directory. Numbers are 32-bit words in
// little-endian (machine) order, written and read as whole words, except in
// title records (network order, store/title_record.h). Bit-fields are counted
// from bit 0 of such a word. No file but the title record carries a magic
// number or a version. Paths join the directory and the file name with "/".
//
//   file          contents
//   "dir"         directory header, then the sparse directory entries
//   "tf0".."tf99" term records back to back, ascending hash pair (the parts)
//   "ti0", "ti1"  title records, 0x400000 per file
//   "del"         one flag byte per document
//   "din"         one 8-byte date entry per document (optional)
//   "inf"         the score setting
//   "cat"         catalog entries
//   "jnl"         journal of documents added since the database was opened
//                 for incremental indexing
//   "adj"         which source documents the merge that made the database
//                 dropped (optional; its format: engine/dbmerge/adj_file.h)
// While a save or merge writes, ".dir.new", ".cat.new" and ".tf<N>.new" (and
// for a merge ".ti<N>.new", ".del.new", ".din.new", ".inf.new", ".adj.new")
// hold its new files until they are committed (store/db_commit.h); a rebuild
// of the directory writes ".dir" and keeps the old one as "dir~".
//
// Term record (idbm_rec), full form: 4 x (count + free + 5) bytes; on disk
// free is always 0, so count x 4 + 20 bytes.
//   word 0   bits 0-30  hash1 (bit 31 clear)
//   word 1   bits 0-30  hash2 (bit 31 clear)
//   word 2   bits 0-24  docf: documents that contain the term (may exceed count
//                       when postings were cut)
//            bits 25-31 norm: in a stored record the score base merging adds
//                       to each score (every writer here stores 0); in a
//                       record built by indexing, the term's document-frequency
//                       weight; in a cached record, the query weight 1..100
//   word 3   bits 0-14  free: spare zero words after the end mark (memory only)
//            bits 15-31 count: number of postings
//   word 4.. 4+count-1  postings, docid << 7 | score (1..127), docids ascending
//   word 4+count        end mark 0xFFFFFF80
//   then                free zero words
//
// Compact forms, on disk only, for records of one or two postings. Bit 31 of
// word 0 marks a compact record, bit 31 of word 1 tells two postings from one;
// docf is the posting count:
//   12 bytes: hash1 | 0x80000000, hash2,              posting
//   16 bytes: hash1 | 0x80000000, hash2 | 0x80000000, first posting,
//             second posting (higher docid)
//
// Directory "dir":
//   offset 0   nparts: number of term-file parts, 1..100
//   offset 4   nterms: number of term records
//   offset 8   ndocs: number of documents (docids 0..ndocs-1)
//   offset 12  posting limit (40000 unless the creator gave another)
//   16 + 16k   entry k: hash1, hash2 (bit 31 clear), byte offset of the
//              record in its part, (record size in bytes << 8) | part number
// Entries ascend by hash pair. A record has an entry exactly when its last
// byte lies in a later 8192-byte page of its part than the byte just before
// its first byte (dir_entry_needed); the record at offset 0 of every part has
// one. Every other record lies wholly in the page in which the record before
// it ends, after the last entry that precedes it.
//
// Term-file parts: records follow each other without gaps; a record that would
// make offset + size reach 0x7FFF0000 starts the next part at offset 0; the
// last part number is 99.
//
// Title files: file N holds the title records of docids N x 0x400000 to
// (N + 1) x 0x400000 - 1 at offset (docid & 0x3FFFFF) x 448. A database of
// ndocs documents has (ndocs - 1) / 0x400000 + 1 title files (one when ndocs
// is 0); every one but the last holds exactly 0x400000 records.
//
// Deletion map "del": byte docid is 255 when the document is deleted, else its
// flag byte (bits 4..6 read by queries as a signed quality level). At least
// ndocs bytes.
//
// Date map "din" (din_entry), 8 bytes per docid, optional: word 0 = hash1 of
// the URL's host name (the text between the first "//" and the next "/" when
// such a "/" follows and the host is shorter than 256 bytes, else 0); word 1 =
// (local_day_number of the document's date & 0xFFFF) << 16. At least
// ndocs x 8 bytes when present.
//
// Score setting "inf": one word, score_incr, positive once set.
//
// Catalog "cat" (cat_entry), 16-byte entries:
//   first entry:  0x80000000, 0x80000000, ndocs << 7, 0
//   each term, ascending pair: hash1 | 0x80000000, hash2 | 0x80000000,
//                 (docf << 7) + highest score, (count << 7) + mean score
// Readers take docf (and the header's ndocs) as word 2 >> 7.
//
// Journal "jnl" (jnl_record), one record per indexed document, in docid order
// from docid 0, back to back:
//   offset 0              reclen = nterms x 9, at most 0xB4000, a multiple of 9
//   offset 4              8 x nterms: hash pairs (hash1, hash2), each 1..0x7FFFFFFF
//   offset 4 + 8 x nterms nterms frequency bytes 1..127, in the order of the pairs
// reclen 0 stands for a document without terms. A deleted document keeps its
// record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "store/term_hash.h"
#include "store/title_record.h"

namespace vorlane {

// File names.
inline constexpr const char* kDirFile = "dir";
inline constexpr const char* kCatFile = "cat";
inline constexpr const char* kDelFile = "del";
inline constexpr const char* kDinFile = "din";
inline constexpr const char* kInfFile = "inf";
inline constexpr const char* kJnlFile = "jnl";
inline constexpr const char* kAdjFile = "adj";
inline constexpr const char* kTermFilePrefix = "tf";
inline constexpr const char* kTitleFilePrefix = "ti";

// Term records.
inline constexpr uint32_t kCompactFlag = 0x80000000u;
inline constexpr uint32_t kRecEndMark = 0xFFFFFF80u;
inline constexpr uint32_t kDocfMask = 0x1FFFFFFu;
inline constexpr uint32_t kFreeMask = 0x7FFFu;
inline constexpr uint32_t kMaxRecCount = 0x1FFFFu;     // 17-bit count field
inline constexpr uint32_t kRecHeaderWords = 4;
inline constexpr uint32_t kRecOverheadBytes = 20;      // header + end mark
inline constexpr uint32_t kDefaultPostingLimit = 40000;

// Directory and parts.
inline constexpr uint32_t kDirHeaderSize = 16;
inline constexpr uint32_t kDirEntrySize = 16;
inline constexpr uint32_t kMaxParts = 100;
inline constexpr uint32_t kPageBytes = 8192;
inline constexpr uint32_t kPageMask = 0x1FFFu;
inline constexpr uint64_t kPartLimit = 0x7FFF0000u;

// Title files.
inline constexpr uint32_t kTitlesPerFile = 0x400000u;
inline constexpr uint32_t kTitleFileShift = 22;
inline constexpr uint32_t kTitleBytes = kTitleRecordSize;

// Journal.
inline constexpr uint32_t kJnlMaxReclen = 0xB4000u;
inline constexpr uint32_t kJnlBytesPerTerm = 9;  // a hash pair and a frequency byte

// Is reclen a journal record length a reader accepts (at most 0xB4000, a
// multiple of 9)?
inline bool jnl_reclen_valid(uint32_t reclen) { return reclen <= kJnlMaxReclen && reclen % kJnlBytesPerTerm == 0; }

struct dir_header {
  uint32_t nparts;
  uint32_t nterms;
  uint32_t ndocs;
  uint32_t posting_limit;
};
static_assert(sizeof(dir_header) == kDirHeaderSize, "the directory header is written whole");

struct dir_entry {
  uint32_t hash1;
  uint32_t hash2;
  uint32_t offset;
  uint32_t size_part;  // size << 8 | part
};
static_assert(sizeof(dir_entry) == kDirEntrySize, "a directory entry is written whole");

// Word 3 of an entry, size << 8 | part, written and read.
inline constexpr uint32_t dir_size_part(uint32_t size, uint32_t part) { return (size << 8) | (part & 0xFFu); }
inline constexpr uint32_t dir_packed_size(uint32_t size_part) { return size_part >> 8; }
inline constexpr uint32_t dir_packed_part(uint32_t size_part) { return size_part & 0xFFu; }
inline uint32_t dir_entry_size(const dir_entry& e) { return dir_packed_size(e.size_part); }
inline uint32_t dir_entry_part(const dir_entry& e) { return dir_packed_part(e.size_part); }

struct cat_entry {
  uint32_t hash1;  // | 0x80000000
  uint32_t hash2;  // | 0x80000000
  uint32_t docf_high;  // (docf << 7) + highest score
  uint32_t count_mean;  // (count << 7) + mean score
};
static_assert(sizeof(cat_entry) == 16, "a catalog entry is written whole");

inline uint32_t cat_docf(const cat_entry& e) { return e.docf_high >> 7; }

struct din_entry {
  uint32_t host_hash;
  uint32_t day;  // (day number & 0xFFFF) << 16
};
static_assert(sizeof(din_entry) == 8, "a date entry is written whole");

// The day word of a date entry for a day number, and the day number back
// (bytes 6-7 of the entry).
constexpr uint32_t din_day_word(uint32_t day_number) { return (day_number & 0xFFFFu) << 16; }
constexpr uint32_t din_day(const din_entry& e) { return e.day >> 16; }

// Does a record at offset of size bytes get a directory entry? 32-bit
// arithmetic, so the record at offset 0 always has one.
inline bool dir_entry_needed(uint32_t offset, uint32_t size) {
  return ((offset - 1u) & ~kPageMask) != ((offset + size - 1u) & ~kPageMask);
}

// Field access on a term record given as words.
inline bool rec_is_compact(const uint32_t* r) { return (r[0] & kCompactFlag) != 0; }
inline uint32_t rec_hash1(const uint32_t* r) { return r[0] & kHashMask; }
inline uint32_t rec_hash2(const uint32_t* r) { return r[1] & kHashMask; }
// Fields of the full form (every record in memory, and a stored record whose
// word 0 has bit 31 clear), without the test for a compact record.
inline constexpr uint32_t kRecNormShift = 25;   // word 2: norm above docf
inline constexpr uint32_t kRecCountShift = 15;  // word 3: count above free
inline uint32_t rec_full_docf(const uint32_t* r) { return r[2] & kDocfMask; }
inline uint32_t rec_full_norm(const uint32_t* r) { return r[2] >> kRecNormShift; }
inline uint32_t rec_full_count(const uint32_t* r) { return r[3] >> kRecCountShift; }
inline uint32_t rec_full_free(const uint32_t* r) { return r[3] & kFreeMask; }
inline const uint32_t* rec_full_postings(const uint32_t* r) { return r + kRecHeaderWords; }
// The same fields of any form: a compact record has count and docf 1 or 2,
// norm 0 and no free words.
inline uint32_t rec_count(const uint32_t* r) {
  if (rec_is_compact(r)) return (r[1] & kCompactFlag) ? 2 : 1;
  return rec_full_count(r);
}
inline uint32_t rec_free(const uint32_t* r) { return rec_is_compact(r) ? 0 : rec_full_free(r); }
inline uint32_t rec_docf(const uint32_t* r) { return rec_is_compact(r) ? rec_count(r) : rec_full_docf(r); }
inline uint32_t rec_norm(const uint32_t* r) { return rec_is_compact(r) ? 0 : rec_full_norm(r); }
// Size in bytes: (count + free + 5) x 4 for the full form, 12 or 16 compact.
inline uint64_t rec_size(const uint32_t* r) {
  if (rec_is_compact(r)) return (r[1] & kCompactFlag) ? 16 : 12;
  return (static_cast<uint64_t>(rec_full_count(r)) + rec_full_free(r) + 5) * 4;
}
// Writers of the full form's header words, beside the readers above (free
// is 0 in a record written to disk). docf is cut to its 25 bits, norm to 7,
// count to 17, free to 15.
inline constexpr uint32_t rec_count_word(uint32_t count, uint32_t free = 0) {
  return ((count & kMaxRecCount) << kRecCountShift) | (free & kFreeMask);
}
inline constexpr uint32_t rec_docf_word(uint32_t docf, uint32_t norm) {
  return ((norm & 127u) << kRecNormShift) | (docf & kDocfMask);
}
inline void rec_set_count(uint32_t* r, uint32_t count, uint32_t free = 0) { r[3] = rec_count_word(count, free); }
inline void rec_set_docf(uint32_t* r, uint32_t docf) { r[2] = (r[2] & ~kDocfMask) | (docf & kDocfMask); }
inline void rec_set_header(uint32_t* r, uint32_t hash1, uint32_t hash2, uint32_t docf, uint32_t norm, uint32_t count,
                           uint32_t free = 0) {
  r[0] = hash1;
  r[1] = hash2;
  r[2] = rec_docf_word(docf, norm);
  rec_set_count(r, count, free);
}
// The first posting word.
inline const uint32_t* rec_postings(const uint32_t* r) { return r + (rec_is_compact(r) ? 2 : kRecHeaderWords); }
inline uint32_t posting_docid(uint32_t p) { return p >> 7; }
inline uint32_t posting_score(uint32_t p) { return p & 127u; }

// Signed order of two hash pairs, bit 31 ignored.
inline int pair_cmp(uint32_t a1, uint32_t a2, uint32_t b1, uint32_t b2) {
  a1 &= kHashMask; b1 &= kHashMask;
  if (a1 != b1) return a1 < b1 ? -1 : 1;
  a2 &= kHashMask; b2 &= kHashMask;
  if (a2 != b2) return a2 < b2 ? -1 : 1;
  return 0;
}

// "<dir>/<name>" and the numbered names "<dir>/tf<N>", "<dir>/ti<N>".
std::string db_file_path(const char* dir, const char* name);
std::string db_part_path(const char* dir, uint32_t part);
std::string db_title_path(const char* dir, uint32_t file);

// Number of title files of a database of ndocs documents.
inline uint32_t title_file_count(uint32_t ndocs) {
  return ndocs == 0 ? 1 : (ndocs - 1) / kTitlesPerFile + 1;
}

// Day number of a date in seconds since 1970: 1 when time < 1; else the local
// calendar day's midnight, in seconds, divided by 86400, plus 1.
uint32_t local_day_number(time_t time);

// Writes the low 31 bits of value as a big-endian base-128 number (every byte
// but the last with 0x80 set; 0 is one zero byte). 1, or 0 on a write error.
int put_varint(FILE* stream, uint32_t value);

// Reads one number put_varint wrote: at most 5 bytes (a fifth byte with 0x80
// set, or a value above 31 bits, is refused). 1 with *value set; 0 at the end
// of the stream before any byte; -1 for a number cut short by the end, a read
// error or an over-long number.
inline constexpr int kMaxVarintBytes = 5;
int get_varint(FILE* stream, uint32_t* value);

// 1 when "dir", "ti0", "del", "inf" and "tf0" all exist in the directory.
int idbm_exists(const char* path);

// Complete, well-formed journal records at the start of a journal file (the
// count a replay can reach at most): stops at the end, at a short record and
// at a reclen above 0xB4000 or not a multiple of 9. 0 for a missing journal.
uint32_t jnl_count_records(const char* journal_path);

}  // namespace vorlane
