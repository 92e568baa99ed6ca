// Internal to the term cache: the test of one cache cell, shared by the
// lock-free probe of idbm_find and the insertion of idbm_add.
#pragma once

#include <cstdint>

namespace vorlane {

struct idbm_db;

enum class CellCheck {
  kEmpty,    // the probe ends here
  kDeleted,  // CACHE_DEL: the probe passes it
  kOther,    // a record of another pair
  kMatch,    // the record of the pair (in *out; null for a stub)
  kChanged,  // the cell changed while it was being tested: probe again
};

// Tests a cell for the pair. A record held in a slot is tested under its
// arena mutex after checking that the cell still holds it and the slot still
// belongs to this cell. With take, a match moves the slot to the newest end,
// counts a hit and pins the record (stubs are not pinned).
CellCheck check_cell(idbm_db* db, uint32_t cell, uint32_t hash1, uint32_t hash2, bool take, uint32_t** out);

}  // namespace vorlane
