#include "linguistics/fst/fst_interface.h"

#include <cstring>

#include "linguistics/fst/coding.h"
#include "linguistics/fst/fsm.h"

namespace vorlane {

namespace {

constexpr char kDefaultVersion[] = "1.0";
constexpr uint32_t kVersionLineLimit = 1000;
constexpr uint32_t kVersionCandidateLimit = 65;

// The common checks of an operation on an FSM and a text buffer.
int32_t check_buffer_call(const void* object, const char* buffer, int32_t size, const FSM** fsm) {
  int32_t rc = fst_check(object, fsm);
  if (rc != 0) return rc;
  if (buffer == nullptr) return kFstNullPointer;
  if (size < 0) return kFstBadNumber;
  return 0;
}

bool version_byte(uint8_t b) {
  return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '-' || b == '_' ||
         b == '/' || b == '.';
}

bool function_present(const uint8_t* table, int f) { return table[0] >= f && table[f] < 255; }

// A header's bytes: from a header object or an FSM; -5 for anything else.
int32_t header_bytes(const void* object, const uint8_t** bytes) {
  int32_t rc = fst_status(object);
  if (rc != 0) return rc;
  uint32_t magic;
  std::memcpy(&magic, object, sizeof magic);
  if (magic == kHeaderMagic) {
    *bytes = static_cast<const FstHeaderObject*>(object)->bytes;
  } else if (magic == kFsmMagic) {
    *bytes = static_cast<const FSM*>(object)->header;
  } else {
    return kFstBadFsm;
  }
  return 0;
}

}  // namespace

void* fst_open(const char* path) {
  if (path == nullptr) return fst_error_handle(kFstNullPointer);
  return fst_read(path);
}

void fst_close(void* object) {
  const FSM* fsm;
  if (fst_check(object, &fsm) != 0) return;
  fst_free(const_cast<FSM*>(fsm));
}

int32_t fst_info(char* buffer, int32_t size, const void* object) {
  const FSM* fsm;
  int32_t rc = check_buffer_call(object, buffer, size, &fsm);
  if (rc != 0) return rc;
  const uint8_t* text = fsm->at(fsm->info);
  int32_t n = text[0];
  ++text;
  if (size <= n + 1) return kFstTooLong;
  int32_t out = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (text[i] != '\r') {
      buffer[out++] = static_cast<char>(text[i]);
    } else if (i + 1 < n && text[i + 1] == '\n') {
      // A line end becomes one blank, except at the very end.
      if (i + 2 < n) buffer[out++] = ' ';
      ++i;
    } else if (i + 1 < n) {
      buffer[out++] = ' ';
    }
  }
  buffer[out] = '\0';
  return 0;
}

int32_t fst_version(char* buffer, int32_t size, const void* object) {
  const FSM* fsm;
  int32_t rc = check_buffer_call(object, buffer, size, &fsm);
  if (rc != 0) return rc;
  // The scan never leaves the table area.
  const uint8_t* area = fsm->at(0);
  uint32_t end = fsm->table_length;
  uint32_t start = fsm->info + 1 + area[fsm->info];
  uint32_t line = 0;
  while (start + line < end && line < kVersionLineLimit && area[start + line] >= 32 && area[start + line] <= 127) {
    ++line;
  }
  uint32_t candidate = start;
  uint32_t after = start + line;
  if (after + 4 <= end && std::memcmp(area + after, "\r\n\r\n", 4) == 0) candidate = after + 4;

  bool dot = false;
  bool valid = false;
  uint32_t length = 0;
  for (; length < kVersionCandidateLimit && candidate + length < end; ++length) {
    uint8_t b = area[candidate + length];
    if (b < 32 || b > 127) {
      valid = dot;
      break;
    }
    if (!version_byte(b)) break;
    if (b == '.') dot = true;
  }
  if (!valid) return fst_bounded_copy(kDefaultVersion, sizeof kDefaultVersion - 1, buffer, size);
  return fst_bounded_copy(reinterpret_cast<const char*>(area + candidate), static_cast<int32_t>(length), buffer, size);
}

uint32_t fst_header_word(const void* object) {
  const FSM* fsm;
  if (fst_check(object, &fsm) != 0) return 0;
  return be32(fsm->header + kHdrWord);
}

uint32_t fst_capabilities(const void* object) {
  const FSM* fsm;
  if (fst_check(object, &fsm) != 0) return 0;
  const uint8_t* table = fsm->at(fsm->function_table);
  uint32_t mask = 0;
  if (function_present(table, 12)) mask |= kCapLookup;
  if (function_present(table, 27)) mask |= kCapStem;
  if (function_present(table, 28)) mask |= kCapTokenizer;
  if (function_present(table, 60) && function_present(table, 61)) mask |= kCapTagger;
  if (function_present(table, 1)) mask |= kCapFunction1;
  if (function_present(table, 62)) mask |= kCapGrouper;
  return mask;
}

int32_t fst_property(const void* object) {
  const FSM* fsm;
  int32_t rc = fst_check(object, &fsm);
  return rc != 0 ? rc : fsm->header[kHdrProperty];
}

int32_t fst_language(const void* object) {
  const FSM* fsm;
  int32_t rc = fst_check(object, &fsm);
  return rc != 0 ? rc : fsm->header[kHdrLanguage];
}

int32_t fst_encode_tagged(const char* word, uint8_t* output, int32_t size, int32_t mode, const void* object) {
  const FSM* fsm;
  int32_t rc = fst_check(object, &fsm);
  if (rc != 0) return rc;
  if (word == nullptr || output == nullptr) return kFstNullPointer;
  if (size < 0 || mode < 0 || mode > 2) return kFstBadNumber;
  int32_t length = fst_encode(word, 0x7FFFFFFF, output, size, mode == 1, mode == 0, false, fsm);
  if (length < 0 || mode != 2) return length;
  if (int64_t{size} <= int64_t{length} + fsm->eof_esc + 2) return kFstTooLong;
  bool label_first = (fsm->header[kHdrCodingFlags] & 0x80) != 0;
  if (label_first) output[length++] = fsm->eof;
  for (uint32_t i = 0; i < fsm->eof_esc; ++i) output[length++] = fsm->esc;
  if (!label_first) output[length++] = fsm->eof;
  output[length] = 0;
  return length;
}

void* fst_open_header(const char* path) {
  if (path == nullptr) return fst_error_handle(kFstNullPointer);
  return fst_read_header(path);
}

void fst_close_header(void* object) {
  if (fst_status(object) != 0) return;
  uint32_t magic;
  std::memcpy(&magic, object, sizeof magic);
  if (magic == kHeaderMagic) delete static_cast<FstHeaderObject*>(object);
}

int32_t fst_compare_headers(const void* a, const void* b) {
  const uint8_t* ha;
  const uint8_t* hb;
  if (a == nullptr || b == nullptr) return kFstNullPointer;
  int32_t rc = header_bytes(a, &ha);
  if (rc != 0) return rc;
  rc = header_bytes(b, &hb);
  if (rc != 0) return rc;
  return std::memcmp(ha, hb, kFstHeaderSize) == 0 ? 1 : 0;
}

}  // namespace vorlane
