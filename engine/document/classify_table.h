// The classification table: a string table (store/strtab.h) from each term
// of the loaded rules to the chain of rule elements (crule.h) of the rules
// that name it, one element per (rule, term). The table's values are 1-based
// indexes into the table's element pool, never pointers.
//
// The table is global. A build replaces it while documents may be analysed
// on other threads, so every reader (match_rules, classify_field,
// classify_stats) holds a shared guard while it reads and a build holds it
// exclusively. Nobody waits for the guard while holding the interpreter
// lock: a log handler may take that lock back from inside the guard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/document/crule.h"

namespace vorlane::engine {

// One rule as a script gave it, in plain memory.
struct crule_def {
  enum Form { kRule, kWrongSize } form = kRule;  // kWrongSize: not a tuple of four items
  int64_t topic = 0;
  int64_t rule = 0;
  std::vector<std::string> positive;
  std::vector<std::string> negative;
};

enum classify_build_status { kClassifyBuilt, kClassifyCreateFailed, kClassifyInsertFailed };

struct classify_build_result {
  classify_build_status status;
  int loaded;   // rules loaded
  int counted;  // terms counted (positive and negative, of the rules not skipped)
  int stored;   // distinct terms in the table
};

// Discards the table and builds it from rules (log lines prefixed
// "py_classify_build_table"): a rule that is not a 4-tuple or whose rule id
// is above 65,535 is logged and skipped; a rule whose elements cannot be
// made is logged and left out whole; a table that cannot be made or a term
// that cannot be stored fails the build, which then leaves no table.
// estimate sizes the table (x 1.33 + 1 entries).
classify_build_result classify_build(const crule_def* rules, size_t count, int estimate);

// Whether a table is built.
bool classify_table_built();

// Merges the chain of the term (NUL-terminated; length is not used) into the
// hit list: 1, or 0 when no table is built or merging failed (logged).
int match_rules(const char* term, size_t length, crule_elem** hits);

// Cuts text (length bytes) at every blank and matches each word behind the
// prefix, the term cut to 511 bytes (a longer prefix is cut first): 1, or 0
// at the first word whose matching failed.
int classify_field(const char* prefix, size_t prefix_length, const char* text, size_t text_length,
                   crule_elem** hits);

// The table's figures: size, keys stored, insert, lookup and probe counters,
// the longest chain and the elements in all chains. False when no table is
// built.
bool classify_stats(int64_t out[7]);

}  // namespace vorlane::engine
