// A document's life: its arena, its rule hits and topics, and its insertion
// into a database.
#include <cstdlib>
#include <cstring>

#include "engine/document/classify_table.h"
#include "engine/document/crule.h"
#include "engine/document/idoc.h"
#include "store/date_entry.h"
#include "store/db_handle.h"
#include "store/indexing.h"
#include "store/title_fetch.h"
#include "store/title_record.h"

namespace vorlane::engine {

bool idoc_doc_init(idoc_doc* doc) {
  *doc = idoc_doc{};
  doc->arena = doc_terms_alloc(&doc->terms);
  if (!doc->arena) return false;
  doc->arena_length = static_cast<uint32_t>(kDocArenaSize);
  return true;
}

void idoc_doc_release(idoc_doc* doc) {
  crule_free_hits(doc->rule_hits);
  doc->rule_hits = nullptr;
  free(doc->topics);
  doc->topics = nullptr;
  doc_terms_free(doc->arena);
  doc->arena = nullptr;
}

void idoc_match(idoc_doc* doc, const char* term) { match_rules(term, strlen(term), &doc->rule_hits); }

bool idoc_room(const idbm_db* db, int32_t nterms) {
  const uint64_t n = nterms < 0 ? 0 : static_cast<uint64_t>(nterms);
  if ((uint64_t{db->ndocs} + 1) * kTitleRecordSize > idbm_titles_view(db).size) return false;
  if (uint64_t{db->icube_used} * 4 > uint64_t{db->icube_words} * 3) return false;
  if (!db->cache_table) return false;
  const uint64_t table_size = db->cache_table[0].load(std::memory_order_relaxed);
  const int32_t used = db->cache_used.load(std::memory_order_relaxed);
  if (uint64_t(used < 0 ? 0 : used) * 4 > table_size * 3) return false;
  if (db->ndocs > 0) {
    const int32_t free_cells = db->cache_free.load(std::memory_order_relaxed);
    if (free_cells < 0 || n >= static_cast<uint64_t>(free_cells)) return false;
    const uint64_t left = db->icube_limit > db->icube_used ? db->icube_limit - db->icube_used : 0;
    if (n * 20 >= left) return false;
  }
  return true;
}

int idoc_insert(idbm_db* db, idoc_doc* doc, idoc_record_args* a) {
  const int32_t nterms = doc_terms_compact(&doc->terms);
  doc->state = IDOC_COMPACTED;
  if (!idoc_room(db, nterms)) return -1;

  uint16_t class_db[4];
  uint32_t class_id[4];
  for (int i = 0; i < 4; ++i) {
    class_db[i] = static_cast<uint16_t>(a->classifications[i] >> 24);
    class_id[i] = a->classifications[i] & 0xFFFFFFu;
  }
  const din_entry entry = make_date_entry(a->url, strlen(a->url), static_cast<time_t>(a->date));
  unsigned char record[kTitleRecordSize];
  title_pack(record, a->url, a->title, a->summary, a->publisher, a->index_terms, a->extra,
             static_cast<uint32_t>(a->date), a->checksum[0], a->checksum[1], a->flags, a->doctype, class_db,
             class_id, nullptr, a->download_date);

  const uint32_t before = db->ndocs;
  const int result =
      idbm_index_and_log(db, &doc->terms, record, a->deletion, entry.host_hash, entry.day, a->normalise);
  if (db->ndocs != before) doc->state = IDOC_INSERTED;
  return result;
}

}  // namespace vorlane::engine
