#include "engine/document/crule.h"

#include <cstdlib>

#include "store/log.h"

namespace vorlane::engine {

void* (*crule_alloc)(size_t bytes) = malloc;

uint64_t crule_positive_mask(int j, int n) {
  // Bits n..63 are set for every element; with n = 64 there are none.
  const uint64_t high = n >= kMaxRuleTerms ? 0 : kAllOnes << n;
  return (uint64_t{1} << j) | high;
}

uint64_t crule_negative_mask(int j) { return uint64_t{1} << j; }

crule_elem** crule_create(uint32_t topic, uint16_t rule, int* count, int positive) {
  int n = *count;
  if (n <= 0) {
    log_msg(LOG_WARNING, "crule_create: called with no terms");
    *count = 0;
    return nullptr;
  }
  if (n > kMaxRuleTerms) {
    log_msg(LOG_WARNING, "%s: truncated %d elems to %d", "crule_create", n, kMaxRuleTerms);
    n = kMaxRuleTerms;
  }
  const size_t bytes = static_cast<size_t>(n) * (sizeof(crule_elem*) + sizeof(crule_elem));
  void* block = crule_alloc(bytes);
  if (!block) {
    log_msg(LOG_ERROR, "%s: malloc for %d bytes failed", "crule_create", static_cast<int>(bytes));
    return nullptr;
  }
  auto** array = static_cast<crule_elem**>(block);
  auto* elems = reinterpret_cast<crule_elem*>(array + n);
  for (int j = 0; j < n; ++j) {
    elems[j] = crule_elem{positive ? crule_positive_mask(j, n) : 0, positive ? 0 : crule_negative_mask(j), topic,
                          nullptr, rule};
    array[j] = &elems[j];
  }
  *count = n;
  return array;
}

int crule_add(crule_elem** hits, const crule_elem* e) {
  if (!hits) return 0;
  if (!e) return 1;
  crule_elem** tail = hits;
  for (crule_elem* h = *hits; h; h = h->next) {
    if (h->topic == e->topic && h->rule == e->rule) {
      h->positive |= e->positive;
      h->negative |= e->negative;
      return 1;
    }
    tail = &h->next;
  }
  auto* copy = static_cast<crule_elem*>(crule_alloc(sizeof(crule_elem)));
  if (!copy) {
    log_msg(LOG_ERROR, "%s: malloc for %d bytes failed", "crule_create", static_cast<int>(sizeof(crule_elem)));
    return 0;
  }
  *copy = *e;
  copy->next = nullptr;
  *tail = copy;
  return 1;
}

int crule_addmany(crule_elem** hits, const crule_elem* chain) {
  for (const crule_elem* e = chain; e; e = e->next)
    if (!crule_add(hits, e)) return 0;
  return 1;
}

uint32_t* crule_topics(const crule_elem* hits) {
  size_t n = 0;
  for (const crule_elem* h = hits; h; h = h->next) ++n;
  auto* topics = static_cast<uint32_t*>(malloc((n + 1) * sizeof(uint32_t)));
  if (!topics) return nullptr;
  size_t k = 0;
  for (const crule_elem* h = hits; h; h = h->next) {
    if (h->positive != kAllOnes || h->negative != 0 || h->topic == 0) continue;
    bool seen = false;
    for (size_t i = 0; i < k && !seen; ++i) seen = topics[i] == h->topic;
    if (!seen) topics[k++] = h->topic;
  }
  topics[k] = 0;
  return topics;
}

void crule_free_hits(crule_elem* hits) {
  while (hits) {
    crule_elem* next = hits->next;
    free(hits);
    hits = next;
  }
}

void crule_dump(const crule_elem* chain, FILE* stream) {
  if (!stream) {
    log_msg(LOG_WARNING, "crule_dump: file descriptor is null pointer");
    return;
  }
  for (const crule_elem* e = chain; e; e = e->next) {
    fprintf(stream, "topic-id: %u\n", e->topic);
    fprintf(stream, "rule-id:  %hu\n", e->rule);
    fprintf(stream, "pos:      0x%08x\n", static_cast<unsigned>(e->positive & 0xFFFFFFFFu));
    fprintf(stream, "neg:      0x%08x\n", static_cast<unsigned>(e->negative & 0xFFFFFFFFu));
  }
}

}  // namespace vorlane::engine
