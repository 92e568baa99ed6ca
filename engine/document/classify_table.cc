#include "engine/document/classify_table.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <pthread.h>

#include "store/log.h"
#include "store/strtab.h"

namespace vorlane::engine {

namespace {

const char kBuild[] = "py_classify_build_table";

struct classify_table {
  strtab terms;
  std::vector<crule_elem*> pool;     // chain heads: a term's value v is pool[v - 1]
  std::vector<crule_elem**> blocks;  // crule_create's arrays, each one heap block
};

// Lives until the process ends (never destroyed, so that nothing tears it
// down under a thread still classifying at exit).
classify_table& table = *new classify_table;
std::atomic<bool> built{false};

// The guard of the table: shared for readers, exclusive for a build. A
// waiting build goes before new readers, so that documents analysed without
// pause on other threads never starve it; no reader takes it twice.
class TableGuard {
 public:
  TableGuard() {
    pthread_rwlockattr_t attr;
    pthread_rwlockattr_init(&attr);
    pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&lock_, &attr);
    pthread_rwlockattr_destroy(&attr);
  }
  void lock() { pthread_rwlock_wrlock(&lock_); }
  void unlock() { pthread_rwlock_unlock(&lock_); }
  void lock_shared() { pthread_rwlock_rdlock(&lock_); }
  void unlock_shared() { pthread_rwlock_unlock(&lock_); }

 private:
  pthread_rwlock_t lock_;
};
TableGuard guard;

struct SharedHold {
  SharedHold() { guard.lock_shared(); }
  ~SharedHold() { guard.unlock_shared(); }
};
struct ExclusiveHold {
  ExclusiveHold() { guard.lock(); }
  ~ExclusiveHold() { guard.unlock(); }
};

void discard() {
  strtab_destroy(&table.terms);
  for (crule_elem** block : table.blocks) free(block);
  table.blocks.clear();
  table.blocks.shrink_to_fit();
  table.pool.clear();
  table.pool.shrink_to_fit();
  built.store(false, std::memory_order_release);
}

const crule_elem* chain_of(uint32_t value) {
  return value && value <= table.pool.size() ? table.pool[value - 1] : nullptr;
}

// Puts the first n elements of a side of a rule at the heads of their
// terms' chains. False after "unable to insert term".
bool insert_side(crule_elem** elems, int n, const std::vector<std::string>& terms) {
  for (int j = 0; j < n && j < static_cast<int>(terms.size()); ++j) {
    const char* term = terms[j].c_str();
    if (!*term) continue;
    const uint32_t old = strtab_lookup(&table.terms, term);
    elems[j]->next = const_cast<crule_elem*>(chain_of(old));
    table.pool.push_back(elems[j]);
    const uint32_t value = static_cast<uint32_t>(table.pool.size());
    const bool ok = old ? strtab_replace(&table.terms, term, value) != 0
                        : strtab_insert(&table.terms, term, value) != 0;
    if (!ok) {
      log_msg(LOG_ERROR, "%s: unable to insert term \"%s\"", kBuild, term);
      return false;
    }
  }
  return true;
}

uint32_t table_size_for(int estimate) {
  const double size = estimate * 1.33 + 1.0;
  return size < 0 ? 0 : size > 4294967295.0 ? 4294967295u : static_cast<uint32_t>(size);
}

}  // namespace

classify_build_result classify_build(const crule_def* rules, size_t count, int estimate) {
  classify_build_result r{kClassifyBuilt, 0, 0, 0};
  log_msg(LOG_INFO, "%s: processing %d rules, %d terms (estimated)", kBuild, static_cast<int>(count), estimate);
  ExclusiveHold hold;
  if (built.load(std::memory_order_relaxed)) discard();

  const uint32_t size = table_size_for(estimate);
  if (!strtab_create(&table.terms, size)) {
    log_msg(LOG_ERROR, "%s: creating hashtable of %d elements failed", kBuild, static_cast<int>(size));
    discard();
    r.status = kClassifyCreateFailed;
    return r;
  }
  try {
    for (size_t i = 0; i < count; ++i) {
      const crule_def& s = rules[i];
      if (s.form == crule_def::kWrongSize) {
        log_msg(LOG_ERROR, "%s: wrong size tuple for rule, i = %d", kBuild, static_cast<int>(i));
        continue;
      }
      const uint32_t topic = static_cast<uint32_t>(s.topic);
      if (s.rule > 65535) {
        log_msg(LOG_ERROR, "%s: topic %d, rule_id too big (%d), skipped", kBuild, static_cast<int>(topic),
                static_cast<int>(s.rule));
        continue;
      }
      const uint16_t rule = static_cast<uint16_t>(s.rule);
      const int npos = static_cast<int>(std::min<size_t>(s.positive.size(), INT32_MAX));
      const int nneg = static_cast<int>(std::min<size_t>(s.negative.size(), INT32_MAX));
      r.counted += npos + nneg;

      // Both sides are made before either goes into the table, so that a rule
      // whose negative side cannot be made never fires without it.
      int np = npos, nn = nneg;
      crule_elem** pos = nullptr;
      crule_elem** neg = nullptr;
      if (npos > 0) {
        pos = crule_create(topic, rule, &np, 1);
        if (!pos) {
          log_msg(LOG_ERROR, "%s: couldn't create crule_elems for positive terms in topic %d, rule %d", kBuild,
                  static_cast<int>(topic), rule);
          continue;
        }
        table.blocks.push_back(pos);
      }
      if (nneg > 0) {
        neg = crule_create(topic, rule, &nn, 0);
        if (!neg) {
          log_msg(LOG_ERROR, "%s: couldn't create crule_elems for negative terms in topic %d, rule %d", kBuild,
                  static_cast<int>(topic), rule);
          continue;  // the positive block is freed with the table
        }
        table.blocks.push_back(neg);
      }
      if ((pos && !insert_side(pos, np, s.positive)) || (neg && !insert_side(neg, nn, s.negative))) {
        discard();
        r.status = kClassifyInsertFailed;
        return r;
      }
      r.loaded++;
    }
  } catch (const std::bad_alloc&) {
    log_msg(LOG_ERROR, "%s: unable to insert term \"%s\"", kBuild, "");
    discard();
    r.status = kClassifyInsertFailed;
    return r;
  }
  r.stored = static_cast<int>(table.terms.count);
  built.store(true, std::memory_order_release);
  return r;
}

bool classify_table_built() { return built.load(std::memory_order_acquire); }

int match_rules(const char* term, size_t /*length*/, crule_elem** hits) {
  // Without a table there is nothing to match: no need to take the guard,
  // whose shared count every term of every document would otherwise write.
  if (!built.load(std::memory_order_acquire)) return 0;
  bool merged;
  {
    SharedHold hold;
    if (!built.load(std::memory_order_relaxed)) return 0;
    const crule_elem* chain = chain_of(strtab_lookup(&table.terms, term));
    if (!chain) return 1;
    merged = crule_addmany(hits, chain) != 0;
  }
  if (merged) return 1;
  log_msg(LOG_WARNING, "%s: crule_addmany failed for %s", "match_rules", term);
  return 0;
}

int classify_field(const char* prefix, size_t prefix_length, const char* text, size_t text_length,
                   crule_elem** hits) {
  constexpr size_t kTerm = 512;
  char term[kTerm];
  const size_t p = prefix_length < kTerm - 1 ? prefix_length : kTerm - 1;
  if (p) memcpy(term, prefix, p);
  size_t at = 0;
  for (;;) {
    const void* blank = at < text_length ? memchr(text + at, ' ', text_length - at) : nullptr;
    const size_t end = blank ? static_cast<size_t>(static_cast<const char*>(blank) - text) : text_length;
    const size_t room = kTerm - 1 - p;
    const size_t n = end - at < room ? end - at : room;
    if (n) memcpy(term + p, text + at, n);
    term[p + n] = '\0';
    if (!match_rules(term, p + n, hits)) return 0;
    if (!blank) return 1;
    at = end + 1;
  }
}

bool classify_stats(int64_t out[7]) {
  SharedHold hold;
  if (!built.load(std::memory_order_relaxed)) return false;
  int64_t longest = 0, total = 0;
  for (uint32_t i = 0; i < table.terms.size; ++i) {
    int64_t n = 0;
    for (const crule_elem* e = chain_of(table.terms.entries[i].value); e; e = e->next) ++n;
    longest = n > longest ? n : longest;
    total += n;
  }
  out[0] = table.terms.size;
  out[1] = table.terms.count;
  out[2] = table.terms.inserts;
  out[3] = table.terms.lookups.load(std::memory_order_relaxed);
  out[4] = table.terms.probes.load(std::memory_order_relaxed);
  out[5] = longest;
  out[6] = total;
  return true;
}

}  // namespace vorlane::engine
