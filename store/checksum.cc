#include "store/checksum.h"

#include <cstdio>

#include "store/cclass.h"

namespace vorlane {

namespace {
constexpr uint8_t kSkipped = CC_SPACE | CC_PUNCT | CC_CNTRL;

inline uint32_t finish(uint32_t h) {
  h &= 0x7FFFFFFFu;
  return h == 0 ? 1 : h;
}
}  // namespace

uint64_t text_checksum(const void* bytes, size_t length) {
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  uint32_t h1 = 0, h2 = 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = p[i];
    if (c_class(c) & kSkipped) continue;
    h1 = h1 * 129 + c + 987654321u;
    h2 = h2 * 65599 + c;
  }
  return static_cast<uint64_t>(finish(h1)) | (static_cast<uint64_t>(finish(h2)) << 32);
}

uint64_t parse_checksum(const char* text) {
  uint32_t words[2] = {0, 0};
  bool ended = false;
  for (size_t i = 0; i < kChecksumTextLength; ++i) {
    unsigned char c = ended ? 0 : static_cast<unsigned char>(text[i]);
    if (c == 0) ended = true;
    uint32_t value = ended ? 0 : c_isdigit(c) ? c - '0' : c - 87u;
    words[i / 8] = words[i / 8] * 16 + value;
  }
  return static_cast<uint64_t>(words[0]) | (static_cast<uint64_t>(words[1]) << 32);
}

void format_checksum(uint64_t pair, char* out) {
  uint32_t first = static_cast<uint32_t>(pair), second = static_cast<uint32_t>(pair >> 32);
  if (first == 0) second = 0;
  snprintf(out, kChecksumTextLength + 1, "%08x%08x", first, second);
}

}  // namespace vorlane
