#include "linguistics/zop/tokenizer.h"

#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "linguistics/fst/dictionary.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/fst_interface.h"
#include "linguistics/fst/lookup.h"
#include "linguistics/zop/latin1_classes.h"

namespace vorlane {

using zop::is_line_break;
using zop::is_opening_mark;
using zop::is_space;
using zop::is_token_letter;
using zop::is_token_punct;
using zop::is_trailing_mark;
using zop::is_word_char;
using zop::punct_type;

namespace {

constexpr int32_t kFirstBufferSize = 1024;
// The lookup buffer stops growing here; a chunk needing more is refused (-12).
constexpr int32_t kMaxBufferSize = 1 << 24;
constexpr int32_t kTagNameMax = 14;

// Bits collected from a tag's dictionary analyses.
constexpr int32_t kTagBitKeep = 1;
constexpr int32_t kTagBitInhibit = 2;
constexpr int32_t kTagBitSentence = 4;
constexpr int32_t kTagBitPara = 8;

int32_t check_tokenizer(void* object, Tokenizer** out) {
  int32_t status = fst_status(object);
  if (status != 0) return status;
  auto* t = static_cast<Tokenizer*>(object);
  if (t->magic != kTokenizerMagic) return kFstBadFsm;
  *out = t;
  return 0;
}

struct Run {
  const uint8_t* text;
  int32_t length;
  Tokenizer* tok;
  bool complete;
  bool markup;
  TokenRecord* records;
  int32_t capacity;
  char* work;
  int32_t work_size;
  int32_t n = 0;
  int32_t fill = 0;

  bool add(int32_t text_offset, int32_t offset, int32_t len, int32_t type) {
    if (n >= capacity) return false;
    records[n++] = {text_offset, offset, len, type};
    return true;
  }
  bool is_break(uint8_t c) const { return is_space(c) || (markup && c == '<'); }
};

// A tag at position p of the text: its end (exclusive) and lowered name, or
// false when the text holds only part of it.
bool read_tag(const uint8_t* t, int32_t left, int32_t* end, char* name) {
  if (left < 3) return false;
  if (t[1] == '!' && t[2] == '-') {
    if (left < 7) return false;
    for (int32_t i = 5; i < left; ++i) {
      if (t[i] == '>' && t[i - 1] == '-' && t[i - 2] == '-') {
        *end = i + 1;
        std::memcpy(name, "!--", 4);
        return true;
      }
    }
    return false;
  }
  int32_t e = -1;
  for (int32_t i = 1; i < left; ++i) {
    if (t[i] == '>') { e = i + 1; break; }
    if (t[i] == '<') { e = i; break; }
  }
  if (e < 0) return false;
  int32_t stop = t[e - 1] == '>' ? e - 1 : e;
  int32_t k = 0;
  for (int32_t i = 1; i < stop && !is_space(t[i]) && k < kTagNameMax; ++i) {
    uint8_t c = t[i];
    name[k++] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  name[k] = 0;
  *end = e;
  return true;
}

int32_t tag_bits(const Tokenizer* tok, const char* name) {
  if (tok->dictionary == nullptr) return 0;
  const char* key = name[0] == '/' ? name + 1 : name;
  char out[1024];
  int32_t found = dict_lookup(key, nullptr, out, sizeof out, kDictTags, 0, tok->dictionary);
  int32_t bits = 0;
  const char* p = out;
  for (int32_t i = 0; i < found; ++i) {
    std::string_view tag(p);
    if (tag == "[html-sent]") bits |= kTagBitSentence;
    else if (tag == "[html-tag-keep]") bits |= kTagBitKeep;
    else if (tag == "[html-tag-inhibit]") bits |= kTagBitInhibit;
    else if (tag == "[html-para]") bits |= kTagBitPara;
    p += tag.size() + 1;
  }
  return bits;
}

// Type of a transducer token of the given bytes.
int32_t chunk_token_type(const uint8_t* s, int32_t len) {
  if (len <= 0) return kTokenMixed;
  bool letters = true, puncts = true;
  for (int32_t i = 0; i < len; ++i) {
    letters = letters && is_token_letter(s[i]);
    puncts = puncts && is_token_punct(s[i]);
  }
  if (letters) return kTokenWord;
  if (len == 1 || puncts) return punct_type(s[0]);
  return kTokenMixed;
}

// Position of needle (nlen bytes) in text [from, end), or -1.
int32_t find_in(const uint8_t* text, int32_t from, int32_t end, const char* needle, int32_t nlen) {
  if (nlen <= 0) return -1;
  for (int32_t i = from; i + nlen <= end; ++i) {
    if (std::memcmp(text + i, needle, static_cast<size_t>(nlen)) == 0) return i;
  }
  return -1;
}

// Segments text [cs, ce) with the transducer; 0 or a negative code. On
// failure the records and work-buffer texts of the chunk are taken back.
int32_t segment_chunk(Run* r, int32_t cs, int32_t ce) {
  Tokenizer* tok = r->tok;
  int32_t results;
  for (;;) {
    // Cleared so that the end of the result can be told from the NULs that
    // end symbols between tokens decode to.
    std::memset(tok->buffer.get(), 0, static_cast<size_t>(tok->buffer_size));
    results = fst_lookup(reinterpret_cast<const char*>(r->text + cs), ce - cs, tok->buffer.get(), tok->buffer_size,
                         11, tok->fsm, nullptr, tok->options);
    if (results != kFstTooLong) break;
    if (tok->buffer_size >= kMaxBufferSize) return kFstTooLong;
    int32_t size = tok->buffer_size * 2;
    char* bigger = new (std::nothrow) char[static_cast<size_t>(size)];
    if (bigger == nullptr) return kFstNoMemory;
    tok->buffer.reset(bigger);
    tok->buffer_size = size;
  }
  if (results < 0) return results;
  if (results == 0) return kFstBadFsm;

  const int32_t n0 = r->n, fill0 = r->fill;
  auto fail = [&](int32_t code) {
    r->n = n0;
    r->fill = fill0;
    return code;
  };
  // The first result: tokens separated by blanks, or by end symbols (which
  // decode to NULs inside the text; the result ends at an empty token).
  std::string joined;
  {
    const char* b = tok->buffer.get();
    for (int32_t i = 0; i < tok->buffer_size; ++i) {
      if (b[i] != 0) {
        joined.push_back(b[i]);
      } else if (i + 1 < tok->buffer_size && b[i + 1] != 0) {
        joined.push_back(' ');
      } else {
        break;
      }
    }
  }
  const char* out = joined.c_str();
  const uint8_t* text = r->text;
  int32_t o = 0, ip = cs;
  while (out[o] == ' ') ++o;
  while (out[o] != 0) {
    const int32_t start_out = o, start_in = ip;
    while (out[o] != 0 && out[o] != ' ' && ip < ce && static_cast<uint8_t>(out[o]) == text[ip]) {
      ++o;
      ++ip;
    }
    int32_t tok_end = o;
    while (out[tok_end] != 0 && out[tok_end] != ' ') ++tok_end;
    int32_t next = tok_end;
    while (out[next] == ' ') ++next;
    int32_t next_len = 0;
    while (out[next + next_len] != 0 && out[next + next_len] != ' ') ++next_len;

    if (o == tok_end) {
      if (!r->add(-1, start_in, ip - start_in, chunk_token_type(text + start_in, ip - start_in))) {
        return fail(kFstTooLong);
      }
    } else {
      // Normalised output: its span runs to where the next output token is
      // found in the chunk, or to the chunk's end.
      int32_t span_end = ce;
      if (next_len > 0) {
        int32_t from = ip > start_in ? ip : start_in + 1;
        int32_t at = find_in(text, from, ce, out + next, next_len);
        if (at >= 0) span_end = at;
      }
      int32_t len = tok_end - start_out;
      if (static_cast<int64_t>(r->fill) + len + 1 > r->work_size) return fail(kFstTooLong);
      std::memcpy(r->work + r->fill, out + start_out, static_cast<size_t>(len));
      r->work[r->fill + len] = 0;
      if (!r->add(r->fill, start_in, span_end - start_in,
                  chunk_token_type(reinterpret_cast<const uint8_t*>(out + start_out), len))) {
        return fail(kFstTooLong);
      }
      r->fill += len + 1;
      ip = span_end;
    }
    o = next;
    if (next_len > 0 && (ip >= ce || text[ip] != static_cast<uint8_t>(out[next]))) {
      int32_t at = find_in(text, ip, ce, out + next, next_len);
      if (at >= 0) ip = at;
    }
  }
  return 0;
}

}  // namespace

void* tokenizer_create(const void* fsm, int32_t options, const void* dictionary) {
  const FSM* f = nullptr;
  if (fsm == nullptr || fst_check(fsm, &f) != 0) return fst_error_handle(kFstBadFsm);
  if (fst_is_error_handle(dictionary)) return fst_error_handle(kFstBadDictionary);
  if ((fst_capabilities(fsm) & kCapTokenizer) == 0) return fst_error_handle(kFstBadFunction);
  auto* tok = new (std::nothrow) Tokenizer;
  if (tok == nullptr) return fst_error_handle(kFstNoMemory);
  tok->buffer.reset(new (std::nothrow) char[kFirstBufferSize]);
  if (!tok->buffer) {
    delete tok;
    return fst_error_handle(kFstNoMemory);
  }
  tok->buffer_size = kFirstBufferSize;
  tok->fsm = f;
  tok->options = options;
  tok->dictionary = dictionary;
  return tok;
}

void tokenizer_free(void* tokenizer) {
  Tokenizer* tok = nullptr;
  if (tokenizer == nullptr || check_tokenizer(tokenizer, &tok) != 0) return;
  tok->magic = 0;
  delete tok;
}

int32_t tokenize_text(const char* text, int32_t length, void* tokenizer, int32_t flags, TokenRecord* records,
                      int32_t capacity, char* work, int32_t work_size, int32_t* count) {
  if (text == nullptr || tokenizer == nullptr || records == nullptr || work == nullptr || count == nullptr) {
    return kFstNullPointer;
  }
  *count = 0;
  Tokenizer* tok = nullptr;
  if (int32_t rc = check_tokenizer(tokenizer, &tok); rc != 0) return rc;
  if (length < 0 || capacity < 0 || work_size < 0) return kFstBadNumber;

  Run r{reinterpret_cast<const uint8_t*>(text), length, tok, (flags & kTokenizeComplete) != 0,
        (flags & kTokenizeMarkup) != 0, records, capacity, work, work_size};
  const uint8_t* t = r.text;
  int32_t pos = 0;
  auto stop = [&](int32_t consumed) {
    *count = r.n;
    return consumed;
  };

  while (pos < length) {
    // Whitespace.
    if (is_space(t[pos])) {
      int32_t lf = 0, cr = 0, first_break = -1;
      while (pos < length && is_space(t[pos])) {
        if (is_line_break(t[pos])) {
          if (first_break < 0) first_break = pos;
          (t[pos] == 10 ? lf : cr)++;
        }
        ++pos;
      }
      if (pos == length && !r.complete) {
        return stop((r.markup || first_break < 0) ? length : first_break);
      }
      if (!r.markup && first_break >= 0) {
        int32_t type = kTokenLineBreak;
        if (lf >= 2 || cr >= 2 || (flags & kTokenizeLineIsParagraph) != 0) type |= kTokenParagraph;
        if (!r.add(-1, first_break, pos - first_break, type)) return stop(first_break);
      }
      continue;
    }

    // A run of letters and digits.
    const int32_t rs = pos;
    int32_t re = pos;
    while (re < length && is_word_char(t[re])) ++re;
    const int32_t run = re - rs;
    if (re == length || is_space(t[re]) || (r.markup && t[re] == '<' && run > 0)) {
      if (re == length && !r.complete) return stop(rs);
      if (!r.add(-1, rs, run, kTokenWord)) return stop(rs);
      pos = re;
      continue;
    }

    // An opening mark.
    if (run == 0 && is_opening_mark(t[pos])) {
      if (!r.add(-1, pos, 1, punct_type(t[pos]))) return stop(pos);
      ++pos;
      continue;
    }

    // A markup tag.
    if (run == 0 && r.markup && t[pos] == '<') {
      char name[kTagNameMax + 1];
      int32_t end = 0;
      if (!read_tag(t + pos, length - pos, &end, name)) {
        if (!r.complete) return stop(pos);
        // Complete input: the rest of the text is the tag.
        end = length - pos;
        name[0] = 0;
      }
      end += pos;
      int32_t bits = tag_bits(tok, name);
      int32_t type = (bits & kTagBitKeep) ? kTokenTagKeep : kTokenIgnore;
      if (bits & kTagBitSentence) type |= kTokenSentence;
      if (bits & kTagBitPara) type |= kTokenParagraph;
      if ((bits & kTagBitInhibit) && !(bits & kTagBitKeep)) {
        if (name[0] == '/') {
          if (!r.add(-1, pos, end - pos, type)) return stop(pos);
          return stop(end);
        }
        // Skip the whole element, counting nested elements of the same name.
        int32_t depth = 1, p = end;
        bool closed = false;
        while (p < length) {
          const void* lt = std::memchr(t + p, '<', static_cast<size_t>(length - p));
          if (lt == nullptr) break;
          int32_t at = static_cast<int32_t>(static_cast<const uint8_t*>(lt) - t);
          char inner[kTagNameMax + 1];
          int32_t inner_end = 0;
          if (!read_tag(t + at, length - at, &inner_end, inner)) break;
          if (std::strcmp(inner, name) == 0) {
            ++depth;
          } else if (inner[0] == '/' && std::strcmp(inner + 1, name) == 0) {
            --depth;
          }
          p = at + inner_end;
          if (depth == 0) {
            closed = true;
            break;
          }
        }
        if (!closed) {
          if (!r.complete) return stop(pos);
          p = length;
        }
        if (!r.add(-1, pos, p - pos, kTokenIgnore)) return stop(pos);
        pos = p;
        continue;
      }
      if (!r.add(-1, pos, end - pos, type)) return stop(pos);
      pos = end;
      continue;
    }

    // Trailing marks after the run, or a chunk for the transducer.
    int32_t p = re;
    while (p < length && is_trailing_mark(t[p])) ++p;
    if (p < length && !r.is_break(t[p])) {
      int32_t ce = p;
      while (ce < length && !r.is_break(t[ce])) ++ce;
      if (ce == length && !r.complete) return stop(rs);
      int32_t rc = segment_chunk(&r, rs, ce);
      if (rc < 0) return rs > 0 ? stop(rs) : rc;
      pos = ce;
      continue;
    }
    if (p == length && !r.complete) return stop(rs);
    if (run > 0 && !r.add(-1, rs, run, kTokenWord)) return stop(rs);
    for (int32_t i = re; i < p; ++i) {
      if (!r.add(-1, i, 1, punct_type(t[i]))) return stop(i);
    }
    pos = p;
  }
  return stop(length);
}

}  // namespace vorlane
