// The pin log of one query run.
#include "engine/query/term_pins.h"

#include <new>

#include "store/db_handle.h"
#include "store/log.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"

namespace vorlane::engine {

void init_pins(TermPins* pins, const uint32_t** storage, int32_t capacity) {
  pins->records = storage;
  pins->capacity = storage ? capacity : 0;
  pins->used = 0;
  pins->shortage = 0;
}

namespace {

void note_shortage(TermPins* pins, idbm_db* db, const char* who) {
  if (!pins->shortage)
    log_msg(LOG_WARNING, "%s: no room for term records: %s", who, db && db->name ? db->name : "");
  pins->shortage = 1;
}

}  // namespace

const uint32_t* find_pinned(TermPins* pins, idbm_db* db, uint32_t hash1, uint32_t hash2, const char* who) {
  bool failed = false;
  const uint32_t* record = idbm_find(db, hash1, hash2, &failed);
  if (!pins) return record;
  if (failed) {
    note_shortage(pins, db, who);
    return nullptr;
  }
  if (!record) return nullptr;
  if (pins->used >= pins->capacity) {
    // Nowhere to log the pin: give it back at once and fail the run.
    unpin_record(record);
    note_shortage(pins, db, who);
    return nullptr;
  }
  pins->records[pins->used++] = record;
  return record;
}

void release_pins_to(TermPins* pins, int32_t mark) {
  if (!pins) return;
  if (mark < 0) mark = 0;
  while (pins->used > mark) unpin_record(pins->records[--pins->used]);
}

TermPinScope::TermPinScope() : storage_(new (std::nothrow) const uint32_t*[kTermPinSlots]) {
  init_pins(&pins_, storage_, kTermPinSlots);
}

TermPinScope::~TermPinScope() {
  release_pins(&pins_);
  delete[] storage_;
}

}  // namespace vorlane::engine
