#include "tools/zop/hmm_writer.h"

#include <algorithm>
#include <fstream>

namespace vorlane::zopw {

namespace {
void put32(std::vector<uint8_t>* out, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(u >> (8 * i)));
}
void put_string(std::vector<uint8_t>* out, const std::string& s) {
  out->insert(out->end(), s.begin(), s.end());
  out->push_back(0);
}
}  // namespace

std::vector<uint8_t> hmm_image(const HmmDesc& desc) {
  std::vector<uint8_t> out(12, 0);
  out[4] = desc.file_type;
  out[7] = desc.language;
  out.insert(out.end(), desc.version.begin(), desc.version.end());
  out.push_back('\n');
  put_string(&out, desc.comment);
  int32_t width = desc.width;
  if (width == 0) {
    for (const auto& c : desc.classes) width = std::max(width, static_cast<int32_t>(c.members.size()));
  }
  const int32_t ntag = static_cast<int32_t>(desc.tags.size());
  put32(&out, desc.n1);
  put32(&out, width);
  put32(&out, ntag);
  put32(&out, static_cast<int32_t>(desc.classes.size()));
  for (const auto& t : desc.tags) put_string(&out, t);
  out.push_back(0);
  for (const auto& c : desc.classes) put_string(&out, c.symbols);
  out.push_back(0);
  put32(&out, desc.repeated_ntag >= 0 ? desc.repeated_ntag : ntag);
  for (int32_t i = 0; i < ntag; ++i) put32(&out, i < static_cast<int32_t>(desc.initial.size()) ? desc.initial[i] : 0);
  for (int32_t t = 0; t < ntag; ++t) {
    const std::vector<int32_t> empty;
    const auto& row = t < static_cast<int32_t>(desc.rows.size()) ? desc.rows[t] : empty;
    put32(&out, static_cast<int32_t>(row.size()));
    for (int32_t v : row) put32(&out, v);
  }
  for (const auto& c : desc.classes) {
    put32(&out, static_cast<int32_t>(c.members.size()));
    for (const auto& [tag, score] : c.members) {
      put32(&out, tag);
      put32(&out, score);
    }
  }
  return out;
}

bool hmm_write_file(const std::string& path, const HmmDesc& desc, std::string* error) {
  std::vector<uint8_t> image = hmm_image(desc);
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (!f) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace vorlane::zopw
