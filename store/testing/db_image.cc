#include "store/testing/db_image.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlane::testing {

namespace {

void write_file(const std::string& path, const void* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("can't write " + path);
  if (size && fwrite(data, 1, size, f) != size) throw std::runtime_error("short write " + path);
  fclose(f);
}

}  // namespace

std::vector<uint32_t> encode_record(const image_term& t, bool full_form_only) {
  const uint32_t count = static_cast<uint32_t>(t.postings.size());
  std::vector<uint32_t> w;
  if (!full_form_only && count == 1) {
    w = {t.hash1 | kCompactFlag, t.hash2, t.postings[0]};
  } else if (!full_form_only && count == 2) {
    w = {t.hash1 | kCompactFlag, t.hash2 | kCompactFlag, t.postings[0], t.postings[1]};
  } else {
    w.resize(kRecHeaderWords);
    rec_set_header(w.data(), t.hash1, t.hash2, t.docf ? t.docf : count, 0, count);
    w.insert(w.end(), t.postings.begin(), t.postings.end());
    w.push_back(kRecEndMark);
  }
  return w;
}

std::vector<image_record> write_db_image(const std::string& dir, std::vector<image_term> terms,
                                         const image_options& o) {
  mkdir(dir.c_str(), 0777);
  std::sort(terms.begin(), terms.end(), [](const image_term& a, const image_term& b) {
    return pair_cmp(a.hash1, a.hash2, b.hash1, b.hash2) < 0;
  });
  std::vector<std::vector<uint32_t>> parts(1);
  std::vector<uint32_t> entries;
  std::vector<image_record> out;
  for (const image_term& t : terms) {
    std::vector<uint32_t> w = encode_record(t, o.full_form_only);
    const uint32_t size = static_cast<uint32_t>(w.size() * 4);
    uint64_t offset = parts.back().size() * 4;
    if (offset + size >= o.part_limit && offset > 0) {
      parts.emplace_back();
      offset = 0;
    }
    const uint32_t part = static_cast<uint32_t>(parts.size() - 1);
    const bool entry = dir_entry_needed(static_cast<uint32_t>(offset), size);
    if (entry) entries.insert(entries.end(), {t.hash1, t.hash2, static_cast<uint32_t>(offset), (size << 8) | part});
    parts.back().insert(parts.back().end(), w.begin(), w.end());
    out.push_back({t.hash1, t.hash2, part, static_cast<uint32_t>(offset), size, entry});
  }
  std::vector<uint32_t> dir_words = {static_cast<uint32_t>(parts.size()), static_cast<uint32_t>(terms.size()),
                                     o.ndocs, o.posting_limit};
  dir_words.insert(dir_words.end(), entries.begin(), entries.end());
  write_file(dir + "/dir", dir_words.data(), dir_words.size() * 4);
  for (size_t i = 0; i < parts.size(); ++i)
    write_file(dir + "/tf" + std::to_string(i), parts[i].data(), parts[i].size() * 4);

  // Title files, sparse: every file but the last holds 0x400000 records.
  const uint32_t nfiles = title_file_count(o.ndocs);
  for (uint32_t f = 0; f < nfiles; ++f) {
    const std::string path = dir + "/ti" + std::to_string(f);
    write_file(path, nullptr, 0);
    uint64_t records = f + 1 < nfiles ? kTitlesPerFile : o.ndocs - uint64_t{f} * kTitlesPerFile;
    if (truncate(path.c_str(), static_cast<off_t>(records * kTitleBytes)) != 0)
      throw std::runtime_error("can't size " + path);
  }
  for (const auto& [docid, record] : o.titles) {
    const std::string path = dir + "/ti" + std::to_string(docid >> kTitleFileShift);
    FILE* f = fopen(path.c_str(), "r+b");
    if (!f) throw std::runtime_error("can't open " + path);
    fseeko(f, static_cast<off_t>(uint64_t{docid & (kTitlesPerFile - 1)} * kTitleBytes), SEEK_SET);
    fwrite(record.data(), 1, std::min<size_t>(record.size(), kTitleBytes), f);
    fclose(f);
  }
  std::vector<unsigned char> del(o.ndocs, 0);
  write_file(dir + "/del", del.data(), del.size());
  write_file(dir + "/inf", &o.score_incr, 4);
  if (o.write_din) {
    std::vector<uint32_t> din(uint64_t{o.ndocs} * 2, 0);
    write_file(dir + "/din", din.data(), din.size() * 4);
  }
  return out;
}

}  // namespace vorlane::testing
