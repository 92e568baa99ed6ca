#include "engine/document/index_terms.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "store/catalog.h"
#include "store/cclass.h"
#include "store/db_handle.h"
#include "store/doc_terms.h"
#include "store/log.h"
#include "store/score_tables.h"
#include "store/term_hash.h"

namespace vorlane::engine {

namespace {

const char kTitlePrefix[] = "title:";
constexpr size_t kTitlePrefixLength = sizeof kTitlePrefix - 1;

// Equality ignoring ASCII case (the C locale's).
bool same_ignoring_case(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char x = c_tolower(static_cast<unsigned char>(*a));
    const unsigned char y = c_tolower(static_cast<unsigned char>(*b));
    if (x != y) return false;
    if (x == 0) return true;
  }
}

uint32_t folded_hash(const char* s) {
  uint32_t h = 2166136261u;
  for (; *s; ++s) h = (h ^ c_tolower(static_cast<unsigned char>(*s))) * 16777619u;
  return h;
}

// The texts met so far in the selection, to find a case-insensitive equal
// one in constant time: an open-addressing set of texts.
class TextSet {
 public:
  explicit TextSet(size_t expected) {
    size_t n = 16;
    while (n < expected * 2) n <<= 1;
    cells_.assign(n, nullptr);
  }
  // Whether an equal text was there; adds it when not.
  bool seen_or_add(const char* text) {
    size_t i = folded_hash(text) & (cells_.size() - 1);
    for (; cells_[i]; i = (i + 1) & (cells_.size() - 1))
      if (same_ignoring_case(cells_[i], text)) return true;
    cells_[i] = text;
    return false;
  }

 private:
  std::vector<const char*> cells_;
};

// The weight of a candidate of frequency freq.
int weight_of(const idbm_db* catalog, const char* text, int freq) {
  const hash_pair p = pair_from_u64(term_hash_pair(text));
  const cat_entry* e = idbm_cat_find(catalog, p.hash1, p.hash2);
  const uint32_t df = e ? cat_docf(*e) : 1;
  int w = idf_scale(df, catalog ? catalog->ndocs : 0);
  const int m = catalog ? catalog->raw_score[freq & 127] : 0;
  if (m < 100) w = w < kPercentCols ? percent_table[m][w] : 0;
  return w == 0 ? 1 : w;
}

}  // namespace

void sort_term_scores(term_score* pairs, int n) {
  int g = n;
  while (g > 1) {
    g = g >= 5 ? static_cast<int>((5 * static_cast<int64_t>(g) - 1) / 11) : 1;
    for (int i = n - 1 - g; i >= 0; --i) {
      const term_score t = pairs[i];
      int j = i + g;
      for (; j <= n - 1 && t.score > pairs[j].score; j += g) pairs[j - g] = pairs[j];
      pairs[j - g] = t;
    }
  }
}

char* extract_index_terms(const char* name, int number, const idbm_db* catalog, const doc_terms* table,
                          const zop_handle& /*handle*/, const char* algorithm) {
  if (algorithm && strcmp(algorithm, "tf.idf") == 0)
    return extract_index_terms_tfidf(name, number, catalog, table);
  log_msg(LOG_ERROR, "%s: indexing %s, requested unsupported algorithm (%s)", "extract_index_terms",
          name ? name : "", algorithm ? algorithm : "");
  return nullptr;
}

char* extract_index_terms_tfidf(const char* name, int /*number*/, const idbm_db* catalog, const doc_terms* table) {
  static const char kFn[] = "extract_index_terms_tfidf";
  const char* label = name ? name : "";
  const int cells = table->size > 0 ? table->size : 0;
  const size_t pair_bytes = static_cast<size_t>(cells) * sizeof(term_score);
  auto* pairs = static_cast<term_score*>(malloc(pair_bytes ? pair_bytes : 1));
  char* result = static_cast<char*>(malloc(kIndexTermsSize));
  if (!pairs || !result) {
    log_msg(LOG_ERROR, "%s: indexing %s, malloc for %d bytes failed", kFn, label,
            static_cast<int>(pairs ? kIndexTermsSize : pair_bytes));
    free(pairs);
    free(result);
    return nullptr;
  }
  result[0] = '\0';

  // Title words: the part after "title:" of the first 50 such terms.
  const char* titles[kMaxTitleWords];
  int ntitles = 0;
  for (int i = 0; i < cells && ntitles < kMaxTitleWords; ++i) {
    if (!doc_terms_in_use(table, i)) continue;
    const char* text = doc_terms_text(table, i);
    if (strncmp(text, kTitlePrefix, kTitlePrefixLength) == 0) titles[ntitles++] = text + kTitlePrefixLength;
  }

  int n = 0;
  for (int i = 0; i < cells; ++i) {
    if (!doc_terms_in_use(table, i)) continue;
    const char* text = doc_terms_text(table, i);
    const uint32_t type = table->types[i];
    if (type == 3 || type == 4) continue;
    if (type != 1 && type != 2 && type != 5) {
      log_msg(LOG_ERROR, "%s: indexing %s, ignored unknown termtype (%d) for term (%s)", kFn, label,
              static_cast<int>(type), text);
      continue;
    }
    if (strcmp(text, "???") == 0 || strchr(text, ':')) continue;
    bool title_word = false;
    for (int t = 0; t < ntitles && !title_word; ++t) title_word = same_ignoring_case(text, titles[t]);
    if (title_word) continue;
    const int freq = table->freqs[i];
    pairs[n++] = term_score{text, freq * weight_of(catalog, text, freq)};
  }

  sort_term_scores(pairs, n);

  TextSet passed(static_cast<size_t>(n));
  size_t length = 0;
  for (int k = n - 1; k >= 0; --k) {
    const char* text = pairs[k].text;
    if (passed.seen_or_add(text)) continue;
    const size_t len = strlen(text);
    if (length + len + 2 >= kIndexTermsSize) break;
    if (length > 0) result[length++] = ' ';
    memcpy(result + length, text, len + 1);
    length += len;
  }
  free(pairs);
  return result;
}

}  // namespace vorlane::engine
