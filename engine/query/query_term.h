// The parsed form of a query text: QueryTerm records and the work areas of one
// query on one database (QueryBuffers).
//
// ParseQuery (engine/query/query_parser.h) fills the term area with one
// QueryTerm per word, quoted phrase or field value of the query, plus the
// phrases it infers; an array of QueryTerm ends at the first record whose
// count is 0. A phrase term's elements are QueryTerm records of count 1 in
// the element area, ended by one of count 0. Every string of the parse lives
// in the text area; nothing is allocated.
//
// The parse areas belong to one call (ParseAreaBlock): the call that runs a
// query gives them, so that another query started meanwhile on the same
// thread (from a log handler) or on another thread never touches them. They
// are kept off the stack, which may be a small one of a script thread.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/analysis/parse_state.h"

namespace vorlane::engine {

struct HitHeap;
struct PhraseWork;
struct TermPins;

// Sizes of the parse areas the per-database execution gives a query.
inline constexpr int32_t kQueryTextBytes = 16272;
inline constexpr int32_t kQueryTermSlots = 80;      // one kept for the terminator
inline constexpr int32_t kQueryElementSlots = 160;
// The fixed token state and phrase area of ParsePhrase (they never grow).
inline constexpr int32_t kPhraseTokenSlots = 4068;
inline constexpr int32_t kPhraseAreaBytes = 4068;

// Marks.
inline constexpr char kMarkOptional = ' ';
inline constexpr char kMarkRequired = '+';
inline constexpr char kMarkExcluded = '-';

struct QueryTerm {
  char mark;              // ' ' optional, '+' required, '-' excluded
  const char* field;      // the field prefix with its colon ("site:"), or ""
  int32_t count;          // 1: one index term; n >= 2: a phrase of n elements;
                          // 0: ends an array (or a term that yielded nothing)
  int32_t phrases;        // phrase strings its text produced (1 for a literal value)
  const char* source;     // the text as the query gave it (a quoted phrase with its quotes)
  const char* term;       // the index term: field prefix followed by the token text
  const char* display;    // shown in the term statistics: mark unless ' ', field, text;
                          // a short label for inferred phrases
  int32_t stop;           // 1 when a one-term entry's source is a stop word
  const char* position;   // where the term began in the query (before its mark)
  uint32_t hash1, hash2;  // the term's hash pair
  const uint32_t* record; // the database's term record (pinned), null when not indexed
  QueryTerm* elements;    // a phrase term's first element, else null
};

// The work areas of one query on one database, passed on by value. Bases and
// positions are pointers; sizes, capacities, rooms and used amounts are
// counts in the area's unit. The parser writes from the text, term and
// element positions within their rooms and stores the amounts used;
// evaluation moves the positions between query parts.
struct QueryBuffers {
  // 1-2: room for hit lists, in HitHeap entries.
  HitHeap* heap;
  int32_t heap_left;
  // 3-7: room for derived term records, in 32-bit words.
  uint32_t* list_base;
  int32_t list_size;
  uint32_t* list_position;
  int32_t list_room;
  int32_t list_used;
  // 8-12: bytes for every string of the parse.
  char* text_base;
  int32_t text_size;
  char* text_position;
  int32_t text_room;
  int32_t text_used;
  // 13-17: QueryTerm slots for the query's terms.
  QueryTerm* term_base;
  int32_t term_capacity;
  QueryTerm* term_position;
  int32_t term_room;
  int32_t terms_used;
  // 18-22: QueryTerm slots for phrase elements.
  QueryTerm* element_base;
  int32_t element_capacity;
  QueryTerm* element_position;
  int32_t element_room;
  int32_t elements_used;
  // The run's pin log (engine/query/term_pins.h): every term record the
  // parse looks up is logged here and released when the run ends. Not a
  // work area: every copy of the buffers shares the one log.
  TermPins* pins;
  // The token state and phrase area ParsePhrase works in, shared likewise;
  // null makes each ParseQuery call take its own.
  PhraseWork* phrase_work;
};

// ParsePhrase's fixed token state and phrase area (they never grow).
struct PhraseWork {
  ParseToken tokens[kPhraseTokenSlots];
  char area[kPhraseAreaBytes];
};

// The parse areas of one query run in one block.
struct ParseAreaBlock {
  char text[kQueryTextBytes];
  QueryTerm terms[kQueryTermSlots];
  QueryTerm elements[kQueryElementSlots];
  PhraseWork phrase;
};

// Clears the text, term and element areas of the block and gives them, with
// its phrase work, to b: bases and positions at their starts, full rooms,
// nothing used.
inline void give_parse_areas(QueryBuffers* b, ParseAreaBlock* block) {
  std::memset(block->text, 0, sizeof block->text);
  std::memset(static_cast<void*>(block->terms), 0, sizeof block->terms);
  std::memset(static_cast<void*>(block->elements), 0, sizeof block->elements);
  b->text_base = b->text_position = block->text;
  b->text_size = b->text_room = kQueryTextBytes;
  b->text_used = 0;
  b->term_base = b->term_position = block->terms;
  b->term_capacity = b->term_room = kQueryTermSlots;
  b->terms_used = 0;
  b->element_base = b->element_position = block->elements;
  b->element_capacity = b->element_room = kQueryElementSlots;
  b->elements_used = 0;
  b->phrase_work = &block->phrase;
}

// Takes back, as a call that gave a run its areas returns, the pin log and
// the phrase work it lent the buffers.
struct LentAreasRelease {
  QueryBuffers* b;
  ~LentAreasRelease() {
    b->pins = nullptr;
    b->phrase_work = nullptr;
  }
};

// Puts the list, text, term and element areas back at their bases, empty, as
// a query evaluation starts.
inline void rewind_query_areas(QueryBuffers& b) {
  b.list_position = b.list_base;
  b.list_room = b.list_size;
  b.list_used = 0;
  b.text_position = b.text_base;
  b.text_room = b.text_size;
  b.text_used = 0;
  b.term_position = b.term_base;
  b.term_room = b.term_capacity;
  b.terms_used = 0;
  b.element_position = b.element_base;
  b.element_room = b.element_capacity;
  b.elements_used = 0;
}

}  // namespace vorlane::engine
