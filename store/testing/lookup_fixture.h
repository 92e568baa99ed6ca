// Test helper: a database image of generated terms with its truth, and the
// normalised record idbm_find must return for each term.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "store/db_files.h"
#include "store/score_tables.h"
#include "store/testing/db_image.h"

namespace vorlane::testing {

struct generated_db {
  std::vector<image_term> terms;
  std::vector<image_record> records;  // file order
  uint32_t ndocs = 0;
};

// n terms with distinct random pairs and 1..max_postings postings each
// (seeded), written to dir.
inline generated_db make_generated_db(const std::string& dir, uint32_t n, uint32_t ndocs, uint32_t max_postings,
                                      uint32_t seed, image_options options = {}) {
  std::mt19937 rng(seed);
  std::map<std::pair<uint32_t, uint32_t>, bool> seen;
  generated_db g;
  g.ndocs = ndocs;
  while (g.terms.size() < n) {
    uint32_t h1 = rng() % 0x7FFFFFFFu + 1;
    uint32_t h2 = rng() % 0x7FFFFFFFu + 1;
    if (seen[{h1, h2}]) continue;
    seen[{h1, h2}] = true;
    image_term t{h1, h2, {}, 0};
    uint32_t count = 1 + rng() % max_postings;
    if (count > ndocs) count = ndocs;
    std::set<uint32_t> docids;
    while (docids.size() < count) docids.insert(rng() % ndocs);
    for (uint32_t docid : docids) t.postings.push_back((docid << 7) | (1 + rng() % 127));
    g.terms.push_back(t);
  }
  options.ndocs = ndocs;
  g.records = write_db_image(dir, g.terms, options);
  return g;
}

// The record idbm_find must return for a stored term, in the cached form.
inline std::vector<uint32_t> expected_cached(const image_term& t, uint32_t ndocs) {
  uint32_t count = static_cast<uint32_t>(t.postings.size());
  uint32_t docf = t.docf ? t.docf : count;
  if (docf > ndocs) docf = ndocs;
  int weight = idf_scale(docf, ndocs);
  std::vector<uint32_t> w(kRecHeaderWords);
  rec_set_header(w.data(), t.hash1, t.hash2, docf, static_cast<uint32_t>(weight), count);
  for (uint32_t p : t.postings) {
    int r = log_scale(posting_score(p));
    int score = r >= 100 ? weight : percent_table[r][weight];
    if (score < 1) score = 1;
    w.push_back((p & ~127u) | static_cast<uint32_t>(score));
  }
  w.push_back(kRecEndMark);
  return w;
}

inline std::vector<uint32_t> record_words(const uint32_t* r) {
  if (!r) return {};
  return std::vector<uint32_t>(r, r + rec_full_count(r) + 5);
}

}  // namespace vorlane::testing
