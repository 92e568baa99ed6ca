// The pin log of one query run on one database.
//
// idbm_find returns term records pinned, so that the slot holding a record is
// not recycled while the query still reads it. Every record a run looks up
// goes through find_pinned, which logs the pin; the run releases them all
// when it ends, on every path (TermPinScope), including the records the parse
// dropped on the way (a term replaced by one element of its phrase, a
// required phrase that collapsed, an unstored term). A part after "||"
// rewrites the parse areas from where the previous part began: the pins taken
// since that part's mark are released first (release_pins_to).
//
// A lookup that fails for want of a slot (every slot of the arena that fits
// the record is pinned, or busy) is not an absent term: find_pinned sets
// shortage, and the run must be reported as failed, never as a query that
// matched nothing. Records of a database open for indexing are not in slots
// and carry no pin; logging and releasing them is harmless.
//
// The storage is the caller's; nothing here allocates. A log belongs to one
// run on one thread.
#pragma once

#include <cstdint>

namespace vorlane {
struct idbm_db;
}

namespace vorlane::engine {

// Records one run can hold: every lookup between two rewinds writes its term
// string (at least two bytes) into the text area first, so a run never needs
// more than half the text area's bytes.
inline constexpr int32_t kTermPinSlots = 8192;

struct TermPins {
  const uint32_t** records;  // the caller's storage
  int32_t capacity;          // entries in records
  int32_t used;              // pins logged and not yet released
  int32_t shortage;          // 1 once a lookup failed for want of a slot
};

// A log over storage of capacity entries, empty.
void init_pins(TermPins* pins, const uint32_t** storage, int32_t capacity);

// idbm_find with the pin logged. Null when the term is absent or the lookup
// failed; a failure (no free slot, a full log, a damaged term file) sets
// shortage and is logged once per run ("%s: no room for term records: %s"
// with the caller's name and the database's). With pins null the record is
// looked up unlogged (the caller then owns its pin).
const uint32_t* find_pinned(TermPins* pins, idbm_db* db, uint32_t hash1, uint32_t hash2,
                            const char* who = "ParsePhrase");

// The log's current mark (the number of pins held).
inline int32_t pins_mark(const TermPins* pins) { return pins ? pins->used : 0; }

// Releases the pins taken since mark, newest first.
void release_pins_to(TermPins* pins, int32_t mark);

// Releases every pin of the log; the shortage flag stays until init_pins.
inline void release_pins(TermPins* pins) { release_pins_to(pins, 0); }

// Holds a log over its own storage for one run and releases every pin when
// it goes out of scope.
class TermPinScope {
 public:
  TermPinScope();
  ~TermPinScope();
  TermPinScope(const TermPinScope&) = delete;
  TermPinScope& operator=(const TermPinScope&) = delete;
  TermPins* get() { return &pins_; }

 private:
  TermPins pins_;
  const uint32_t** storage_;
};

}  // namespace vorlane::engine
