#include "linguistics/lid/lid_language_file.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>

#include "linguistics/textparse/path_open.h"

namespace vorlane {

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

uint32_t be32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | p[2] << 8 | p[3];
}
uint16_t be16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

bool read_exact(FILE* f, void* buf, size_t n) { return std::fread(buf, 1, n, f) == n; }

void put32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}
void put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v));
}

}  // namespace

int lid_read_language_file(const char* path, lid_language_data* data) {
  File f(open_config_path(path, "rb"));
  if (!f) return -53;
  struct stat st;
  if (fstat(fileno(f.get()), &st) != 0) return -54;
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);
  lid_language_data d;
  unsigned char b[16];

  if (!read_exact(f.get(), b, 8) || be32(b) != kLidHeaderMagic) return -54;
  d.header_magic = be32(b);
  d.header_a = be16(b + 4);
  d.header_b = be16(b + 6);
  if (!read_exact(f.get(), b, 8) || be32(b) != kLidInfoMagic) return -54;
  d.info_magic = be32(b);
  d.info = be32(b + 4);

  if (!read_exact(f.get(), b, 12) || be32(b) != kLidLanguagesMagic) return -54;
  uint64_t n = be32(b + 8);
  if (be32(b + 4) != (3 * n + 3) * 4 || 12 * n > file_size) return -54;
  d.languages.resize(n);
  for (lid_language& l : d.languages) {
    if (!read_exact(f.get(), b, 12)) return -54;
    l.kind = be32(b);
    l.low = static_cast<int16_t>(be16(b + 4));
    l.top = static_cast<int16_t>(be16(b + 6));
    l.mid = static_cast<int16_t>(be16(b + 8));
    l.code = b[10];
    l.type = b[11];
  }

  if (!read_exact(f.get(), b, 16) || be32(b) != kLidNgramsMagic) return -54;
  uint64_t k = be32(b + 8), m = be32(b + 12);
  if (be32(b + 4) != (k + m) * 4 + 16 || (k + m) * 4 > file_size) return -54;
  lid_ngram_table& t = d.ngrams;
  t.keys.resize(k);
  t.run_length.resize(k);
  t.run_start.resize(k);
  uint64_t start = 0;
  for (uint64_t i = 0; i < k; ++i) {
    if (!read_exact(f.get(), b, 4)) return -54;
    uint32_t word = be32(b);
    t.keys[i] = word & 0xFFFFFF;
    t.run_length[i] = static_cast<uint16_t>(word >> 24);
    t.run_start[i] = static_cast<uint32_t>(start);
    start += word >> 24;
  }
  if (start > m) return -54;  // the runs would reach past the score entries
  t.entries.resize(m);
  for (lid_score_entry& e : t.entries) {
    if (!read_exact(f.get(), b, 4)) return -54;
    e.score = static_cast<int16_t>(be16(b));
    e.index = static_cast<int16_t>(be16(b + 2));
  }
  *data = std::move(d);
  return 0;
}

bool lid_write_language_file(const char* path, const lid_language_data& data) {
  const lid_ngram_table& t = data.ngrams;
  std::string out;
  put32(out, kLidHeaderMagic);
  put16(out, data.header_a);
  put16(out, data.header_b);
  put32(out, kLidInfoMagic);
  put32(out, data.info);
  const uint32_t n = static_cast<uint32_t>(data.languages.size());
  put32(out, kLidLanguagesMagic);
  put32(out, (3 * n + 3) * 4);
  put32(out, n);
  for (const lid_language& l : data.languages) {
    put32(out, l.kind);
    put16(out, static_cast<uint16_t>(l.low));
    put16(out, static_cast<uint16_t>(l.top));
    put16(out, static_cast<uint16_t>(l.mid));
    out.push_back(static_cast<char>(l.code));
    out.push_back(static_cast<char>(l.type));
  }
  const uint32_t k = static_cast<uint32_t>(t.keys.size());
  const uint32_t m = static_cast<uint32_t>(t.entries.size());
  put32(out, kLidNgramsMagic);
  put32(out, (k + m) * 4 + 16);
  put32(out, k);
  put32(out, m);
  for (uint32_t i = 0; i < k; ++i) put32(out, static_cast<uint32_t>(t.run_length[i]) << 24 | (t.keys[i] & 0xFFFFFF));
  for (const lid_score_entry& e : t.entries) {
    put16(out, static_cast<uint16_t>(e.score));
    put16(out, static_cast<uint16_t>(e.index));
  }
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

long lid_find_key(const lid_ngram_table& table, uint32_t key) {
  if (table.keys.empty()) return -1;
  long low = 0, high = static_cast<long>(table.keys.size()) - 1;
  while (high > low) {
    long mid = (low + high) / 2;
    if (table.keys[mid] >= key) high = mid;
    else low = mid + 1;
  }
  return table.keys[low] == key ? low : -1;
}

}  // namespace vorlane
