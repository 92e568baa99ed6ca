// Term details of a page of hits: for each hit the query terms it holds, with
// how often each occurs in it, and the document's quality value.
//
// They come from the second merge of a query (merge_hits with merge set),
// whose output carries for each global term a block of the hits that hold
// it, each with its rescaled term score s (1..100) and the hit's quality
// value in the hit array. A term's fraction in a document is the stored
// score class for s at the term's global norm b, in units of the database's
// score increment: score_map[idx] / score_incr with idx = (s - 1) x 100 / b
// + 1, idx kept to 1..100 (a norm of 0 gives 1) and a score increment of 0
// giving 0.0.
//
// Everything here works on plain memory, without the interpreter lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/query/query_format.h"

namespace vorlane {
struct idbm_db;
}

namespace vorlane::engine {

// Term pairs shown with a query's result: at most this many.
inline constexpr int kMaxResultTerms = 40;

struct ResultTerm {
  std::string text;
  uint32_t count;  // document frequency summed over the databases
};

struct TermDetail {
  int term;         // index into the result's terms
  double fraction;
};

struct HitDetails {
  int32_t quality = 0;
  std::vector<TermDetail> terms;
};

// The first kMaxResultTerms (term, count) pairs of a checked response.
std::vector<ResultTerm> result_terms(const QueryResponseView& v);

int detail_index(int32_t s, int32_t norm);
double detail_fraction(const idbm_db* db, int32_t s, int32_t norm);

// Fills details[i] for each of the n page hits (page[i]) from the second
// merge's output v, whose hits from position first on are the page's.
// db_of maps an identifier (1..127) to its handle (null when the query has
// none). Hits the output does not hold keep quality 0 and no terms.
void collect_details(const QueryResponseView& v, uint32_t first, const Hit* page, int n,
                     idbm_db* const* db_of, HitDetails* details);

}  // namespace vorlane::engine
