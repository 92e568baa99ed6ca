// The title record: one fixed-size 448-byte record per document, holding its
// display strings, classification words, dates, flags, document type, scores
// and content checksum. A database's records lie back to back in its title
// files, one per docid, so a docid's record is found by arithmetic. Numbers
// are big-endian (network order) so title files move between hosts unchanged.
//
// Record layout (448 bytes, every number big-endian):
//
//   offset width field
//     0      1   version: 253 in every record written here; 254 and 255 are
//                older forms (see title_unpack)
//     1    391   five NUL-terminated strings back to back: title, summary,
//                url, publisher, index terms; the rest of the area up to
//                offset 391 is zero
//   392     16   four classification words, each u32 = database number << 24
//                | (classification id & 0xFFFFFF); zero when absent
//   408      4   download date, u32 (seconds since 1970)
//   412      2   flags, u16
//   414      2   document type, u16
//   416      8   four u16 reserved words: written as 0, read back
//   424      8   four u16 scores, one per classification word; 0 when absent
//   432      4   checksum, first word
//   436      4   checksum, second word
//   440      4   extra word, a caller's value returned with the titles
//   444      4   date, u32 (seconds since 1970)
//
// Fetching a docid's record from an open database lives with the database
// handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vorlane {

inline constexpr size_t kTitleRecordSize = 448;
inline constexpr uint8_t kTitleVersion = 253;      // written by title_pack
inline constexpr uint8_t kTitleVersionNoClass = 254;  // no classification words
inline constexpr uint8_t kTitleVersionOldest = 255;   // no classification words, no download date
inline constexpr size_t kTitleStringsOffset = 1;
inline constexpr size_t kTitleStringsEnd = 392;    // first byte after the string area
inline constexpr size_t kTitleClassOffset = 392;
inline constexpr size_t kTitleDownloadDateOffset = 408;
inline constexpr size_t kTitleFlagsOffset = 412;
inline constexpr size_t kTitleDoctypeOffset = 414;
inline constexpr size_t kTitleReservedOffset = 416;
inline constexpr size_t kTitleScoresOffset = 424;
inline constexpr size_t kTitleChecksumOffset = 432;
inline constexpr size_t kTitleExtraOffset = 440;
inline constexpr size_t kTitleDateOffset = 444;
inline constexpr size_t kTitleMaxUrl = 255;

// The unpacked, host-order form of a record. The string pointers point into
// the record buffer that was unpacked (which must outlive this structure), or
// at a constant empty string. `record` is an area callers may unpack from;
// unpacking never touches it.
struct title_host {
  unsigned char record[kTitleRecordSize];
  uint32_t version;
  const char* title;
  const char* summary;
  const char* url;
  const char* publisher;
  const char* index_terms;
  uint16_t flags;
  uint16_t doctype;
  uint16_t reserved[4];
  uint16_t scores[4];
  uint32_t checksum[2];
  uint32_t extra;
  uint32_t date;
  uint32_t download_date;
  uint32_t classifications[4];
};

// Fills a 448-byte record (version 253). The five strings are the caller's
// writable copies and are cut in place to fit (the caller hands the cut
// strings back to scripts): the url to 255 bytes, the title to 96 and the
// publisher to 64 with " ..." marks, then the index terms and the summary
// share what room is left. class_db and class_id are null together or both
// point at four values; scores may be null. Returns 0.
int title_pack(unsigned char* record, char* url, char* title, char* summary, char* publisher,
               char* index_terms, uint32_t extra, uint32_t date, uint32_t checksum0,
               uint32_t checksum1, uint16_t flags, uint16_t doctype, const uint16_t* class_db,
               const uint32_t* class_id, const uint16_t* scores, uint32_t download_date);

// Fills host from a record (any version). Strings are bounded by the record:
// a string with no NUL before its end, and every string after it, is empty.
// An empty title shows the url.
void title_unpack(const unsigned char* record, title_host* host);

// Cuts text in place to at most limit characters, at the last blank within
// the last 32 bytes before the limit, else hard at limit - 32 (never before
// the text's start); with_dots appends " ..." and keeps the total within the
// limit (a limit below 4 then leaves an empty text). A text shorter than the
// limit is unchanged; a limit of 0 or less empties it. Returns text.
char* cut_at_word(char* text, int limit, int with_dots);

// One record on a stream: read returns 1 when a whole record was read; write
// returns 1 when a whole record was written.
int title_fread(FILE* stream, unsigned char* buffer);
int title_fwrite(FILE* stream, const unsigned char* buffer);

// Diagnostic listing of an unpacked record.
void title_dump(const title_host* host, FILE* stream);

}  // namespace vorlane
