#include "engine/query/evalquery.h"

#include <cstdio>
#include <cstdlib>

#include "engine/module/sorn_module.h"
#include "store/log.h"
#include "store/score_tables.h"

namespace vorlane::engine {

namespace {

// Terms one list of an evaluation holds at most.
constexpr int kMaxListTerms = 79;
// Optional lists merged at most.
constexpr int kMaxOptionalLists = kMaxMergeLists;

int empty_result(HitHeap* result, EvalStats* stats) {
  hit_size(result) = 0;
  stats->total = 0;
  stats->estimated = 0;
  stats->denominator = 0;
  log_msg(LOG_EVAL, "Leaving evalquery %d docs, %d hits, %d denom", static_cast<int>(stats->documents),
          stats->total, stats->denominator);
  return 0;
}

void sort_into_document_order(HitHeap* list) {
  qsort(list + 1, hit_size(list), sizeof(HitHeap), compare_docids);
}

// Step 8: the result from the work list, best first (sorted 0) or in
// document order (sorted 1).
uint32_t take_result(const HitHeap* work, HitHeap* result, int sorted, uint32_t wanted) {
  hit_base(result) = 0;
  if (!sorted) {
    hit_size(result) = hit_size(work) < wanted ? hit_size(work) : wanted;
    select_top(work, result);
  } else if (hit_size(work) <= wanted) {
    copy_hits(work, result);
  } else {
    hit_size(result) = wanted;
    select_top(work, result);
    sort_into_document_order(result);
  }
  return hit_size(result);
}

const char* term_name(const QueryTerm* t) {
  if (t->term && *t->term) return t->term;
  return t->source ? t->source : "";
}

void dump_lists(const char* title, const HitHeap* work, const HitHeap* result) {
  if (!(log_mask.load(std::memory_order_relaxed) & LOG_MERGE_QUEUE)) return;
  fputs(title, stdout);
  fflush(stdout);
  if (work) dump_hits(work);
  fputs("\nresult:\n", stdout);
  fflush(stdout);
  dump_hits(result);
}

struct TermLists {
  const QueryTerm* required[kMaxListTerms];
  int nrequired = 0;
  const QueryTerm* optional[kMaxListTerms];
  bool cut[kMaxListTerms];  // an optional entry that was a '+' term with a cut record
  int noptional = 0;
  const QueryTerm* excluded[kMaxListTerms];
  int nexcluded = 0;
};

void join_term(HitHeap* work, const QueryTerm* t, int32_t bonus) {
  join(work, rec_full_postings(t->record), rec_full_count(t->record), bonus);
}

// The total of an evaluation that did not see every candidate: guess, kept
// between the documents counted and what can still match, that is those plus
// the postings missing from cut lists (unseen), and no more than the
// documents that pass the filters.
int64_t bounded_estimate(int64_t counted, int64_t guess, uint64_t unseen, uint32_t documents, DeletionMap delmap,
                         uint32_t mode, DateMap datemap, uint64_t window) {
  int64_t e = guess > counted ? guess : counted;
  if (static_cast<uint64_t>(e - counted) > unseen) e = counted + static_cast<int64_t>(unseen);
  if (e > counted) {
    const int64_t live = documents_passing(documents, delmap, mode, datemap, window);
    if (e > live) e = live > counted ? live : counted;
  }
  return e;
}

// Postings a term record lacks: its document frequency beyond the postings
// it holds (a record cut at indexing), 0 for a whole one.
uint64_t missing_postings(const uint32_t* record) {
  const uint32_t docf = rec_full_docf(record), size = rec_full_count(record);
  return docf > size ? docf - size : 0;
}

// Step 5: no required terms and no restriction. The total counts the
// matching documents that pass the filters, exactly whenever every list was
// whole and every document was counted; otherwise it is an estimate
// (bounded_estimate).

int optional_only(TermLists& l, int sorted, uint32_t wanted, DeletionMap delmap, uint32_t mode, DateMap datemap,
                  uint64_t window, EvalStats* stats, HitHeap* work, HitHeap* result) {
  const uint32_t m = max_hits;
  auto estimate = [&](int64_t counted, int64_t guess, uint64_t more) {
    stats->estimated = 1;
    return bounded_estimate(counted, guess, more, stats->documents, delmap, mode, datemap, window);
  };
  if (l.noptional == 0) return empty_result(result, stats);
  if (log_passes(LOG_EVAL)) {
    for (int i = 0; i < l.noptional; ++i) {
      log_msg(LOG_EVAL, "(evalquery)term: %s: %d occurrences", term_name(l.optional[i]),
              static_cast<int>(rec_full_count(l.optional[i]->record)));
    }
  }
  // The 40 lists of smallest docf, ascending, at the front.
  const int take = l.noptional < kMaxOptionalLists ? l.noptional : kMaxOptionalLists;
  uint32_t maxdocf = 0;
  for (int i = 0; i < l.noptional; ++i) {
    const uint32_t d = rec_full_docf(l.optional[i]->record);
    if (d > maxdocf) maxdocf = d;
  }
  for (int i = 0; i < take; ++i) {
    int best = i;
    for (int j = i + 1; j < l.noptional; ++j) {
      if (rec_full_docf(l.optional[j]->record) < rec_full_docf(l.optional[best]->record)) best = j;
    }
    if (best != i) {
      std::swap(l.optional[i], l.optional[best]);
      std::swap(l.cut[i], l.cut[best]);
    }
  }
  int32_t denominator = 0;
  uint32_t lowest_required = 0x7FFFFFFF, largest_optional = 0;
  uint64_t postings = 0;
  uint64_t unseen = 0;  // postings cut from the lists taking part
  const uint32_t* lists[kMaxOptionalLists + 1];
  for (int i = 0; i < take; ++i) {
    const uint32_t* r = l.optional[i]->record;
    denominator += static_cast<int32_t>(rec_full_norm(r));
    const uint32_t d = rec_full_docf(r);
    if (l.cut[i]) {
      if (d < lowest_required) lowest_required = d;
    } else if (d > largest_optional) {
      largest_optional = d;
    }
    postings += rec_full_count(r);
    unseen += missing_postings(r);
    lists[i] = rec_full_postings(r);
    if (log_passes(LOG_EVAL) && rec_full_count(r) > 0) {
      log_msg(LOG_EVAL, "(evalquery) term: %s: docid %d, score%d ", term_name(l.optional[i]),
              static_cast<int>(posting_doc(lists[i][0])), static_cast<int>(posting_score(lists[i][0])));
    }
  }
  lists[take] = nullptr;

  if (take == 1 || l.nexcluded > 0) {
    int64_t total;
    hit_base(work) = 0;
    hit_size(work) = m;
    if (take == 1) {
      filter_postings(lists[0], rec_full_count(l.optional[0]->record), 0, work, delmap, mode, datemap, window);
      total = hit_size(work);
      if (hit_size(work) > 0) {
        log_msg(LOG_EVAL, "(evalquery) Single term query: first doc: id %d, score %d",
                static_cast<int>(posting_doc(work[1].posting)), work[1].score);
      }
      // A cut list, or one longer than the work list: documents unseen.
      const uint64_t count = rec_full_count(l.optional[0]->record);
      const uint64_t beyond = unseen + (count > m ? count - m : 0);
      if (beyond > 0) total = estimate(total, maxdocf, beyond);
    } else if (postings > m) {
      // The best m documents are kept; every one is counted.
      total = merge(lists, work, 1, delmap, mode, datemap, window);
      compact_hits(work, 1);
      sort_into_document_order(work);
      if (unseen > 0) total = estimate(total, maxdocf, unseen);
    } else {
      hit_size(work) = static_cast<uint32_t>(postings);  // room for every document, no more to start
      total = merge(lists, work, 0, delmap, mode, datemap, window);
      if (unseen > 0) total = estimate(total, maxdocf, unseen);
    }
    const int64_t before = hit_size(work);
    for (int i = 0; i < l.nexcluded; ++i) {
      join_term(work, l.excluded[i], -kBonus);
      if (compact_hits(work, 0) == 0) return empty_result(result, stats);
    }
    if (l.nexcluded > 0) {
      // Exact when the exclusions saw every document counted; documents
      // counted but not kept may or may not hold an excluded term.
      const int64_t left = hit_size(work);
      total = stats->estimated || total > before ? estimate(left, left + (total - before), unseen + (total - before))
                                                 : left;
    }
    if (total < hit_size(work)) total = hit_size(work);
    const uint32_t n = take_result(work, result, sorted, wanted);
    log_msg(LOG_EVAL, "evalquery(single term)");
    if (n == 0) return empty_result(result, stats);
    stats->total = static_cast<int32_t>(total);
    stats->denominator = denominator;
    return static_cast<int>(n);
  }

  // 2 to 40 lists, no exclusion: merged straight into the result.
  int64_t total;
  hit_base(result) = 0;
  hit_size(result) = wanted;
  if (!sorted && postings <= m) {
    // Every document fits the work list: merged there in document order,
    // the best then taken in one selection. The same hits in the same order
    // as a merge into the result kept as a heap, without sifting each
    // document through it.
    // A merge starts its list over the whole capacity given: as many entries
    // as postings hold every document.
    hit_base(work) = 0;
    hit_size(work) = static_cast<uint32_t>(postings);
    const uint32_t n = merge(lists, work, 0, delmap, mode, datemap, window);
    hit_size(result) = hit_size(work) < wanted ? hit_size(work) : wanted;
    select_top(work, result);
    compact_hits(result, 1);
    total = n;
  } else if (!sorted || postings > wanted) {
    const uint32_t n = merge(lists, result, 1, delmap, mode, datemap, window);
    if (!sorted) {
      sort_heap(result);
      compact_hits(result, 1);
    } else {
      compact_hits(result, 1);
      sort_into_document_order(result);
    }
    total = n;
  } else {
    total = merge(lists, result, 0, delmap, mode, datemap, window);
  }
  // The merge counted every document of the lists: only cut lists leave
  // documents it could not see.
  if (unseen > 0) total = estimate(total, maxdocf, unseen);
  if (lowest_required != 0x7FFFFFFF && (largest_optional == 0 || lowest_required < largest_optional)) {
    log_msg(LOG_EVAL, "adjusting total due to truncated terms. largest_optional %d, lowest_required %d",
            static_cast<int>(largest_optional), static_cast<int>(lowest_required));
    total = std::min<int64_t>(lowest_required,
                              documents_passing(stats->documents, delmap, mode, datemap, window));
  }
  log_msg(LOG_EVAL, "evalquery(no req terms)");
  dump_lists("\nOPTIONAL TERMS. After selectk.\nheap:\n", nullptr, result);
  if (hit_size(result) == 0) return empty_result(result, stats);
  stats->total = static_cast<int32_t>(total);
  stats->denominator = denominator;
  return static_cast<int>(hit_size(result));
}

}  // namespace

int evalquery(QueryBuffers* buffers, int top, int sorted, int restrict, int32_t wanted, DeletionMap delmap,
              uint32_t mode, DateMap datemap, uint64_t window, EvalStats* stats, HitHeap* result) {
  log_msg(LOG_EVAL, "Entering evalquery");
  stats->total = 0;
  stats->estimated = 0;
  stats->denominator = 0;
  const uint32_t m = max_hits;
  const int64_t list_entries = static_cast<int64_t>(hit_area_entries(m));
  const uint32_t want = wanted < 1 ? 1 : static_cast<uint32_t>(wanted) > m ? m : static_cast<uint32_t>(wanted);
  if (!buffers->heap || buffers->heap_left < list_entries) {
    log_msg(LOG_ERROR, "recursive evalquery: insufficient scratch %d", buffers->heap_left);
    return empty_result(result, stats);
  }
  HitHeap* work = buffers->heap;
  QueryTerm* terms = buffers->term_position;

  for (const QueryTerm* t = terms; t->count != 0; ++t) {
    if (t->mark == kMarkRequired && t->count == 1 && !t->record) return empty_result(result, stats);
  }

  // Phrases become derived records.
  for (QueryTerm* t = terms; t->count != 0; ++t) {
    if (t->count < 2) continue;
    if (buffers->heap_left < 2 * list_entries) {
      log_msg(LOG_ERROR, "recursive evalquery: insufficient scratch %d", buffers->heap_left);
      return empty_result(result, stats);
    }
    hit_base(work) = 0;
    hit_size(work) = m;
    for (const QueryTerm* e = t->elements; e && e->count != 0; ++e) {
      if (e->count != 1) log_msg(LOG_ERROR, "Phrase element %s has invalid count %d", term_name(e), e->count);
    }
    if (restrict) copy_hits(result, work);
    QueryBuffers phrase = *buffers;
    phrase.heap = work + list_entries;
    phrase.heap_left = static_cast<int32_t>(buffers->heap_left - list_entries);
    phrase.term_position = t->elements;
    EvalStats phrase_stats = *stats;
    const int n = t->elements ? evalquery(&phrase, 0, 1, restrict, static_cast<int32_t>(m), delmap, mode, datemap,
                                          window, &phrase_stats, work)
                              : 0;
    if (n == 0 || buffers->list_room < static_cast<int64_t>(derived_record_words(static_cast<uint32_t>(n)))) {
      if (n > 0) {
        log_msg(LOG_WARNING, "not enough space for derived termlist %s (%d>%d)", term_name(t), n,
                buffers->list_room - 5);
      }
      t->record = nullptr;
    } else {
      const uint32_t docf = phrase_stats.total > 0 ? static_cast<uint32_t>(phrase_stats.total) : 0;
      t->record = heap2rec(work, buffers->list_position, docf, phrase_stats.documents);
      const int32_t words = n + 5;
      buffers->list_position += words;
      buffers->list_room -= words;
      buffers->list_used += words;
    }
    t->count = 1;
  }

  // The lists, in term order.
  TermLists l;
  for (const QueryTerm* t = terms; t->count != 0; ++t) {
    if (t->mark == kMarkRequired) {
      if (!t->record) return empty_result(result, stats);
      const int64_t docf = rec_full_docf(t->record), size = rec_full_count(t->record);
      if (!top && docf > m && docf - size > m / 100) {
        log_msg(LOG_EVAL, "Required truncated phrase term %s will be optional. size %d, docf %d", term_name(t),
                static_cast<int>(size), static_cast<int>(docf));
        if (l.noptional < kMaxListTerms) {
          l.cut[l.noptional] = true;
          l.optional[l.noptional++] = t;
        }
      } else if (l.nrequired < kMaxListTerms) {
        l.required[l.nrequired++] = t;
      }
    } else if (!t->record) {
      continue;
    } else if (t->mark == kMarkExcluded) {
      if (l.nexcluded < kMaxListTerms) l.excluded[l.nexcluded++] = t;
    } else if (l.noptional < kMaxListTerms) {
      l.cut[l.noptional] = false;
      l.optional[l.noptional++] = t;
    }
  }

  if (l.nrequired == 0 && !restrict) {
    return optional_only(l, sorted, want, delmap, mode, datemap, window, stats, work, result);
  }

  // Required terms, or a restriction of the hits in result.
  const bool noreq = l.nrequired == 0;
  if (!noreq) {
    int best = 0;
    for (int i = 1; i < l.nrequired; ++i) {
      if (rec_full_docf(l.required[i]->record) < rec_full_docf(l.required[best]->record)) best = i;
    }
    std::swap(l.required[0], l.required[best]);
  }
  int32_t denominator = 0;
  int follow = 0;
  if (!restrict) {
    const uint32_t* r = l.required[0]->record;
    hit_base(work) = 0;
    hit_size(work) = m;
    filter_postings(rec_full_postings(r), rec_full_count(r), 0, work, delmap, mode, datemap, window);
    denominator = static_cast<int32_t>(rec_full_norm(r));
    follow = 1;
  } else {
    if (l.nrequired == 0 && l.noptional == 0 && l.nexcluded == 0) return empty_result(result, stats);
    copy_hits(result, work);
  }
  for (int i = follow; i < l.nrequired; ++i) {
    hit_base(work) -= kBonus;
    join_term(work, l.required[i], kBonus);
    if (compact_hits(work, 0) == 0) return empty_result(result, stats);
    denominator += static_cast<int32_t>(rec_full_norm(l.required[i]->record));
  }
  if (hit_size(work) == 0) return empty_result(result, stats);
  for (int i = 0; i < l.nexcluded; ++i) {
    join_term(work, l.excluded[i], -kBonus);
    if (compact_hits(work, 0) == 0) return empty_result(result, stats);
  }
  const bool any_of_optional = restrict && noreq && l.noptional > 0;
  if (any_of_optional) hit_base(work) -= kBonus;
  for (int i = 0; i < l.noptional; ++i) {
    join_term(work, l.optional[i], any_of_optional ? kBonus : 0);
    denominator += static_cast<int32_t>(rec_full_norm(l.optional[i]->record));
  }
  if (any_of_optional && compact_hits(work, 1) == 0) return empty_result(result, stats);
  const int32_t total = static_cast<int32_t>(hit_size(work));
  const uint32_t n = take_result(work, result, sorted, want);
  log_msg(LOG_EVAL, "evalquery(with req terms)");
  dump_lists("\nREQUIRED TERMS. After selectk.\nheap:\n", work, result);
  if (n == 0) return empty_result(result, stats);
  stats->total = total;
  stats->denominator = denominator;
  return static_cast<int>(n);
}

uint32_t* heap2rec(const HitHeap* hits, uint32_t* record, uint32_t docf, uint32_t documents) {
  const uint32_t n = hit_size(hits);
  const int64_t base = hit_base(hits);
  int64_t max = 0;
  for (uint32_t i = 1; i <= n; ++i) {
    const int64_t s = base + hits[i].score;
    if (s > max) max = s;
  }
  const int norm = idf_scale(docf, documents);
  int64_t factor = 1;
  if (max <= 0) {
    log_msg(LOG_WARNING, "norm = %d, max = %d", norm, static_cast<int>(max));
  } else {
    factor = (max / 2 + int64_t{norm} * 100) / max;
  }
  log_msg(LOG_TRACE, "heap2rec:max=%d, norm=%d, factor=%d", static_cast<int>(max), norm, static_cast<int>(factor));
  rec_set_header(record, 1, 1, docf, static_cast<uint32_t>(norm), n);
  for (uint32_t i = 1; i <= n; ++i) {
    int64_t s = base + hits[i].score;
    if (s < 0) s = 0;
    if (factor < 100) {
      s = s < kPercentCols ? percent_table[factor][s] : (factor * s + 50) / 100;
    }
    if (s > 100) s = 100;
    record[3 + i] = posting_key(hits[i].posting) + (static_cast<uint32_t>(s) & kScoreMask);
  }
  record[4 + n] = kEndMark;
  return record;
}

}  // namespace vorlane::engine
