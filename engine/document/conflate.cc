#include "engine/document/conflate.h"

#include <cstring>

#include "engine/document/conflation_tables.h"
#include "engine/analysis/phrase_output.h"
#include "engine/analysis/stem_output.h"
#include "engine/analysis/token_passes.h"

namespace vorlane::engine {

int conflate(const char* source, char* out, size_t size, size_t skip, const unsigned char* map,
             const char* const* expansions) {
  if (size == 0) return 0;
  const size_t cap = size - 1;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
  size_t n = 0;
  while (n < skip && n < cap && *s) out[n++] = static_cast<char>(*s++);
  if (n < skip && *s) {  // no room past the prefix
    out[n] = '\0';
    return 0;
  }
  int changed = 0;
  while (n < cap && *s) {
    const unsigned char c = *s++;
    const char* e = expansions ? expansions[c] : nullptr;
    if (e) {
      changed = 1;
      for (; *e && n < cap; ++e) out[n++] = *e;
    } else {
      out[n++] = static_cast<char>(map[c]);
      if (map[c] != c) changed = 1;
    }
  }
  out[n] = '\0';
  return changed;
}

size_t conflated_length(const char* source, size_t skip, const char* const* expansions) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
  size_t n = 0;
  for (; n < skip && *s; ++s) ++n;
  for (; *s; ++s) n += expansions && expansions[*s] ? strlen(expansions[*s]) : 1;
  return n;
}

int conflate_term(const char* term, char* out, size_t size, size_t skip) {
  return conflate(term, out, size, skip, conflation_map, conflation_expansions);
}

int lower_term(const char* term, char* out, size_t size, size_t skip) {
  return conflate(term, out, size, skip, lower_case_map, nullptr);
}

size_t conflate_text_output_size(size_t length) {
  const size_t area = length + 1 < 81921 ? 20 * (length + 1) : kConflateOutputMax;
  return area + 1;
}

namespace {

// The output of conflate_text: the bytes written so far, the room for them
// (the area less its NUL) and whether a form has been refused for lack of
// room, which ends the output.
struct Output {
  char* base;
  size_t room;
  size_t n;
  bool full;
};

// Writes the form of source through map and expansions (map null: source
// itself), and a blank, when the form differs from source or map is null.
// A form that does not fit whole, blank included, ends the output. Returns
// whether the form was written.
bool put_form(Output& o, const char* source, const unsigned char* map, const char* const* expansions) {
  if (o.full) return false;
  const size_t need = map ? conflated_length(source, 0, expansions) : strlen(source);
  if (need + 1 > o.room - o.n) {
    o.full = true;
    return false;
  }
  char* at = o.base + o.n;
  if (map) {
    if (!conflate(source, at, need + 1, 0, map, expansions)) return false;
  } else {
    memcpy(at, source, need);
  }
  o.n += need;
  o.base[o.n++] = ' ';
  return true;
}

// Emits every string of a list area (NUL-terminated strings up to the first
// empty one) with its variants.
void emit_list(Output& o, const char* list, size_t list_size, const ConflateFlags& f) {
  size_t at = 0;
  while (at < list_size && list[at] && !o.full) {
    const char* s = list + at;
    const size_t len = strnlen(s, list_size - at);
    if (at + len == list_size) break;  // a string without its NUL: the area's end
    at += len + 1;
    put_form(o, s, nullptr, nullptr);
    if (f.conflated) {
      const size_t start = o.n;
      if (put_form(o, s, conflation_map, conflation_expansions) && f.lowered) {
        // The conflated form lies just before the write position; for the
        // moment its blank ends it as a string.
        const size_t blank = o.n - 1;
        o.base[blank] = '\0';
        put_form(o, o.base + start, lower_case_map, nullptr);
        o.base[blank] = ' ';
      }
    }
    if (f.lowered) put_form(o, s, lower_case_map, nullptr);
  }
}

}  // namespace

size_t conflate_text_write(const char* text, size_t length, const ConflateFlags& flags, const zop_handle& handle,
                           char* out, size_t size, char* list, size_t list_size) {
  if (size == 0) return 0;
  Output o{out, size - 1, 0, false};
  ParseState state =
      TokenizeTextCopy(text, length < kConflateTextMax ? length : kConflateTextMax, flags.stopwords, handle);
  bool words = flags.words != 0;
  if (list_size > 0) {
    list[0] = '\0';
    if (flags.phrases) {
      const int n = PhraseTokens(state, list, list_size, handle, flags.stems ? kStemShortest : kStemNone, 1);
      if (n == 0) words = true;
      emit_list(o, list, list_size, flags);
    }
    if (words) {
      list[0] = '\0';
      if (flags.stems)
        StemTokens(state, list, list_size, handle, 1);
      else
        WordTokens(state, list, list_size, 1);
      emit_list(o, list, list_size, flags);
    }
  }
  FreeParseState(state);
  out[o.n] = '\0';
  return o.n;
}

}  // namespace vorlane::engine
