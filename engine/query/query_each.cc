#include "engine/query/query_each.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "engine/query/evalquery.h"
#include "engine/query/hit_percent.h"
#include "engine/query/posting_filter.h"
#include "engine/query/process_query.h"
#include "engine/query/term_pins.h"
#include "engine/module/sorn_module.h"
#include "store/db_handle.h"
#include "store/indexing.h"
#include "store/log.h"
#include "store/mapfile.h"

namespace vorlane::engine {

namespace {

int report(const char* text) {
  report_error("query_each:", text);
  return 0;
}

int clamp_int(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int>(v); }

// The response of no hits: H 0, total 0, T 0, the query and the collection.
int write_no_hits(ResponseWriter* w, const char* query, const QueryRequest& r, size_t response_size) {
  response_commit_hits(w, 0);
  response_set_total(w, 0);
  if (!response_put_term_words(w, nullptr, 0) || !response_put_string(w, query, strlen(query)) ||
      !response_put_string(w, r.collection, r.collection_length) || !response_finish(w)) {
    log_msg(LOG_ERROR, "query_each: BUFFER OVERRUN(5) appending query string (%s) %d > %d", query,
            clamp_int(static_cast<int64_t>(response_needed(*w))), clamp_int(static_cast<int64_t>(response_size)));
    return 0;
  }
  return 1;
}

// The quality value of a document: quality_offsets[4 + its level].
int32_t document_quality(const idbm_db* db, uint32_t docid) {
  int32_t flag = 0;
  if (db->del.address && docid < db->del.size) flag = static_cast<int8_t>(static_cast<const uint8_t*>(db->del.address)[docid]);
  return quality_offsets[4 + quality_level(flag)];
}

din_entry date_entry_of(const idbm_db* db, uint32_t docid) {
  din_entry e{0, 0};
  if (db->din.address && (uint64_t{docid} + 1) * sizeof(din_entry) <= db->din.size) {
    memcpy(&e, static_cast<const uint8_t*>(db->din.address) + size_t{docid} * sizeof e, sizeof e);
  }
  if (db->del.address && docid < db->del.size) {
    // Byte 4 of the entry (the low byte of its day word) carries the
    // document's deletion byte.
    e.day = (e.day & ~0xFFu) | static_cast<const uint8_t*>(db->del.address)[docid];
  }
  return e;
}

// The state the steps of one query share: the database, the request, the
// call's areas, the page, the evaluated list and the response being written.
struct QueryEachRun {
  QueryEachRun(idbm_db* database, const QueryRequest& request, QueryEachArea* area, QueryBuffers& buffers,
               size_t size, uint32_t max)
      : db(database), req(request), s(area), b(buffers), response_size(size), m(max) {}
  idbm_db* db;
  const QueryRequest& req;
  QueryEachArea* s;
  QueryBuffers& b;
  size_t response_size;
  uint32_t m;                  // max_hits, read once
  bool demote = false;
  bool dated = false;
  uint32_t merge_flag = 0;
  int64_t start = 1, end = 0;  // the page; for merging, hits 1..end
  const char* query = "";      // s->query
  size_t length = 0;           // of the query
  ResponseWriter w;
  EvalStats stats{};
  HitHeap* list = nullptr;
  int32_t d = 1;               // the denominator of the percentages, at least 1
  uint32_t h = 0;              // the page's hits
  uint32_t t_count = 0;        // terms shown: s->terms_shown, s->words
};

// The caller's heap holds three hit areas of max_hits.
bool heap_fits(const QueryBuffers* work_areas, uint32_t m) {
  return work_areas && work_areas->heap &&
         static_cast<uint64_t>(work_areas->heap_left < 0 ? 0 : work_areas->heap_left) >= hit_area_entries(m) * 3;
}

// The list area back at its base, empty, and the parse areas of s lent to
// the buffers.
void lend_areas(QueryBuffers& b, QueryEachArea* s) {
  b.list_position = b.list_base;
  b.list_room = b.list_size;
  b.list_used = 0;
  give_parse_areas(&b, &s->parse);
}

// The request's form and page: a demotion takes hits 1..max_hits; otherwise
// start and hits are reset when below 1 and the end is bounded by
// kMaxResponseEnd.
void plan_page(QueryEachRun& run, int merge) {
  const QueryRequest& req = run.req;
  run.demote = req.type == kRequestDemote;
  run.dated = req.type == kRequestDated;
  run.merge_flag = req.type == kRequestSingle ? 0 : (merge != 0 ? 1 : 0);
  if (run.demote) {
    run.start = 1;
    run.end = run.m;
    return;
  }
  run.start = req.start;
  if (run.start < 1) {
    log_msg(LOG_ERROR, "query_each(start=%d) reset to 1", req.start);
    run.start = 1;
  }
  int64_t hits = req.hits;
  if (hits < 1) {
    log_msg(LOG_ERROR, "query_each(nhits=%d) reset to 100", req.hits);
    hits = 100;
  }
  run.end = run.start + hits - 1;
  if (run.end > kMaxResponseEnd) {
    log_msg(LOG_TRACE, "query_each() size=%d reset to %d", clamp_int(run.end), static_cast<int>(kMaxResponseEnd));
    run.end = kMaxResponseEnd;
  }
}

// The request's text into s->query, cut to kMaxQueryText bytes and without
// a final newline, NUL-terminated: the text evaluated and echoed.
void copy_query(QueryEachRun& run) {
  const QueryRequest& req = run.req;
  size_t length = req.text_length < kMaxQueryText ? req.text_length : kMaxQueryText;
  memcpy(run.s->query, req.text, length);
  if (length > 0 && run.s->query[length - 1] == '\n') --length;
  run.s->query[length] = '\0';
  run.query = run.s->query;
  run.length = length;
}

// Evaluates a copy of the query (ProcessQuery cuts it) into run.list, down
// to the page's end. True when there are hits to write; otherwise the call
// ends with *result: 0 when term records could not be had, else the
// response of no hits (also for a checksum demotion that matches more than
// four documents).
bool evaluate(QueryEachRun& run, const zop_handle& language, int* result) {
  idbm_db* db = run.db;
  QueryEachArea* s = run.s;
  run.stats = EvalStats{db->catalog ? db->catalog->ndocs : 0, 0, 0, 0};
  memcpy(s->work, s->query, run.length + 1);
  run.list = ProcessQuery(db, s->work, static_cast<int32_t>(run.end), run.req.mode, run.req.window_low,
                          run.req.window_high, language, run.b, &run.stats, 1);
  if (run.b.pins->shortage) {
    log_msg(LOG_ERROR, "query_each(%s): term records of %s could not be had; the query failed", run.query,
            db->name ? db->name : "");
    *result = 0;
    return false;
  }
  if (!run.list) {
    *result = write_no_hits(&run.w, run.query, run.req, run.response_size);
    return false;
  }
  if (run.demote && hit_size(run.list) > 4 && strncmp(run.query, "checksum:", 9) == 0) {
    log_msg(LOG_ERROR, "Checksum Collision in query_each(%s): %d hits in %s\n", run.query,
            static_cast<int>(hit_size(run.list)), db->name ? db->name : "");
    *result = write_no_hits(&run.w, run.query, run.req, run.response_size);
    return false;
  }
  log_msg(LOG_TRACE, "query_each: done ProcessQuery");
  if (log_mask.load(std::memory_order_relaxed) & LOG_MERGE_QUEUE) {
    fputs("\nIn query_each after ProcessQuery\n", stderr);
    dump_hits(run.list);
  }
  return true;
}

// A demotion demotes the listed documents (but the excepted ones) and keeps
// at most kMaxDemotedHits of the list; a query's list is cut to the page's
// end, or the end comes down to the list's size. Then the page's hit count
// and the response's total (negative for an estimate).
void cut_page(QueryEachRun& run) {
  idbm_db* db = run.db;
  HitHeap* list = run.list;
  if (run.demote) {
    const uint8_t value = static_cast<uint8_t>(run.req.demote_value & 0xFF);
    const int changed = demote_hits(db, list, run.req, db->id, value);
    if (changed) {
      log_msg(LOG_NOTICE, "%s: %d demoted to %02X (%s)", db->name ? db->name : "", changed, value, run.query);
    }
    if (hit_size(list) > kMaxDemotedHits) hit_size(list) = kMaxDemotedHits;
    run.end = hit_size(list);
  } else if (hit_size(list) > run.end) {
    hit_size(list) = static_cast<uint32_t>(run.end);
  } else {
    run.end = hit_size(list);
  }
  run.d = run.stats.denominator ? run.stats.denominator : 1;
  log_msg(LOG_DB_QUERY, "query_each(%s)after ProcessQuery: %d hits, %d returned", run.query, run.stats.total,
          clamp_int(run.end));
  run.h = run.end >= run.start ? static_cast<uint32_t>(run.end - run.start + 1) : 0;
  response_set_total(&run.w, run.stats.estimated ? -run.stats.total : run.stats.total);
}

// False (logged) when the response area cannot hold the page's hits, or
// for a dated page their date entries too.
bool page_fits(const QueryEachRun& run) {
  const uint32_t h = run.h;
  const int64_t hits_bytes = 64 + int64_t{h} * 8;
  if (hits_bytes > static_cast<int64_t>(run.response_size)) {
    log_msg(LOG_ERROR, "query_each: Output BUFFER OVERRUN(1) not enough space for %d hits(%s) %d > %d",
            static_cast<int>(h), run.query, clamp_int(hits_bytes), clamp_int(static_cast<int64_t>(run.response_size)));
    return false;
  }
  if (run.dated && h > 0 && hits_bytes + int64_t{h} * 8 > static_cast<int64_t>(run.response_size)) {
    log_msg(LOG_ERROR, "query_each: Output BUFFER OVERRUN(1.5) not enough space for %d dins (%s) %d > %d",
            static_cast<int>(h), run.query, clamp_int(hits_bytes + int64_t{h} * 8),
            clamp_int(static_cast<int64_t>(run.response_size)));
    return false;
  }
  return true;
}

// The page's hits, start to end: percentages, then the page in their order
// (equal ones as evaluated). A response for merging carries quality values
// instead, and its hits are in that order already: percentages rise with
// the scores. Then, dated, the hits' date entries.
bool write_hits(QueryEachRun& run) {
  idbm_db* db = run.db;
  HitHeap* list = run.list;
  ResponseWriter& w = run.w;
  const uint32_t h = run.h;
  const uint32_t first = static_cast<uint32_t>(run.start), last = static_cast<uint32_t>(run.end);
  if (h > 0 && !run.merge_flag) {
    for (uint32_t i = first; i <= last; ++i) list[i].score = blended_percent(list[i].score, run.d);
    sort_hits_stable(list, first, last);
  }
  uint8_t* out = response_hit_area(&w, h);
  if (!out) {
    log_msg(LOG_ERROR, "query_each: Output BUFFER OVERRUN(3) after hits (%s) %d > %d", run.query,
            clamp_int(static_cast<int64_t>(response_needed(w))), clamp_int(static_cast<int64_t>(run.response_size)));
    return false;
  }
  for (uint32_t i = first; h > 0 && i <= last; ++i) {
    const uint32_t docid = posting_doc(list[i].posting);
    out = pack_hit(out, db->id, docid, run.merge_flag ? document_quality(db, docid) : list[i].score);
  }
  response_commit_hits(&w, h);
  if (run.dated && h > 0) {
    uint8_t* dates = response_date_area(&w);
    if (!dates) {
      log_msg(LOG_ERROR, "query_each: Output BUFFER OVERRUN(1.5) not enough space for %d dins (%s) %d > %d",
              static_cast<int>(h), run.query, clamp_int(static_cast<int64_t>(response_needed(w))),
              clamp_int(static_cast<int64_t>(run.response_size)));
      return false;
    }
    for (uint32_t i = first; i <= last; ++i) {
      const din_entry e = date_entry_of(db, posting_doc(list[i].posting));
      memcpy(dates, &e, sizeof e);
      dates += sizeof e;
    }
    response_commit_dates(&w);
  }
  return true;
}

// The terms shown: those of the parse with a record and a display text, in
// array order, into s->terms_shown, and their words (the record's docf and
// norm) into s->words and the response.
bool write_term_words(QueryEachRun& run) {
  QueryEachArea* s = run.s;
  uint32_t t_count = 0;
  for (int i = 0; i < kQueryTermSlots && s->parse.terms[i].count != 0; ++i) {
    const QueryTerm& t = s->parse.terms[i];
    if (!t.record || !t.display) continue;
    s->terms_shown[t_count] = &t;
    s->words[t_count++] = term_word(rec_full_docf(t.record), rec_full_norm(t.record));
  }
  run.t_count = t_count;
  log_msg(LOG_DB_QUERY, "%d terms\n", static_cast<int>(t_count));
  if (!response_put_term_words(&run.w, s->words, t_count)) {
    log_msg(LOG_ERROR, "query_each: Output BUFFER OVERRUN(3) after hits (%s) %d > %d", run.query,
            clamp_int(static_cast<int64_t>(response_needed(run.w))),
            clamp_int(static_cast<int64_t>(run.response_size)));
    return false;
  }
  return true;
}

// For merging: the whole list in docid order with scores 0, then one block
// per term shown holding the list's hits that contain the term, each with
// the term's score in it.
bool write_term_blocks(QueryEachRun& run) {
  idbm_db* db = run.db;
  HitHeap* list = run.list;
  ResponseWriter& w = run.w;
  log_msg(LOG_DB_QUERY, "Doing distributed search qsort");
  // The evaluation is over: the heap area after the result list is free.
  HitHeap* copy = run.b.heap + hit_area_entries(run.m);
  sort_by_docid(list, copy);
  for (uint32_t i = 1; i <= hit_size(list); ++i) list[i].score = 0;
  log_msg(LOG_DB_QUERY, "Doing distributed search results normalization");
  for (uint32_t j = 0; j < run.t_count; ++j) {
    const QueryTerm& t = *run.s->terms_shown[j];
    log_msg(LOG_DB_QUERY, "term: %s termlist: %lx\n", t.source ? t.source : "",
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(t.record)));
    if (hit_size(list) > kMaxResponseEnd) hit_size(list) = kMaxResponseEnd;
    const uint32_t c = join_matches(list, rec_full_postings(t.record), rec_full_count(t.record), copy);
    log_msg(LOG_DB_QUERY, "out of %d total hits, term %s ocurred in %d docs", static_cast<int>(hit_size(list)),
            t.display, static_cast<int>(c));
    uint8_t* block = response_open_block(&w) ? response_block_area(&w, c) : nullptr;
    if (!block) {
      log_msg(LOG_ERROR, "query_each: Output BUFFER OVERRUN(2) not enough space for %d hits(%s) %d > %d",
              static_cast<int>(c), run.query, clamp_int(static_cast<int64_t>(response_needed(w))),
              clamp_int(static_cast<int64_t>(run.response_size)));
      return false;
    }
    const bool trace = log_passes(LOG_HIT_TERMS);
    for (uint32_t k = 1; k <= c; ++k) {
      const uint32_t docid = posting_doc(copy[k].posting);
      block = pack_hit(block, db->id, docid, copy[k].score);
      if (trace)
        log_msg(LOG_HIT_TERMS, "term %s: db %d, docid %d, score %d", t.display, static_cast<int>(db->id),
                static_cast<int>(docid), copy[k].score);
    }
    response_commit_block_hits(&w, c);
  }
  return true;
}

// The display texts of the terms shown, the query and the collection, and
// the response's end.
bool write_strings(QueryEachRun& run) {
  ResponseWriter& w = run.w;
  const char* query = run.query;
  const size_t response_size = run.response_size;
  if (w.pos >= response_size) {
    log_msg(LOG_ERROR, "query_each: Output BUFFER OVERRUN(3) after hits (%s) %d > %d", query,
            clamp_int(static_cast<int64_t>(w.pos)), clamp_int(static_cast<int64_t>(response_size)));
    return false;
  }
  for (uint32_t j = 0; j < run.t_count; ++j) {
    const char* display = run.s->terms_shown[j]->display;
    if (!response_put_string(&w, display, strlen(display))) {
      log_msg(LOG_ERROR, "query_each: Output BUFFER OVERRUN(4) appending term strings (%s) %d > %d", query,
              clamp_int(static_cast<int64_t>(response_needed(w))), clamp_int(static_cast<int64_t>(response_size)));
      return false;
    }
  }
  if (!response_put_string(&w, query, run.length)) {
    log_msg(LOG_ERROR, "query_each: BUFFER OVERRUN(5) appending query string (%s) %d > %d", query,
            clamp_int(static_cast<int64_t>(response_needed(w))), clamp_int(static_cast<int64_t>(response_size)));
    return false;
  }
  if (!response_put_string(&w, run.req.collection, run.req.collection_length)) {
    log_msg(LOG_ERROR, "query_each: BUFFER OVERRUN(6) appending collection (%s) %d > %d", query,
            clamp_int(static_cast<int64_t>(response_needed(w))), clamp_int(static_cast<int64_t>(response_size)));
    return false;
  }
  if (!response_finish(&w)) {
    log_msg(LOG_ERROR, "query_each: BUFFER OVERRUN(7) at end (%s) %d > %d", query,
            clamp_int(static_cast<int64_t>(w.pos)), clamp_int(static_cast<int64_t>(response_size)));
    return false;
  }
  return true;
}

}  // namespace

int demote_hits(idbm_db* db, const HitHeap* list, const QueryRequest& request, uint32_t id, uint8_t value) {
  int changed = 0;
  const uint8_t* del = static_cast<const uint8_t*>(db->del.address);
  for (uint32_t i = 1; i <= hit_size(list); ++i) {
    const uint32_t docid = posting_doc(list[i].posting);
    bool excepted = false;
    for (uint32_t k = 0; k < request.excepted_count && !excepted; ++k) {
      const ExceptedDoc d = request_excepted(request, k);
      excepted = d.db == id && d.docid == docid;
    }
    if (excepted) continue;
    const bool known = del && docid < db->del.size;
    const uint8_t before = known ? del[docid] : value;
    if (idbm_demote(db, docid, value) == 1 && known && before != value) ++changed;
  }
  return changed;
}

int query_each(idbm_db* db, const uint8_t* request, size_t request_length, uint8_t* response, size_t response_size,
               QueryBuffers* work_areas, int merge, const zop_handle& language, QueryEachArea* area) {
  // A failed response must never show what an earlier query left there: its
  // header and the counts and NULs after it read as a response of no hits.
  if (response) memset(response, 0, response_size < kMinResponseSize ? response_size : kMinResponseSize);
  if (!db) return report("null db pointer");
  if (!response || response_size < kMinResponseSize) return report("no room for a response");
  {
    QueryResponseHeader h{};
    h.documents = db->ndocs;
    memcpy(response, &h, sizeof h);
  }

  QueryRequest req;
  const RequestCheck check = read_query_request(request, request_length, &req);
  if (check == RequestCheck::bad_type) return report(request_check_text(check));
  const uint32_t m = max_hits;
  if (!heap_fits(work_areas, m)) return report("heapbuf too small for ProcessQuery");
  if (check != RequestCheck::ok) return report(request_check_text(check));

  std::unique_ptr<QueryEachArea> own_area;
  if (!area) {
    own_area.reset(new (std::nothrow) QueryEachArea);
    if (!own_area) return report("no memory for the parse areas");
    area = own_area.get();
  }
  QueryBuffers& b = *work_areas;
  lend_areas(b, area);
  TermPinScope pins;
  b.pins = pins.get();
  LentAreasRelease lent{&b};

  QueryEachRun run(db, req, area, b, response_size, m);
  plan_page(run, merge);
  copy_query(run);
  response_begin(&run.w, response, response_size, req.type + 1, run.merge_flag,
                 static_cast<uint32_t>(clamp_int(run.start)), db->ndocs);
  if (run.end < run.start) {
    log_msg(LOG_WARNING, "query_each(start=%d) return no hits", clamp_int(run.start));
    return write_no_hits(&run.w, run.query, req, response_size);
  }
  if (run.merge_flag) {
    run.start = 1;
    response_set_start(&run.w, 1);
  }
  log_msg(LOG_TRACE, "query_each: query=%s", run.query);
  int result = 0;
  if (!evaluate(run, language, &result)) return result;
  cut_page(run);
  if (!page_fits(run) || !write_hits(run) || !write_term_words(run)) return 0;
  if (run.merge_flag && !write_term_blocks(run)) return 0;
  if (!write_strings(run)) return 0;
  log_msg(LOG_DB_QUERY, "query_each: returning\n");
  return 1;
}

}  // namespace vorlane::engine
