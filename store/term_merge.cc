#include "store/term_merge.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "store/db_commit.h"
#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/db_reader.h"
#include "store/db_write.h"
#include "store/log.h"
#include "store/mapfile.h"
#include "store/term_hash.h"

namespace vorlane {

merge_map_entry* idbm_merge_map = nullptr;

int32_t idbm_merge_map_find(uint32_t size, uint32_t key1, uint32_t key2) {
  if (!idbm_merge_map || size == 0) return -1;
  uint32_t i = key1 % size;
  for (uint32_t steps = 0; steps < size; ++steps) {
    const merge_map_entry& e = idbm_merge_map[i];
    if (e.key1 == 0) return -1;
    if (e.key1 == key1 && e.key2 == key2) return e.value;
    i = i + 1 == size ? 0 : i + 1;
  }
  return -1;
}

namespace {

struct source_state {
  idbm_db* db = nullptr;
  idbm_reader* reader = nullptr;
  const uint32_t* rec = nullptr;  // current record, as stored
  uint64_t base = 0;
};

// A stored record's fields (compact or full form).
struct rec_view {
  const uint32_t* postings;
  uint32_t count;
  uint32_t docf;
  uint32_t base;
};

rec_view view(const uint32_t* r) {
  return {rec_postings(r), rec_count(r), rec_docf(r), rec_norm(r)};
}

// Order of two sources in the order array: by current pair, then number.
bool before(const std::vector<source_state>& src, int a, int b) {
  const int c = pair_cmp(src[a].rec[0], src[a].rec[1], src[b].rec[0], src[b].rec[1]);
  return c != 0 ? c < 0 : a < b;
}

void insert_ordered(std::vector<int>& order, const std::vector<source_state>& src, int s) {
  auto at = std::upper_bound(order.begin(), order.end(), s, [&](int x, int y) { return before(src, x, y); });
  order.insert(at, s);
}

// The part the handle has open, or else the one its directory holds now.
bool part0_empty(const idbm_db* db) {
  if (db->nparts != 1 || !db->parts || !db->parts[0].name) return false;
  if (db->parts[0].fd >= 0) return fsize(db->parts[0].fd) == 0;
  struct stat st;
  return stat(db->parts[0].name, &st) == 0 && st.st_size == 0;
}

// One merge: the new database, the sources (those with a current record
// in the order array, sorted by pair and then number), the work record and
// the terms written so far.
struct merge_run {
  merge_run(idbm_db* db, const int32_t* map)
      : new_db(db),
        docid_map(map),
        new_ndocs(db->ndocs),
        limit(static_cast<uint32_t>(std::max(db->posting_limit, 1))) {}
  idbm_db* new_db;
  const int32_t* docid_map;
  uint32_t new_ndocs;
  uint32_t limit;  // the posting limit of a merged record
  std::vector<source_state> src;
  std::vector<int> order;
  std::vector<int> moved;  // the group's sources while advance_group moves them
  std::vector<uint32_t> work;  // the merged record: header, postings, end mark
  hash_pair url_http{};
  uint32_t min_docf = 0;  // the smallest docf of a catalog entry
  idbm_position position;
  uint32_t nterms = 0;
};

// The records of one pair, order[0 .. size - 1], and what merging them gives.
struct term_group {
  uint32_t h1 = 0, h2 = 0;
  size_t size = 0;
  uint64_t total = 0;  // their postings
  uint32_t maxbase = 0;
  // Postings of a score below t are cut, quota of those of score t stay.
  uint32_t t = 0;
  int64_t quota = 0;
  // The merged record: postings kept, the sum of the records' docfs, the
  // postings dropped by the map and those seen, the highest score and the
  // sum of the scores kept.
  uint32_t kept = 0;
  uint64_t docf = 0, dropped = 0, seen = 0;
  uint32_t highest = 0;
  uint64_t score_sum = 0;
  int64_t df = 0;  // the merged document frequency
};

void release_readers(merge_run& run) {
  for (source_state& s : run.src)
    if (s.reader) idbm_buffer_free(s.reader);
}

// The catalog's header entry {0x80000000, 0x80000000, ndocs << 7, 0} and a
// directory header of zeros, rewritten by end_files once the terms are in.
int write_headers(merge_run& run) {
  idbm_db* new_db = run.new_db;
  const uint32_t cat_header[4] = {0x80000000u, 0x80000000u, run.new_ndocs << 7, 0};
  rewind(new_db->cat_stream);
  if (fwrite(cat_header, 4, 4, new_db->cat_stream) != 4) return report_error("idbm_merge: cat putw", db_name(new_db));
  const uint32_t zero_header[4] = {};
  rewind(new_db->dir_stream);
  if (fwrite(zero_header, 4, 4, new_db->dir_stream) != 4)
    return report_error("idbm_merge: dir putw", db_name(new_db));
  return 1;
}

// Gives each source its base in the docid space, opens its reader, reads its
// first record and puts it in the order array. A source without terms, or
// whose reader ends at once, stays out of the order.
int open_sources(merge_run& run, int n, idbm_db* const* sources) {
  std::vector<source_state>& src = run.src;
  src.resize(static_cast<size_t>(std::max(n, 0)));
  run.order.reserve(src.size());
  uint64_t base = 0;
  for (int s = 0; s < n; ++s) {
    src[s].db = sources[s];
    src[s].base = base;
    base += sources[s]->ndocs;
  }
  for (int s = 0; s < n; ++s) {
    idbm_db* db = sources[s];
    if (part0_empty(db)) continue;  // a database without terms
    src[s].reader = idbm_buffer(db);
    if (!src[s].reader) {
      release_readers(run);
      return report_error("idbm_merge: can't open", db->nparts ? db->parts[0].name : db_name(db));
    }
    src[s].rec = idbm_record(db, src[s].reader);
    if (!src[s].rec) {
      if (idbm_reader_at_end(src[s].reader)) continue;
      release_readers(run);
      return report_error("idbm_merge: can't retrieve record from db", db_name(db));
    }
    insert_ordered(run.order, src, s);
  }
  return 1;
}

// The live postings of a group's record: docid below its source's count and
// not dropped by the map. Calls f(new docid, merged score) for each, and
// counts dropped ones.
template <typename F>
void walk(const merge_run& run, int s, const rec_view& v, uint64_t& dropped, F&& f) {
  const source_state& st = run.src[s];
  for (uint32_t i = 0; i < v.count; ++i) {
    const uint32_t p = v.postings[i];
    const uint32_t docid = posting_docid(p);
    if (docid >= st.db->ndocs) continue;
    const uint64_t global = st.base + docid;
    uint64_t new_docid = global;
    if (run.docid_map) {
      const int32_t w = run.docid_map[global];
      if (w == -1) {
        ++dropped;
        continue;
      }
      new_docid = global - static_cast<uint64_t>(static_cast<int64_t>(w >> 7));
    }
    uint32_t merged = posting_score(p) + v.base;
    if (merged > 127) {
      log_msg(LOG_WARNING, "score overflow base=%d score=%d db=%s", static_cast<int>(v.base),
              static_cast<int>(posting_score(p)), db_name(st.db));
      merged = 127;
    }
    f(static_cast<uint32_t>(new_docid), merged);
  }
}

// a. The group: the sources whose current record has the head's pair, their
// postings and their largest base.
term_group head_group(const merge_run& run) {
  const std::vector<source_state>& src = run.src;
  const std::vector<int>& order = run.order;
  term_group g;
  const uint32_t* head = src[order[0]].rec;
  g.h1 = head[0] & kHashMask;
  g.h2 = head[1] & kHashMask;
  while (g.size < order.size() && pair_cmp(src[order[g.size]].rec[0], src[order[g.size]].rec[1], g.h1, g.h2) == 0) {
    const rec_view v = view(src[order[g.size]].rec);
    g.total += v.count;
    g.maxbase = std::max(g.maxbase, v.base);
    ++g.size;
  }
  return g;
}

// b. Threshold and quota: unless every posting fits, the live postings are
// counted per merged score and whole scores kept from 127 down while they
// fit the posting limit; the first that does not is the threshold, and the
// room left its quota.
void set_threshold(const merge_run& run, term_group& g) {
  if (g.maxbase == 0 && g.total <= run.limit) return;
  uint64_t hist[128] = {};
  uint64_t ignored = 0;
  for (size_t i = 0; i < g.size; ++i)
    walk(run, run.order[i], view(run.src[run.order[i]].rec), ignored, [&](uint32_t, uint32_t score) { ++hist[score]; });
  uint64_t sum = 0;
  g.t = g.maxbase;
  for (uint32_t s = 127; s > g.maxbase; --s) {
    if (sum + hist[s] > run.limit) {
      g.t = s;
      break;
    }
    sum += hist[s];
  }
  g.quota = static_cast<int64_t>(run.limit - sum);
}

// c. The merged record's postings (its header follows in e): each source's
// live postings above the threshold, and those at it while the quota lasts,
// renumbered, in group order; the records' docfs are summed.
void merge_postings(merge_run& run, term_group& g) {
  for (size_t i = 0; i < g.size; ++i) {
    const rec_view v = view(run.src[run.order[i]].rec);
    g.seen += v.count;
    g.docf += v.docf;
    walk(run, run.order[i], v, g.dropped, [&](uint32_t new_docid, uint32_t score) {
      if (score < g.t) return;
      if (score == g.t && g.quota-- <= 0) return;
      if (g.kept >= run.limit) return;  // never past the work record
      run.work[4 + g.kept++] = (new_docid << 7) | score;
      g.highest = std::max(g.highest, score);
      g.score_sum += score;
    });
  }
}

// d. Document frequency: the summed docf less the dropped postings, capped
// at the new document count and raised to the postings kept; "url:http"
// gets the new document count.
int64_t merged_docf(const merge_run& run, const term_group& g) {
  int64_t df = static_cast<int64_t>(g.docf);
  if (g.seen > 0 && g.docf > g.seen && g.dropped > 0)  // postings cut earlier: drop the same share of them
    df -= static_cast<int64_t>(static_cast<double>(g.docf - g.seen) * static_cast<double>(g.dropped) /
                               static_cast<double>(g.seen));
  df -= static_cast<int64_t>(g.dropped);
  df = std::min<int64_t>(df, run.new_ndocs);
  df = std::max<int64_t>(df, g.kept);
  if (g.h1 == run.url_http.hash1 && g.h2 == run.url_http.hash2) df = run.new_ndocs;
  return df;
}

// e. The record, appended to the term files when it kept a posting, and f.
// its catalog entry when its docf and highest score are large enough.
int write_term(merge_run& run, const term_group& g) {
  if (g.kept == 0) return 1;
  idbm_db* new_db = run.new_db;
  rec_set_header(run.work.data(), g.h1, g.h2, static_cast<uint32_t>(g.df), 0, g.kept);
  run.work[4 + g.kept] = kRecEndMark;
  if (!idbm_append(new_db, run.work.data(), &run.position)) {
    release_readers(run);
    return 0;
  }
  ++run.nterms;
  if (static_cast<uint64_t>(g.df) >= run.min_docf && g.highest >= 24) {
    const uint32_t mean = static_cast<uint32_t>((g.score_sum + g.kept / 2) / g.kept);
    const uint32_t entry[4] = {g.h1 | 0x80000000u, g.h2 | 0x80000000u, (static_cast<uint32_t>(g.df) << 7) + g.highest,
                               (g.kept << 7) + mean};
    if (fwrite(entry, 4, 4, new_db->cat_stream) != 4) {
      release_readers(run);
      return report_error("idbm_merge: cat putw", db_name(new_db));
    }
  }
  return 1;
}

// g. Advances the group's sources and puts them back in order; an exhausted
// source leaves the order array.
int advance_group(merge_run& run, size_t group) {
  std::vector<int>& order = run.order;
  run.moved.assign(order.begin(), order.begin() + static_cast<long>(group));
  order.erase(order.begin(), order.begin() + static_cast<long>(group));
  for (int s : run.moved) {
    source_state& st = run.src[s];
    st.rec = idbm_record(st.db, st.reader);
    if (st.rec) {
      insert_ordered(order, run.src, s);
    } else if (!idbm_reader_at_end(st.reader)) {
      // A source that fails validation would silently lose its later terms.
      release_readers(run);
      return report_error("idbm_merge: can't retrieve record from db", db_name(st.db));
    }
  }
  return 1;
}

// Flushes the new files and writes the directory's header {last part + 1,
// terms written, new document count, posting limit}; the files stay under
// their temporary names.
int end_files(merge_run& run) {
  idbm_db* new_db = run.new_db;
  if (fflush(new_db->dir_stream) != 0) return report_error("idbm_merge: dir fflush", db_name(new_db));
  if (fflush(new_db->cat_stream) != 0) return report_error("idbm_merge: cat fflush", db_name(new_db));
  if (fflush(new_db->tf_stream) != 0) return report_error("idbm_merge: tf fflush", db_name(new_db));
  const uint32_t header[4] = {dir_packed_part(run.position.size_part) + 1, run.nterms, run.new_ndocs, run.limit};
  if (!db_end_new_files(new_db, header)) return report_error("idbm_merge: dir putw", db_name(new_db));
  return 1;
}

}  // namespace

void idbm_set_doc_count(idbm_db* new_db, uint32_t ndocs) { new_db->ndocs = ndocs; }

int idbm_merge(int n, idbm_db* const* sources, idbm_db* new_db, const int32_t* docid_map) {
  if (!idbm_merge_terms(n, sources, new_db, docid_map)) return 0;
  // The new files become the database in one commit, after every one of
  // them is on disk (store/db_commit.h).
  if (!db_commit_new_files(new_db)) return report_error("idbm_merge: dir putw", db_name(new_db));
  return 1;
}

int idbm_merge_terms(int n, idbm_db* const* sources, idbm_db* new_db, const int32_t* docid_map) {
  if (n > kMaxMergeSources) return report_error("idbm_merge:", "too many dbs");
  if (!new_db->tf_stream || !new_db->dir_stream || !new_db->cat_stream)
    return report_error("idbm_merge: new db files not already open", db_name(new_db));
  merge_run run(new_db, docid_map);
  if (!write_headers(run)) return 0;
  if (!open_sources(run, n, sources)) return 0;

  run.work.assign(uint64_t{run.limit} + 5, 0);
  if (run.work.empty()) log_fatal("idbm_merge: malloc failed");
  run.url_http = pair_from_u64(term_hash_pair("url:http"));
  run.min_docf = run.new_ndocs / 10000;
  if (run.min_docf == 0) run.min_docf = static_cast<uint32_t>(std::sqrt(static_cast<double>(run.new_ndocs)));

  while (!run.order.empty()) {
    term_group g = head_group(run);
    set_threshold(run, g);
    merge_postings(run, g);
    g.df = merged_docf(run, g);
    if (!write_term(run, g)) return 0;
    if (!advance_group(run, g.size)) return 0;
  }
  release_readers(run);
  return end_files(run);
}

}  // namespace vorlane
