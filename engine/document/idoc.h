// A document being indexed (the script type idoc): its term table in one
// arena, the classification rules its terms matched and the topics last
// computed from them.
//
// update feeds the table with explicit terms and with the terms of fields:
// each field's text is tokenised, its phrases (bit kPassPhrases) and words
// or stems (bit kPassWords) are written into fixed areas and every string
// becomes a term behind the field's name, under the name as given and under
// its lower-cased form. Each term is added as a field token (type 1), its
// conflated form (type 5), the lower-cased conflated form (type 4) and its
// lower-cased form (type 4), each only when it differs. A field named
// "checksum:" is one term: the pair its 16 hexadecimal digits give.
//
// insert compacts the table and stores the document; from then on the table
// is no longer probed, so update is refused, and a second insert is too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "linguistics/zop_handle.h"
#include "store/doc_terms.h"

namespace vorlane {
struct idbm_db;
}

namespace vorlane::engine {

struct crule_elem;

// Passes of idoc_parse_terms.
inline constexpr int kPassWords = 1;
inline constexpr int kPassPhrases = 2;

inline constexpr size_t kIdocFieldTextMax = 81919;   // bytes of a field text analysed
inline constexpr size_t kIdocTermSize = 512;         // term buffer, NUL included
inline constexpr size_t kIdocPhraseArea = 573441;
inline constexpr size_t kIdocWordArea = 163841;

// Where a document is in its life.
enum idoc_state : int {
  IDOC_OPEN = 0,       // updates accumulate
  IDOC_COMPACTED = 1,  // an insert compacted the table but stored nothing
  IDOC_INSERTED = 2,   // an insert took a docid for it
};

struct idoc_doc {
  void* arena;             // kDocArenaSize bytes (doc_terms_alloc, pooled), owns the table
  uint32_t arena_length;
  doc_terms terms;
  crule_elem* rule_hits;   // rules matched so far, null when none
  uint32_t* topics;        // 0-terminated, from the last get_topics
  int state;               // idoc_state
};

// The work areas of the fields of one update (one block per update, kept
// in a pool for the next update; none per field or term).
struct idoc_areas {
  char* phrases;  // kIdocPhraseArea bytes
  char* words;    // kIdocWordArea bytes
};

// Makes an empty document: false when the arena cannot be had.
bool idoc_doc_init(idoc_doc* doc);
// Frees the arena, the rule hits and the topics.
void idoc_doc_release(idoc_doc* doc);

bool idoc_areas_alloc(idoc_areas* areas);
void idoc_areas_free(idoc_areas* areas);

// One field of update: the text (length bytes; only the first
// kIdocFieldTextMax up to its first NUL are read, from a copy), its name, the
// weight factors a and d (every term gets a x d, bounded to 0..127), the
// stop-word flag b of the token passes, stems when c is non-zero (else
// lower-cased words), the window allowance e of the counters. passes is a
// mask of kPassWords and kPassPhrases. 0, or 1 when the table is full (the
// terms before stay).
int idoc_parse_terms(idoc_doc* doc, const char* text, size_t length, const char* name, int a, int b, int c,
                     const zop_handle& handle, int d, int e, int passes, const idoc_areas& areas);

// Adds the strings of list (NUL-terminated, ending with an empty one) behind
// prefix, with weight and window, and their conflated and lower-cased forms
// when asked. 0, or 1 when the table is full.
int parse_terms_inner(idoc_doc* doc, const char* prefix, const char* list, int weight, int window, int conflate,
                      int lower);

// The weight of a field's terms: a x d in 64 bits, bounded to what a
// frequency can hold (0..127).
int idoc_field_weight(int a, int d);

// One explicit term of update, or a field, as update hands them over.
struct idoc_term_arg {
  const char* text;
  int weight;
};
struct idoc_field_arg {
  const char* text;
  size_t length;
  const char* name;
  int a, b, c, d, e;
};

// The unlocked part of update: the terms first, then the fields, while the
// table is not full. 0, or 1 when the table was found full.
int idoc_update(idoc_doc* doc, const idoc_term_arg* terms, size_t nterms, const idoc_field_arg* fields,
                size_t nfields, const zop_handle& handle, const idoc_areas& areas);

// Records the classification rules a term matches.
void idoc_match(idoc_doc* doc, const char* term);

// What insert stores besides the terms. The five strings are writable heap
// copies that title_pack cuts in place.
struct idoc_record_args {
  char* title;
  char* summary;
  char* publisher;
  char* url;          // at most kTitleMaxUrl bytes
  char* index_terms;
  uint32_t extra;
  int32_t date;       // seconds since 1970: the record's date and the day of the date entry
  uint32_t download_date;
  uint16_t flags;
  uint16_t doctype;
  uint32_t checksum[2];
  uint8_t deletion;   // the document's byte in the deletion map
  int normalise;
  uint32_t classifications[4];  // database number << 24 | classification id; 0 when absent
};

// Would a document of nterms terms fit the database: its title in the title
// map, the icube and the term table at most three quarters used, and, once
// the database holds documents, room for every term in the table and for 20
// words a term in the icube?
bool idoc_room(const idbm_db* db, int32_t nterms);

// The unlocked part of insert: compacts the table (state IDOC_COMPACTED),
// checks the room (-1 when there is none), packs the title record and
// indexes the document with its journal record. The result of
// idbm_index_and_log: the document count, -1 when a capacity is exhausted,
// 0 when it failed. State IDOC_INSERTED once the document took a docid.
int idoc_insert(idbm_db* db, idoc_doc* doc, idoc_record_args* args);

}  // namespace vorlane::engine
