// Test helper for indexing, saving and merging: seeded synthetic documents,
// a straightforward model of the database they make, and the records a saved
// database must hold according to that model.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "store/db_files.h"
#include "store/doc_terms.h"
#include "store/score_tables.h"
#include "store/term_hash.h"

namespace vorlane::testing {

using pair_key = std::pair<uint32_t, uint32_t>;

// One document's terms, owning the arrays a compacted doc_terms points at.
struct test_doc {
  std::vector<hash_pair> pairs;
  std::vector<uint8_t> freqs;
  doc_terms table{};

  test_doc() = default;
  test_doc(const test_doc& o) : pairs(o.pairs), freqs(o.freqs) { bind(); }
  test_doc& operator=(const test_doc& o) {
    pairs = o.pairs;
    freqs = o.freqs;
    bind();
    return *this;
  }
  void add(uint32_t h1, uint32_t h2, uint8_t f) {
    pairs.push_back({h1, h2});
    freqs.push_back(f);
    bind();
  }
  void add(const char* text, uint8_t f) {
    hash_pair p = pair_from_u64(term_hash_pair(text));
    add(p.hash1, p.hash2, f);
  }
  void bind() {
    table = doc_terms{};
    table.size = table.cells = static_cast<int32_t>(pairs.size());
    table.pairs = pairs.data();
    table.freqs = freqs.data();
  }
  const doc_terms* terms() const { return &table; }
};

// Document docid of a seeded corpus over a vocabulary of vocab words whose
// use follows a Zipf-like law (word k with weight 1 / (k + 1)); up to
// max_terms distinct terms per document, frequencies 1..127.
inline test_doc synthetic_doc(uint32_t seed, uint32_t docid, uint32_t vocab, uint32_t max_terms) {
  std::mt19937 rng(seed * 1000003u + docid);
  const uint32_t n = 1 + rng() % max_terms;
  std::set<uint32_t> words;
  for (uint32_t i = 0; i < n * 2 && words.size() < n; ++i) {
    // Inverse of a 1/(k+1) law: k = vocab^u - 1 for uniform u.
    double u = std::uniform_real_distribution<double>(0, 1)(rng);
    uint32_t k = static_cast<uint32_t>(std::pow(static_cast<double>(vocab), u)) - 1;
    words.insert(std::min(k, vocab - 1));
  }
  test_doc d;
  for (uint32_t k : words) {
    std::string text = "w" + std::to_string(k);
    d.add(text.c_str(), static_cast<uint8_t>(1 + rng() % 127));
  }
  return d;
}

// The postings a straightforward reading of the documents gives: per term,
// (docid, frequency) in docid order, and each term's norm when indexing
// normalises (without a catalog idf_scale(1, documents so far) when the term
// first appears).
struct index_model {
  std::map<pair_key, std::vector<std::pair<uint32_t, uint32_t>>> postings;
  std::map<pair_key, int> norm;
  uint32_t ndocs = 0;
  // With a catalog, a new term's norm is idf_scale(its catalog docf, or 1,
  // the catalog's document count).
  bool has_catalog = false;
  std::map<pair_key, uint32_t> cat_docf;
  uint32_t cat_ndocs = 0;

  void add(const test_doc& d) {
    const uint32_t docid = ndocs++;
    for (size_t i = 0; i < d.pairs.size(); ++i) {
      pair_key k{d.pairs[i].hash1, d.pairs[i].hash2};
      if (!norm.count(k)) {
        int n = has_catalog ? idf_scale(cat_docf.count(k) ? cat_docf.at(k) : 1, cat_ndocs) : idf_scale(1, ndocs);
        norm[k] = std::clamp(n, 1, 100);
      }
      postings[k].push_back({docid, d.freqs[i]});
    }
  }

  // Writes a catalog file of the given terms (ascending pairs) and remembers
  // it: header {0x80000000, 0x80000000, ndocs << 7, 0}, then one entry per
  // term with docf << 7 in word 2.
  void write_catalog(const std::string& path, uint32_t n, const std::map<pair_key, uint32_t>& docfs) {
    has_catalog = true;
    cat_ndocs = n;
    cat_docf = docfs;
    std::vector<uint32_t> words = {0x80000000u, 0x80000000u, n << 7, 0};
    for (const auto& [k, df] : docfs) {
      words.insert(words.end(), {k.first | 0x80000000u, k.second | 0x80000000u, (df << 7) + 50, (df << 7) + 40});
    }
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(words.data(), 4, words.size(), f);
    fclose(f);
  }
  // An empty slot (a failed insert): the docid is taken, nothing indexed.
  void skip() { ++ndocs; }
};

// The stored score class of a frequency: the frequency itself when indexing
// stores raw frequencies; with normalisation, the in-memory weight
// percent_table[log_scale(f)][norm] with the norm divided out again through
// score_map.
inline uint32_t stored_class(uint32_t freq, int norm, bool normalise, const int32_t* score_map) {
  if (!normalise) return freq;
  int r = log_scale(freq);
  int mem = r >= 100 ? norm : percent_table[r][norm];
  int s = std::min(100, (mem * 100 + norm / 2) / norm);
  return static_cast<uint32_t>(score_map[s]);
}

// The record idbm_find returns from the saved database for a model term:
// the first posting_limit postings, docf the document count (capped at
// ndocs), scores turned into query weights.
inline std::vector<uint32_t> expected_found(const index_model& m, const pair_key& k, bool normalise,
                                            const int32_t* score_map, uint32_t posting_limit) {
  const auto& list = m.postings.at(k);
  const uint32_t docf = std::min<uint32_t>(static_cast<uint32_t>(list.size()), m.ndocs);
  const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(list.size()), posting_limit);
  const int weight = idf_scale(docf, m.ndocs);
  std::vector<uint32_t> w(kRecHeaderWords);
  rec_set_header(w.data(), k.first, k.second, docf, static_cast<uint32_t>(weight), count);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t cls = stored_class(list[i].second, normalise ? m.norm.at(k) : 0, normalise, score_map);
    int r = log_scale(cls);
    int score = std::max(1, r >= 100 ? weight : percent_table[r][weight]);
    w.push_back((list[i].first << 7) | static_cast<uint32_t>(score));
  }
  w.push_back(kRecEndMark);
  return w;
}

// The whole contents of a file (empty when it cannot be read).
inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace vorlane::testing
