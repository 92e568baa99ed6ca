// Test and benchmark helper for the query engine: the default English set,
// the index terms a text gets (the stems and phrases indexing makes),
// databases written through the store's own indexing and writing, opened
// for queries, pages of the installed HTML documentation, and the work
// areas and requests of query_each.
#pragma once

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "engine/text/html_extract.h"
#include "engine/analysis/ling_calls.h"
#include "engine/analysis/phrase_output.h"
#include "engine/query/hit_heap.h"
#include "engine/query/query_each.h"
#include "engine/query/query_format.h"
#include "engine/query/query_term.h"
#include "engine/query/term_pins.h"
#include "engine/analysis/stem_output.h"
#include "engine/analysis/stopwords.h"
#include "engine/testing/language_sets.h"
#include "engine/module/sorn_module.h"
#include "engine/analysis/token_passes.h"
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
  static zop_handle loaded = testing_sets::load_set(path, kStopWords);
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

// One document to index: its term strings, extra raw hash pairs, the url
// and title of its title record (none when the url is empty), its deletion
// byte and the day number of its date entry.
struct Doc {
  std::set<std::string> terms;
  std::vector<hash_pair> pairs;
  std::string url;
  std::string title;
  uint8_t flag = 0;
  uint32_t day = 0;
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
    if (const int r = idbm_index_and_log(db, t.terms(), title, d.flag, 0, din_day_word(d.day), 0); r <= 0) {
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

// A query handle with the identifier id, its deletion and date maps mapped
// (the deletion map writable when writable_del), with its term cache.
inline idbm_db* open_query_db(const std::string& path, uint32_t id, bool writable_del) {
  uint32_t flags = IDBM_KEEP_DIR | IDBM_SCORE_MAP | IDBM_DEL_REQUIRED | IDBM_DIN_REQUIRED;
  if (writable_del) flags |= IDBM_DEL_WRITABLE;
  idbm_db* db = idbm_openInner(path.c_str(), id, static_cast<int32_t>(max_hits), 0, 1, nullptr, flags);
  if (db && !db->cache_table && !idbm_cache(db, 4 * cache_total_slots())) {
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

#ifdef VORLANE_ENGLISH_DIR
// The default English set of the build (null stemmer when it was not built).
inline const zop_handle& english() {
  static const zop_handle h = english_set(std::string(VORLANE_ENGLISH_DIR) + "/english");
  return h;
}
#endif

// The caller's work areas of query_each and a response area.
struct QueryRun {
  std::vector<HitHeap> heap;
  std::vector<uint32_t> list;
  std::vector<uint8_t> response;
  QueryBuffers buffers{};
  explicit QueryRun(size_t response_size = 169024)
      : heap(hit_area_entries(max_hits) * 3), list(size_t{max_hits} * 2 + 10), response(response_size) {}
  QueryBuffers* areas() {
    buffers = QueryBuffers{};
    buffers.heap = heap.data();
    buffers.heap_left = static_cast<int32_t>(heap.size());
    buffers.list_base = list.data();
    buffers.list_size = static_cast<int32_t>(list.size());
    return &buffers;
  }
  // Runs a request; the result of query_each.
  int run(idbm_db* db, const std::vector<uint8_t>& request, int merge, const zop_handle& h) {
    return query_each(db, request.data(), request.size(), response.data(), response.size(), areas(), merge, h);
  }
  QueryResponseView view() const {
    QueryResponseView v;
    read_query_response(response.data(), response.size(), &v);
    return v;
  }
};

// A request of a type with a text, built by the format's writer.
inline std::vector<uint8_t> request(const std::string& text, int32_t start = 1, int32_t hits = 500,
                                    uint32_t type = kRequestSingle, uint32_t mode = 0) {
  QueryRequestFields f;
  f.type = type;
  f.start = start;
  f.hits = hits;
  f.mode = mode;
  f.text = text.c_str();
  f.text_length = text.size();
  f.collection = "coll";
  f.collection_length = 4;
  std::vector<uint8_t> out(64 + text.size() + 8);
  out.resize(write_query_request(out.data(), out.size(), f));
  return out;
}

// A page of the HTML documentation installed from Debian packages: its
// "host" (the documentation set and its first directory) and body text.
struct Page {
  std::string host;
  std::string body;
};

// Up to max_pages pages (sorted by path, so the same ones every run), each
// body cut to max_body bytes; empty when no documentation is installed.
inline std::vector<Page> load_pages(size_t max_pages, size_t max_body) {
  namespace fs = std::filesystem;
  std::vector<std::pair<std::string, fs::path>> files;
  const std::pair<const char*, const char*> roots[] = {{"docs.python.org", "/usr/share/doc/python3.11/html"},
                                                       {"httpd.apache.org", "/usr/share/doc/apache2-doc/manual"}};
  for (const auto& [site, root] : roots) {
    if (!fs::is_directory(root)) continue;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      if (!e.is_regular_file()) continue;
      const std::string name = e.path().filename().string();
      const bool html = name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0;
      const bool english_variant = name.size() > 8 && name.compare(name.size() - 8, 8, ".html.en") == 0;
      if (!html && !english_variant) continue;
      const fs::path rel = fs::relative(e.path(), root);
      const std::string first = rel.has_parent_path() ? rel.begin()->string() : "top";
      files.push_back({std::string(site) + "." + first, e.path()});
    }
  }
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  std::vector<Page> pages;
  for (const auto& [host, path] : files) {
    if (pages.size() >= max_pages) break;
    std::ifstream f(path, std::ios::binary);
    std::string html((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ParseResult r;
    if (!parse_html_text(html.c_str(), ("http://" + host + "/").c_str(), &r)) continue;
    std::string body = r.body ? r.body : "";
    if (r.title) body = std::string(r.title) + " " + body;
    r.release(&r);
    if (body.size() > max_body) body.resize(max_body);
    if (body.size() < 40) continue;
    pages.push_back({host, body});
  }
  return pages;
}

// The documents of pages: index terms of the body, plus "site:" and the
// host as one literal term.
inline std::vector<Doc> page_docs(const std::vector<Page>& pages, const zop_handle& h) {
  std::vector<Doc> docs;
  for (const Page& p : pages) {
    Doc d;
    d.terms = index_terms(p.body, h);
    d.terms.insert("site:" + p.host);
    docs.push_back(std::move(d));
  }
  return docs;
}

}  // namespace vorlane::engine::query_testing
