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

int fail_overrun(const char* query) {
  report_error("merge_hits: BUFFER OVERRUN(8)!!!", query);
  return 0;
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

}  // namespace

int compare_ints(const void* a, const void* b) {
  const int x = *static_cast<const int*>(a);
  const int y = *static_cast<const int*>(b);
  return (x > y) - (x < y);
}

int merge_hits(int n, uint8_t* const* responses, const size_t* sizes, uint8_t* out, size_t out_size,
               int32_t start, int32_t count, int merge) {
  if (out == nullptr || out_size < 8) return 0;
  if (n < 0) n = 0;
  const uint64_t maxmaplen = uint64_t(n) * kMergeHitsPerResponse;
  const uint32_t request_type = get_word(out + 4);
  // Until the output is written it reads as a response of no hits.
  memset(out, 0, out_size < kMinResponseSize ? out_size : kMinResponseSize);

  if (count < 1 && request_type != kRequestDemote) {
    log_msg(LOG_ERROR, "merge_hits(count=%d) reset to 100", count);
    count = 100;
  }
  uint32_t out_type;
  bool merge_flag = merge != 0;
  bool rescaling = true;
  bool dated = false;
  switch (request_type) {
    case kRequestQuery: out_type = kResponseQuery; break;
    case kRequestDemote: out_type = kResponseDemote; break;
    case kRequestSingle:
      out_type = kResponseSingle;
      merge_flag = false;
      rescaling = false;
      break;
    case kRequestDated:
      out_type = kResponseDated;
      dated = true;
      break;
    default:
      report_error("merge_hits:", "bad request type");
      return 0;
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
  uint32_t end = static_cast<uint32_t>(end64);
  if (merge_flag) start = 1;

  MergeScratch work;
  if (n > 0) {
    work.views = static_cast<QueryResponseView*>(calloc(size_t(n), sizeof(QueryResponseView)));
    work.info = static_cast<TermInfo*>(calloc(size_t(n) * kMaxMergeTerms, sizeof(TermInfo)));
    if (!work.views || !work.info) return no_memory();
  }

  // Every response is checked whole before anything is taken from it.
  uint64_t total_hits = 0;
  for (int i = n - 1; i >= 0; --i) {
    const uint8_t* r = responses[i];
    if (r == nullptr || sizes[i] < 4 || get_word(r) == 4 || !read_query_response(r, sizes[i], &work.views[i])) {
      log_msg(LOG_ERROR, "merge_hits: bad input result");
      return 0;
    }
    total_hits += work.views[i].hit_count;
  }
  if (total_hits > maxmaplen) {
    log_msg(LOG_ERROR, "merge_hits: maplen > maxmaplen (%llu>%llu)", static_cast<unsigned long long>(total_hits),
            static_cast<unsigned long long>(maxmaplen));
    return 0;
  }
  const uint32_t maplen = static_cast<uint32_t>(std::min<uint64_t>(total_hits * 5 / 4, maxmaplen));
  // Twice as many entries as hits keeps the probes short even when every
  // response brings its full 500 hits and maplen is no larger than that.
  const uint32_t slots = static_cast<uint32_t>(total_hits * 2);
  work.map_memory = malloc(hit_map_bytes(maplen, slots));
  work.list = static_cast<HitHeap*>(malloc(hit_area_entries(end) * sizeof(HitHeap)));
  work.ordinals = static_cast<int32_t*>(malloc((total_hits + 1) * sizeof(int32_t)));
  work.own = static_cast<HitHeap*>(malloc(2 * (size_t{kMergeHitsPerResponse} + 1) * sizeof(HitHeap)));
  uint32_t table_room = 0;
  for (int i = 0; i < n; ++i)
    if (ResponseOrdinals::small(work.views[i])) table_room = std::max(table_room, work.views[i].documents);
  work.table = static_cast<int32_t*>(malloc((size_t{table_room} + 1) * sizeof(int32_t)));
  if (!work.map_memory || !work.list || !work.ordinals || !work.own || !work.table) return no_memory();
  HitMap map = hit_map_init(work.map_memory, maplen, slots);
  // Where each response's hits begin in work.ordinals.
  std::vector<size_t> first_ordinal(size_t(n) + 1, 0);
  for (int i = n - 1; i >= 0; --i) first_ordinal[size_t(i)] = first_ordinal[size_t(i) + 1] + work.views[i].hit_count;
  int32_t counter = static_cast<int32_t>(maplen);

  GlobalTerm globals[kMaxMergeTerms];
  int nglobals = 0;
  uint64_t document_sum = 0;
  uint64_t total_sum = 0;
  bool estimated = false;

  for (int i = n - 1; i >= 0; --i) {
    const QueryResponseView& v = work.views[i];
    if (v.hit_count > 0) {
      document_sum += v.documents;
      total_sum += static_cast<uint64_t>(v.total < 0 ? -int64_t{v.total} : int64_t{v.total});
      if (v.total < 0) estimated = true;
    }
    int32_t* ordinals = work.ordinals + first_ordinal[size_t(i) + 1];
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
          map_dbdocid(&map, static_cast<int32_t>(hit_value(h)), counter, h.db, h.posting, dated ? &date : nullptr);
      --counter;
    }
    const int known = nglobals;
    TermInfo* info = &work.info[size_t(i) * kMaxMergeTerms];
    ResponseTermCursor cursor;
    ResponseTerm t;
    while (response_next_term(v, &cursor, &t)) {
      int g = 0;
      while (g < known && !(globals[g].length == t.text_length && memcmp(globals[g].text, t.text, t.text_length) == 0))
        ++g;
      const bool inferred = g < known;
      if (!inferred) {
        if (nglobals >= kMaxMergeTerms) continue;
        g = nglobals++;
        globals[g] = GlobalTerm{t.text, t.text_length, 0, 0};
      }
      info[g] = TermInfo{term_word_docf(t.word), term_word_norm(t.word), v.merge_flag != 0 && t.block_at != 0, t};
      log_msg(LOG_MERGE, inferred ? "merge_hits(inferred): %s[%d,%d]=%d/%d" : "merge_hits: %s[%d,%d]=%d/%d", t.text,
              i, static_cast<int>(t.index), static_cast<int>(t.block_count), static_cast<int>(t.word));
    }
  }

  // Global norms over the documents of the databases with hits.
  int32_t d_sum = 0;
  for (int g = 0; g < nglobals; ++g) {
    uint64_t docf = 0;
    for (int i = 0; i < n; ++i) docf += work.info[size_t(i) * kMaxMergeTerms + g].docf;
    globals[g].docf = docf;
    globals[g].norm = idf_scale(saturate_u32(docf), saturate_u32(document_sum));
    d_sum += globals[g].norm;
  }
  if (d_sum == 0) d_sum = 1;

  if (rescaling) {
    ResponseOrdinals own;
    own.list = work.own;
    own.scratch = work.own + kMergeHitsPerResponse + 1;
    own.table = work.table;
    own.table_room = table_room;
    for (int i = 0; i < n; ++i) {
      const QueryResponseView& v = work.views[i];
      if (v.hit_count == 0) continue;
      log_msg(LOG_MERGE, "merge_hits(db loop): db=%d", i);
      const bool walk = v.hit_count <= kMergeHitsPerResponse;
      if (walk) own.build(v, work.ordinals + first_ordinal[size_t(i) + 1]);
      for (int g = 0; g < nglobals; ++g) {
        const TermInfo& ti = work.info[size_t(i) * kMaxMergeTerms + g];
        if (!ti.has_block) continue;
        const uint32_t c = ti.term.block_count;
        log_msg(LOG_MERGE, "merge_hits(term loop): db=%d term: %s=%d hits", i, globals[g].text, static_cast<int>(c));
        if (c == 0) continue;
        const int32_t old = ti.norm == 0 ? 1 : static_cast<int32_t>(ti.norm);
        const int32_t now = std::min<int32_t>(globals[g].norm, old * 10);
        log_msg(LOG_MERGE, "merge_hits: info[%d][%d].norm = %d oldnorm = %d newnorm = %d", i, g,
                static_cast<int>(ti.norm), old, now);
        const bool trace = log_passes(LOG_MERGE);
        // Block scores are 7-bit: each rescaled once.
        int32_t rescaled[kScoreMask + 1];
        for (int32_t b = 0; b <= static_cast<int32_t>(kScoreMask); ++b) rescaled[b] = rescale(b, old, now);
        own.start_block();
        for (uint32_t k = 0; k < c; ++k) {
          Hit h = response_block_hit(v, ti.term, k);
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
          int32_t ord = walk ? hit_map_add(&map, own.find(h.db, docid), s) : 0;
          if (ord == 0) ord = map_dbdocid(&map, s, 0, h.db, h.posting, nullptr);
          if (ord == 0 || ord <= counter) {
            log_msg(LOG_ERROR, "merge_hits() docid %d < tempdocid %d", ord, counter);
            ord = 0;
          }
          h.posting = (static_cast<uint32_t>(ord) << 7) | static_cast<uint32_t>(s);
          response_set_block_hit(responses[i], ti.term, k, h);
        }
      }
    }
  }

  // The end best (score, ordinal) pairs; an ordinal used up by a repeated
  // (identifier, docid) holds no hit and is passed over.
  HitHeap* list = work.list;
  hit_base(list) = 0;
  hit_size(list) = end;
  init_hit_heap(list);
  if (end > 0) {
    for (int64_t ord = maplen; ord > counter; --ord) {
      const HitMapEntry* e = hit_map_ordinal(map, static_cast<int32_t>(ord));
      if (!e) continue;
      heap_replace_top(list, rescaling ? e->sum : e->first, static_cast<uint32_t>(ord) << 7, 1);
    }
  }
  log_msg(LOG_MERGE | LOG_MERGE_QUEUE, "merge_hits(post-sift, pre-sort): total %llu, %u hits; start=%d count=%d",
          static_cast<unsigned long long>(total_sum), end, start, count);
  sort_heap(list);
  if (log_passes(LOG_MERGE_QUEUE)) {
    fputs("\nmerge_hits (post-sort, pre-compress):\n", stderr);
    dump_hits(list);
  }
  log_msg(LOG_MERGE, "merge_hits(post-sort, pre-compress): (sort) %llu hits -> %u hits\n",
          static_cast<unsigned long long>(total_sum), end);
  end = compact_hits(list, 1);
  if (log_passes(LOG_MERGE_QUEUE)) {
    fputs("\nmerge_hits (post-compress):\n", stderr);
    dump_hits(list);
  }
  log_msg(LOG_MERGE, "merge_hits (post-compress): %llu hits -> %u hits\n", static_cast<unsigned long long>(total_sum),
          end);

  const QueryResponseView* first = n > 0 ? &work.views[0] : nullptr;
  const char* query = first ? response_query(*first) : "";
  const char* collection = first ? response_collection(*first) : "";

  // The document count of the databases with hits; 0 for no hits.
  const uint32_t documents = end == 0 ? 0 : saturate_u32(document_sum);
  ResponseWriter w;
  if (!response_begin(&w, out, out_size, out_type, merge_flag, static_cast<uint32_t>(start), documents))
    return fail_overrun(query);
  if (end == 0) {
    if (!response_put_term_words(&w, nullptr, 0) || !response_put_string(&w, query, SIZE_MAX) ||
        !response_put_string(&w, collection, SIZE_MAX) || !response_finish(&w))
      return fail_overrun(query);
    return 1;
  }
  log_msg(LOG_MERGE, "merge_hits: building return hits starting at %d up to %u", start, end);
  if (!rescaling) start = 1;
  const uint32_t first_hit = static_cast<uint32_t>(start);
  const uint32_t hit_count = end >= first_hit ? end - first_hit + 1 : 0;
  const int64_t total_out = std::min<uint64_t>(total_sum, INT32_MAX);
  response_set_total(&w, static_cast<int32_t>(estimated ? -total_out : total_out));

  // Percentages, then a stable insertion sort of the page by them (among
  // equal percentages the order of the ranking stays).
  if (rescaling) {
    for (uint32_t k = first_hit; k <= end; ++k) list[k].score = blended_percent(list[k].score, d_sum);
    if (first_hit <= end) sort_hits_stable(list, first_hit, end);
  }

  uint8_t* area = response_hit_area(&w, hit_count);
  if (!area) return fail_overrun(query);
  for (uint32_t k = first_hit; k <= end; ++k) {
    const HitMapEntry* e = hit_map_ordinal(map, static_cast<int32_t>(list[k].posting >> 7));
    const int32_t value = (merge_flag || !rescaling) ? e->first : list[k].score;
    area = pack_hit(area, e->db, e->docid, value);
    log_msg(LOG_RETURNED_HITS, "merge_hits: returning hit#%u, %x.%u score %d%%", k, e->db, e->docid,
            std::clamp(value, 1, 100));
  }
  response_commit_hits(&w, hit_count);
  if (dated) {
    uint8_t* dates = response_date_area(&w);
    if (!dates) return fail_overrun(query);
    for (uint32_t k = first_hit; k <= end; ++k) {
      const HitMapEntry* e = hit_map_ordinal(map, static_cast<int32_t>(list[k].posting >> 7));
      memcpy(dates, &e->date, sizeof e->date);
      dates += sizeof e->date;
    }
    response_commit_dates(&w);
  }

  if (merge_flag) {
    log_msg(LOG_TRACE, "merge_hits: distributed search qsort");
    qsort(list + 1, end, sizeof(HitHeap), compare_docids);
    for (uint32_t k = 1; k <= end; ++k) list[k].score = 0;
  }

  uint32_t words[kMaxMergeTerms];
  for (int g = 0; g < nglobals; ++g)
    words[g] = term_word(std::min<uint64_t>(globals[g].docf, 0x1FFFFFF), static_cast<uint32_t>(globals[g].norm));
  if (!response_put_term_words(&w, words, static_cast<uint32_t>(nglobals))) return fail_overrun(query);

  if (merge_flag) {
    work.copy = static_cast<HitHeap*>(malloc(hit_area_entries(end) * sizeof(HitHeap)));
    if (!work.copy) return no_memory();
    for (int g = 0; g < nglobals; ++g) {
      if (!response_open_block(&w)) return fail_overrun(query);
      for (int i = 0; i < n; ++i) {
        const TermInfo& ti = work.info[size_t(i) * kMaxMergeTerms + g];
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
        uint8_t* block = response_block_area(&w, kept);
        if (!block) return fail_overrun(query);
        for (uint32_t k = 1; k <= kept; ++k) {
          const HitMapEntry* e = hit_map_ordinal(map, static_cast<int32_t>(work.copy[k].posting >> 7));
          block = pack_hit(block, e->db, e->docid, std::min<int32_t>(work.copy[k].score, globals[g].norm));
        }
        response_commit_block_hits(&w, kept);
      }
    }
  }

  for (int g = 0; g < nglobals; ++g)
    if (!response_put_string(&w, globals[g].text, globals[g].length)) return fail_overrun(query);
  if (!response_put_string(&w, query, SIZE_MAX) || !response_put_string(&w, collection, SIZE_MAX) ||
      !response_finish(&w))
    return fail_overrun(query);
  log_msg(LOG_MERGE | LOG_TRACE, "merge_hits: returning %u hits", hit_count);
  return 1;
}

}  // namespace vorlane::engine
