// A document's index terms: the words that best characterise it, ranked by
// term frequency times inverse document frequency, with the document
// frequencies taken from the database's catalog. The result (at most 510
// bytes, blank-separated) goes into the title record.
#pragma once

#include <cstdint>

#include "linguistics/zop_handle.h"

namespace vorlane {
struct doc_terms;
struct idbm_db;
}  // namespace vorlane

namespace vorlane::engine {

inline constexpr int kIndexTermsSize = 512;   // the result with its NUL
inline constexpr int kMaxTitleWords = 50;     // "title:" terms remembered

// A candidate: a term's text (in the table's pool) and its score.
struct term_score {
  const char* text;
  int32_t score;
};

// The index terms of table by the named algorithm; "tf.idf" is the only
// one. A heap string (free it with free()), or null after an error line
// (unknown algorithm, no memory). name labels the log lines; number and
// handle are not used.
char* extract_index_terms(const char* name, int number, const idbm_db* catalog, const doc_terms* table,
                          const zop_handle& handle, const char* algorithm);

// The tf.idf selection. Candidates are the table's terms of types 1, 2 and 5
// without a ':' (so without a field prefix), other than "???" and other than
// a word that is also a "title:" term (ignoring case; the first 50 "title:"
// terms in cell order count). Each scores frequency x weight, the weight
// being idf_scale of its catalog document frequency (1 when absent) scaled
// by percent_table[raw_score[frequency]] when that row is below 100, and at
// least 1. From the highest score down, a text equal (ignoring case) to one
// already passed is skipped, and the texts are joined until the next would
// bring the result's length plus its own plus 2 to 512.
char* extract_index_terms_tfidf(const char* name, int number, const idbm_db* catalog, const doc_terms* table);

// Sorts by ascending score with the Shell sort whose gaps go g = (5g - 1) /
// 11 (1 below 5), inserting from the back; its order of equal scores
// decides which of two equal candidates is taken.
void sort_term_scores(term_score* pairs, int n);

}  // namespace vorlane::engine
