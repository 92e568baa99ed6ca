#include "store/doc_terms.h"

#include <cstring>
#include <initializer_list>

#include "store/block_pool.h"
#include "store/log.h"
#include "store/score_tables.h"

namespace vorlane {

namespace {

const char kUnknownText[] = "???";

// Frequency traces are written only when both bits are set in the log mask.
bool tracing() {
  constexpr uint32_t kBits = LOG_FREQUENCY | LOG_POSTINGS;
  return (log_mask.load(std::memory_order_relaxed) & kBits) == kBits;
}

// Counter index of a type's distinct terms (its occurrences are 5 further);
// -1 for types outside 1..5.
int type_slot(int type) {
  switch (type) {
    case 1: return DT_DISTINCT_1;
    case 2: return DT_DISTINCT_2;
    case 3: return DT_DISTINCT_3;
    case 5: return DT_DISTINCT_5;
    case 4: return DT_DISTINCT_4;
    default: return -1;
  }
}

// The cell of a pair, or of the first empty cell on its way; -1 when the
// walk came back to its first cell.
int find_cell(const doc_terms* t, uint32_t hash1, uint32_t hash2) {
  if (t->size <= 0) return -1;
  const int start = static_cast<int>(hash1 % static_cast<uint32_t>(t->size));
  int i = start;
  do {
    const hash_pair& p = t->pairs[i];
    if (p.hash1 == 0 || (p.hash1 == hash1 && p.hash2 == hash2)) return i;
    if (++i == t->size) i = 0;
  } while (i != start);
  return -1;
}

const char* shown(const char* text) { return text ? text : ""; }

// A standard table's block: the arena, then its bookkeeping.
constexpr size_t kDocBlockSize = kDocArenaSize + sizeof(doc_terms_book);

// Free blocks kept for the next documents: a few threads' worth.
block_pool& arena_pool() {
  static block_pool& pool = *new block_pool(kDocBlockSize, 4);
  return pool;
}

doc_terms_book* book_of(void* arena) {
  return reinterpret_cast<doc_terms_book*>(static_cast<char*>(arena) + kDocArenaSize);
}

// Notes a cell in a list of the book, once; a list that would overflow
// (a counter wrapped back to 0) stands for every cell from then on.
void note(uint32_t* list, uint32_t* count, int cell) {
  if (*count < static_cast<uint32_t>(kDocTermCells))
    list[(*count)++] = static_cast<uint32_t>(cell);
  else
    *count = kDocTermCells + 1u;
}

bool overflowed(uint32_t count) { return count > static_cast<uint32_t>(kDocTermCells); }

// Every field of one cell back to zero.
void clear_cell(const doc_terms& t, uint32_t i) {
  t.pairs[i] = hash_pair{};
  t.freqs[i] = 0;
  t.raw[i] = t.window[i] = t.deductions[i] = t.texts[i] = t.types[i] = 0;
}

// Cleans the cells a standard table used, so that its arena is again as a
// fresh one: the front cells that compaction wrote, array by array, and the
// cells counted, one by one when they are few (a cell lies on seven cache
// lines), else the whole cell area at once.
void clean_arena(void* arena) {
  doc_terms_book* book = book_of(arena);
  if (overflowed(book->touched_count) || book->touched_count > kDocTermCells / 16) {
    memset(arena, 0, kDocArenaSize - kDocTextPoolSize);
  } else {
    doc_terms view;
    doc_terms_carve(&view, arena, kDocTermCells, kDocTextPoolSize);
    if (const size_t n = book->moved) {
      memset(view.pairs, 0, n * sizeof(hash_pair));
      memset(view.freqs, 0, n);
      for (uint32_t* a : {view.raw, view.window, view.deductions, view.texts, view.types})
        memset(a, 0, n * sizeof(uint32_t));
    }
    for (uint32_t k = 0; k < book->touched_count; ++k) clear_cell(view, book->touched[k]);
  }
  book->touched_count = book->window_count = book->moved = 0;
}

}  // namespace

void doc_terms_carve(doc_terms* t, void* arena, int32_t cells, size_t pool_size) {
  const size_t n = static_cast<size_t>(cells);
  char* at = static_cast<char*>(arena);
  *t = doc_terms{};
  t->pairs = reinterpret_cast<hash_pair*>(at);
  at += n * sizeof(hash_pair);
  t->freqs = reinterpret_cast<uint8_t*>(at);
  at += n;
  t->raw = reinterpret_cast<uint32_t*>(at);
  at += n * 4;
  t->window = reinterpret_cast<uint32_t*>(at);
  at += n * 4;
  t->deductions = reinterpret_cast<uint32_t*>(at);
  at += n * 4;
  t->texts = reinterpret_cast<uint32_t*>(at);
  at += n * 4;
  t->types = reinterpret_cast<uint32_t*>(at);
  at += n * 4;
  t->pool = t->pool_cursor = at;
  t->pool_end = at + pool_size;
  t->size = t->cells = cells;
}

void* doc_terms_alloc(doc_terms* table) {
  void* arena = block_pool_take(&arena_pool());
  if (!arena) return nullptr;
  doc_terms_carve(table, arena, kDocTermCells, kDocTextPoolSize);
  table->book = book_of(arena);
  return arena;
}

void doc_terms_free(void* arena) {
  if (!arena) return;
  clean_arena(arena);
  block_pool_give(&arena_pool(), arena);
}

int idbm_incr(doc_terms* t, uint32_t hash1, uint32_t hash2, int incr, int window,
              const char* text, int type) {
  const int i = find_cell(t, hash1, hash2);
  if (i < 0) return 0;

  if (doc_terms_book* book = t->book) {
    if (t->raw[i] == 0) note(book->touched, &book->touched_count, i);
    if (t->window[i] == 0) note(book->window_touched, &book->window_count, i);
  }
  t->window[i]++;
  t->raw[i]++;
  const int slot = type_slot(type);
  if (slot >= 0) t->counters[slot + 5]++;

  const int64_t reduced = static_cast<int64_t>(incr) - t->deductions[i];
  int add = reduced < 0 ? 0 : reduced > INT32_MAX ? INT32_MAX : static_cast<int>(reduced);

  if (t->pairs[i].hash1 == 0) {
    if (add <= 0) return 1;  // not stored; the counters stay raised in the empty cell
    if (add > kMaxTermFreq) {
      if (tracing()) log_msg(LOG_FREQUENCY, "%s: bad incr (%d).", "idbm_incr", add);
      add = kMaxTermFreq;
    }
    t->pairs[i] = hash_pair{hash1, hash2};
    t->freqs[i] = static_cast<uint8_t>(add);
    const char* s = shown(text);
    const size_t need = strlen(s) + 1;
    if (need <= static_cast<size_t>(t->pool_end - t->pool_cursor)) {
      memcpy(t->pool_cursor, s, need);
      t->texts[i] = static_cast<uint32_t>(t->pool_cursor - t->pool);
      t->pool_cursor += need;
    } else {
      t->texts[i] = kDocTextUnknown;
    }
    t->types[i] = static_cast<uint32_t>(type);
    if (slot >= 0) t->counters[slot]++;
  } else {
    const uint32_t raw = t->raw[i], win = t->window[i];
    int freq = t->freqs[i];
    if (window < 0 || (raw < 15 && win < static_cast<uint32_t>(window))) {
      if (kMaxTermFreq - freq <= add) {
        freq = kMaxTermFreq;
        if (tracing()) log_msg(LOG_FREQUENCY, "%s: SCORE_FIELD reached (incr=%d).", "idbm_incr", add);
      } else {
        freq += add;
      }
    } else if (t->no_penalty || (raw <= 20 && win < 3 * static_cast<uint64_t>(window))) {
      if (tracing())
        log_msg(LOG_FREQUENCY, "%s: max_raw_freq reached(%d). freq not incremented (freq=%d).",
                "idbm_incr", static_cast<int>(raw), freq);
    } else {
      freq = freq - add > 1 ? freq - add : 1;
      if (tracing())
        log_msg(LOG_FREQUENCY, "%s: spam_penalty reached(%d). freq decremented to %d).", "idbm_incr",
                static_cast<int>(raw), freq);
    }
    t->freqs[i] = static_cast<uint8_t>(freq);
  }

  if (tracing())
    log_msg(LOG_FREQUENCY, "idbm_incr: \"%s\": freq=%d, raw_freq=%d, window freq=%d, TFNORM %d",
            shown(text), t->freqs[i], static_cast<int>(t->raw[i]), static_cast<int>(t->window[i]),
            log_scale(t->freqs[i], 0));
  return 1;
}

int idbm_incr_text(doc_terms* table, const char* text, int incr, int window, int type) {
  const hash_pair p = pair_from_u64(term_hash_pair(text));
  return idbm_incr(table, p.hash1, p.hash2, incr, window, text, type);
}

int idbm_decr(doc_terms* t, uint32_t hash1, uint32_t hash2, int decr, const char* text, int /*type*/) {
  const int i = find_cell(t, hash1, hash2);
  if (i < 0 || t->pairs[i].hash1 == 0) {
    if (tracing()) log_msg(LOG_FREQUENCY, "idbm_decr: \"%s\" not found in hash table.\n", shown(text));
    return -1;
  }
  const int freq = t->freqs[i];
  t->freqs[i] = static_cast<uint8_t>(freq > decr ? freq - decr : 1);
  return i;
}

int idbm_decr_text(doc_terms* table, const char* text, int decr, int type) {
  const hash_pair p = pair_from_u64(term_hash_pair(text));
  return idbm_decr(table, p.hash1, p.hash2, decr, text, type);
}

void clear_raw_freq(doc_terms* t) {
  if (tracing()) log_msg(LOG_FREQUENCY, "Clearing raw freq counter");
  doc_terms_book* book = t->book;
  if (book && !overflowed(book->window_count)) {
    for (uint32_t k = 0; k < book->window_count; ++k) t->window[book->window_touched[k]] = 0;
  } else if (t->cells > 0) {
    memset(t->window, 0, static_cast<size_t>(t->cells) * sizeof(uint32_t));
  }
  if (book) book->window_count = 0;
}

int doc_terms_compact(doc_terms* t) {
  int n = 0;
  for (int i = 0; i < t->size; ++i) {
    if (t->pairs[i].hash1 == 0) continue;
    if (n != i) {
      t->pairs[n] = t->pairs[i];
      t->freqs[n] = t->freqs[i];
      t->raw[n] = t->raw[i];
      t->window[n] = t->window[i];
      t->deductions[n] = t->deductions[i];
      t->texts[n] = t->texts[i];
      t->types[n] = t->types[i];
    }
    ++n;
  }
  t->size = t->cells = n;
  if (doc_terms_book* book = t->book) {
    // The counters have left the cells the lists name: clearing and
    // cleaning now cover the front cells whole.
    book->moved = static_cast<uint32_t>(n);
    book->window_count = kDocTermCells + 1u;
  }
  return n;
}

const char* doc_terms_text(const doc_terms* t, int cell) {
  const uint32_t off = t->texts[cell];
  if (off == kDocTextUnknown || off >= static_cast<size_t>(t->pool_end - t->pool)) return kUnknownText;
  return t->pool + off;
}

}  // namespace vorlane
