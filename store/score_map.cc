// idbm_score_map: the per-handle tables between stored score classes and
// scores.
#include "store/db_handle.h"
#include "store/score_tables.h"

namespace vorlane {

void idbm_score_map(idbm_db* db) {
  // raw_score[v] is the weight of class v; score_map[s] the class stored for
  // score s: the class whose weight is s when there is one, else the nearer
  // of the neighbouring classes.
  bool set[101] = {};
  for (int v = 0; v < 128; ++v) {
    const int s = log_scale(static_cast<uint32_t>(v));
    db->raw_score[v] = s;
    if (v > 0 && s >= 0 && s <= 100 && !set[s]) {
      db->score_map[s] = v;
      set[s] = true;
    }
  }
  int last = log_scale(1);
  int cur = 1;
  for (int s = 0; s <= 100; ++s) {
    if (set[s]) {
      cur = db->score_map[s];
      last = s;
      continue;
    }
    if (last < s && static_cast<uint32_t>(log_scale(static_cast<uint32_t>(cur + 1)) - s) <
                        static_cast<uint32_t>(s - last)) {
      ++cur;
      last = log_scale(static_cast<uint32_t>(cur));
    }
    db->score_map[s] = cur;
  }
}

}  // namespace vorlane
