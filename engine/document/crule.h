// Rule elements of the classification rules and the rule-hit lists built
// from them.
//
// A rule belongs to a topic and lists positive terms, all of which must
// occur in a document, and negative terms, none of which may occur. A rule
// with P positive terms (at most 64) gives P positive elements, element j
// with positive mask bit j OR every bit from P to 63; its N negative terms
// give N negative elements, element j with negative mask bit j. The OR of
// all P positive masks is all ones, of fewer it is not. A document's hit
// list holds at most one element per (topic id, rule id), into which the
// masks of every element it matched are OR-ed: a rule fires when its
// positive mask is all ones and its negative mask is still zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vorlane::engine {

inline constexpr int kMaxRuleTerms = 64;
inline constexpr uint64_t kAllOnes = ~uint64_t{0};

struct crule_elem {
  uint64_t positive;  // positive mask
  uint64_t negative;  // negative mask
  uint32_t topic;     // topic id; 0 is not a usable topic (it ends topic lists)
  crule_elem* next;   // in the rule table: the next rule naming the same term;
                      // in a hit list: the next hit
  uint16_t rule;      // rule id
};

// The allocator of element blocks and hit copies (malloc; tests make it
// fail). Blocks and copies are released with free().
extern void* (*crule_alloc)(size_t bytes);

// The elements of one side of a rule: count elements (cut to 64, with the
// line "crule_create: truncated %d elems to %d"), each with topic, rule and
// its mask, next null. The result is an array of *count element pointers
// in one heap block with the elements (free it with free()); null when count
// is 0 ("crule_create: called with no terms") or memory ran out.
crule_elem** crule_create(uint32_t topic, uint16_t rule, int* count, int positive);

// The masks of element j of a side of n elements (n in 1..64).
uint64_t crule_positive_mask(int j, int n);
uint64_t crule_negative_mask(int j);

// Merges a copy of e into the hit list *hits: OR-ed into the hit of the
// same (topic id, rule id), else appended at the end. 0 when hits is null or
// memory ran out (logged), 1 otherwise (also for a null e).
int crule_add(crule_elem** hits, const crule_elem* e);
// crule_add of every element of a chain, in order; the first failure ends
// it with 0.
int crule_addmany(crule_elem** hits, const crule_elem* chain);

// The topic ids of the fired rules of a hit list, each once, in list order,
// followed by 0, as a heap array (free it with free()); null when memory ran
// out. A fired rule of topic 0 cannot be told from the end of the list and is
// left out.
uint32_t* crule_topics(const crule_elem* hits);

// Frees every element of a hit list.
void crule_free_hits(crule_elem* hits);

// Writes every element of a chain (topic, rule and the low 32 bits of the
// masks) to stream; a debugging aid.
void crule_dump(const crule_elem* chain, FILE* stream);

}  // namespace vorlane::engine
