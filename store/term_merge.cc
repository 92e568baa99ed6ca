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
  const uint32_t new_ndocs = new_db->ndocs;
  const uint32_t limit = static_cast<uint32_t>(std::max(new_db->posting_limit, 1));

  const uint32_t cat_header[4] = {0x80000000u, 0x80000000u, new_ndocs << 7, 0};
  rewind(new_db->cat_stream);
  if (fwrite(cat_header, 4, 4, new_db->cat_stream) != 4) return report_error("idbm_merge: cat putw", db_name(new_db));
  const uint32_t zero_header[4] = {};
  rewind(new_db->dir_stream);
  if (fwrite(zero_header, 4, 4, new_db->dir_stream) != 4)
    return report_error("idbm_merge: dir putw", db_name(new_db));

  std::vector<source_state> src(static_cast<size_t>(std::max(n, 0)));
  std::vector<int> order;
  order.reserve(src.size());
  auto release = [&] {
    for (source_state& s : src)
      if (s.reader) idbm_buffer_free(s.reader);
  };
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
      release();
      return report_error("idbm_merge: can't open", db->nparts ? db->parts[0].name : db_name(db));
    }
    src[s].rec = idbm_record(db, src[s].reader);
    if (!src[s].rec) {
      if (idbm_reader_at_end(src[s].reader)) continue;
      release();
      return report_error("idbm_merge: can't retrieve record from db", db_name(db));
    }
    insert_ordered(order, src, s);
  }

  std::vector<uint32_t> work(uint64_t{limit} + 5);
  if (work.empty()) log_fatal("idbm_merge: malloc failed");
  const hash_pair url_http = pair_from_u64(term_hash_pair("url:http"));
  uint32_t min_docf = new_ndocs / 10000;
  if (min_docf == 0) min_docf = static_cast<uint32_t>(std::sqrt(static_cast<double>(new_ndocs)));

  // The live postings of a group's record: docid below its source's count and
  // not dropped by the map. Calls f(new docid, merged score) for each, and
  // counts dropped ones.
  auto walk = [&](int s, const rec_view& v, uint64_t& dropped, auto&& f) {
    const source_state& st = src[s];
    for (uint32_t i = 0; i < v.count; ++i) {
      const uint32_t p = v.postings[i];
      const uint32_t docid = posting_docid(p);
      if (docid >= st.db->ndocs) continue;
      const uint64_t global = st.base + docid;
      uint64_t new_docid = global;
      if (docid_map) {
        const int32_t w = docid_map[global];
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
  };

  idbm_position position;
  uint32_t nterms = 0;
  while (!order.empty()) {
    // a. The group: the sources whose current record has the head's pair.
    const uint32_t* head = src[order[0]].rec;
    const uint32_t h1 = head[0] & kHashMask, h2 = head[1] & kHashMask;
    size_t group = 0;
    uint64_t total = 0;
    uint32_t maxbase = 0;
    while (group < order.size() && pair_cmp(src[order[group]].rec[0], src[order[group]].rec[1], h1, h2) == 0) {
      const rec_view v = view(src[order[group]].rec);
      total += v.count;
      maxbase = std::max(maxbase, v.base);
      ++group;
    }

    // b. Threshold and quota.
    uint32_t t = 0;
    int64_t quota = 0;
    if (maxbase != 0 || total > limit) {
      uint64_t hist[128] = {};
      uint64_t ignored = 0;
      for (size_t g = 0; g < group; ++g)
        walk(order[g], view(src[order[g]].rec), ignored, [&](uint32_t, uint32_t score) { ++hist[score]; });
      uint64_t sum = 0;
      t = maxbase;
      for (uint32_t s = 127; s > maxbase; --s) {
        if (sum + hist[s] > limit) {
          t = s;
          break;
        }
        sum += hist[s];
      }
      quota = static_cast<int64_t>(limit - sum);
    }

    // c. The merged record's postings (its header follows in e).
    uint32_t kept = 0;
    uint64_t docf = 0, dropped = 0, seen = 0;
    uint32_t highest = 0;
    uint64_t score_sum = 0;
    for (size_t g = 0; g < group; ++g) {
      const rec_view v = view(src[order[g]].rec);
      seen += v.count;
      docf += v.docf;
      walk(order[g], v, dropped, [&](uint32_t new_docid, uint32_t score) {
        if (score < t) return;
        if (score == t && quota-- <= 0) return;
        if (kept >= limit) return;  // never past the work record
        work[4 + kept++] = (new_docid << 7) | score;
        highest = std::max(highest, score);
        score_sum += score;
      });
    }

    // d. Document frequency.
    int64_t df = static_cast<int64_t>(docf);
    if (seen > 0 && docf > seen && dropped > 0)  // postings cut earlier: drop the same share of them
      df -= static_cast<int64_t>(static_cast<double>(docf - seen) * static_cast<double>(dropped) / static_cast<double>(seen));
    df -= static_cast<int64_t>(dropped);
    df = std::min<int64_t>(df, new_ndocs);
    df = std::max<int64_t>(df, kept);
    if (h1 == url_http.hash1 && h2 == url_http.hash2) df = new_ndocs;

    // e. The record, f. its catalog entry.
    if (kept > 0) {
      rec_set_header(work.data(), h1, h2, static_cast<uint32_t>(df), 0, kept);
      work[4 + kept] = kRecEndMark;
      if (!idbm_append(new_db, work.data(), &position)) {
        release();
        return 0;
      }
      ++nterms;
      if (static_cast<uint64_t>(df) >= min_docf && highest >= 24) {
        const uint32_t mean = static_cast<uint32_t>((score_sum + kept / 2) / kept);
        const uint32_t entry[4] = {h1 | 0x80000000u, h2 | 0x80000000u, (static_cast<uint32_t>(df) << 7) + highest,
                                   (kept << 7) + mean};
        if (fwrite(entry, 4, 4, new_db->cat_stream) != 4) {
          release();
          return report_error("idbm_merge: cat putw", db_name(new_db));
        }
      }
    }

    // g. Advance the group's sources and put them back in order.
    std::vector<int> moved(order.begin(), order.begin() + static_cast<long>(group));
    order.erase(order.begin(), order.begin() + static_cast<long>(group));
    for (int s : moved) {
      src[s].rec = idbm_record(src[s].db, src[s].reader);
      if (src[s].rec) {
        insert_ordered(order, src, s);
      } else if (!idbm_reader_at_end(src[s].reader)) {
        // A source that fails validation would silently lose its later terms.
        release();
        return report_error("idbm_merge: can't retrieve record from db", db_name(src[s].db));
      }
    }
  }
  release();

  if (fflush(new_db->dir_stream) != 0) return report_error("idbm_merge: dir fflush", db_name(new_db));
  if (fflush(new_db->cat_stream) != 0) return report_error("idbm_merge: cat fflush", db_name(new_db));
  if (fflush(new_db->tf_stream) != 0) return report_error("idbm_merge: tf fflush", db_name(new_db));
  const uint32_t header[4] = {dir_packed_part(position.size_part) + 1, nterms, new_ndocs, limit};
  if (!db_end_new_files(new_db, header)) return report_error("idbm_merge: dir putw", db_name(new_db));
  return 1;
}

}  // namespace vorlane
