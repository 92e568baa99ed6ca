// Test and benchmark helper for the query engine: the default English set,
// the index terms a text gets (the stems and phrases indexing makes), and
// databases written through the store's own indexing and writing, opened
// for queries.
#pragma once

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/ling_calls.h"
#include "engine/phrase_output.h"
#include "engine/query/query_term.h"
#include "engine/query/term_pins.h"
#include "engine/stem_output.h"
#include "engine/stopwords.h"
#include "engine/token_passes.h"
#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/indexing.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/title_record.h"
#include "store/testing/index_fixture.h"

namespace vorlane::engine::query_testing {

// The stop words the tests give the English set.
inline const char* const kStopWords[] = {"a",  "an", "and", "are", "as", "at",   "be",  "by",   "for",  "from",
                                         "in", "is", "it",  "of",  "on", "that", "the", "this", "to",   "was",
                                         "were", "with", nullptr};

// Loads the set at path (its base path, "…/english") once; the handle, or
// one with a null stemmer when it cannot be loaded.
inline zop_handle english_set(const std::string& path) {
  static zop_handle loaded = [&] {
    zop_handle h;
    if (ling_calls.lang_init(&h, path.c_str()) != 1) return zop_handle{};
    BuildStopWordTable(h, kStopWords);
    return h;
  }();
  return loaded;
}

inline std::vector<std::string> strings_of(const char* area, size_t size) {
  std::vector<std::string> out;
  const char* p = area;
  while (p < area + size && *p) {
    out.emplace_back(p);
    p += out.back().size() + 1;
  }
  return out;
}

// The index terms of a text: every stem and the shortest stem of each word,
// and the phrases of every window (option 7), each with the field prefix.
// An unstemmed field gets plain lower-cased words and unstemmed phrases; a
// literal field its value as it stands.
inline std::set<std::string> index_terms(const std::string& text, const zop_handle& h, const std::string& field = "",
                                         bool unstemmed = false, bool literal = false) {
  std::set<std::string> terms;
  if (literal) {
    terms.insert(field + text);
    return terms;
  }
  ParseState s = TokenizeText(text.c_str(), nullptr, 1, h);
  std::vector<char> area(text.size() * 24 + 4096);
  auto add = [&](int n) {
    (void)n;
    for (const std::string& t : strings_of(area.data(), area.size()))
      if (!t.empty()) terms.insert(field + t);
  };
  if (unstemmed) {
    add(WordTokens(s, area.data(), area.size(), 1));
    add(PhraseTokens(s, area.data(), area.size(), h, kStemNone, 0));
  } else {
    add(StemTokens(s, area.data(), area.size(), h, 1));
    add(StemTokens(s, area.data(), area.size(), h, 0));
    add(PhraseTokens(s, area.data(), area.size(), h, kStemShortest, 0));
  }
  FreeParseState(s);
  return terms;
}

// One document to index: its term strings, extra raw hash pairs, and the
// url and title of its title record (none when the url is empty).
struct Doc {
  std::set<std::string> terms;
  std::vector<hash_pair> pairs;
  std::string url;
  std::string title;
};

// Writes the documents as a database at path through the store (indexing
// with its journal, then idbm_write) and returns 1, or 0 on a failure.
// Deleted docids are marked after indexing.
inline int write_database(const std::string& path, const std::vector<Doc>& docs,
                          const std::vector<uint32_t>& deleted = {}, int32_t posting_limit = 0,
                          std::string* why = nullptr) {
  // A capacity whose term table and icube (sized from it) hold every term of
  // the documents.
  size_t total = 0;
  for (const Doc& d : docs) total += d.terms.size() + d.pairs.size();
  const size_t capacity = std::max<size_t>(docs.size() + 16, total / 200 + 101);
  idbm_db* db = idbm_open_incr(path.c_str(), posting_limit, static_cast<uint32_t>(capacity), 1, nullptr);
  if (!db) {
    if (why) *why = "idbm_open_incr";
    return 0;
  }
  for (const Doc& d : docs) {
    testing::test_doc t;
    for (const std::string& term : d.terms) t.add(term.c_str(), 3);
    for (const hash_pair& p : d.pairs) t.add(p.hash1, p.hash2, 3);
    unsigned char record[kTitleRecordSize];
    const unsigned char* title = nullptr;
    if (!d.url.empty()) {
      std::string url = d.url, name = d.title, empty;
      std::string summary, publisher, index;
      title_pack(record, url.data(), name.data(), summary.data(), publisher.data(), index.data(), 0, 0, 0, 0, 0, 0,
                 nullptr, nullptr, nullptr, 0);
      title = record;
    }
    if (const int r = idbm_index_and_log(db, t.terms(), title, 0, 0, 0, 0); r <= 0) {
      if (why) *why = "idbm_index_and_log: " + std::to_string(r);
      idbm_close(db);
      return 0;
    }
  }
  for (uint32_t docid : deleted) idbm_delete(db, docid);
  const int ok = idbm_write(db, 1);
  if (!ok && why) *why = "idbm_write";
  idbm_close(db);
  return ok;
}

// A query handle over the database at path with its term cache.
inline idbm_db* open_query_db(const std::string& path) {
  idbm_db* db = idbm_open(path.c_str(), 0, 0, 0, nullptr);
  if (db && !idbm_cache(db, 4 * cache_total_slots())) {
    idbm_close(db);
    return nullptr;
  }
  return db;
}

// Pins held in every arena.
inline uint64_t pinned_slots() {
  uint64_t n = 0;
  for (arena* a : arenas) {
    if (!a) break;
    for (uint32_t i = 0; i < a->count; ++i) n += a->slots[i].pins;
  }
  return n;
}

// The parse areas of one query, with a pin log.
struct ParseAreas {
  std::vector<char> text = std::vector<char>(kQueryTextBytes);
  std::vector<QueryTerm> terms = std::vector<QueryTerm>(kQueryTermSlots);
  std::vector<QueryTerm> elements = std::vector<QueryTerm>(kQueryElementSlots);
  TermPinScope pins;
  QueryBuffers buffers{};

  ParseAreas() { reset(); }
  void reset() {
    release_pins(pins.get());
    init_pins(pins.get(), pins.get()->records, kTermPinSlots);
    buffers = QueryBuffers{};
    buffers.text_base = buffers.text_position = text.data();
    buffers.text_size = buffers.text_room = kQueryTextBytes;
    buffers.term_base = buffers.term_position = terms.data();
    buffers.term_capacity = buffers.term_room = kQueryTermSlots;
    buffers.element_base = buffers.element_position = elements.data();
    buffers.element_capacity = buffers.element_room = kQueryElementSlots;
    buffers.pins = pins.get();
  }
};

}  // namespace vorlane::engine::query_testing
