#include "engine/query/allhits.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "engine/query/doc_cursor.h"
#include "engine/query/hit_heap.h"
#include "engine/query/query_parser.h"
#include "engine/query/term_pins.h"
#include "engine/module/sorn_module.h"
#include "store/cclass.h"
#include "store/db_handle.h"
#include "store/log.h"
#include "store/mapfile.h"

namespace vorlane::engine {

namespace {

constexpr uint8_t kDeleted = 255;

bool kept_by_delmap(const idbm_db* db, uint32_t docid) {
  if (!db->del.address) return true;
  if (docid >= db->del.size) return false;
  return static_cast<const uint8_t*>(db->del.address)[docid] != kDeleted;
}

}  // namespace

int ProcessQuery2(idbm_db* db, char* text, const zop_handle& handle, QueryBuffers buffers, AllHitsStats* stats,
                  uint32_t** docids) {
  *docids = nullptr;
  if (stats->documents == 0) stats->documents = db->ndocs;
  const uint32_t m = max_hits;
  const size_t list_entries = hit_area_entries(m);
  HitHeap* hits = buffers.heap;
  if (hits && static_cast<size_t>(buffers.heap_left) >= list_entries) {
    hit_base(hits) = 0;
    hit_size(hits) = m;
    buffers.heap += list_entries;
    buffers.heap_left -= static_cast<int32_t>(list_entries);
  }
  rewind_query_areas(buffers);

  while (*text && c_isspace(static_cast<unsigned char>(*text))) ++text;
  if (!*text) return -1;
  if (char* bar = std::strchr(text, '|')) *bar = '\0';
  if (!*text) return -1;

  int32_t found = 0, missing = 0;
  const int n = ParseQuery(db, text, handle, &buffers, &found, &missing);
  if (buffers.pins && buffers.pins->shortage) return -1;
  if (n == 0) return 0;
  QueryTerm* terms = buffers.term_position;

  // The query has required members when a required phrase, or a required
  // term whose list is whole, is among its terms.
  char required = kMarkOptional;
  for (int i = 0; i < n && terms[i].count != 0; ++i) {
    QueryTerm& t = terms[i];
    if (t.mark != kMarkRequired) continue;
    if (t.elements) {
      required = kMarkRequired;
    } else if (t.record) {
      if (rec_full_count(t.record) < rec_full_docf(t.record)) t.mark = kMarkOptional;  // cut at the posting limit
      else required = kMarkRequired;
    }
  }

  // One group per phrase term, the main group and the excluded group.
  std::unique_ptr<CursorGroup[]> groups(new (std::nothrow) CursorGroup[n + 2]);
  if (!groups) {
    log_msg(LOG_WARNING, "ProcessQuery2: allocation of %d cursor groups failed", n + 2);
    return -1;
  }
  CursorGroup* main_group = &groups[n];
  CursorGroup* excluded_group = &groups[n + 1];
  main_group->used = excluded_group->used = 0;
  excluded_group->need = 1;
  DocCursor main = group_cursor(main_group);
  DocCursor excluded = group_cursor(excluded_group);
  int64_t total = 0;
  int32_t members = 0;
  for (int i = 0; i < n && terms[i].count != 0; ++i) {
    QueryTerm& t = terms[i];
    if (t.elements) {
      // Phrases follow the same marks as terms: beside required members an
      // optional phrase decides nothing.
      const bool excluded_phrase = t.mark == kMarkExcluded;
      if (!excluded_phrase && t.mark != required) continue;
      CursorGroup* g = &groups[i];
      DocCursor phrase = group_cursor(g);
      const int64_t count = DocCursorPhrase(t.elements, t.count, &phrase);
      DocCursorAdvance(&phrase);
      if (excluded_phrase) {
        DocCursorInsert(excluded_group, &phrase);
      } else {
        // A phrase that matches nothing still counts as a member, so that
        // an intersection with it stays empty.
        total += count;
        ++members;
        DocCursorInsert(main_group, &phrase);
      }
    } else if (t.record && t.mark == required) {
      total += rec_full_count(t.record);
      ++members;
      DocCursor c = list_cursor(t.record);
      DocCursorInsert(main_group, &c);
    } else if (t.record && t.mark == kMarkExcluded) {
      DocCursor c = list_cursor(t.record);
      DocCursorInsert(excluded_group, &c);
    }
  }
  main_group->need = required == kMarkRequired ? (members > 0 ? members : 1) : 1;
  DocCursorAdvance(&main);
  DocCursorAdvance(&excluded);
  if (DocCursorPeek(&main) == kCursorEnd || total <= 0) return 0;

  uint32_t* out = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(total) * sizeof(uint32_t)));
  if (!out) {
    log_msg(LOG_WARNING, "ProcessQuery2: allocation of %d entry doclist failed",
            static_cast<int>(total > 0x7FFFFFFF ? 0x7FFFFFFF : total));
    return -1;
  }
  int64_t kept = 0;
  while (DocCursorPeek(&main) != kCursorEnd) {
    const uint32_t docid = posting_docid(DocCursorNext(&main));
    while (DocCursorPeek(&main) != kCursorEnd && posting_docid(DocCursorPeek(&main)) == docid) DocCursorNext(&main);
    if (!kept_by_delmap(db, docid)) continue;
    if (DocCursorSkipTo(docid, &excluded)) continue;
    if (kept < total) out[kept++] = docid;
  }
  if (kept == 0) {
    std::free(out);
    return 0;
  }
  *docids = out;
  return static_cast<int>(kept);
}

int query_each2(idbm_db* db, char* text, QueryBuffers* buffers, const zop_handle& handle, uint32_t** docids) {
  *docids = nullptr;
  if (!db) {
    report_error("query_each:", "null db pointer");
    return 0;
  }
  // The parse areas of this call: 16,272 text bytes, 80 term and 160
  // element slots, and the phrase work.
  std::unique_ptr<ParseAreaBlock> parse_areas(new (std::nothrow) ParseAreaBlock);
  if (!parse_areas) {
    log_msg(LOG_WARNING, "query_each2: allocation of the parse areas failed");
    return -1;
  }
  give_parse_areas(buffers, parse_areas.get());
  LentAreasRelease lent{buffers};
  if (static_cast<uint64_t>(buffers->heap_left) < hit_area_entries(max_hits) * 3) {
    report_error("query_each:", "heapbuf too small for ProcessQuery");
    return 0;
  }
  const size_t length = std::strlen(text);
  if (length > 0 && text[length - 1] == '\n') text[length - 1] = '\0';

  AllHitsStats stats{};
  if (db->catalog) stats.documents = db->catalog->ndocs;
  TermPinScope pins;
  buffers->pins = pins.get();
  return ProcessQuery2(db, text, handle, *buffers, &stats, docids);
}

}  // namespace vorlane::engine
