// Helpers for the tests and benchmarks of query evaluation and execution:
// the default English resource set, documents indexed through the store with
// the token passes, phrases and stems a query uses, and the work areas and
// request of one query_each call.
#pragma once

#include <cstdint>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/html_extract.h"
#include "engine/ling_calls.h"
#include "engine/phrase_output.h"
#include "engine/query/hit_heap.h"
#include "engine/query/query_each.h"
#include "engine/query/query_format.h"
#include "engine/query/query_term.h"
#include "engine/sorn_module.h"
#include "engine/stem_output.h"
#include "engine/stopwords.h"
#include "engine/token_passes.h"
#include "store/db_handle.h"
#include "store/db_write.h"
#include "store/doc_terms.h"
#include "store/indexing.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/term_hash.h"
#include "store/testing/index_fixture.h"

namespace vorlane::engine::query_testing {

// The default English set with a small stop-word list; stemmer null when the
// set was not built.
inline const zop_handle& english() {
  static const zop_handle h = [] {
    zop_handle h{};
    const std::string base = std::string(VORLANE_ENGLISH_DIR) + "/english";
    if (!std::filesystem::exists(base + ".hmm")) return h;
    if (ling_calls.lang_init(&h, base.c_str()) != 1) return zop_handle{};
    const char* stop[] = {"a", "an", "and", "are", "as", "at", "be", "by", "for", "from", "in", "is", "it",
                          "of", "on", "or", "that", "the", "this", "to", "was", "were", "with", nullptr};
    BuildStopWordTable(h, stop);
    return h;
  }();
  return h;
}

// The strings of a NUL-terminated list, up to the first empty one.
inline void strings_into(const char* area, size_t size, std::vector<std::string>* out) {
  size_t at = 0;
  while (at < size && area[at]) {
    const size_t n = strnlen(area + at, size - at);
    out->emplace_back(area + at, n);
    at += n + 1;
  }
}

// The index terms of a text, with their frequencies: every phrase (as
// document indexing writes them) and every word's stem.
inline std::map<std::string, int> index_terms(const std::string& text, const zop_handle& h) {
  std::map<std::string, int> terms;
  ParseState s = TokenizeTextCopy(text.data(), text.size(), 1, h);
  const size_t room = text.size() * 16 + 4096;
  std::unique_ptr<char[]> area(new char[room]);
  std::vector<std::string> found;
  PhraseTokens(s, area.get(), room, h, kStemShortest, 0);
  strings_into(area.get(), room, &found);
  StemTokensDefault(s, area.get(), room, h);
  strings_into(area.get(), room, &found);
  FreeParseState(s);
  for (const std::string& t : found) {
    if (!t.empty() && t.size() < 500) ++terms[t];
  }
  return terms;
}

struct Doc {
  std::map<std::string, int> terms;  // index term -> frequency
  std::vector<hash_pair> pairs;      // terms given by their hash pair (checksums), frequency 1
  uint8_t flag = 0;                  // deletion byte
  uint32_t day = 0;                  // day number of the date entry
};

// Indexes docs into a new database at path through the store and saves it.
// False when a step failed.
inline bool write_db(const std::string& path, const std::vector<Doc>& docs) {
  // Room for every term and posting: the term table and the icube.
  std::map<std::string, int> distinct;
  uint64_t postings = 0;
  for (const Doc& d : docs) {
    for (const auto& t : d.terms) ++distinct[t.first];
    postings += d.terms.size() + d.pairs.size();
  }
  // The store sizes the term table (384 cells) and the icube (3,584 words)
  // by the document capacity.
  const uint64_t capacity = std::max<uint64_t>(
      {docs.size() + 1, distinct.size() * 4 / 384 + 1, (postings * 3 + distinct.size() * 12) / 3584 + 1});
  idbm_db* db = idbm_open_incr(path.c_str(), 0, static_cast<uint32_t>(capacity), 1, nullptr);
  if (!db) return false;
  bool ok = true;
  for (const Doc& d : docs) {
    testing::test_doc t;
    for (const auto& [text, freq] : d.terms) t.add(text.c_str(), static_cast<uint8_t>(freq > 127 ? 127 : freq));
    for (const hash_pair& p : d.pairs) t.add(p.hash1, p.hash2, 1);
    const int r = idbm_index_and_log(db, t.terms(), nullptr, d.flag, 0, (d.day & 0xFFFFu) << 16, 0);
    if (r <= 0) {
      ok = false;
      break;
    }
  }
  if (ok) ok = idbm_write(db, 1) == 1;
  idbm_close(db);
  return ok;
}

// Opens a saved database for queries (with a writable deletion map when
// writable_del), its term cache on the arenas.
inline idbm_db* open_query_db(const std::string& path, uint32_t id, bool writable_del = false) {
  uint32_t flags = IDBM_KEEP_DIR | IDBM_SCORE_MAP | IDBM_DEL_REQUIRED | IDBM_DIN_REQUIRED;
  if (writable_del) flags |= IDBM_DEL_WRITABLE;
  idbm_db* db = idbm_openInner(path.c_str(), id, static_cast<int32_t>(max_hits), 0, 1, nullptr, flags);
  if (!db) return nullptr;
  if (!db->cache_table && !idbm_cache(db, 4 * cache_total_slots())) {
    idbm_close(db);
    return nullptr;
  }
  return db;
}

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
    d.terms["site:" + p.host] = 1;
    docs.push_back(std::move(d));
  }
  return docs;
}

}  // namespace vorlane::engine::query_testing
