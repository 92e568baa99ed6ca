#include "store/title_record.h"

#include <arpa/inet.h>

#include <cstring>

#include "store/services.h"

namespace vorlane {

namespace {

const char kEmpty[] = "";

void put32(unsigned char* record, size_t offset, uint32_t v) {
  uint32_t n = htonl(v);
  memcpy(record + offset, &n, 4);
}
void put16(unsigned char* record, size_t offset, uint16_t v) {
  uint16_t n = htons(v);
  memcpy(record + offset, &n, 2);
}
uint32_t get32(const unsigned char* record, size_t offset) {
  uint32_t n;
  memcpy(&n, record + offset, 4);
  return ntohl(n);
}
uint16_t get16(const unsigned char* record, size_t offset) {
  uint16_t n;
  memcpy(&n, record + offset, 2);
  return ntohs(n);
}

int len(const char* s) { return static_cast<int>(strlen(s)); }

// Cuts s to n characters when n is below its length (n below 0 counts as 0).
void truncate_to(char* s, int n) {
  if (n < 0) n = 0;
  if (n < len(s)) s[n] = '\0';
}

// Copies s with its NUL at *at, never past the string area.
void put_string(unsigned char* record, size_t* at, const char* s) {
  size_t room = kTitleStringsEnd - *at;
  if (room == 0) return;
  size_t n = strlen(s);
  if (n > room - 1) n = room - 1;
  memcpy(record + *at, s, n);
  record[*at + n] = 0;
  *at += n + 1;
}

}  // namespace

char* cut_at_word(char* text, int limit, int with_dots) {
  if (limit <= 0) {
    text[0] = '\0';
    return text;
  }
  if (len(text) < limit) return text;
  const int dots = with_dots ? 4 : 0;
  if (limit < dots) {
    // No room for the marks: a text that has to be cut becomes empty.
    text[0] = '\0';
    return text;
  }
  const int end = limit - dots;
  text[end] = '\0';
  const char* blank = strrchr(text, ' ');
  int cut = blank ? static_cast<int>(blank - text) : -1;
  if (cut < 0 || cut < limit - 32) cut = limit - 32;
  if (cut < 0) cut = 0;  // small limits: the hard cut stays inside the text
  text[cut] = '\0';
  if (with_dots) strcpy(text + cut, " ...");
  return text;
}

int title_pack(unsigned char* record, char* url, char* title, char* summary, char* publisher,
               char* index_terms, uint32_t extra, uint32_t date, uint32_t checksum0,
               uint32_t checksum1, uint16_t flags, uint16_t doctype, const uint16_t* class_db,
               const uint32_t* class_id, const uint16_t* scores, uint32_t download_date) {
  memset(record, 0, kTitleRecordSize);
  truncate_to(url, static_cast<int>(kTitleMaxUrl));

  // R: the room left for string bytes. 387 = the 391-byte area less the five
  // NULs; the url is never cut further.
  int room = 387 - len(url);

  cut_at_word(title, 96, 1);
  room -= len(title);

  int before = room;
  cut_at_word(publisher, 64, 1);
  room -= len(publisher);
  // A publisher that uses up all the room is cut one short, so that the
  // five NULs still fit in the string area.
  if (room <= 0) {
    truncate_to(publisher, before - 1);
    room = 0;
  }

  before = room;
  cut_at_word(index_terms, static_cast<int>(room * 0.35), 0);
  room -= len(index_terms);
  if (room < 0) {
    truncate_to(index_terms, before - 1);
    room = 0;
  }

  before = room;
  cut_at_word(summary, room - 1, 1);
  room -= len(summary);
  if (room < 0) truncate_to(summary, before - 1);

  record[0] = kTitleVersion;
  size_t at = kTitleStringsOffset;
  put_string(record, &at, title);
  put_string(record, &at, summary);
  put_string(record, &at, url);
  put_string(record, &at, publisher);
  put_string(record, &at, index_terms);

  if (class_db && class_id) {
    for (int i = 0; i < 4; ++i)
      put32(record, kTitleClassOffset + 4 * i,
            (static_cast<uint32_t>(class_db[i]) << 24) | (class_id[i] & 0xFFFFFFu));
  }
  put32(record, kTitleDownloadDateOffset, download_date);
  put16(record, kTitleFlagsOffset, flags);
  put16(record, kTitleDoctypeOffset, doctype);
  if (scores) {
    for (int i = 0; i < 4; ++i) put16(record, kTitleScoresOffset + 2 * i, scores[i]);
  }
  put32(record, kTitleChecksumOffset, checksum0);
  put32(record, kTitleChecksumOffset + 4, checksum1);
  put32(record, kTitleExtraOffset, extra);
  put32(record, kTitleDateOffset, date);
  return 0;
}

void title_unpack(const unsigned char* record, title_host* host) {
  // Each string starts after the previous one's NUL. A string without a NUL
  // inside the record (corrupt or foreign data), and the strings after it,
  // are empty: nothing is read past the 448 bytes.
  const char* fields[5];
  size_t at = kTitleStringsOffset;
  bool bounded = true;
  for (const char*& field : fields) {
    const void* nul = nullptr;
    if (bounded && at < kTitleRecordSize) nul = memchr(record + at, 0, kTitleRecordSize - at);
    if (!nul) {
      bounded = false;
      field = kEmpty;
      continue;
    }
    field = reinterpret_cast<const char*>(record + at);
    at = static_cast<size_t>(static_cast<const unsigned char*>(nul) - record) + 1;
  }
  host->title = fields[0];
  host->summary = fields[1];
  host->url = fields[2];
  host->publisher = fields[3];
  host->index_terms = fields[4];
  if (host->title[0] == '\0') host->title = host->url;

  host->version = record[0];
  for (int i = 0; i < 4; ++i)
    host->classifications[i] =
        host->version == kTitleVersionOldest || host->version == kTitleVersionNoClass
            ? 0
            : get32(record, kTitleClassOffset + 4 * i);
  host->download_date =
      host->version == kTitleVersionOldest ? 0 : get32(record, kTitleDownloadDateOffset);
  host->flags = get16(record, kTitleFlagsOffset);
  host->doctype = get16(record, kTitleDoctypeOffset);
  for (int i = 0; i < 4; ++i) {
    host->reserved[i] = get16(record, kTitleReservedOffset + 2 * i);
    host->scores[i] = get16(record, kTitleScoresOffset + 2 * i);
  }
  host->checksum[0] = get32(record, kTitleChecksumOffset);
  host->checksum[1] = get32(record, kTitleChecksumOffset + 4);
  host->extra = get32(record, kTitleExtraOffset);
  host->date = get32(record, kTitleDateOffset);
}

int title_fread(FILE* stream, unsigned char* buffer) {
  return fread(buffer, kTitleRecordSize, 1, stream) == 1 ? 1 : 0;
}

int title_fwrite(FILE* stream, const unsigned char* buffer) {
  return fwrite(buffer, kTitleRecordSize, 1, stream) == 1 ? 1 : 0;
}

void title_dump(const title_host* host, FILE* stream) {
  char when[64];
  fprintf(stream, "title version: %d\n", static_cast<int>(host->version));
  fprintf(stream, "title url<%d> %s\n", len(host->url), host->url);
  fprintf(stream, "title title<%d> %s\n", len(host->title), host->title);
  fprintf(stream, "title summary<%d> %s\n", len(host->summary), host->summary);
  fprintf(stream, "title date %s", ctime_r(static_cast<time_t>(host->date), when, sizeof when));
  if (host->version < kTitleVersionOldest)
    fprintf(stream, "title download_date %s",
            ctime_r(static_cast<time_t>(host->download_date), when, sizeof when));
  fprintf(stream, "title publisher<%d> %s\n", len(host->publisher), host->publisher);
  fprintf(stream, "title index terms<%d> %s\n", len(host->index_terms), host->index_terms);
  fprintf(stream, "title flags %d\n", static_cast<int>(host->flags));
  fprintf(stream, "title doctype %d\n", static_cast<int>(host->doctype));
  fprintf(stream, "title checksum [%x,%x]\n", host->checksum[0], host->checksum[1]);
  for (int i = 0; i < 4; ++i)
    fprintf(stream, "title [%d] classification_db %d classification_id %d score %d\n", i,
            static_cast<int>(host->classifications[i] >> 24),
            static_cast<int>(host->classifications[i] & 0xFFFFFFu),
            static_cast<int>(host->scores[i]));
}

}  // namespace vorlane
