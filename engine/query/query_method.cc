// sorn.query and sorn.reap_query_buffers.
//
// query(start, count, languages, text, databases, date_a, date_b, details)
// checks and converts its arguments with the interpreter lock held, takes a
// work buffer from the pool, and without the lock builds one request, runs
// it against each database (query_each), merges the responses (merge_hits)
// and reads the page's title records; with details it merges copies of the
// responses a second time for the term details. The result, built with the
// lock again, is (total, documents, terms, hits).
#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "engine/db/get_titles.h"
#include "engine/module/lock_release.h"
#include "engine/db/open_dbs.h"
#include "engine/query/hit_tuple.h"
#include "engine/query/merge_hits.h"
#include "engine/query/query_buffer.h"
#include "engine/query/query_details.h"
#include "engine/query/query_each.h"
#include "engine/query/query_format.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "store/db_files.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

namespace {

// Bytes of the request query builds; its text starts at byte 56 and is
// followed by an empty collection name, both NUL-terminated within it.
constexpr size_t kRequestSize = 2048;
constexpr size_t kMaxRequestText = kRequestSize - sizeof(QueryRequestHeader) - 2;  // 1,990

static_assert(kQueryTitleAreaSize == size_t{kMaxTitlesPerCall} * kTitleRecordSize, "a page's title records");
static_assert(sizeof(QueryEachArea) <= kQueryTitleAreaSize, "the parse areas fit in the title area");
// Every area of the buffer starts at a multiple of 8 bytes.
static_assert(alignof(QueryEachArea) <= 8 && kQueryAreaSize % 8 == 0, "the parse areas are aligned");

struct QueryDb {
  int id;
  idbm_db* db;
  zop_handle language;
};

// What the work without the lock hands back.
struct QueryOutcome {
  int32_t total = 0;  // the merged total, its sign marking an estimate
  uint32_t documents = 0;
  std::vector<Hit> page;
  std::vector<ResultTerm> terms;
  std::vector<HitDetails> details;  // one per page hit, with term details only
  const unsigned char (*titles)[kTitleRecordSize] = nullptr;
};

// The most hits of which a response for merging surely fits a response
// area, whatever its term strings, for a query of terms terms: each hit may
// stand in the hit array and in every term's block.
uint32_t depth_that_fits(uint32_t terms) {
  const uint64_t strings = uint64_t{kQueryTextBytes} + (kMaxQueryText + 1) + 1;  // displays, query, collection
  const uint64_t fixed = sizeof(QueryResponseHeader) + 4 + uint64_t{terms} * 8 + strings;
  const uint64_t per_hit = sizeof(Hit) * (1 + uint64_t{terms});
  return kQueryAreaSize > fixed ? static_cast<uint32_t>((kQueryAreaSize - fixed) / per_hit) : 0;
}

// Runs the request against one database into its area. A response that
// outgrew the area (the blocks of many terms over hundreds of hits) is made
// again with as many hits as surely fit: a depth that depends on the query
// alone, so the candidates stay the same for every page.
void query_one(const QueryDb& d, uint8_t* request, const QueryRequestFields& f, uint8_t* area,
               const QueryBuffers& areas, QueryEachArea* parse_areas) {
  QueryBuffers work = areas;
  if (query_each(d.db, request, kRequestSize, area, kQueryAreaSize, &work, 1, d.language, parse_areas)) return;
  QueryResponseView v;
  if (!read_query_response(area, kQueryAreaSize, &v) || v.hit_count == 0) return;
  // A response that stopped before its term words tells no term count.
  const uint32_t depth = depth_that_fits(v.term_count ? v.term_count : kQueryTermSlots - 1);
  if (depth >= v.hit_count) return;
  QueryRequestFields fewer = f;
  fewer.hits = static_cast<int32_t>(depth);
  write_query_request(request, kRequestSize, fewer);
  work = areas;
  query_each(d.db, request, kRequestSize, area, kQueryAreaSize, &work, 1, d.language, parse_areas);
  write_query_request(request, kRequestSize, f);
}

void run_query(uint8_t* buffer, const std::vector<QueryDb>& dbs, int32_t start, int32_t count,
               uint32_t window, const char* text, size_t text_length, bool want_details, QueryOutcome* out) {
  const QueryBufferLayout layout = query_buffer_layout(max_hits);
  const int n = static_cast<int>(dbs.size());

  // No database evaluates past the last hit the merge ranks: such a page is
  // empty, without total or documents.
  if (start > kMaxMergedHits) return;

  // Every database is asked for its whole ranking, hits 1 to 500, whatever
  // the page: the merge ranks the candidates by scores of its own, so only
  // candidates that do not depend on the page make every page a slice of one
  // ranking.
  uint8_t request[kRequestSize];
  QueryRequestFields f;
  f.type = kRequestQuery;
  f.start = 1;
  f.hits = kMaxMergedHits;
  f.window_low = window;
  f.text = text;
  f.text_length = text_length;
  f.padded_size = kRequestSize;
  write_query_request(request, sizeof request, f);

  QueryBuffers work{};
  work.heap = reinterpret_cast<HitHeap*>(buffer + layout.heap);
  work.heap_left = static_cast<int32_t>(layout.heap_entries);
  work.list_base = reinterpret_cast<uint32_t*>(buffer + layout.list);
  work.list_size = static_cast<int32_t>(layout.list_words);
  // The evaluations' parse areas lie where the title records go later.
  auto* parse_areas = reinterpret_cast<QueryEachArea*>(buffer + query_parse_offset(layout, n, want_details));
  std::vector<uint8_t*> areas(static_cast<size_t>(n)), copies(static_cast<size_t>(n));
  std::vector<size_t> sizes(static_cast<size_t>(n), kQueryAreaSize);
  for (int i = 0; i < n; ++i) {
    areas[static_cast<size_t>(i)] = buffer + query_response_offset(layout, i, want_details);
    copies[static_cast<size_t>(i)] = areas[static_cast<size_t>(i)] + kQueryAreaSize;
    query_one(dbs[static_cast<size_t>(i)], request, f, areas[static_cast<size_t>(i)], work, parse_areas);
    if (want_details) {
      memcpy(copies[static_cast<size_t>(i)], areas[static_cast<size_t>(i)],
             response_extent(areas[static_cast<size_t>(i)], kQueryAreaSize));
    }
  }

  uint8_t* merged = buffer + layout.merged;
  memset(merged + 4, 0, 4);  // type 0
  merge_hits(n, areas.data(), sizes.data(), merged, kQueryAreaSize, start, count, 0);
  QueryResponseView v;
  if (!read_query_response(merged, kQueryAreaSize, &v)) return;  // reads as no hits
  out->total = v.total;
  out->documents = v.documents;

  // The page: hits from position start - merged start of the merged array.
  const int64_t first = int64_t{start} - v.start;
  int64_t page = int64_t{v.hit_count} + v.start - start;
  if (first < 0 || page < 1) return;
  if (first + page > v.hit_count) page = v.hit_count - first;
  if (page > kMaxTitlesPerCall) page = kMaxTitlesPerCall;
  for (int64_t k = 0; k < page; ++k) out->page.push_back(response_hit(v, static_cast<uint32_t>(first + k)));
  out->terms = result_terms(v);

  idbm_db* db_of[kMaxOpenDbs] = {};
  for (const QueryDb& d : dbs) db_of[d.id] = d.db;
  const int np = static_cast<int>(out->page.size());
  std::vector<idbm_db*> title_dbs(static_cast<size_t>(np));
  std::vector<int32_t> docids(static_cast<size_t>(np));
  for (int k = 0; k < np; ++k) {
    const Hit& h = out->page[static_cast<size_t>(k)];
    title_dbs[static_cast<size_t>(k)] = h.db < kMaxOpenDbs ? db_of[h.db] : nullptr;
    docids[static_cast<size_t>(k)] = static_cast<int32_t>(hit_docid(h));
  }
  auto* titles = reinterpret_cast<unsigned char (*)[kTitleRecordSize]>(buffer + query_titles_offset(layout, n, want_details));
  // A hit of a database the query does not name (only a damaged response
  // could hold one) gets an empty record.
  for (int k = 0; k < np; ++k) {
    if (!title_dbs[static_cast<size_t>(k)]) {
      memset(titles[k], 0, kTitleRecordSize);
      docids[static_cast<size_t>(k)] = -1;
      title_dbs[static_cast<size_t>(k)] = dbs[0].db;
    }
  }
  get_titles(title_dbs.data(), docids.data(), titles, np);
  out->titles = titles;

  if (!want_details) return;
  out->details.assign(static_cast<size_t>(np), HitDetails{});
  memset(merged + 4, 0, 4);
  if (!merge_hits(n, copies.data(), sizes.data(), merged, kQueryAreaSize, start, count, 1)) return;
  QueryResponseView d;
  if (!read_query_response(merged, kQueryAreaSize, &d) || d.start < 1 || static_cast<uint32_t>(start) < d.start)
    return;
  out->terms = result_terms(d);
  collect_details(d, static_cast<uint32_t>(start) - d.start, out->page.data(), np, db_of, out->details.data());
}

PyObject* build_result(const QueryOutcome& r, bool with_details) {
  const int64_t total = r.total < 0 ? -int64_t{r.total} : int64_t{r.total};
  PyObject* terms = PyList_New(0);
  PyObject* hits = PyList_New(0);
  if (!terms || !hits) goto fail;
  if (!r.page.empty()) {
    for (const ResultTerm& t : r.terms) {
      PyObject* pair = Py_BuildValue("(Nk)", script::latin1_str(t.text.data(), t.text.size()),
                                     static_cast<unsigned long>(t.count));
      if (!pair || PyList_Append(terms, pair) < 0) {
        Py_XDECREF(pair);
        goto fail;
      }
      Py_DECREF(pair);
    }
    for (size_t k = 0; k < r.page.size(); ++k) {
      const Hit& h = r.page[k];
      PyObject* details = PyList_New(0);
      if (!details) goto fail;
      int32_t quality = 0;
      if (with_details && k < r.details.size()) {
        quality = r.details[k].quality;
        for (const TermDetail& d : r.details[k].terms) {
          const ResultTerm& t = r.terms[static_cast<size_t>(d.term)];
          PyObject* pair = Py_BuildValue("(Nd)", script::latin1_str(t.text.data(), t.text.size()), d.fraction);
          if (!pair || PyList_Append(details, pair) < 0) {
            Py_XDECREF(pair);
            Py_DECREF(details);
            goto fail;
          }
          Py_DECREF(pair);
        }
      }
      PyObject* item = hit_tuple(static_cast<int32_t>(hit_value(h)), r.titles[k], h.db, hit_docid(h), details, quality);
      if (!item || PyList_Append(hits, item) < 0) {
        Py_XDECREF(item);
        goto fail;
      }
      Py_DECREF(item);
    }
  }
  return Py_BuildValue("(LkNN)", static_cast<long long>(total), static_cast<unsigned long>(r.documents), terms, hits);
fail:
  Py_XDECREF(terms);
  Py_XDECREF(hits);
  return nullptr;
}

}  // namespace

PyObject* sorn_query(PyObject*, PyObject* args) {
  int start, count, date_a, date_b, details;
  PyObject *languages, *databases;
  script::TextArg text("text");
  if (!PyArg_ParseTuple(args, "iiO!O&O!iii:query", &start, &count, &PyList_Type, &languages, script::text_converter,
                        &text, &PyList_Type, &databases, &date_a, &date_b, &details))
    return nullptr;
  if (start < 1) return raise_error("Start must be 1 or greater.");
  if (PyList_GET_SIZE(databases) > kMaxQueryDbs)
    return raise_error("Too many dbs in query. Please choose fewer collections.");
  if (PyList_GET_SIZE(languages) > kMaxQueryLanguages)
    return raise_error("Too many langs in query. Please choose fewer collections.");

  // Snapshots of both lists: converting an item may run script code that
  // changes a list or closes a database, so every item is converted first
  // and the identifiers are checked after.
  PyObject* language_items = PyList_AsTuple(languages);
  if (!language_items) return nullptr;
  PyObject* db_items = PyList_AsTuple(databases);
  if (!db_items) {
    Py_DECREF(language_items);
    return nullptr;
  }
  std::vector<std::unique_ptr<script::TextArg>> names;
  std::vector<int> ids;
  bool ok = true;
  for (Py_ssize_t i = 0; ok && i < PyTuple_GET_SIZE(language_items); ++i) {
    names.push_back(std::make_unique<script::TextArg>("languages item"));
    ok = script::text_converter(PyTuple_GET_ITEM(language_items, i), names.back().get()) != 0;
  }
  for (Py_ssize_t i = 0; ok && i < PyTuple_GET_SIZE(db_items); ++i) {
    int id = 0;
    ok = PyArg_Parse(PyTuple_GET_ITEM(db_items, i), "i:query", &id) != 0;
    ids.push_back(id);
  }
  Py_DECREF(language_items);
  Py_DECREF(db_items);
  if (!ok) return nullptr;

  std::vector<QueryDb> dbs;
  for (size_t i = 0; i < ids.size(); ++i) {
    idbm_db* db = checked_db(ids[i]);
    if (!db) return nullptr;
    if (names.empty()) return raise_error("invalid language");
    const zop_handle language = find_language(names[i % names.size()]->data());
    if (!language.stemmer) return raise_error("invalid language");
    // A database named again is queried once, at its first place and in its
    // first language: its documents are neither counted nor ranked twice.
    if (std::none_of(dbs.begin(), dbs.end(), [&](const QueryDb& d) { return d.id == ids[i]; }))
      dbs.push_back(QueryDb{ids[i], db, language});
  }
  if (dbs.empty()) return Py_BuildValue("(ii[][])", 0, 0);

  uint32_t window = 0;
  if (date_a > 0) window |= (local_day_number(static_cast<time_t>(date_a)) & 0xFFFFu) << 16;
  if (date_b > 0) window |= local_day_number(static_cast<time_t>(date_b)) & 0xFFFFu;

  void* buffer = query_buffer_get();
  if (!buffer) return PyErr_NoMemory();
  const bool want_details = details != 0;
  QueryOutcome outcome;
  {
    InterpreterRelease unlocked;
    run_query(static_cast<uint8_t*>(buffer), dbs, start, count, window, text.data(),
              std::min(text.c_length(), kMaxRequestText), want_details, &outcome);
  }
  PyObject* result = build_result(outcome, want_details);
  query_buffer_put(buffer);
  return result;
}

PyObject* sorn_reap_query_buffers(PyObject*, PyObject*) { return PyLong_FromLong(reap_query_buffers()); }

}  // namespace vorlane::engine
