#include "store/db_files.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vorlane {

std::string db_file_path(const char* dir, const char* name) {
  std::string path(dir ? dir : "");
  path += '/';
  path += name;
  return path;
}

std::string db_part_path(const char* dir, uint32_t part) {
  return db_file_path(dir, (std::string(kTermFilePrefix) + std::to_string(part)).c_str());
}

std::string db_title_path(const char* dir, uint32_t file) {
  return db_file_path(dir, (std::string(kTitleFilePrefix) + std::to_string(file)).c_str());
}

uint32_t local_day_number(time_t time) {
  if (time < 1) return 1;
  struct tm day;
  if (!localtime_r(&time, &day)) return 1;
  day.tm_hour = 0;
  day.tm_min = 0;
  day.tm_sec = 0;
  day.tm_isdst = -1;
  time_t midnight = mktime(&day);
  return static_cast<uint32_t>(static_cast<int64_t>(midnight) / 86400 + 1);
}

int put_varint(FILE* stream, uint32_t value) {
  value &= 0x7FFFFFFFu;
  unsigned char bytes[5];
  int n = 0;
  do {
    bytes[n++] = static_cast<unsigned char>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  for (int i = n - 1; i >= 0; --i) {
    unsigned char b = bytes[i] | (i > 0 ? 0x80 : 0);
    if (fputc(b, stream) == EOF) return 0;
  }
  return 1;
}

int get_varint(FILE* stream, uint32_t* value) {
  uint64_t v = 0;
  for (int n = 0; n < kMaxVarintBytes; ++n) {
    const int c = fgetc(stream);
    if (c == EOF) return n == 0 && !ferror(stream) ? 0 : -1;
    v = (v << 7) | static_cast<uint64_t>(c & 0x7F);
    if ((c & 0x80) == 0) {
      if (v > 0x7FFFFFFFu) return -1;
      *value = static_cast<uint32_t>(v);
      return 1;
    }
  }
  return -1;
}

int idbm_exists(const char* path) {
  if (!path) return 0;
  for (const char* name : {kDirFile, "ti0", kDelFile, kInfFile, "tf0"}) {
    struct stat st;
    if (stat(db_file_path(path, name).c_str(), &st) != 0) return 0;
  }
  return 1;
}

uint32_t jnl_count_records(const char* journal_path) {
  FILE* f = fopen(journal_path, "rb");
  if (!f) return 0;
  struct stat st;
  uint64_t size = fstat(fileno(f), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  uint64_t pos = 0;
  uint32_t count = 0;
  while (pos + 4 <= size) {
    uint32_t reclen;
    if (fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0 || fread(&reclen, 4, 1, f) != 1) break;
    if (!jnl_reclen_valid(reclen)) break;
    if (pos + 4 + reclen > size) break;
    pos += 4 + static_cast<uint64_t>(reclen);
    ++count;
  }
  fclose(f);
  return count;
}

}  // namespace vorlane
