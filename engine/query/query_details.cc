#include "engine/query/query_details.h"

#include <algorithm>
#include <memory>

#include "engine/query/hit_table.h"
#include "store/db_handle.h"

namespace vorlane::engine {

std::vector<ResultTerm> result_terms(const QueryResponseView& v) {
  std::vector<ResultTerm> terms;
  ResponseTermCursor c;
  ResponseTerm t;
  while (static_cast<int>(terms.size()) < kMaxResultTerms && response_next_term(v, &c, &t))
    terms.push_back(ResultTerm{std::string(t.text, t.text_length), term_word_docf(t.word)});
  return terms;
}

int detail_index(int32_t s, int32_t norm) {
  if (norm <= 0) return 1;
  const int64_t idx = (int64_t{s} - 1) * 100 / norm + 1;
  return static_cast<int>(std::clamp<int64_t>(idx, 1, 100));
}

double detail_fraction(const idbm_db* db, int32_t s, int32_t norm) {
  if (db == nullptr || db->score_incr == 0) return 0.0;
  return static_cast<double>(db->score_map[detail_index(s, norm)]) / static_cast<double>(db->score_incr);
}

void collect_details(const QueryResponseView& v, uint32_t first, const Hit* page, int n,
                     idbm_db* const* db_of, HitDetails* details) {
  auto table = std::make_unique<HitTable>();
  hit_table_clear(table.get());
  for (int i = 0; i < n; ++i) hit_table_insert(table.get(), page[i].db, hit_docid(page[i]), i);

  for (int i = 0; i < n; ++i) {
    const uint64_t at = uint64_t{first} + static_cast<uint64_t>(i);
    if (at >= v.hit_count) break;
    const Hit h = response_hit(v, static_cast<uint32_t>(at));
    if (HitSlot* s = hit_table_find(table.get(), h.db, hit_docid(h)))
      details[s->page_index].quality = static_cast<int32_t>(hit_value(h));
  }

  ResponseTermCursor c;
  ResponseTerm t;
  for (int j = 0; j < kMaxResultTerms && response_next_term(v, &c, &t); ++j) {
    const int32_t norm = static_cast<int32_t>(term_word_norm(t.word));
    for (uint32_t k = 0; k < t.block_count; ++k) {
      const Hit h = response_block_hit(v, t, k);
      HitSlot* s = hit_table_find(table.get(), h.db, hit_docid(h));
      if (!s) continue;
      ++s->term_count;
      const idbm_db* db = h.db < 128 ? db_of[h.db] : nullptr;
      details[s->page_index].terms.push_back(
          TermDetail{j, detail_fraction(db, static_cast<int32_t>(hit_value(h)), norm)});
    }
  }
}

}  // namespace vorlane::engine
