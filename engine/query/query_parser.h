// The query language and its parser.
//
// A query holds words, quoted phrases, the marks '+' (required) and '-'
// (excluded), the upper-case keywords AND, OR and NOT, and field prefixes
// ("site:", "url:", any name of letters, digits, '.', '-' and '_' followed by
// a colon; engine/query/field_prefix.h gives some of them special handling).
// ParseQuery turns one query part into the QueryTerm array of its buffers
// (engine/query/query_term.h); ParsePhrase turns one word or quoted text
// into index terms with the token passes, phrase windows and stems that
// indexing uses, and looks each one up in the database (through the run's
// pin log, engine/query/term_pins.h).
//
// Short queries of plain words get one inferred phrase of the whole query;
// queries of five or more plain words get the language's noun phrases.
//
// Messages (level 4): "%s: out of phrase space: %s", "%s: out of buffer
// space: %s", "%s: overrun input string: %s", "%s: exceeded query limit: %s",
// each with "ParseQuery" or "ParsePhrase" and the query or term text.
//
// The parser keeps no state between calls and runs without the interpreter
// lock; each query has its own buffers.
#pragma once

#include <cstdint>

#include "engine/query/query_term.h"
#include "linguistics/zop_handle.h"

namespace vorlane {
struct idbm_db;
}

namespace vorlane::engine {

// Parses the NUL-terminated query into the term area of buffers (from its
// term position, within the term, element and text rooms). Returns the number
// of terms stored, 0 when the query part gives no result; *found receives the
// stored terms that are not excluded, *missing the non-excluded terms that
// are not indexed. Sets text used, terms used and elements used (counted
// from the positions the call started at; the positions themselves are the
// caller's to move) and ends the array with an empty record. Lookups are logged in buffers->pins (when set);
// a lookup that failed for want of a slot leaves pins->shortage set and the
// result 0. Phrases are tokenised in buffers->phrase_work (one is allocated
// for the call when it is null).
int ParseQuery(idbm_db* db, const char* query, const zop_handle& handle, QueryBuffers* buffers, int32_t* found,
               int32_t* missing);

// Why ParsePhrase returned what it did.
enum class PhraseStatus {
  kDone,            // the term is filled (count 0 when it yielded nothing)
  kRequiredAbsent,  // a term marked '+' is not indexed (null returned)
  kNoRoom,          // a string did not fit in the text room (null returned)
};

// Fills the term's count, phrases, term, hash pair, record and elements from
// its source and field, writing its elements from elements (element_room
// slots) and its strings at out (out_room bytes). Returns the position after
// the strings written, or null when the term is marked '+' and not indexed,
// or when a string did not fit (*status tells which). required non-zero makes
// every element of a phrase required (user terms), 0 optional (inferred
// phrases). work is the token state and phrase area it tokenises in.
char* ParsePhrase(idbm_db* db, QueryTerm* term, QueryTerm* elements, int32_t element_room, char* out,
                  int32_t out_room, const zop_handle& handle, int required, TermPins* pins, PhraseWork* work,
                  PhraseStatus* status = nullptr);

// Logs a term record at level 0x2020 ("idbm_rec(%s): (docf %d; idbm_norm %d;
// idbm_free %d; idbm_size %d) ") and, with log bit 0x2000, its first postings
// (at most 1000) at level 0x2000.
void dump_idbm_rec(const char* name, const uint32_t* record);

// Writes the first two blank-separated words of text joined by one blank,
// "..." when more text follows them, and a NUL, within room bytes (cut short
// when they do not fit). Returns the position after the NUL, or null when
// room is below 1.
char* copy_span(char* out, int32_t room, const char* text);

}  // namespace vorlane::engine
