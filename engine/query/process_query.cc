#include "engine/query/process_query.h"

#include <cstring>

#include "engine/query/query_parser.h"
#include "engine/query/query_transform.h"
#include "engine/query/term_pins.h"
#include "engine/module/sorn_module.h"
#include "store/cclass.h"
#include "store/db_handle.h"
#include "store/log.h"

namespace vorlane::engine {

namespace {

bool blank(const char* s) {
  while (*s && c_isspace(static_cast<unsigned char>(*s))) ++s;
  return *s == 0;
}

// Where a part's parse areas began.
struct PartStart {
  char* text;
  int32_t text_room;
  QueryTerm* term;
  int32_t term_room;
  QueryTerm* element;
  int32_t element_room;
  int32_t pins;
};

PartStart part_start(const QueryBuffers& b) {
  return {b.text_position, b.text_room, b.term_position, b.term_room, b.element_position, b.element_room,
          pins_mark(b.pins)};
}

void rewind_to(QueryBuffers* b, const PartStart& s) {
  b->text_position = s.text;
  b->text_room = s.text_room;
  b->term_position = s.term;
  b->term_room = s.term_room;
  b->element_position = s.element;
  b->element_room = s.element_room;
  release_pins_to(b->pins, s.pins);
}

// The areas continue after what the previous part used.
void continue_after(QueryBuffers* b) {
  b->text_position += b->text_used;
  b->text_room -= b->text_used;
  b->term_position += b->terms_used;
  b->term_room -= b->terms_used;
  b->element_position += b->elements_used;
  b->element_room -= b->elements_used;
}

// Puts back the first '|' of every separator cut so far, so that the text
// reads as the query was given (length: its length before the cuts).
void restore_separators(char* text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (text[i] == '\0') text[i] = '|';
}

HitHeap* no_result(HitHeap* result) {
  hit_size(result) = 0;
  return nullptr;
}

}  // namespace

HitHeap* ProcessQuery(idbm_db* db, char* text, int32_t wanted, uint32_t mode, uint32_t window_low,
                      uint32_t window_high, const zop_handle& handle, QueryBuffers b, EvalStats* stats,
                      int use_transforms) {
  if (stats->documents == 0) stats->documents = db->ndocs;
  const uint32_t m = max_hits;
  const int64_t entries = static_cast<int64_t>(hit_area_entries(m));
  if (!b.heap || b.heap_left < entries) {
    log_msg(LOG_ERROR, "ProcessQuery: no room for the result list (%d entries)", b.heap_left);
    return nullptr;
  }
  if (wanted < 1) wanted = 1;
  if (static_cast<uint32_t>(wanted) > m) wanted = static_cast<int32_t>(m);
  HitHeap* result = b.heap;
  hit_base(result) = 0;
  hit_size(result) = m;
  b.heap += entries;
  b.heap_left -= static_cast<int32_t>(entries);
  rewind_query_areas(b);

  const uint64_t window = uint64_t{window_low} | (uint64_t{window_high} << 32);
  const DeletionMap delmap{static_cast<const uint8_t*>(db->del.address), db->del.address ? db->del.size : 0};
  const DateMap datemap{static_cast<const din_entry*>(db->din.address), db->din.address ? db->din.size : 0};

  while (*text && c_isspace(static_cast<unsigned char>(*text))) ++text;
  if (!*text) return no_result(result);
  char* const full = text;
  const size_t full_length = strlen(full);

  char* part = text;
  bool first = true;
  bool in_document_order = false;  // the result is a part evaluated for a refinement
  bool after_double = false;
  PartStart previous{};
  for (;;) {
    // The part ends at the next '|'; a refinement follows when anything but
    // white space and '|' comes after it.
    char* bar = strchr(part, '|');
    char* next = nullptr;
    bool double_bar = false;
    if (bar) {
      double_bar = bar[1] == '|';
      next = bar + 1;
      while (*next && (*next == '|' || c_isspace(static_cast<unsigned char>(*next)))) ++next;
      *bar = '\0';
    }
    const bool refinement = next && *next;
    if (blank(part)) {
      if (first) hit_size(result) = 0;
      break;
    }
    if (!first) {
      if (after_double) {
        for (uint32_t i = 1; i <= hit_size(result); ++i) result[i].score = 0;
        rewind_to(&b, previous);
      } else {
        continue_after(&b);
      }
      b.text_used = b.terms_used = b.elements_used = 0;
      // A refinement needs a free term slot besides the terminator's.
      const char* out_of = b.element_room <= 0 ? "phrase"
                           : b.term_room <= 1  ? "query"
                           : b.text_room <= 0  ? "term"
                           : b.list_room <= 0  ? "list"
                                               : nullptr;
      if (out_of) {
        // The part runs to its own separator, or to the end.
        const int part_length = static_cast<int>(bar ? bar - part : strlen(part));
        restore_separators(full, full_length);
        log_msg(LOG_ERROR, "Out of %s buffer space in refinement. full query: '%s'. refining with '%.*s'.", out_of,
                full, part_length, part);
        break;
      }
    }
    previous = part_start(b);

    const char* query = part;
    if (use_transforms) {
      if (const QueryTransform* t = apply_query_transform(part, mode)) {
        const size_t length = strnlen(t->replacement, sizeof t->replacement);
        if (static_cast<int64_t>(length) + 1 <= b.text_room) {
          memcpy(b.text_position, t->replacement, length);
          b.text_position[length] = '\0';
          query = b.text_position;
          b.text_position += length + 1;
          b.text_room -= static_cast<int32_t>(length + 1);
          log_msg(LOG_INFO, "transforming query %s to %s\n", part, query);
          mode = t->new_mode;
        } else {
          log_msg(LOG_INFO, "transforming query %s: no room for its replacement\n", part);
        }
      }
    }

    int32_t found = 0, missing = 0;
    if (ParseQuery(db, query, handle, &b, &found, &missing) == 0) return no_result(result);
    if (evalquery(&b, 1, refinement ? 1 : 0, first ? 0 : 1, refinement ? static_cast<int32_t>(m) : wanted, delmap,
                  mode, datemap, window, stats, result) == 0) {
      return no_result(result);
    }
    in_document_order = refinement;
    if (!refinement) break;
    // Text used counts from the part's own start, a replacement included.
    b.text_used += static_cast<int32_t>(b.text_position - previous.text);
    b.text_position = previous.text;
    b.text_room = previous.text_room;
    first = false;
    after_double = double_bar;
    part = next;
  }
  if (in_document_order) {
    // The refinement was not evaluated: the best hits of the part before it,
    // best first, from a copy in the work room.
    HitHeap* work = b.heap;
    copy_hits(result, work);
    hit_base(result) = 0;
    hit_size(result) = hit_size(work) < static_cast<uint32_t>(wanted) ? hit_size(work) : static_cast<uint32_t>(wanted);
    select_top(work, result);
  }
  const uint32_t before = hit_size(result);
  const uint32_t kept = compact_hits(result, 1);
  if (kept < before) stats->total = static_cast<int32_t>(kept);
  return result;
}

}  // namespace vorlane::engine
