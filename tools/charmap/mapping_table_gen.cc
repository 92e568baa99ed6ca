#include "tools/charmap/mapping_table_gen.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>

#include "linguistics/charmap/mapping_table.h"

namespace vorlane::tools {

namespace {

// Converts one character with a fresh conversion state; the output bytes, or
// empty when iconv refuses it or does not take all of the input.
std::string convert_one(iconv_t cd, const std::string& in) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char out[16];
  char* ip = const_cast<char*>(in.data());
  size_t il = in.size();
  char* op = out;
  size_t ol = sizeof out;
  if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0) return {};
  return std::string(out, op - out);
}

// The one UCS-2 unit a byte sequence decodes to, 0 otherwise.
uint16_t decode_unit(iconv_t cd, const std::string& in) {
  std::string out = convert_one(cd, in);
  if (out.size() != 2) return 0;
  return static_cast<uint16_t>(static_cast<unsigned char>(out[0]) << 8 | static_cast<unsigned char>(out[1]));
}

struct Converter {
  iconv_t cd;
  Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  ~Converter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

}  // namespace

std::vector<uint16_t> make_jis0208_table() {
  std::vector<uint16_t> table(charmap::kJis0208Entries, 0);
  Converter euc("UCS-2BE", "EUC-JP");
  if (!euc.ok()) return {};
  for (int r = 0x21; r <= 0x7E; ++r)
    for (int c = 0x21; c <= 0x7E; ++c) {
      long index = charmap::jis0208_index(r, c);
      if (index < 0) continue;
      std::string code{static_cast<char>(r | 0x80), static_cast<char>(c | 0x80)};
      table[index] = decode_unit(euc.cd, code);
    }
  return table;
}

std::vector<uint16_t> make_jis0212_table() {
  std::vector<uint16_t> table(charmap::kJis0212Entries, 0);
  Converter euc("UCS-2BE", "EUC-JP");
  if (!euc.ok()) return {};
  for (int r = 0x21; r <= 0x7E; ++r)
    for (int c = 0x21; c <= 0x7E; ++c) {
      long index = charmap::jis0212_index(r, c);
      if (index < 0) continue;
      std::string code{'\x8F', static_cast<char>(r | 0x80), static_cast<char>(c | 0x80)};
      table[index] = decode_unit(euc.cd, code);
    }
  return table;
}

std::vector<uint16_t> make_sjis_out_table() {
  std::vector<uint16_t> table(charmap::kSjisOutEntries, 0);
  Converter sjis("SHIFT_JIS", "UCS-2BE");
  if (!sjis.ok()) return {};
  for (unsigned u = 0; u <= 0xFFFF; ++u) {
    long index = charmap::sjis_out_index(static_cast<uint16_t>(u));
    if (index < 0) continue;
    std::string unit{static_cast<char>(u >> 8), static_cast<char>(u & 0xFF)};
    std::string out = convert_one(sjis.cd, unit);
    if (out.size() == 2)
      table[index] = static_cast<uint16_t>(static_cast<unsigned char>(out[0]) << 8 | static_cast<unsigned char>(out[1]));
  }
  return table;
}

bool write_mapping_table(const std::string& path, const std::vector<uint16_t>& values) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::string bytes;
  uint32_t n = static_cast<uint32_t>(values.size());
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(n >> shift));
  for (uint16_t v : values) {
    bytes.push_back(static_cast<char>(v >> 8));
    bytes.push_back(static_cast<char>(v & 0xFF));
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool write_mapping_tables(const std::string& dir, std::string* error) {
  struct Item {
    const char* name;
    std::vector<uint16_t> values;
  };
  Item items[] = {
      {"jis0208.tbl", make_jis0208_table()},
      {"jis0212.tbl", make_jis0212_table()},
      {"sjis_out.tbl", make_sjis_out_table()},
  };
  for (const Item& item : items) {
    if (item.values.empty()) {
      *error = std::string("the C library has no converter for ") + item.name;
      return false;
    }
    if (!write_mapping_table(dir + "/" + item.name, item.values)) {
      *error = dir + "/" + item.name + ": " + std::strerror(errno);
      return false;
    }
  }
  std::string config_path = dir + "/charmap.cfg";
  FILE* f = std::fopen(config_path.c_str(), "w");
  if (!f) {
    *error = config_path + ": " + std::strerror(errno);
    return false;
  }
  std::fprintf(f, "[CharMapper tables made from the C library's converters]\n");
  std::fprintf(f, "encoding direction table\n");
  std::fprintf(f, "15 F0 %s/jis0208.tbl\n", dir.c_str());
  std::fprintf(f, "16 F0 %s/jis0212.tbl\n", dir.c_str());
  std::fprintf(f, "19 F1 %s/sjis_out.tbl\n", dir.c_str());
  if (std::fclose(f) != 0) {
    *error = config_path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace vorlane::tools
