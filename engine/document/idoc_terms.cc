// The terms of a document: explicit terms and the fields of update, through
// the token passes, the phrase, stem and word writers and the conflation
// tables, into the document's term table.
#include <algorithm>
#include <cstring>

#include "engine/document/conflate.h"
#include "engine/document/idoc.h"
#include "engine/analysis/parse_state.h"
#include "engine/analysis/phrase_output.h"
#include "engine/query/field_prefix.h"
#include "engine/analysis/stem_output.h"
#include "engine/analysis/token_passes.h"
#include "store/block_pool.h"
#include "store/checksum.h"
#include "store/log.h"

namespace vorlane::engine {

namespace {

// Adds one term with the weight and window of its field; 0 when the table is
// full, after the log line.
int add_term(idoc_doc* doc, const char* term, int weight, int window, int type, const char* who) {
  if (!idbm_incr_text(&doc->terms, term, weight, window, type)) {
    log_msg(LOG_INFO, "%s: idoc hashtable full, term=\"%s\"", who, term);
    return 0;
  }
  idoc_match(doc, term);
  return 1;
}

// A checksum field: one term, the pair of its 16 hexadecimal digits. A text
// of another length, or a pair with a half that no hash can have (0, or bit
// 31 set), is passed over. 0, or 1 when the table is full.
int add_checksum_term(idoc_doc* doc, const char* text, size_t length, int weight) {
  const size_t n = strnlen(text, length);
  if (n != kChecksumTextLength) return 0;
  char digits[kChecksumTextLength + 1];
  memcpy(digits, text, n);
  digits[n] = '\0';
  const hash_pair p = pair_from_u64(parse_checksum(digits));
  if (p.hash1 == 0 || p.hash2 == 0 || (p.hash1 & ~kHashMask) || (p.hash2 & ~kHashMask)) return 0;
  if (!idbm_incr(&doc->terms, p.hash1, p.hash2, weight, -1, digits, 3)) {
    log_msg(LOG_INFO, "%s: idoc hashtable full, term=\"%s\"", "idoc_parse_terms", digits);
    return 1;
  }
  return 0;
}

}  // namespace

int idoc_field_weight(int a, int d) {
  const int64_t w = int64_t{a} * d;
  return static_cast<int>(std::clamp<int64_t>(w, 0, kMaxTermFreq));
}

namespace {

// The phrase and word areas of an update lie in one block, kept for the
// next update. Their writers end what they write, so a block holding an
// earlier update's strings needs no clearing.
block_pool& areas_pool() {
  static block_pool& pool = *new block_pool(kIdocPhraseArea + kIdocWordArea, 4);
  return pool;
}

}  // namespace

bool idoc_areas_alloc(idoc_areas* areas) {
  char* block = static_cast<char*>(block_pool_take(&areas_pool()));
  areas->phrases = block;
  areas->words = block ? block + kIdocPhraseArea : nullptr;
  return block != nullptr;
}

void idoc_areas_free(idoc_areas* areas) {
  block_pool_give(&areas_pool(), areas->phrases);
  areas->phrases = areas->words = nullptr;
}

int parse_terms_inner(idoc_doc* doc, const char* prefix, const char* list, int weight, int window, int conflate,
                      int lower) {
  doc_terms* t = &doc->terms;
  clear_raw_freq(t);
  char term[kIdocTermSize];
  char folded[kIdocTermSize];
  char lowered[kIdocTermSize];
  const size_t skip = std::min(strlen(prefix), kIdocTermSize - 1);
  memcpy(term, prefix, skip);
  uint32_t count = 0;
  for (const char* s = list; *s; s += strlen(s) + 1) {
    if (++count % 100 == 0) clear_raw_freq(t);
    const size_t n = std::min(strlen(s), kIdocTermSize - 1 - skip);
    memcpy(term + skip, s, n);
    term[skip + n] = '\0';
    if (!add_term(doc, term, weight, window, 1, "parse_terms_inner")) return 1;
    if (conflate && conflate_term(term, folded, sizeof folded, skip)) {
      if (!add_term(doc, folded, weight, window, 5, "parse_terms_inner")) return 1;
      if (lower && lower_term(folded, lowered, sizeof lowered, skip) &&
          !add_term(doc, lowered, weight, window, 4, "parse_terms_inner"))
        return 1;
    }
    if (lower && lower_term(term, lowered, sizeof lowered, skip) &&
        !add_term(doc, lowered, weight, window, 4, "parse_terms_inner"))
      return 1;
  }
  return 0;
}

int idoc_parse_terms(idoc_doc* doc, const char* text, size_t length, const char* name, int a, int b, int c,
                     const zop_handle& handle, int d, int e, int passes, const idoc_areas& areas) {
  length = std::min(length, kIdocFieldTextMax);
  const int weight = idoc_field_weight(a, d);
  if (is_checksum_field(name)) return add_checksum_term(doc, text, length, weight);

  // The term buffer holds the name, a token and the NUL.
  const size_t name_length = strlen(name);
  if (name_length >= kIdocTermSize) {
    log_msg(LOG_FREQUENCY, "%s: fieldname too long, len=%d, name=\"%s\"", "idoc_parse_terms",
            static_cast<int>(name_length), name);
    return 0;
  }

  // The text is read from a copy: the caller's bytes are never written.
  ParseState state = TokenizeTextCopy(text, length, b, handle);
  if (passes & kPassPhrases) PhraseTokens(state, areas.phrases, kIdocPhraseArea, handle, c ? kStemShortest : 0, 0);
  if (passes & kPassWords) {
    if (c)
      StemTokens(state, areas.words, kIdocWordArea, handle, 1);
    else
      WordTokens(state, areas.words, kIdocWordArea, 1);
  }

  char lowered_name[kIdocTermSize];
  const char* variants[2] = {name, nullptr};
  if (lower_term(name, lowered_name, sizeof lowered_name, 0)) variants[1] = lowered_name;

  int full = 0;
  for (const char* prefix : variants) {
    if (!prefix) break;
    if ((passes & kPassPhrases) && (full = parse_terms_inner(doc, prefix, areas.phrases, weight, e, 1, 1))) break;
    if ((passes & kPassWords) && (full = parse_terms_inner(doc, prefix, areas.words, weight, e, 1, 1))) break;
  }
  FreeParseState(state);
  return full;
}

int idoc_update(idoc_doc* doc, const idoc_term_arg* terms, size_t nterms, const idoc_field_arg* fields,
                size_t nfields, const zop_handle& handle, const idoc_areas& areas) {
  int full = 0;
  for (size_t i = 0; i < nterms && !full; ++i) {
    const char* text = terms[i].text;
    if (!*text) continue;
    if (!idbm_incr_text(&doc->terms, text, terms[i].weight, -1, 3)) {
      log_msg(LOG_INFO, "%s: idoc hashtable full, terms=\"%s\"", "idoc_update", text);
      full = 1;
    }
    idoc_match(doc, text);
  }
  for (size_t i = 0; i < nfields && !full; ++i) {
    const idoc_field_arg& f = fields[i];
    full = idoc_parse_terms(doc, f.text, f.length, f.name, f.a, f.b, f.c, handle, f.d, f.e,
                            kPassWords | kPassPhrases, areas);
  }
  return full;
}

}  // namespace vorlane::engine
