#include "engine/analysis/stem_output.h"

#include <cstring>

#include "engine/analysis/ling_calls.h"
#include "store/cclass.h"
#include "store/log.h"

namespace vorlane::engine {

namespace {

inline constexpr int32_t kStemArea = 500;

const char* status_text(int32_t status, char* buffer, int32_t size) {
  buffer[0] = '\0';
  ling_calls.error_message(status, buffer, size);
  buffer[size - 1] = '\0';
  return buffer;
}

// Writes text and its NUL when they fit; the position of the NUL, or null.
char* put_string(char* out, int32_t room, const char* text) {
  size_t n = strlen(text);
  if (room <= 0 || n + 1 > static_cast<size_t>(room)) return nullptr;
  memcpy(out, text, n + 1);
  return out + n;
}

// A set of markup bytes of the stemmer's output, as a table (NUL is in none).
struct MarkupSet {
  bool in[256] = {};
  constexpr explicit MarkupSet(const char* bytes) {
    for (; *bytes; ++bytes) in[static_cast<unsigned char>(*bytes)] = true;
  }
  constexpr bool operator()(unsigned char c) const { return in[c]; }
};

constexpr MarkupSet kStemMarkup("#-<=>_|");   // dropped from whole stems
constexpr MarkupSet kJoinMarkup("<=>|");      // dropped from compound parts
constexpr MarkupSet kPartMarkup("#-_");       // ends a compound part
constexpr MarkupSet kShortestMarkup("|#-<>=");

// All stems (option 3 and any option other than 7 and 10806).
char* all_stems(const char* lower, const char* written, bool capitalised, bool inner, char* out, int32_t size,
                int* count, const zop_handle& handle, const void* dictionary, int32_t reserved) {
  char area[kStemArea];
  memset(area, 0, sizeof area);
  int32_t n = ling_calls.lookup(lower, kWholeWord, area, kStemArea, kLookupAllStems, handle.stemmer, dictionary,
                                reserved);
  if (n < 0 && n != kStatusNotInAlphabet) {
    char text[128];
    log_msg(LOG_INFO, "PrintWordStemMulti(ALL_STEMS) ZOP error: word=\"%s\", status=%d, %s", lower, n,
            status_text(n, text, sizeof text));
  }
  if (n <= 0 || area[0] == '\0') {
    char* end = put_string(out, size, written);
    *count = end ? 1 : 0;
    return end;
  }

  char* const limit = out + size;
  char* q = out;
  char* last_nul = nullptr;
  bool among = false;
  bool cap_letters = capitalised && !inner;
  bool full = false;

  // First sweep: each stem without its markup; is the word among them?
  {
    int strings = 0;
    char* begin = q;
    for (int32_t k = 0; k < kStemArea && strings < n; ++k) {
      unsigned char c = static_cast<unsigned char>(area[k]);
      if (kStemMarkup(c)) continue;
      if (c == 0) {
        ++strings;
        if (q == begin) continue;  // a stem of markup only writes nothing
        if (q >= limit) {
          full = true;
          break;
        }
        *q = '\0';
        if (strcmp(begin, written) == 0) among = true;
        last_nul = q++;
        ++*count;
        begin = q;
        continue;
      }
      if (q >= limit) {
        full = true;
        break;
      }
      if (cap_letters && q == begin && c_isalpha(c)) c = c_toupper(c);
      *q++ = static_cast<char>(c);
    }
    // An unfinished string (no NUL within the area) is dropped.
    if (full) q = last_nul ? last_nul + 1 : out;
    else q = begin;
  }

  // Second sweep: the compound parts of the stems that have any.
  if (!full) {
    int strings = 0;
    char* stem_begin = q;
    char* part_begin = q;
    bool split = false;
    for (int32_t k = 0; k < kStemArea && strings < n; ++k) {
      unsigned char c = static_cast<unsigned char>(area[k]);
      if (kJoinMarkup(c)) continue;
      if (c == 0 || kPartMarkup(c)) {
        if (c != 0) split = true;
        if (c != 0 || split) {
          if (q > part_begin) {  // empty parts are not written
            if (q >= limit) {
              full = true;
              break;
            }
            *q = '\0';
            last_nul = q++;
            ++*count;
          }
          part_begin = q;
        }
        if (c == 0) {
          ++strings;
          if (!split) q = stem_begin;  // an unsplit stem is taken back
          stem_begin = part_begin = q;
          split = false;
        }
        continue;
      }
      if (q >= limit) {
        full = true;
        break;
      }
      if (cap_letters && q == part_begin && c_isalpha(c)) c = c_toupper(c);
      *q++ = static_cast<char>(c);
    }
    // Parts of an unfinished stem that were already written stay; the
    // unfinished string is dropped.
    if (full) q = last_nul ? last_nul + 1 : out;
    else q = split ? part_begin : stem_begin;
  }

  if (full) {
    log_msg(LOG_INFO, "PrintWordStemMulti: ran out of buffer stemming \"%s\", len=%d", lower, size);
  } else if (!among) {
    if (char* end = put_string(q, static_cast<int32_t>(limit - q), written)) {
      last_nul = end;
      ++*count;
    }
  }
  return last_nul;
}

// One stem (options 7 and 10806).
char* shortest_stem(const char* lower, size_t lower_length, const char* written, bool capitalised, bool inner,
                    char* out, int32_t size, int* count, const zop_handle& handle, int option, const void* dictionary,
                    int32_t reserved) {
  const char* word = option == kStemShortestFolded ? lower : written;
  int32_t room = size < kStemRoom ? size : kStemRoom;
  auto give_word = [&]() {
    char* end = put_string(out, room, word);
    *count = end ? 1 : 0;
    return end;
  };
  if (room <= 0) return nullptr;
  if (option == kStemShortest && (inner || (capitalised && strcmp(handle.name, "german") != 0)))
    return give_word();

  int32_t n = 0;
  if (dictionary) {
    n = ling_calls.dict_lookup(lower, nullptr, out, room, kDictStemPart, 0, dictionary);
    if (n < 0) {
      char text[128];
      log_msg(LOG_WARNING, "PrintWordStemMulti(USER_DICT) ZOP error: word=\"%s\", status=%d, %s", lower, n,
              status_text(n, text, sizeof text));
      return give_word();
    }
    if (n > 1) {
      // The shortest of the entries (the first of equal length) to the start.
      const char* best = out;
      size_t best_length = strnlen(out, static_cast<size_t>(room));
      const char* s = out;
      for (int32_t k = 0; k < n; ++k) {
        size_t left = static_cast<size_t>(out + room - s);
        size_t length = strnlen(s, left);
        if (length == left) break;
        if (length < best_length) {
          best = s;
          best_length = length;
        }
        s += length + 1;
      }
      memmove(out, best, best_length);
      out[best_length] = '\0';
      n = 1;
    }
  }
  if (n == 0) {
    n = ling_calls.lookup(lower, kWholeWord, out, room, kLookupShortestStem, handle.stemmer, dictionary, reserved);
    if (n < 0) {
      char text[128];
      log_msg(LOG_WARNING, "PrintWordStemMulti(SHORTEST_STEM) ZOP error: word=\"%s\", status=%d, %s", lower, n,
              status_text(n, text, sizeof text));
    }
  }
  if (n <= 0 || out[0] == '\0' || strnlen(out, static_cast<size_t>(room)) == static_cast<size_t>(room))
    return give_word();

  char* q = out;
  for (char* s = out; *s; ++s)
    if (!kShortestMarkup(static_cast<unsigned char>(*s))) *q++ = *s;
  *q = '\0';
  if (q == out || (static_cast<size_t>(q - out) == lower_length && memcmp(out, lower, lower_length) == 0))
    return give_word();
  *count = 1;
  return q;
}

}  // namespace

char* PrintWordStemMulti(const ParseToken& token, char* out, int32_t size, int* count, const zop_handle& handle,
                         int option, const void* dictionary, int32_t reserved) {
  *count = 0;
  if (!out) {
    log_msg(LOG_ERROR, "PrintWordStemMulti: stems arg is null pointer");
    return nullptr;
  }
  if (size <= 0) return nullptr;
  if (token.length > kMaxStemmedWord) {
    out[0] = '\0';
    *count = 1;
    return out;
  }
  char lower[kMaxStemmedWord + 1];
  char written[kMaxStemmedWord + 1];
  const int32_t length = CopyTokenCases(token, lower, written);
  if (token.type == kTokNumber) {
    char* end = put_string(out, size, lower);
    *count = end ? 1 : 0;
    return end;
  }
  bool capitalised = c_isupper(static_cast<unsigned char>(written[0]));
  bool inner = false;
  for (int32_t k = 1; k < length; ++k)
    if (c_isupper(static_cast<unsigned char>(written[k]))) inner = true;
  if (!dictionary) dictionary = handle.dictionary;

  if (option != kStemShortest && option != kStemShortestFolded)
    return all_stems(lower, written, capitalised, inner, out, size, count, handle, dictionary, reserved);
  return shortest_stem(lower, static_cast<size_t>(length), written, capitalised, inner, out, size, count, handle,
                       option, dictionary, reserved);
}

char* WordOrStem(const ParseToken& token, char* out, ptrdiff_t room, const zop_handle& handle, int option) {
  if (room <= 0) return nullptr;
  if (option == kStemNone) {
    if (token.length < 0 || room < static_cast<ptrdiff_t>(token.length) + 1) return nullptr;
    return CopyTokenText(token, out, 1);
  }
  int32_t size = room < kStemRoom ? static_cast<int32_t>(room) : kStemRoom;
  int count = 0;
  return PrintWordStemMulti(token, out, size, &count, handle, option, handle.dictionary, 0);
}

int StemTokens(const ParseState& state, char* out, size_t size, const zop_handle& handle, int all) {
  // The last 4 bytes are kept for the NULs that end the list.
  char* const area_end = out + size;
  char* const end = size > 4 ? area_end - 4 : out;
  char* p = out;
  int count = 0;
  uint32_t i = 0;
  bool stopped = false;
  for (; i < state.count; ++i) {
    const ParseToken& t = state.tokens[i];
    if (!is_word_type(t.type) || t.length <= 0 || t.length >= kMaxStemmedWord) continue;
    if (end - p <= static_cast<ptrdiff_t>(t.length)) {
      stopped = true;
      break;
    }
    if (t.type == kTokNumber) {
      memcpy(p, t.start, static_cast<size_t>(t.length));
      p[t.length] = '\0';
      p += t.length + 1;
      ++count;
      continue;
    }
    int written = 0;
    char* last = PrintWordStemMulti(t, p, static_cast<int32_t>(end - p), &written, handle, all ? kStemAll : kStemShortest,
                                    handle.dictionary, 0);
    if (!last) {
      stopped = true;
      break;
    }
    p = last + 1;
    count += written;
  }
  if (count == 0 && p < area_end) *p++ = '\0';
  for (int k = 0; k < 3 && p < area_end; ++k) *p++ = '\0';
  if (stopped || p >= area_end) {
    char text[kMaxStemmedWord + 2] = "";
    if (i < state.count && state.tokens[i].length <= kMaxStemmedWord) TokenText(state.tokens[i], text);
    log_msg(LOG_INFO, "StemTokens: buffer full, stopped at \"%.40s\" (token %d of %d)", text, static_cast<int>(i),
            static_cast<int>(state.count));
  }
  return count;
}

}  // namespace vorlane::engine
