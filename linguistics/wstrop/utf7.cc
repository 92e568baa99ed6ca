#include "linguistics/wstrop/utf7.h"

namespace vorlane::linguistics {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

enum : uint8_t {
  kDirect = 1,    // Set D
  kOptional = 2,  // Set D and Set O
  kWhite = 4,     // Set D, Set O, tab, LF, CR, blank
};

struct Tables {
  uint8_t klass[128] = {};
  int8_t base64[256] = {};  // value 0..63, or -1
  constexpr Tables() {
    for (int c = 0; c < 256; ++c) base64[c] = -1;
    for (int v = 0; v < 64; ++v) base64[static_cast<unsigned char>(kBase64[v])] = static_cast<int8_t>(v);
    for (int c = 'A'; c <= 'Z'; ++c) klass[c] = kDirect;
    for (int c = 'a'; c <= 'z'; ++c) klass[c] = kDirect;
    for (int c = '0'; c <= '9'; ++c) klass[c] = kDirect;
    for (const char* p = "'(),-./:?"; *p; ++p) klass[static_cast<unsigned char>(*p)] = kDirect;
    for (int c = 0; c < 128; ++c)
      if (klass[c] & kDirect) klass[c] |= kOptional | kWhite;
    for (const char* p = "!\"#$%&*;<=>@[]^_`{|}"; *p; ++p)
      klass[static_cast<unsigned char>(*p)] = kOptional | kWhite;
    for (const char* p = "\t\n\r "; *p; ++p) klass[static_cast<unsigned char>(*p)] = kWhite;
  }
};

constexpr Tables tables{};

bool is_base64(unsigned char c) { return tables.base64[c] >= 0; }

}  // namespace

ConvertResult utf7_to_cells(const unsigned char* src, size_t n, int flags, wcell* out) {
  const bool strict = !(flags & kSkipInvalid);
  UnitDecoder units(flags, out);
  size_t i = 0;
  while (i < n) {
    unsigned char b = src[i++];
    if (b != '+') {
      units.push(b);
      continue;
    }
    if (i == n) {
      if (strict) return ConvertResult{0, ConvertStatus::utf7_invalid_escape};
      break;
    }
    if (src[i] == '-') {
      units.push('+');
      ++i;
      continue;
    }
    if (!is_base64(src[i])) {
      if (strict) return ConvertResult{0, ConvertStatus::utf7_invalid_escape};
      continue;  // an empty run; the byte is read normally
    }
    uint32_t bits = 0;  // holds fewer than 16 bits between characters
    int nbits = 0;
    while (i < n && is_base64(src[i])) {
      bits = (bits << 6) | static_cast<uint32_t>(tables.base64[src[i++]]);
      nbits += 6;
      if (nbits >= 16) {
        nbits -= 16;
        units.push(static_cast<wcell>(bits >> nbits));
        bits &= (1u << nbits) - 1;
      }
    }
    if (nbits > 6 && strict) return ConvertResult{0, ConvertStatus::utf7_odd_octets};
    if (i < n && src[i] == '-') ++i;
  }
  return units.finish();
}

size_t cells_to_utf7(const wcell* cells, size_t n, int flags, unsigned char* out) {
  const uint8_t direct = (flags & kUtf7QuoteOptionals) ? kDirect : kWhite;
  size_t written = 0;
  auto put = [&](unsigned char byte) {
    if (out) out[written] = byte;
    ++written;
  };
  bool in_run = false;
  uint32_t bits = 0;  // holds fewer than 6 bits between cells
  int nbits = 0;
  for (size_t i = 0; i < n; ++i) {
    wcell c = cells[i];
    if (c < 0x80 && (tables.klass[c] & direct)) {
      if (in_run) {
        if (nbits > 0) put(kBase64[(bits << (6 - nbits)) & 0x3F]);
        bits = 0;
        nbits = 0;
        if (is_base64(static_cast<unsigned char>(c)) || c == '-') put('-');
        in_run = false;
      }
      put(static_cast<unsigned char>(c));
    } else if (c == '+' && !in_run) {
      put('+');
      put('-');
    } else {
      if (!in_run) {
        put('+');
        in_run = true;
      }
      bits = (bits << 16) | c;
      nbits += 16;
      while (nbits >= 6) {
        nbits -= 6;
        put(kBase64[(bits >> nbits) & 0x3F]);
      }
      bits &= (1u << nbits) - 1;
    }
  }
  if (in_run) {
    if (nbits > 0) put(kBase64[(bits << (6 - nbits)) & 0x3F]);
    put('-');
  }
  return written;
}

}  // namespace vorlane::linguistics
