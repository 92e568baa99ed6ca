#include "engine/analysis/token_passes.h"

#include <cstring>

#include "engine/analysis/stopwords.h"
#include "store/alloc.h"
#include "store/cclass.h"
#include "store/log.h"

namespace vorlane::engine {

namespace {

inline unsigned char byte(const char* p) { return static_cast<unsigned char>(*p); }
// NUL is a control byte: it ends a word ("U.S.A." at the end of a text is
// followed by a separator byte) but never belongs to a run.
inline bool is_separator_byte(unsigned char c) { return c_class(c) & (CC_CNTRL | CC_PUNCT | CC_SPACE); }
inline bool is_run_byte(unsigned char c) { return c != 0 && is_separator_byte(c); }
inline bool is_word_byte(unsigned char c) { return c != 0 && !is_separator_byte(c); }
inline bool is_tab_or_blank(unsigned char c) { return c == '\t' || c == ' '; }
inline bool is_line_end(unsigned char c) { return c == '\n' || c == '\r'; }

// Bytes that may bind neighbouring words into one compound.
bool only_glue_bytes(const ParseToken& t) {
  if (t.length <= 0) return false;
  for (int32_t i = 0; i < t.length; ++i)
    if (!strchr(".,-_& \t\n\r", t.start[i]) || t.start[i] == '\0') return false;
  return true;
}

bool is_name_type(char type) { return type == kTokNumber || type == kTokCapital || type == kTokOther; }
bool is_one_byte(const ParseToken& t, char c) { return t.length == 1 && t.start[0] == c; }

// Abbreviation with points ("U.S.A.", "e.g."): the length of the token, or 0.
int32_t abbreviation_length(const char* p) {
  const char* s = p;
  while (c_isalpha(byte(s)) && s[1] == '.') {
    s += 2;
    if (*s == ' ') ++s;
  }
  int32_t span = static_cast<int32_t>(s - p);
  if (span > 4 && s[-1] == ' ') {
    --s;
    --span;
  }
  return span >= 4 && is_separator_byte(byte(s)) ? span : 0;
}

// A number: a digit run, with groups of ",ddd" when the run is shorter than
// four digits. 0 when the number test is abandoned (a comma and a digit
// follow).
int32_t number_length(const char* p) {
  const char* q = p;
  while (c_isdigit(byte(q))) ++q;
  if (q - p < 4) {
    while (q[0] == ',' && c_isdigit(byte(q + 1)) && c_isdigit(byte(q + 2)) && c_isdigit(byte(q + 3)) &&
           !c_isdigit(byte(q + 4)))
      q += 4;
  }
  if (q[0] == ',' && c_isdigit(byte(q + 1))) return 0;
  return static_cast<int32_t>(q - p);
}

}  // namespace

char ClassifySeparator(const char* span, int32_t* length) {
  unsigned char first_line_end = 0;
  for (int32_t i = 0; i < *length; ++i) {
    unsigned char c = byte(span + i);
    unsigned char next = byte(span + i + 1);
    if (c == '-' && next == '-') return kTokHard;
    if (is_line_end(c)) {
      if (!first_line_end) {
        first_line_end = c;
      } else if (c == first_line_end) {
        return kTokHard;  // an empty line
      }
      if (is_tab_or_blank(next) || next == '-') return kTokHard;
      // A bullet letter at the start of a line is swallowed.
      if ((next == 'o' || next == 'O') && is_tab_or_blank(byte(span + i + 2))) {
        *length += 2;
        return kTokHard;
      }
    }
    if (is_tab_or_blank(c) && is_tab_or_blank(next)) return kTokHard;
    if (c != 0 && strchr("\t!;<>?{}", c)) return kTokHard;
  }
  return 0;
}

ParseState ParseTokens(const char* line_start, ParseState state, int stopwords, const zop_handle& handle) {
  const StopWordTable* table = stopwords ? &FindStopWordTable(handle) : nullptr;
  const char* p = state.text;
  while (*p) {
    if (is_run_byte(byte(p))) {
      const char* q = p;
      char type = 0;
      while (is_run_byte(byte(q))) {
        if (is_line_end(byte(q))) {
          // A short line (a heading, a list item) ends with a hard stop.
          ptrdiff_t distance = q - line_start;
          if (distance >= 2 && distance <= 12) type = kTokHard;
          line_start = q;
        }
        ++q;
      }
      int32_t length = static_cast<int32_t>(q - p);
      if (!type) type = ClassifySeparator(p, &length);
      if (AddParseState(&state, p, length, type) != 0) return state;
      p += length;
      continue;
    }

    if (int32_t span = abbreviation_length(p)) {
      if (AddParseState(&state, p, span, kTokOther) != 0) return state;
      p += span;
      continue;
    }

    if (c_isdigit(byte(p))) {
      if (int32_t digits = number_length(p)) {
        if (AddParseState(&state, p, digits, kTokNumber) != 0) return state;
        p += digits;
        if (c_isalpha(byte(p)) && AddParseState(&state, p, 0, kTokGlue) != 0) return state;
        continue;
      }
    }

    const char* q = p;
    int upper = 0, lower = 0, digits = 0;
    while (is_word_byte(byte(q))) {
      unsigned char c = byte(q);
      if (c_isupper(c)) ++upper;
      if (c_islower(c)) ++lower;
      if (c_isdigit(c)) ++digits;
      ++q;
    }
    int32_t length = static_cast<int32_t>(q - p);
    char type;
    if (table && LookupStopWord(p, length, *table)) {
      type = kTokStop;
    } else if (c_isupper(byte(p))) {
      type = upper < 2 && digits == 0 ? kTokCapital : kTokOther;
    } else if (digits == 0) {
      type = lower > 0 && upper == 0 ? kTokLower : kTokOther;
    } else {
      type = upper == 0 && lower == 0 ? kTokNumber : kTokOther;
    }
    if (AddParseState(&state, p, length, type) != 0) return state;
    p = q;
  }
  AddParseState(&state, p, 0, 0);
  return state;
}

void ParseHardStop(ParseState state) {
  for (uint32_t i = 0; i + 1 < state.count; ++i) {
    const ParseToken& t = state.tokens[i];
    ParseToken& next = state.tokens[i + 1];
    bool ends = t.type == kTokNumber || (t.type == kTokLower && t.length >= 2);
    if (ends && next.length >= 2 && next.start[0] == '.' && c_isspace(byte(next.start + 1))) next.type = kTokHard;
  }
}

void ParseGlue(ParseState state) {
  if (state.count < 3) return;
  ParseToken* T = state.tokens;
  const uint32_t third_last = state.count - 3;
  for (uint32_t i = 0; i <= third_last; ++i) {
    const ParseToken& t = T[i];
    ParseToken& m = T[i + 1];
    const ParseToken& u = T[i + 2];
    if (m.type != 0) continue;
    if (is_one_byte(m, '\'')) {
      m.type = kTokGlue;
    } else if (t.type == kTokNumber && u.type == kTokNumber && is_one_byte(m, ':')) {
      m.type = kTokGlue;  // 10:30
    } else if (is_name_type(t.type) && is_name_type(u.type)) {
      if (only_glue_bytes(m)) m.type = kTokGlue;  // New York, AT&T, 3.14
    } else if ((t.type == kTokCapital || t.type == kTokOther) && u.type == kTokStop) {
      // Bank of America, Queen of the Night: a chain of stop words between
      // two names.
      uint32_t k = i;
      while (k + 2 <= third_last && only_glue_bytes(T[k + 1]) && T[k + 2].type == kTokStop) k += 2;
      if (only_glue_bytes(T[k + 1]) && (T[k + 2].type == kTokCapital || T[k + 2].type == kTokOther)) {
        for (uint32_t j = k + 1; j > i; --j)
          if (T[j].type == 0) T[j].type = kTokGlue;
      }
    } else if (is_word_type(t.type) && is_word_type(u.type) && m.length == 1 && m.start[0] != '\0' &&
               strchr("-./@\\_", m.start[0])) {
      m.type = kTokGlue;  // e-mail, and/or
    }
  }
}

void ParseBreak(ParseState state) {
  for (uint32_t i = 0; i < state.count; ++i) {
    ParseToken& t = state.tokens[i];
    if (t.type == 0 && is_separator_byte(byte(t.start))) t.type = kTokSoft;
  }
}

void ParseUnHardStop(ParseState state) {
  for (uint32_t i = 0; i < state.count; ++i)
    if (state.tokens[i].type == kTokHard) state.tokens[i].type = kTokSoft;
}

ParseState TokenizeText(const char* text, ParseState* given, int stopwords, const zop_handle& handle) {
  ParseState state = given ? *given : InitParseState(text);
  state = ParseTokens(state.text, state, stopwords, handle);
  DumpParseState(state, "  (ParseTokens)");
  ParseHardStop(state);
  DumpParseState(state, "  (ParseHardStop)");
  ParseGlue(state);
  DumpParseState(state, "  (ParseGlue)");
  ParseBreak(state);
  DumpParseState(state, "  (ParseBreak)");
  if (!stopwords) {
    ParseUnHardStop(state);
    DumpParseState(state, "  (ParseUnHardStop)");
  }
  if (given) *given = state;
  return state;
}

ParseState TokenizeTextCopy(const char* text, size_t length, int stopwords, const zop_handle& handle) {
  char* copy = static_cast<char*>(s_malloc(length + 1));
  memcpy(copy, text, length);
  copy[length] = '\0';
  ParseState state = InitParseState(copy);
  state.owned_text = copy;
  return TokenizeText(copy, &state, stopwords, handle);
}

int WordTokens(const ParseState& state, char* out, size_t size, int lowercase) {
  char* p = out;
  char* const end = out + size;
  int count = 0;
  uint32_t i = 0;
  for (; i < state.count && end - p > 2; ++i) {
    const ParseToken& t = state.tokens[i];
    // The word, its NUL and the NULs that end the list must fit.
    if (is_word_type(t.type) && t.length >= 0 && end - p > static_cast<ptrdiff_t>(t.length) + 4) {
      p = CopyTokenText(t, p, lowercase) + 1;
      ++count;
    }
  }
  if (i < state.count) log_msg(LOG_INFO, "WordTokens: not enough buffer for all tokens: %.1024s", out);
  if (count == 0 && p < end) *p++ = '\0';
  for (int k = 0; k < 3 && p < end; ++k) *p++ = '\0';
  return count;
}

}  // namespace vorlane::engine
