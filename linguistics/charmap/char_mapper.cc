// CharMapper's lifecycle, configuration and table loading, and the MapString
// dispatch. The converters are in char_mapper_western.cc and
// char_mapper_japanese.cc.
#include "linguistics/charmap/char_mapper.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "linguistics/charmap/mapping_table.h"
#include "linguistics/textparse/path_open.h"
#include "linguistics/textparse/text_parse.h"

using vorlane::charmap::kSlotCount;

struct CharMapper::Table {
  uint32_t count;
  uint16_t* values;  // count values in host order, allocated with the record
};

namespace {

// Drops a trailing newline and a CR before it.
void chop_line_end(char* line) {
  size_t n = std::strlen(line);
  if (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
  if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
}

}  // namespace

void* CharMapper::operator new(size_t size) noexcept { return std::malloc(size); }

void CharMapper::operator delete(void* block) noexcept { std::free(block); }

CharMapper::CharMapper() {}

CharMapper::~CharMapper() {
  if (!slots_) return;
  for (int i = 0; i < kSlotCount; ++i) std::free(slots_[i]);
  std::free(slots_);
}

int CharMapper::Init() {
  if (slots_) return 0;  // already done: keep the tables loaded so far
  slots_ = static_cast<Table**>(std::calloc(kSlotCount, sizeof(Table*)));
  return slots_ ? 0 : -3;
}

int CharMapper::Init(char* config) {
  if (!config) return -28;
  int rc = Init();
  if (rc != 0) return rc;
  FILE* f = vorlane::open_config_path(config, "r");
  if (!f) return -51;
  char line[256];
  bool header_seen = false;
  rc = 0;
  while (std::fgets(line, sizeof line, f)) {
    size_t length = std::strlen(line);  // newline included
    if (line[0] == '/' || line[0] == '[') continue;
    if (!header_seen) {
      if (length >= 3) header_seen = true;
      continue;
    }
    if (length < 2) continue;
    chop_line_end(line);
    rc = InitEncoding(line);
    if (rc != 0) break;
  }
  std::fclose(f);
  if (rc == 0 && !header_seen) rc = -52;
  return rc;
}

int CharMapper::InitEncoding(char* line) {
  if (!line) return -28;
  long encoding = 0;
  int used = readnumber(line, &encoding);
  if (used < 0 || encoding < 1 || encoding > 42) return -52;
  const char* field = eat_spaces(line + used);
  if (field[0] != 'F' || (field[1] != '0' && field[1] != '1') || (field[2] != ' ' && field[2] != '\t'))
    return 0;  // no table on this line
  int direction = field[1] - '0';
  std::string path = eat_spaces(const_cast<char*>(field + 3));
  while (!path.empty() && (path.back() == ' ' || path.back() == '\t' || path.back() == '\r'))
    path.pop_back();
  return LoadMappingTable(static_cast<int>(encoding), direction, path.data());
}

int CharMapper::LoadMappingTable(int encoding, int direction, char* file) {
  if (encoding <= 0 || encoding >= 23 || (direction != 0 && direction != 1)) return -52;
  if (!slots_) return -58;
  if (!file) return -28;
  FILE* f = vorlane::open_config_path(file, "rb");
  if (!f) return -56;
  unsigned char head[4];
  struct stat st;
  if (std::fread(head, 1, 4, f) != 4 || fstat(fileno(f), &st) != 0) {
    std::fclose(f);
    return -57;
  }
  uint32_t count = static_cast<uint32_t>(head[0]) << 24 | head[1] << 16 | head[2] << 8 | head[3];
  // The count must fit the file before anything is allocated.
  if (static_cast<uint64_t>(count) * 2 > static_cast<uint64_t>(st.st_size) - 4) {
    std::fclose(f);
    return -57;
  }
  // One block: the record, then the values.
  auto* table = static_cast<Table*>(std::malloc(sizeof(Table) + static_cast<size_t>(count) * sizeof(uint16_t)));
  if (table) {
    table->count = count;
    table->values = reinterpret_cast<uint16_t*>(table + 1);
  } else {
    std::fclose(f);
    return -3;
  }
  unsigned char buf[4096];
  uint32_t done = 0;
  while (done < count) {
    size_t want = std::min<size_t>(sizeof buf / 2, count - done);
    if (std::fread(buf, 2, want, f) != want) {
      std::fclose(f);
      std::free(table);
      return -57;
    }
    for (size_t i = 0; i < want; ++i) table->values[done + i] = ComposeWideChar(buf[2 * i], buf[2 * i + 1]);
    done += static_cast<uint32_t>(want);
  }
  std::fclose(f);
  Table*& slot = slots_[MapIndex(encoding, direction)];
  std::free(slot);
  slot = table;
  return 0;
}

uint16_t CharMapper::TableEntry(int encoding, int direction, long index) const {
  if (!slots_ || index < 0) return 0;
  const Table* t = slots_[MapIndex(encoding, direction)];
  if (!t || static_cast<unsigned long>(index) >= t->count) return 0;
  return t->values[index];
}

int CharMapper::MapString(int from, int to, char* src, int srclen, char* dst, int dstlen,
                          int* outbytes, char* default2) {
  if (!src || !dst || !outbytes || !default2) return -28;
  if (srclen < 0 || dstlen < 0) return -29;
  *outbytes = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(src);
  const auto* d = reinterpret_cast<const unsigned char*>(default2);
  if (to == 3) {
    uint16_t fallback = ComposeWideChar(d[0], d[1]);
    switch (from) {
      case 3: return MapUnicode_Unicode(in, srclen, dst, dstlen, outbytes);
      case 5:
      case 12: return MapISO8859_Unicode(in, srclen, dst, dstlen, outbytes);
      case 7: return MapMacintosh_Unicode(in, srclen, dst, dstlen, outbytes);
      case 18: return MapJIS_Unicode(in, srclen, dst, dstlen, outbytes, fallback);
      case 19: return MapShiftJIS_Unicode(in, srclen, dst, dstlen, outbytes, fallback);
      case 20: return MapPackedEUC_Unicode(in, srclen, dst, dstlen, outbytes, fallback);
      case 21: return MapTwoByteEUC_Unicode(in, srclen, dst, dstlen, outbytes, fallback);
      default: return -59;
    }
  }
  if (from == 3 && to == 19) return MapUnicode_ShiftJIS(in, srclen, dst, dstlen, outbytes, d[0]);
  return -59;
}

int CharMapper::MapString(int, int, uint16_t*, int, char*, int, int*, char*) { return -59; }
int CharMapper::MapString(int, int, char*, int, uint16_t*, int, int*, char*) { return -59; }
int CharMapper::MapString(int, int, uint16_t*, int, uint16_t*, int, int*, char*) { return -59; }
