// ParseQuery and ParsePhrase: a query text into the QueryTerm array of its
// buffers.
#include "engine/query/query_parser.h"

#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "engine/analysis/ling_calls.h"
#include "engine/analysis/phrase_output.h"
#include "engine/query/field_prefix.h"
#include "engine/query/term_pins.h"
#include "engine/analysis/stem_output.h"
#include "engine/analysis/stopwords.h"
#include "engine/analysis/token_passes.h"
#include "store/cclass.h"
#include "store/checksum.h"
#include "store/db_files.h"
#include "store/log.h"
#include "store/term_hash.h"

namespace vorlane::engine {

namespace {

constexpr uint32_t kLevelParse = 8;
constexpr uint32_t kLevelMessage = 4;
constexpr uint32_t kLevelRecord = 0x2020;
constexpr uint32_t kLevelPostings = 0x2000;
constexpr int kMaxDumpedPostings = 1000;
constexpr uint32_t kHashHighBit = 0x80000000u;

const char kEmpty[] = "";

// Bytes that end a word or keyword of the query.
bool is_word_end(char c) {
  return c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool is_field_byte(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return c_isalnum(u) || c == '.' || c == '-' || c == '_';
}

// The strings of the parse: each piece list is written whole, with its NUL,
// at *pos when it fits before end; returns its start, or null (nothing
// written) when it does not.
char* put_text(char** pos, char* end, std::string_view a, std::string_view b = {}, std::string_view c = {}) {
  const size_t need = a.size() + b.size() + c.size() + 1;
  if (*pos > end || static_cast<size_t>(end - *pos) < need) return nullptr;
  char* start = *pos;
  char* p = start;
  if (!a.empty()) std::memcpy(p, a.data(), a.size());
  p += a.size();
  if (!b.empty()) std::memcpy(p, b.data(), b.size());
  p += b.size();
  if (!c.empty()) std::memcpy(p, c.data(), c.size());
  p += c.size();
  *p++ = '\0';
  *pos = p;
  return start;
}

// The next NUL-terminated string of a list that ends at end (or at an empty
// string): its start, with *next past it; null at the end of the list.
const char* next_string(const char** p, const char* end) {
  if (*p >= end || **p == '\0') return nullptr;
  const void* nul = std::memchr(*p, '\0', static_cast<size_t>(end - *p));
  if (!nul) return nullptr;
  const char* s = *p;
  *p = static_cast<const char*>(nul) + 1;
  return s;
}

unsigned record_word(const void* record) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(record));
}

// Looks the term string up and stores its hash pair and record.
void look_up(idbm_db* db, QueryTerm* t, TermPins* pins) {
  const uint64_t pair = term_hash_pair(t->term);
  t->hash1 = static_cast<uint32_t>(pair);
  t->hash2 = static_cast<uint32_t>(pair >> 32);
  t->record = find_pinned(pins, db, t->hash1, t->hash2);
  if (log_passes(kLevelParse)) log_msg(kLevelParse, "idbm_find(%s)=%x", t->term, record_word(t->record));
}

char* phrase_result(char* value, PhraseStatus* status, PhraseStatus why) {
  if (status) *status = why;
  return value;
}

char* no_room(const QueryTerm* term, PhraseStatus* status) {
  log_msg(kLevelMessage, "%s: out of buffer space: %s", "ParsePhrase", term->source);
  return phrase_result(nullptr, status, PhraseStatus::kNoRoom);
}

// A checksum value: exactly 16 characters, a pair without bit 31 in either
// word; anything else is not indexed.
char* parse_checksum_term(idbm_db* db, QueryTerm* term, char* out, char* end, TermPins* pins,
                          PhraseStatus* status) {
  const bool required = term->mark == kMarkRequired;
  char* absent = required ? nullptr : out;
  const PhraseStatus why = required ? PhraseStatus::kRequiredAbsent : PhraseStatus::kDone;
  if (std::strlen(term->source) != kChecksumTextLength) return phrase_result(absent, status, why);
  const uint64_t pair = parse_checksum(term->source);
  const uint32_t hash1 = static_cast<uint32_t>(pair), hash2 = static_cast<uint32_t>(pair >> 32);
  if ((hash1 | hash2) & kHashHighBit) return phrase_result(absent, status, why);
  char* pos = out;
  char* text = put_text(&pos, end, term->field, term->source);
  if (!text) return no_room(term, status);
  term->term = text;
  term->hash1 = hash1;
  term->hash2 = hash2;
  term->record = find_pinned(pins, db, hash1, hash2);
  if (log_passes(kLevelParse)) log_msg(kLevelParse, "idbm_find(%s)=%x", term->term, record_word(term->record));
  term->count = 1;
  if (required && !term->record) return phrase_result(nullptr, status, PhraseStatus::kRequiredAbsent);
  return pos;
}

}  // namespace

char* ParsePhrase(idbm_db* db, QueryTerm* term, QueryTerm* elements, int32_t element_room, char* out,
                  int32_t out_room, const zop_handle& handle, int required, TermPins* pins, PhraseWork* work,
                  PhraseStatus* status) {
  if (status) *status = PhraseStatus::kDone;
  char* const end = out + (out_room > 0 ? out_room : 0);
  const char* field = term->field ? term->field : kEmpty;
  const char* source = term->source ? term->source : kEmpty;
  term->field = field;
  term->source = source;
  term->phrases = 0;
  term->count = 0;
  term->term = kEmpty;
  term->hash1 = term->hash2 = 0;
  term->record = nullptr;
  term->elements = nullptr;

  if (is_checksum_field(field)) return parse_checksum_term(db, term, out, end, pins, status);
  if (log_passes(kLevelParse)) log_msg(kLevelParse, "ParsePhrase: %s", source);

  // The fixed token state and phrase area: a text that needs more tokens
  // is cut short by the token passes, never grown.
  ParseToken* const tokens = work->tokens;
  char* const area = work->area;
  constexpr size_t kArea = sizeof work->area;
  const char* first = nullptr;
  int n = 0;
  if (is_literal_field(field)) {
    first = source;
    term->count = term->phrases = 1;
  } else {
    const bool unstemmed = is_unstemmed_field(field) != 0;
    ParseState state{source, tokens, static_cast<uint32_t>(kPhraseTokenSlots), 0, 0, nullptr};
    state = TokenizeText(source, &state, is_unbroken_field(field) ? 0 : 1, handle);
    n = PhraseTokens(state, area, kArea, handle, unstemmed ? kStemNone : kStemShortest, 1);
    term->count = term->phrases = n;
    if (log_passes(kLevelParse)) log_msg(kLevelParse, "ParsePhrase (PhraseTokens=%d)", n);
    if (n == 0) {
      const int words = unstemmed ? WordTokens(state, area, kArea, 1) : StemTokensDefault(state, area, kArea, handle);
      term->count = words;
      if (words == 0 || area[0] == '\0') {
        term->count = 0;
        return out;
      }
    }
    if (n < 2) first = area;
  }

  if (first) {
    // One index term.
    char* pos = out;
    char* text = put_text(&pos, end, field, first);
    if (!text) return no_room(term, status);
    term->term = text;
    look_up(db, term, pins);
    if (log_passes(kLevelParse)) log_msg(kLevelParse, "simple: %s", term->term);
    term->count = 1;
    if (term->mark == kMarkRequired && !term->record)
      return phrase_result(nullptr, status, PhraseStatus::kRequiredAbsent);
    return pos;
  }

  // Several phrases: one element each, the last slot of the room kept for
  // the element that ends the list.
  char* pos = out;
  int32_t made = 0;
  const char* next = area;
  const char* const area_end = area + kArea;
  for (int i = 0; i < n; ++i) {
    const char* phrase = next_string(&next, area_end);
    if (!phrase) {
      log_msg(kLevelMessage, "too little from PhraseTokens(%s)", source);
      break;
    }
    if (made >= element_room - 1) {
      log_msg(kLevelMessage, "%s: out of phrase space: %s", "ParsePhrase", source);
      break;
    }
    QueryTerm& e = elements[made];
    e = QueryTerm{};
    e.count = 1;
    e.mark = required ? kMarkRequired : kMarkOptional;
    e.field = field;
    e.source = source;
    e.display = term->display;
    e.position = term->position;
    char* before = pos;
    char* text = put_text(&pos, end, field, phrase);
    if (!text) return no_room(term, status);
    e.term = text;
    look_up(db, &e, pins);
    if (!e.record) {
      if (required) {
        // A required phrase with an element that is not indexed matches
        // nothing: the term becomes that element, not indexed.
        term->count = 1;
        term->term = e.term;
        term->hash1 = e.hash1;
        term->hash2 = e.hash2;
        term->record = nullptr;
        if (made > 0) elements[0] = e;
        if (element_room >= 2) elements[1] = QueryTerm{};
        if (term->mark == kMarkRequired) return phrase_result(nullptr, status, PhraseStatus::kRequiredAbsent);
        return pos;
      }
      pos = before;  // an optional element that is not indexed is dropped
      continue;
    }
    ++made;
  }
  term->count = made;
  if (made == 1) {
    // One element left: the term is that element.
    term->term = elements[0].term;
    term->hash1 = elements[0].hash1;
    term->hash2 = elements[0].hash2;
    term->record = elements[0].record;
  } else if (made >= 2) {
    term->elements = elements;
    term->term = elements[0].term;
    elements[made] = QueryTerm{};
  }
  return pos;
}

namespace {

struct Parse {
  idbm_db* db;
  const char* query;
  const zop_handle* handle;
  QueryBuffers* buffers;
  TermPins* pins;
  PhraseWork* phrase_work;
  std::unique_ptr<PhraseWork> own_work;  // when the buffers came without one
  QueryTerm* terms;
  int32_t term_room;
  QueryTerm* element_base;
  int32_t element_room;
  int32_t elements_used = 0;
  char* text;
  char* text_end;
  int32_t stored = 0;
  bool full = false;      // the term area is full: nothing more is stored
  bool stopped = false;   // out of text or element room

  // The query position and its end.
  const char* q;
  const char* qend;
  // The parse of the user's terms: found and missing counts, the operators
  // in force for the next term, the previous stored term and whether the
  // last term was not indexed.
  int32_t found = 0, missing = 0;
  bool infer = true, and_mode = false, or_mode = false, not_toggle = false, unmatched = false;
  // A required term is not indexed: the query part gives no result unless
  // an OR follows at once, which gives back the text from fail_text on.
  bool fail = false;
  char* fail_text = nullptr;
  bool no_result = false;
  QueryTerm* previous = nullptr;
};

void no_buffer_space(const Parse& p) { log_msg(kLevelMessage, "%s: out of buffer space: %s", "ParseQuery", p.query); }

void dump_term(const QueryTerm& t) {
  if (!log_passes(kLevelRecord)) return;
  if (t.count < 2) {
    log_msg(kLevelRecord, "idbm info on term %c%s ", t.mark, t.term);
    if (t.record) dump_idbm_rec(t.term, t.record);
  } else {
    log_msg(kLevelRecord, "idbm info on phrase term %s ", t.source);
    for (int32_t i = 0; i < t.count && t.elements; ++i)
      if (t.elements[i].record) dump_idbm_rec(t.elements[i].term, t.elements[i].record);
  }
}

// Counts the elements a term took (its count and the one that ends its
// list); false when the element area is now full.
bool take_elements(Parse& p, const QueryTerm& t) {
  p.elements_used += (t.count > 0 ? t.count : 0) + 1;
  if (p.elements_used >= p.element_room) {
    p.elements_used = p.element_room;
    log_msg(kLevelMessage, "%s: out of phrase space: %s", "ParseQuery", p.query);
    p.stopped = true;
    return false;
  }
  return true;
}

// Stores a term in the next slot; the slot before the last is the last one a
// term may take.
QueryTerm* store(Parse& p, const QueryTerm& t) {
  if (p.full) return nullptr;
  QueryTerm* slot = &p.terms[p.stored++];
  *slot = t;
  if (p.stored >= p.term_room - 1) {
    log_msg(kLevelMessage, "%s: exceeded query limit: %s", "ParseQuery", p.query);
    p.full = true;
  }
  return slot;
}

// ParsePhrase over the remaining rooms for a term whose source is set.
char* parse_term(Parse& p, QueryTerm* t, int required, PhraseStatus* status) {
  return ParsePhrase(p.db, t, p.element_base + p.elements_used, p.element_room - p.elements_used, p.text,
                     static_cast<int32_t>(p.text_end - p.text), *p.handle, required, p.pins, p.phrase_work, status);
}

// An inferred phrase, optional, labelled by copy_span. The whole query's
// phrase (all_but_last) requires every element but the last and is stored
// only when it made phrases; a noun phrase requires its first element.
void infer_phrase(Parse& p, const char* source, bool all_but_last) {
  if (p.full || p.stopped || p.element_room - p.elements_used < 2) return;
  QueryTerm t{};
  t.mark = kMarkOptional;
  t.field = kEmpty;
  t.source = source;
  t.position = p.query;
  PhraseStatus status;
  char* after = parse_term(p, &t, 0, &status);
  if (status == PhraseStatus::kNoRoom) {
    p.stopped = true;
    return;
  }
  if (after) p.text = after;
  char* label = copy_span(p.text, static_cast<int32_t>(p.text_end - p.text), source);
  if (!label) {
    no_buffer_space(p);
    p.stopped = true;
    return;
  }
  t.display = p.text;
  p.text = label;
  take_elements(p, t);
  if (t.count >= 2 && t.elements) {
    if (all_but_last) {
      for (int32_t i = 0; i < t.count - 1; ++i) t.elements[i].mark = kMarkRequired;
    } else {
      t.elements[0].mark = kMarkRequired;
    }
  }
  if (t.count > 0 && (!all_but_last || t.phrases > 0)) store(p, t);
}

// The parse's areas from the buffers' positions and rooms, the term area
// zeroed over its room. A phrase work area is allocated when the buffers
// have none; when that fails the buffers are left empty and false returned.
bool begin_parse(Parse& p, idbm_db* db, const char* query, const zop_handle& handle, QueryBuffers* buffers) {
  p.db = db;
  p.query = query ? query : kEmpty;
  p.handle = &handle;
  p.buffers = buffers;
  p.pins = buffers->pins;
  p.phrase_work = buffers->phrase_work;
  if (!p.phrase_work) {
    p.own_work.reset(new (std::nothrow) PhraseWork);
    if (!p.own_work) {
      log_msg(kLevelMessage, "%s: out of buffer space: %s", "ParseQuery", query ? query : kEmpty);
      buffers->text_used = buffers->terms_used = buffers->elements_used = 0;
      if (buffers->term_room > 0) buffers->term_position[0] = QueryTerm{};
      return false;
    }
    p.phrase_work = p.own_work.get();
  }
  p.terms = buffers->term_position;
  p.term_room = buffers->term_room;
  p.element_base = buffers->element_position;
  p.element_room = buffers->element_room;
  p.text = buffers->text_position;
  p.text_end = buffers->text_position + (buffers->text_room > 0 ? buffers->text_room : 0);
  if (p.term_room > 0) std::memset(static_cast<void*>(p.terms), 0, sizeof(QueryTerm) * p.term_room);
  if (p.term_room < 2) p.full = true;  // no slot besides the terminator's
  return true;
}

// Passes over white space and punctuation other than the marks and the
// quote mark.
void skip_separators(Parse& p) {
  while (p.q < p.qend) {
    const unsigned char c = static_cast<unsigned char>(*p.q);
    if (c_isspace(c) || (c_ispunct(c) && c != '+' && c != '-' && c != '"')) ++p.q;
    else break;
  }
}

// Keywords: upper case, a whole word. AND and OR set their mode (and clear
// the other), NOT flips the not-toggle; each ends the inference of phrases
// and is passed over. False when the next word is no keyword.
bool take_keyword(Parse& p) {
  const char* word_end = p.q;
  while (word_end < p.qend && !is_word_end(*word_end)) ++word_end;
  const std::string_view word(p.q, static_cast<size_t>(word_end - p.q));
  if (word != "AND" && word != "OR" && word != "NOT") return false;
  if (word == "AND") {
    p.and_mode = true;
    p.or_mode = false;
  } else if (word == "OR") {
    p.or_mode = true;
    p.and_mode = false;
  } else {
    p.not_toggle = !p.not_toggle;
  }
  p.infer = false;
  p.q = word_end;
  return true;
}

// The operators in force change the new term's mark, and AND and OR the
// previous term's too: NOT turns an exclusion into a requirement (AND) or
// an option and anything else into an exclusion; AND requires both terms,
// and gives no result after a term that is not indexed; OR makes both
// optional and cancels a pending failure, giving back its text. A pending
// failure that stands now ends the parse with no result (false). The
// operators are then cleared; a marked term ends the inference of phrases.
bool apply_operators(Parse& p, QueryTerm& t) {
  if (p.not_toggle) {
    t.mark = t.mark == kMarkExcluded ? (p.and_mode ? kMarkRequired : kMarkOptional) : kMarkExcluded;
  } else if (p.and_mode) {
    if (p.unmatched) {
      p.no_result = true;
      return false;
    }
    if (p.previous && p.previous->mark != kMarkExcluded) p.previous->mark = kMarkRequired;
    if (t.mark != kMarkExcluded) t.mark = kMarkRequired;
  } else if (p.or_mode) {
    if (p.fail) {
      p.fail = false;
      if (p.fail_text) p.text = p.fail_text;
    }
    if (p.previous && p.previous->mark != kMarkExcluded) p.previous->mark = kMarkOptional;
    if (t.mark != kMarkExcluded) t.mark = kMarkOptional;
  }
  if (p.fail) {
    p.no_result = true;
    return false;
  }
  p.not_toggle = p.and_mode = p.or_mode = false;
  if (t.mark != kMarkOptional) {
    if (log_passes(kLevelParse)) log_msg(kLevelParse, "query term not optional. infer=0");
    p.infer = false;
  }
  return true;
}

// Field prefix: a name of field bytes up to a colon is copied, colon
// included, into the text area as the term's field, and the white space
// after it passed over; it ends the inference of phrases. Otherwise the
// field is empty. False when the name does not fit in the text area.
bool take_field(Parse& p, QueryTerm& t) {
  t.field = kEmpty;
  const char* name_end = p.q;
  while (name_end < p.qend && is_field_byte(*name_end)) ++name_end;
  if (name_end > p.q && name_end < p.qend && *name_end == ':') {
    char* field = put_text(&p.text, p.text_end, std::string_view(p.q, static_cast<size_t>(name_end - p.q + 1)));
    if (!field) {
      no_buffer_space(p);
      return false;
    }
    t.field = field;
    p.q = name_end + 1;
    while (p.q < p.qend && c_isspace(static_cast<unsigned char>(*p.q))) ++p.q;
    if (log_passes(kLevelParse)) log_msg(kLevelParse, "%s field query. infer=0", t.field);
    p.infer = false;
  }
  return true;
}

enum class TextFound { kText, kSkip, kEnd };

// The term's text: a quoted phrase with its quote marks, up to the closing
// one or the end (ending the inference of phrases), or a word up to a comma
// or white space, where a comma between digits does not end it. A quote
// mark that ends the query ends the parse (kEnd); a doubled quote mark or an
// empty word is passed over (kSkip). The position moves past the text.
TextFound take_text(Parse& p, std::string_view* text) {
  const char* const q = p.q;
  const char* const qend = p.qend;
  const char* start = q;
  const char* stop = q;
  if (q < qend && *q == '"') {
    if (q + 1 >= qend) return TextFound::kEnd;
    if (q[1] == '"') {
      ++p.q;
      return TextFound::kSkip;
    }
    if (log_passes(kLevelParse)) log_msg(kLevelParse, "quotes found. infer=0");
    p.infer = false;
    const void* close = std::memchr(q + 1, '"', static_cast<size_t>(qend - q - 1));
    stop = close ? static_cast<const char*>(close) + 1 : qend;
  } else {
    while (stop < qend && !is_word_end(*stop)) ++stop;
    if (stop < qend && *stop == ',' && stop > q && c_isdigit(static_cast<unsigned char>(stop[-1])) &&
        stop + 1 < qend && c_isdigit(static_cast<unsigned char>(stop[1]))) {
      while (stop < qend && !c_isspace(static_cast<unsigned char>(*stop))) ++stop;
    }
    if (stop == q) {
      if (q < qend) ++p.q;
      return TextFound::kSkip;
    }
  }
  if (stop > qend) {
    log_msg(kLevelMessage, "%s: overrun input string: %s", "ParseQuery", start);
    return TextFound::kEnd;
  }
  p.q = stop;
  *text = std::string_view(start, static_cast<size_t>(stop - start));
  return TextFound::kText;
}

// The term's source (its text) and display (mark unless optional, field and
// text) in the text area; false when they do not fit.
bool write_source(Parse& p, QueryTerm& t, std::string_view text) {
  const char mark_text[2] = {t.mark, '\0'};
  t.source = put_text(&p.text, p.text_end, text);
  t.display = t.source ? put_text(&p.text, p.text_end, t.mark == kMarkOptional ? std::string_view() : mark_text,
                                  t.field, text)
                       : nullptr;
  if (!t.display) {
    no_buffer_space(p);
    return false;
  }
  return true;
}

// A user's term into index terms, its phrase elements required: the
// elements it took are counted, a one-term entry learns whether it is a
// stop word and a phrase term ends the inference of phrases. An indexed
// term is stored and becomes the previous term; one that is not indexed,
// unless excluded, counts as missing. A required term that is not indexed
// sets the pending failure. False when the parse ends here (no text room,
// or no pin for a record).
bool look_up_user_term(Parse& p, QueryTerm& t, std::string_view text) {
  char* phrase_text = p.text;
  PhraseStatus status;
  char* after = parse_term(p, &t, 1, &status);
  if (status == PhraseStatus::kNoRoom) return false;
  if (p.pins && p.pins->shortage) return false;
  if (after) p.text = after;
  take_elements(p, t);

  if (t.count < 2) {
    t.stop = IsStopWord(t.source, static_cast<int32_t>(text.size()), *p.handle);
  } else {
    if (log_passes(kLevelParse)) log_msg(kLevelParse, "qry.count=%d. infer=0", t.count);
    p.infer = false;
  }
  dump_term(t);

  if ((t.count == 1 && t.record) || (t.count >= 2 && t.elements)) {
    QueryTerm* slot = store(p, t);
    if (slot) {
      if (t.mark != kMarkExcluded) ++p.found;
      p.previous = slot;
      p.unmatched = false;
    }
  } else if (t.mark != kMarkExcluded) {
    ++p.missing;
    p.previous = nullptr;
    p.unmatched = true;
  }
  if (!after && status == PhraseStatus::kRequiredAbsent) {
    p.fail = true;
    p.fail_text = phrase_text;
  }
  return true;
}

// One step of the query: separators, then a keyword, or a term with its
// mark, field and text. False when the parse ends.
bool parse_next_term(Parse& p) {
  skip_separators(p);
  if (p.q >= p.qend) return false;
  if (take_keyword(p)) return true;

  QueryTerm t{};
  t.mark = kMarkOptional;
  t.position = p.q;
  if (*p.q == '+' || *p.q == '-') t.mark = *p.q++;
  if (!apply_operators(p, t)) return false;
  if (!take_field(p, t)) return false;
  std::string_view text;
  switch (take_text(p, &text)) {
    case TextFound::kEnd:
      return false;
    case TextFound::kSkip:
      return true;
    case TextFound::kText:
      break;
  }
  if (!write_source(p, t, text)) return false;
  return look_up_user_term(p, t, text);
}

// The whole query as one inferred phrase, less its leading stop words when
// at least two stored terms are not stop words, with its commas made hard
// stops (';').
void infer_whole_query(Parse& p) {
  const char* phrase = p.query;
  int32_t plain = 0;
  for (int32_t i = 0; i < p.stored; ++i)
    if (!p.terms[i].stop) ++plain;
  if (plain >= 2) {
    int32_t skip = 0;
    while (skip < p.stored - 2 && p.terms[skip].stop) ++skip;
    if (skip > 0) {
      const QueryTerm& last_stop = p.terms[skip - 1];
      const char* after_stop = last_stop.position + std::strlen(last_stop.source) + 1;
      phrase = after_stop < p.qend ? after_stop : p.qend;
    }
  }
  char* source = put_text(&p.text, p.text_end, " ", phrase);
  if (!source) {
    no_buffer_space(p);
    return;
  }
  for (char* c = source; *c; ++c)
    if (*c == ',') *c = ';';
  infer_phrase(p, source, true);
}

// The language's noun phrases of the query, written into the text area
// first, each an inferred phrase while the areas have room.
void infer_noun_phrases(Parse& p) {
  char* phrases = p.text;
  char* end = ling_calls.get_phrases(p.query, phrases, static_cast<size_t>(p.text_end - phrases), *p.handle);
  if (end < phrases || end > p.text_end) end = phrases;
  p.text = end;
  const char* next = phrases;
  while (const char* phrase = next_string(&next, end)) {
    if (p.full || p.stopped) break;
    infer_phrase(p, phrase, false);
  }
}

}  // namespace

int ParseQuery(idbm_db* db, const char* query, const zop_handle& handle, QueryBuffers* buffers, int32_t* found,
               int32_t* missing) {
  Parse p{};
  if (!begin_parse(p, db, query, handle, buffers)) return 0;
  if (log_passes(kLevelParse)) log_msg(kLevelParse, "ParseQuery: %s", p.query);

  p.q = p.query;
  p.qend = p.q + std::strlen(p.q);
  while (p.q < p.qend && !p.full && !p.stopped)
    if (!parse_next_term(p)) break;
  if (p.fail) p.no_result = true;
  if (p.pins && p.pins->shortage) p.no_result = true;

  if (!p.no_result && p.infer && !p.full && !p.stopped) {
    if (p.stored < 5 && (p.stored >= 2 || p.stored + p.missing >= 2)) {
      infer_whole_query(p);
    } else if (p.stored >= 5) {
      infer_noun_phrases(p);
    }
  }
  if (p.pins && p.pins->shortage) p.no_result = true;

  buffers->text_used = static_cast<int32_t>(p.text - buffers->text_position);
  buffers->terms_used = p.stored;
  buffers->elements_used = p.elements_used;
  if (p.stored < p.term_room) p.terms[p.stored] = QueryTerm{};
  if (found) *found = p.found;
  if (missing) *missing = p.missing;
  return p.no_result ? 0 : p.stored;
}

void dump_idbm_rec(const char* name, const uint32_t* record) {
  if (!record || !log_passes(kLevelRecord)) return;
  int32_t docf, norm = 0, free = 0, size;
  if (static_cast<int32_t>(record[0]) <= 0) {
    docf = size = static_cast<int32_t>(record[1]) <= 0 ? 2 : 1;
  } else {
    docf = static_cast<int32_t>(rec_full_docf(record));
    norm = static_cast<int32_t>(rec_full_norm(record));
    size = static_cast<int32_t>(rec_full_count(record));
    free = static_cast<int32_t>(rec_full_free(record));
  }
  log_msg(kLevelRecord, "idbm_rec(%s): (docf %d; idbm_norm %d; idbm_free %d; idbm_size %d) ", name, docf, norm, free,
          size);
  if (static_cast<int32_t>(record[0]) <= 0 || !(log_mask & kLevelPostings)) return;
  for (int32_t i = 0; i < size && i < kMaxDumpedPostings; ++i) {
    const uint32_t posting = record[4 + i];
    log_msg(kLevelPostings, "%s: docid %d score %d ", name, static_cast<int>(posting >> 7),
            static_cast<int>(posting & 0x7F));
  }
}

char* copy_span(char* out, int32_t room, const char* text) {
  if (!out || room < 1) return nullptr;
  char* p = out;
  char* const last = out + room - 1;  // the NUL's place at the latest
  const char* s = text ? text : kEmpty;
  int words = 0;
  while (*s && words < 2) {
    while (*s == ' ') ++s;
    if (!*s) break;
    if (words == 1 && p < last) *p++ = ' ';
    while (*s && *s != ' ') {
      if (p < last) *p++ = *s;
      ++s;
    }
    ++words;
  }
  while (*s == ' ') ++s;
  if (*s) {
    for (int i = 0; i < 3 && p < last; ++i) *p++ = '.';
  }
  *p++ = '\0';
  return p;
}

}  // namespace vorlane::engine
