#include "engine/query/merge_hits.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/query/hit_heap.h"
#include "engine/query/hit_map.h"
#include "engine/query/hit_percent.h"
#include "engine/query/postings.h"
#include "engine/query/query_format.h"
#include "store/log.h"
#include "store/mapfile.h"
#include "store/score_tables.h"

namespace vorlane::engine {

namespace {

// One database's view of a global term.
struct TermInfo {
  uint32_t docf;           // 25 bits
  uint32_t norm;           // 7 bits
  bool has_block;
  ResponseTerm term;       // the term's block (valid when has_block)
};

struct GlobalTerm {
  const char* text;
  size_t length;
  uint64_t docf;  // summed over the responses
  int norm;
};

// The hits one response entered into the map, each with the ordinal the map
// gave it, so that the response's term blocks (which hold its own hits) find
// their entries without probing the map: by docid in a table when the
// database is small against its hits, else by walking the hits in docid
// order beside a block in docid order, as query_each writes them. A block
// hit not found this way (another identifier, a block out of order, a hit
// the map did not take) is looked up in the map as before.
struct ResponseOrdinals {
  HitHeap* list = nullptr;     // header + hits (score = ordinal, posting = docid << 7)
  HitHeap* scratch = nullptr;  // for the sort
  int32_t* table = nullptr;    // ordinal by docid, room for table_room docids
  uint32_t table_room = 0;
  bool by_table = false;
  uint32_t documents = 0;
  uint32_t id = 0;             // the identifier every hit has
  bool one_id = false;
  uint32_t at = 1;             // the walk's position in the list
  uint32_t last = 0;           // the docid of the block hit before
  bool in_order = true;

  // The databases whose documents a table holds: few against their hits.
  static bool small(const QueryResponseView& v) {
    return uint64_t{v.documents} <= uint64_t{v.hit_count} * 8 + 1024;
  }
  // Lays out the hits of response v with the ordinals they got.
  void build(const QueryResponseView& v, const int32_t* ordinals) {
    one_id = v.hit_count > 0;
    id = v.hit_count > 0 ? response_hit(v, 0).db : 0;
    documents = v.documents;
    by_table = small(v) && v.documents <= table_room;
    if (by_table) memset(table, 0, size_t{v.documents} * sizeof(int32_t));
    hit_base(list) = 0;
    hit_size(list) = by_table ? 0 : v.hit_count;
    for (uint32_t k = 0; k < v.hit_count; ++k) {
      const Hit h = response_hit(v, k);
      const uint32_t docid = hit_docid(h);
      one_id = one_id && h.db == id;
      if (!by_table) {
        list[k + 1] = HitHeap{ordinals[k], docid << 7};
      } else if (docid < v.documents && table[docid] == 0) {
        table[docid] = ordinals[k];
      }
    }
    if (!by_table) sort_by_docid(list, scratch);
  }
  void start_block() {
    at = 1;
    last = 0;
    in_order = true;
  }
  // The ordinal of the response's hit (db, docid), or 0 when this cannot
  // tell.
  int32_t find(uint32_t db, uint32_t docid) {
    if (!one_id || db != id) return 0;
    if (by_table) return docid < documents ? table[docid] : 0;
    if (!in_order || docid < last) {
      in_order = false;
      return 0;
    }
    last = docid;
    const uint32_t key = docid << 7;
    while (at <= hit_size(list) && list[at].posting < key) ++at;
    return at <= hit_size(list) && list[at].posting == key ? list[at].score : 0;
  }
};

// The working memory of one merge, from the heap.
struct MergeScratch {
  void* map_memory = nullptr;
  int32_t* ordinals = nullptr;          // per response hit, in reading order
  HitHeap* own = nullptr;               // 2 x (500 + 1): ResponseOrdinals
  int32_t* table = nullptr;             // ResponseOrdinals' table
  TermInfo* info = nullptr;             // n x kMaxMergeTerms
  QueryResponseView* views = nullptr;   // n
  HitHeap* list = nullptr;              // 2 x end + 2
  HitHeap* copy = nullptr;              // 2 x end + 2
  uint32_t* postings = nullptr;         // block postings and the end mark
  size_t postings_room = 0;
  ~MergeScratch() {
    free(map_memory);
    free(ordinals);
    free(own);
    free(table);
    free(info);
    free(views);
    free(list);
    free(copy);
    free(postings);
  }
  bool reserve_postings(size_t n) {
    if (n <= postings_room) return true;
    void* p = realloc(postings, n * sizeof(uint32_t));
    if (!p) return false;
    postings = static_cast<uint32_t*>(p);
    postings_room = n;
    return true;
  }
};

uint32_t saturate_u32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v); }

uint32_t get_word(const uint8_t* p) {
  uint32_t w;
  memcpy(&w, p, 4);
  return w;
}

bool fail_overrun(const char* query) {
  report_error("merge_hits: BUFFER OVERRUN(8)!!!", query);
  return false;
}

bool no_memory() {
  log_msg(LOG_ERROR, "merge_hits: no memory for the merge");
  return false;
}

// The largest rescaled score a block hit may carry.
constexpr int32_t kMaxTermScore = 100;

// A block score s of a database whose norm is old, rescaled to the global
// norm new (already bounded by ten times old).
int32_t rescale(int32_t s, int32_t old, int32_t now) {
  s = std::min(s, old);
  if (now < old) {
    s = (old / 2 + s * now) / old;
  } else if (now > old) {
    s = ((s - 1) * now) / old + 1;
  }
  return s;
}

// What the merge makes of its request: the output's type and form, and the
// page it ranks, hits start to end.
struct MergePage {
  uint32_t out_type = 0;
  bool merge_flag = false;
  bool rescaling = true;   // block scores rescaled and summed (all but type 4)
  bool dated = false;
  int32_t start = 1;
  int32_t count = 0;
  uint32_t end = 0;        // the last hit ranked; after rank_hits, the hits kept
};

// The state the steps of one merge share: the responses, the working memory,
// the hit map and the ordinals it gave, the global terms and the sums over
// the databases with hits.
struct MergeRun {
  int n = 0;
  uint8_t* const* responses = nullptr;
  MergePage page;
  MergeScratch work;
  uint32_t maplen = 0;
  uint32_t table_room = 0;             // ResponseOrdinals' table, in docids
  HitMap map;
  // Where the responses' hits begin in work.ordinals: those of response i at
  // first_ordinal[i + 1], the last response's first.
  std::vector<size_t> first_ordinal;
  int32_t counter = 0;                 // the ordinal the next hit entered gets, counting down
  GlobalTerm globals[kMaxMergeTerms];
  int nglobals = 0;
  uint64_t document_sum = 0;
  uint64_t total_sum = 0;
  bool estimated = false;
  int32_t d_sum = 0;                   // the sum of the global norms, at least 1

  TermInfo& info(int i, int g) { return work.info[size_t(i) * kMaxMergeTerms + g]; }
  int32_t* ordinals_of(int i) { return work.ordinals + first_ordinal[size_t(i) + 1]; }
};

// The output as it is written: the writer, the query string and collection
// name of the first response, and the page's first hit and hit count.
struct MergeOutput {
  ResponseWriter w;
  const char* query = "";
  const char* collection = "";
  uint32_t first_hit = 1;
  uint32_t hit_count = 0;
};

// Reads the request type the caller put in out's type word and clears the
// head of out, so that until it is written it reads as a response of no
// hits; then the output's type and form, start and count (reset when out of
// range) and the page's end (at most kMaxMergedHits). False for a type no
// request has.
bool plan_page(MergePage* p, uint8_t* out, size_t out_size, int32_t start, int32_t count, int merge) {
  const uint32_t request_type = get_word(out + 4);
  memset(out, 0, out_size < kMinResponseSize ? out_size : kMinResponseSize);

  if (count < 1 && request_type != kRequestDemote) {
    log_msg(LOG_ERROR, "merge_hits(count=%d) reset to 100", count);
    count = 100;
  }
  p->merge_flag = merge != 0;
  switch (request_type) {
    case kRequestQuery: p->out_type = kResponseQuery; break;
    case kRequestDemote: p->out_type = kResponseDemote; break;
    case kRequestSingle:
      p->out_type = kResponseSingle;
      p->merge_flag = false;
      p->rescaling = false;
      break;
    case kRequestDated:
      p->out_type = kResponseDated;
      p->dated = true;
      break;
    default:
      report_error("merge_hits:", "bad request type");
      return false;
  }
  if (start < 1) {
    log_msg(LOG_ERROR, "merge_hits(start=%d) reset to 1", start);
    start = 1;
  }
  int64_t end64 = int64_t{start} - 1 + count;
  if (end64 > kMaxMergedHits) {
    log_msg(LOG_TRACE, "merge_hits() size=%lld reset to %d", static_cast<long long>(end64), kMaxMergedHits);
    end64 = kMaxMergedHits;
  }
  if (end64 < 0) end64 = 0;
  p->end = static_cast<uint32_t>(end64);
  if (p->merge_flag) start = 1;
  p->start = start;
  p->count = count;
  return true;
}

// Reads every response whole into work.views before anything is taken from
// any, and counts their hits into *total_hits. False (logged) for a response
// its reader refuses or whose size word is 4, for more hits than n responses
// bring, or for no memory.
bool check_responses(MergeRun& run, const size_t* sizes, uint64_t* total_hits) {
  const int n = run.n;
  MergeScratch& work = run.work;
  const uint64_t maxmaplen = uint64_t(n) * kMergeHitsPerResponse;
  if (n > 0) {
    work.views = static_cast<QueryResponseView*>(calloc(size_t(n), sizeof(QueryResponseView)));
    work.info = static_cast<TermInfo*>(calloc(size_t(n) * kMaxMergeTerms, sizeof(TermInfo)));
    if (!work.views || !work.info) return no_memory();
  }
  *total_hits = 0;
  for (int i = n - 1; i >= 0; --i) {
    const uint8_t* r = run.responses[i];
    if (r == nullptr || sizes[i] < 4 || get_word(r) == 4 || !read_query_response(r, sizes[i], &work.views[i])) {
      log_msg(LOG_ERROR, "merge_hits: bad input result");
      return false;
    }
    *total_hits += work.views[i].hit_count;
  }
  if (*total_hits > maxmaplen) {
    log_msg(LOG_ERROR, "merge_hits: maplen > maxmaplen (%llu>%llu)", static_cast<unsigned long long>(*total_hits),
            static_cast<unsigned long long>(maxmaplen));
    return false;
  }
  return true;
}

// Takes the hit map (maplen ordinals, twice as many entries as hits), the
// ranking list of the page, the ordinal of every response hit and
// ResponseOrdinals' areas, and marks where each response's ordinals begin.
// False (logged) for no memory.
bool take_map(MergeRun& run, uint64_t total_hits) {
  const int n = run.n;
  MergeScratch& work = run.work;
  const uint64_t maxmaplen = uint64_t(n) * kMergeHitsPerResponse;
  run.maplen = static_cast<uint32_t>(std::min<uint64_t>(total_hits * 5 / 4, maxmaplen));
  // Twice as many entries as hits keeps the probes short even when every
  // response brings its full 500 hits and maplen is no larger than that.
  const uint32_t slots = static_cast<uint32_t>(total_hits * 2);
  work.map_memory = malloc(hit_map_bytes(run.maplen, slots));
  work.list = static_cast<HitHeap*>(malloc(hit_area_entries(run.page.end) * sizeof(HitHeap)));
  work.ordinals = static_cast<int32_t*>(malloc((total_hits + 1) * sizeof(int32_t)));
  work.own = static_cast<HitHeap*>(malloc(2 * (size_t{kMergeHitsPerResponse} + 1) * sizeof(HitHeap)));
  for (int i = 0; i < n; ++i)
    if (ResponseOrdinals::small(work.views[i])) run.table_room = std::max(run.table_room, work.views[i].documents);
  work.table = static_cast<int32_t*>(malloc((size_t{run.table_room} + 1) * sizeof(int32_t)));
  if (!work.map_memory || !work.list || !work.ordinals || !work.own || !work.table) return no_memory();
  run.map = hit_map_init(work.map_memory, run.maplen, slots);
  run.first_ordinal.assign(size_t(n) + 1, 0);
  for (int i = n - 1; i >= 0; --i)
    run.first_ordinal[size_t(i)] = run.first_ordinal[size_t(i) + 1] + work.views[i].hit_count;
  run.counter = static_cast<int32_t>(run.maplen);
  return true;
}

// Adds a response with hits to the sums: its documents, and its total by
// absolute value (a negative total, an estimate, makes the sum one).
void add_totals(MergeRun& run, const QueryResponseView& v) {
  if (v.hit_count == 0) return;
  run.document_sum += v.documents;
  run.total_sum += static_cast<uint64_t>(v.total < 0 ? -int64_t{v.total} : int64_t{v.total});
  if (v.total < 0) run.estimated = true;
}

// Enters the hits of response i into the map with their values (and dates,
// for a dated output), each under the next ordinal; the ordinal each got
// goes to ordinals_of(i), 0 for a hit beyond its database's documents
// (logged and left out).
void enter_hits(MergeRun& run, int i) {
  const QueryResponseView& v = run.work.views[i];
  const bool dated = run.page.dated;
  int32_t* ordinals = run.ordinals_of(i);
  int32_t counter = run.counter;
  for (uint32_t k = 0; k < v.hit_count; ++k) {
    const Hit h = response_hit(v, k);
    const uint32_t docid = hit_docid(h);
    ordinals[k] = 0;
    if (docid >= v.documents) {
      log_msg(LOG_ERROR, "merge_hits() docid %d:%d.%d", i, static_cast<int>(h.db), static_cast<int>(docid));
      continue;
    }
    din_entry date{0, 0};
    if (v.type == kResponseDated) date = response_date(v, k);
    ordinals[k] =
        map_dbdocid(&run.map, static_cast<int32_t>(hit_value(h)), counter, h.db, h.posting, dated ? &date : nullptr);
    --counter;
  }
  run.counter = counter;
}

// Matches each term of response i byte for byte against the global terms of
// the responses read before, adds those not found (while fewer than
// kMaxMergeTerms) and keeps the response's docf, norm and block of each in
// info(i, g).
void read_terms(MergeRun& run, int i) {
  const QueryResponseView& v = run.work.views[i];
  GlobalTerm* globals = run.globals;
  const int known = run.nglobals;
  ResponseTermCursor cursor;
  ResponseTerm t;
  while (response_next_term(v, &cursor, &t)) {
    int g = 0;
    while (g < known && !(globals[g].length == t.text_length && memcmp(globals[g].text, t.text, t.text_length) == 0))
      ++g;
    const bool inferred = g < known;
    if (!inferred) {
      if (run.nglobals >= kMaxMergeTerms) continue;
      g = run.nglobals++;
      globals[g] = GlobalTerm{t.text, t.text_length, 0, 0};
    }
    run.info(i, g) = TermInfo{term_word_docf(t.word), term_word_norm(t.word), v.merge_flag != 0 && t.block_at != 0, t};
    log_msg(LOG_MERGE, inferred ? "merge_hits(inferred): %s[%d,%d]=%d/%d" : "merge_hits: %s[%d,%d]=%d/%d", t.text,
            i, static_cast<int>(t.index), static_cast<int>(t.block_count), static_cast<int>(t.word));
  }
}

// Each global term's docf, summed over the responses, and its norm: idf_scale
// of that against the documents of the databases with hits. d_sum is the sum
// of the norms, 1 when it would be 0.
void global_norms(MergeRun& run) {
  int32_t d_sum = 0;
  for (int g = 0; g < run.nglobals; ++g) {
    uint64_t docf = 0;
    for (int i = 0; i < run.n; ++i) docf += run.info(i, g).docf;
    run.globals[g].docf = docf;
    run.globals[g].norm = idf_scale(saturate_u32(docf), saturate_u32(run.document_sum));
    d_sum += run.globals[g].norm;
  }
  run.d_sum = d_sum == 0 ? 1 : d_sum;
}

// Rescales the block hits of global term g in response i from the
// database's norm to the global one (bounded by ten times the database's),
// adds each to its document's sum in the map, and rewrites it in the
// response as its ordinal << 7 | the rescaled score. With walk, own holds
// the response's hits with their ordinals.
void rescale_block(MergeRun& run, ResponseOrdinals& own, bool walk, int i, int g) {
  const QueryResponseView& v = run.work.views[i];
  const TermInfo& ti = run.info(i, g);
  // A copy the loop keeps: the block hits it writes cannot be taken to change it.
  const ResponseTerm term = ti.term;
  const uint32_t c = term.block_count;
  log_msg(LOG_MERGE, "merge_hits(term loop): db=%d term: %s=%d hits", i, run.globals[g].text, static_cast<int>(c));
  if (c == 0) return;
  const int32_t old = ti.norm == 0 ? 1 : static_cast<int32_t>(ti.norm);
  const int32_t now = std::min<int32_t>(run.globals[g].norm, old * 10);
  log_msg(LOG_MERGE, "merge_hits: info[%d][%d].norm = %d oldnorm = %d newnorm = %d", i, g,
          static_cast<int>(ti.norm), old, now);
  const bool trace = log_passes(LOG_MERGE);
  // Block scores are 7-bit: each rescaled once.
  int32_t rescaled[kScoreMask + 1];
  for (int32_t b = 0; b <= static_cast<int32_t>(kScoreMask); ++b) rescaled[b] = rescale(b, old, now);
  HitMap* map = &run.map;
  const int32_t counter = run.counter;
  uint8_t* response = run.responses[i];
  own.start_block();
  for (uint32_t k = 0; k < c; ++k) {
    Hit h = response_block_hit(v, term, k);
    const uint32_t docid = hit_docid(h);
    int32_t s = static_cast<int32_t>(hit_value(h));
    if (trace) log_msg(LOG_MERGE, "merge_hits: before renorm, score = %d", s);
    s = rescaled[s];
    if (s > kMaxTermScore || docid >= v.documents) {
      log_msg(LOG_ERROR, "merge_hits() docid %d:%d.%d=%d", i, static_cast<int>(h.db), static_cast<int>(docid), s);
      s = kMaxTermScore;
    }
    if (s < 0) s = 0;
    if (trace) log_msg(LOG_MERGE, "merge_hits: after renorm, score = %d", s);
    int32_t ord = walk ? hit_map_add(map, own.find(h.db, docid), s) : 0;
    if (ord == 0) ord = map_dbdocid(map, s, 0, h.db, h.posting, nullptr);
    if (ord == 0 || ord <= counter) {
      log_msg(LOG_ERROR, "merge_hits() docid %d < tempdocid %d", ord, counter);
      ord = 0;
    }
    h.posting = (static_cast<uint32_t>(ord) << 7) | static_cast<uint32_t>(s);
    response_set_block_hit(response, term, k, h);
  }
}

// Rescales the term blocks of every response with hits (rescale_block); a
// response of at most kMergeHitsPerResponse hits first has them laid out
// with their ordinals, so that its block hits find their entries directly.
void rescale_blocks(MergeRun& run) {
  ResponseOrdinals own;
  own.list = run.work.own;
  own.scratch = run.work.own + kMergeHitsPerResponse + 1;
  own.table = run.work.table;
  own.table_room = run.table_room;
  for (int i = 0; i < run.n; ++i) {
    const QueryResponseView& v = run.work.views[i];
    if (v.hit_count == 0) continue;
    log_msg(LOG_MERGE, "merge_hits(db loop): db=%d", i);
    const bool walk = v.hit_count <= kMergeHitsPerResponse;
    if (walk) own.build(v, run.ordinals_of(i));
    for (int g = 0; g < run.nglobals; ++g)
      if (run.info(i, g).has_block) rescale_block(run, own, walk, i, g);
  }
}

// Ranks into work.list the end best (score, ordinal) pairs of the map, by
// summed score (by the value entered first without rescaling), in order;
// an ordinal used up by a repeated (identifier, docid) holds no hit and is
// passed over. page.end becomes the number of hits kept.
void rank_hits(MergeRun& run) {
  HitHeap* list = run.work.list;
  uint32_t end = run.page.end;
  const bool rescaling = run.page.rescaling;
  hit_base(list) = 0;
  hit_size(list) = end;
  init_hit_heap(list);
  if (end > 0) {
    for (int64_t ord = run.maplen; ord > run.counter; --ord) {
      const HitMapEntry* e = hit_map_ordinal(run.map, static_cast<int32_t>(ord));
      if (!e) continue;
      heap_replace_top(list, rescaling ? e->sum : e->first, static_cast<uint32_t>(ord) << 7, 1);
    }
  }
  log_msg(LOG_MERGE | LOG_MERGE_QUEUE, "merge_hits(post-sift, pre-sort): total %llu, %u hits; start=%d count=%d",
          static_cast<unsigned long long>(run.total_sum), end, run.page.start, run.page.count);
  sort_heap(list);
  if (log_passes(LOG_MERGE_QUEUE)) {
    fputs("\nmerge_hits (post-sort, pre-compress):\n", stderr);
    dump_hits(list);
  }
  log_msg(LOG_MERGE, "merge_hits(post-sort, pre-compress): (sort) %llu hits -> %u hits\n",
          static_cast<unsigned long long>(run.total_sum), end);
  end = compact_hits(list, 1);
  if (log_passes(LOG_MERGE_QUEUE)) {
    fputs("\nmerge_hits (post-compress):\n", stderr);
    dump_hits(list);
  }
  log_msg(LOG_MERGE, "merge_hits (post-compress): %llu hits -> %u hits\n",
          static_cast<unsigned long long>(run.total_sum), end);
  run.page.end = end;
}

// The output of no hits, after its header: no term words, the query string
// and the collection name.
int write_no_hits(MergeOutput& o) {
  if (!response_put_term_words(&o.w, nullptr, 0) || !response_put_string(&o.w, o.query, SIZE_MAX) ||
      !response_put_string(&o.w, o.collection, SIZE_MAX) || !response_finish(&o.w))
    return fail_overrun(o.query);
  return 1;
}

// The page's first hit (1 without rescaling: type 4 keeps the whole list)
// and hit count, and the summed total (negative when any was an estimate,
// bounded by INT32_MAX).
void start_page(const MergeRun& run, MergeOutput& o) {
  const uint32_t end = run.page.end;
  log_msg(LOG_MERGE, "merge_hits: building return hits starting at %d up to %u", run.page.start, end);
  o.first_hit = run.page.rescaling ? static_cast<uint32_t>(run.page.start) : 1;
  o.hit_count = end >= o.first_hit ? end - o.first_hit + 1 : 0;
  const int64_t total_out = std::min<uint64_t>(run.total_sum, INT32_MAX);
  response_set_total(&o.w, static_cast<int32_t>(run.estimated ? -total_out : total_out));
}

// The page's hits: with rescaling, percentages blended with d_sum, then a
// stable insertion sort of the page by them (among equal percentages the
// order of the ranking stays); each written with its percentage, or the
// value it was entered with for the merge flag or type 4; then, dated, their
// date entries.
bool write_page(MergeRun& run, MergeOutput& o) {
  HitHeap* list = run.work.list;
  const uint32_t first_hit = o.first_hit, end = run.page.end;
  const bool rescaling = run.page.rescaling, merge_flag = run.page.merge_flag;
  if (rescaling) {
    for (uint32_t k = first_hit; k <= end; ++k) list[k].score = blended_percent(list[k].score, run.d_sum);
    if (first_hit <= end) sort_hits_stable(list, first_hit, end);
  }
  uint8_t* area = response_hit_area(&o.w, o.hit_count);
  if (!area) return fail_overrun(o.query);
  for (uint32_t k = first_hit; k <= end; ++k) {
    const HitMapEntry* e = hit_map_ordinal(run.map, static_cast<int32_t>(list[k].posting >> 7));
    const int32_t value = (merge_flag || !rescaling) ? e->first : list[k].score;
    area = pack_hit(area, e->db, e->docid, value);
    log_msg(LOG_RETURNED_HITS, "merge_hits: returning hit#%u, %x.%u score %d%%", k, e->db, e->docid,
            std::clamp(value, 1, 100));
  }
  response_commit_hits(&o.w, o.hit_count);
  if (run.page.dated) {
    uint8_t* dates = response_date_area(&o.w);
    if (!dates) return fail_overrun(o.query);
    for (uint32_t k = first_hit; k <= end; ++k) {
      const HitMapEntry* e = hit_map_ordinal(run.map, static_cast<int32_t>(list[k].posting >> 7));
      memcpy(dates, &e->date, sizeof e->date);
      dates += sizeof e->date;
    }
    response_commit_dates(&o.w);
  }
  return true;
}

// With the merge flag, the ranked hits 1..end in docid order with scores 0,
// for the joins of write_term_blocks.
void order_by_docid(MergeRun& run) {
  log_msg(LOG_TRACE, "merge_hits: distributed search qsort");
  HitHeap* list = run.work.list;
  qsort(list + 1, run.page.end, sizeof(HitHeap), compare_docids);
  for (uint32_t k = 1; k <= run.page.end; ++k) list[k].score = 0;
}

// The global terms' words: the summed docf (at most 25 bits) and the
// global norm of each.
bool write_term_words(const MergeRun& run, MergeOutput& o) {
  uint32_t words[kMaxMergeTerms];
  for (int g = 0; g < run.nglobals; ++g)
    words[g] =
        term_word(std::min<uint64_t>(run.globals[g].docf, 0x1FFFFFF), static_cast<uint32_t>(run.globals[g].norm));
  if (!response_put_term_words(&o.w, words, static_cast<uint32_t>(run.nglobals))) return fail_overrun(o.query);
  return true;
}

// With the merge flag, one block per global term: for each response with
// hits and a block of the term, the output's hits (work.list, in docid order
// with scores 0) that the block holds, each with its rescaled term score
// bounded by the global norm.
bool write_term_blocks(MergeRun& run, MergeOutput& o) {
  MergeScratch& work = run.work;
  HitHeap* list = work.list;
  work.copy = static_cast<HitHeap*>(malloc(hit_area_entries(run.page.end) * sizeof(HitHeap)));
  if (!work.copy) return no_memory();
  for (int g = 0; g < run.nglobals; ++g) {
    if (!response_open_block(&o.w)) return fail_overrun(o.query);
    for (int i = 0; i < run.n; ++i) {
      const TermInfo& ti = run.info(i, g);
      // Only the blocks of responses with hits were renumbered.
      const uint32_t c = ti.has_block && work.views[i].hit_count > 0 ? ti.term.block_count : 0;
      if (c == 0) continue;
      if (!work.reserve_postings(size_t{c} + 1)) return no_memory();
      for (uint32_t k = 0; k < c; ++k) work.postings[k] = response_block_hit(work.views[i], ti.term, k).posting;
      qsort(work.postings, c, sizeof(uint32_t), compare_ints);
      work.postings[c] = kEndMark;
      copy_hits(list, work.copy);
      hit_base(work.copy) -= kBonus;
      join(work.copy, work.postings, c, kBonus);
      const uint32_t kept = compact_hits(work.copy, 0);
      uint8_t* block = response_block_area(&o.w, kept);
      if (!block) return fail_overrun(o.query);
      for (uint32_t k = 1; k <= kept; ++k) {
        const HitMapEntry* e = hit_map_ordinal(run.map, static_cast<int32_t>(work.copy[k].posting >> 7));
        block = pack_hit(block, e->db, e->docid, std::min<int32_t>(work.copy[k].score, run.globals[g].norm));
      }
      response_commit_block_hits(&o.w, kept);
    }
  }
  return true;
}

// The global term strings, the query string and the collection name, and
// the output's end.
bool write_strings(const MergeRun& run, MergeOutput& o) {
  for (int g = 0; g < run.nglobals; ++g)
    if (!response_put_string(&o.w, run.globals[g].text, run.globals[g].length)) return fail_overrun(o.query);
  if (!response_put_string(&o.w, o.query, SIZE_MAX) || !response_put_string(&o.w, o.collection, SIZE_MAX) ||
      !response_finish(&o.w))
    return fail_overrun(o.query);
  return true;
}

}  // namespace

int compare_ints(const void* a, const void* b) {
  const int x = *static_cast<const int*>(a);
  const int y = *static_cast<const int*>(b);
  return (x > y) - (x < y);
}

int merge_hits(int n, uint8_t* const* responses, const size_t* sizes, uint8_t* out, size_t out_size,
               int32_t start, int32_t count, int merge) {
  if (out == nullptr || out_size < 8) return 0;
  MergeRun run;
  run.n = n < 0 ? 0 : n;
  run.responses = responses;
  if (!plan_page(&run.page, out, out_size, start, count, merge)) return 0;
  uint64_t total_hits = 0;
  if (!check_responses(run, sizes, &total_hits) || !take_map(run, total_hits)) return 0;

  // The responses are read from the last to the first: ties go to the hit
  // entered first.
  for (int i = run.n - 1; i >= 0; --i) {
    add_totals(run, run.work.views[i]);
    enter_hits(run, i);
    read_terms(run, i);
  }
  global_norms(run);
  if (run.page.rescaling) rescale_blocks(run);
  rank_hits(run);

  MergeOutput o;
  const QueryResponseView* first = run.n > 0 ? &run.work.views[0] : nullptr;
  o.query = first ? response_query(*first) : "";
  o.collection = first ? response_collection(*first) : "";
  // The document count of the databases with hits; 0 for no hits.
  const uint32_t documents = run.page.end == 0 ? 0 : saturate_u32(run.document_sum);
  if (!response_begin(&o.w, out, out_size, run.page.out_type, run.page.merge_flag,
                      static_cast<uint32_t>(run.page.start), documents))
    return fail_overrun(o.query);
  if (run.page.end == 0) return write_no_hits(o);
  start_page(run, o);
  if (!write_page(run, o)) return 0;
  if (run.page.merge_flag) order_by_docid(run);
  if (!write_term_words(run, o)) return 0;
  if (run.page.merge_flag && !write_term_blocks(run, o)) return 0;
  if (!write_strings(run, o)) return 0;
  log_msg(LOG_MERGE | LOG_TRACE, "merge_hits: returning %u hits", o.hit_count);
  return 1;
}

}  // namespace vorlane::engine
