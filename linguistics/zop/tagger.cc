#include "linguistics/zop/tagger.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "linguistics/fst/coding.h"
#include "linguistics/fst/dictionary.h"
#include "linguistics/fst/enumerate.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/zop/latin1_classes.h"

namespace vorlane {

using zop::is_lower;
using zop::is_upper;
using zop::to_lower;
using zop::to_upper;

namespace {

constexpr int32_t kLexiconFunction = 60;
constexpr int32_t kGuesserFunction = 61;
constexpr int32_t kEnumFrames = 100;

const char* const kTitleWords[] = {"a",  "and", "as", "at", "by", "for", "from", "in",
                                   "is", "n't", "of", "on", "or", "the", "to",  "with"};
constexpr char kTitleUncap[] = "[title-uncap]";

int32_t check_buffer(void* object, TaggerBuffer** out) {
  if (object == nullptr) return kFstNullPointer;
  int32_t status = fst_status(object);
  if (status != 0) return status;
  auto* b = static_cast<TaggerBuffer*>(object);
  if (b->magic != kTaggerBufferMagic) return kFstBadFsm;
  *out = b;
  return 0;
}

bool all_capitals(const std::string& s) {
  if (s.empty()) return false;
  uint8_t c0 = static_cast<uint8_t>(s[0]);
  if (!is_upper(c0) && c0 != '\'' && c0 != '-' && c0 != 146) return false;
  int32_t run = 0;
  bool long_run = false;
  for (unsigned char c : s) {
    if (is_lower(c)) return false;
    if (c == '.') {
      run = 0;
    } else if (++run >= 3) {
      long_run = true;
    }
  }
  return long_run || run > 1;
}

bool is_opener(const char* t) {
  if (std::strcmp(t, "--") == 0 || std::strcmp(t, "``") == 0 || std::strcmp(t, "''") == 0) return true;
  if (t[0] == 0 || t[1] != 0) return false;
  switch (static_cast<uint8_t>(t[0])) {
    case ':': case '"': case '`': case '(': case '-': case 130: case 132: case 133: case 134: case 135:
    case 139: case 145: case 146: case 147: case 148: case 150: case 151: case 153: case 155: case 161:
    case 169: case 170: case 174: case 186: case 191:
      return true;
    default:
      return false;
  }
}

struct Tagging {
  TaggerBuffer* b;
  const Hmm* hmm;
  const void* title;
  std::vector<const char*> tok;
  int32_t n;
  bool multi;
  bool title_mode = false;
  bool lower_mode = false;
  uint8_t lex = 255, guess = 255;
  // Working lists of classify, kept for the sentence's words.
  std::vector<uint16_t> found{}, codes{}, best_codes{};
  std::vector<std::string> parts{}, forms{}, single{};
  std::vector<int32_t> index{};
};

// Looks a candidate up with the given net; writes up to room class symbol
// numbers to out. The count, or a negative code.
int32_t lookup_codes(Tagging* t, const std::string& text, uint8_t net, const void* dict, uint16_t* out,
                     int32_t room) {
  TaggerBuffer* b = t->b;
  const FSM* clg = t->hmm->clg;
  if (text.size() + 1 > b->text.size()) return kFstTokenBufferSmall;
  if (dict != nullptr) {
    char found[1024];
    int32_t matches = dict_lookup(text.c_str(), nullptr, found, sizeof found, kDictTags, 0, dict);
    int32_t k = 0;
    const char* p = found;
    for (int32_t i = 0; i < matches && k < room; ++i, p += std::strlen(p) + 1) {
      int32_t len = fst_encode(p, static_cast<int32_t>(std::strlen(p)), b->coded.data(),
                               static_cast<int32_t>(b->coded.size()), true, false, false, clg);
      if (len <= 0) continue;
      uint16_t numbers[4];
      int32_t count = fst_decode_symbols(b->coded.data(), numbers, 4, clg);
      if (count < 0) continue;
      int32_t real = 0;
      uint16_t last = 0;
      for (int32_t j = 0; j < count; ++j) {
        if (numbers[j] == t->hmm->tagsep_number || numbers[j] == t->hmm->end_number) continue;
        ++real;
        last = numbers[j];
      }
      if (real == 1) out[k++] = last;
    }
    if (k > 0) return k;
  }
  if (net == 255) return 0;
  // The enumeration depends on the lexicon, the net, the text and the room
  // only: its answers are remembered in the lexicon's memo.
  MemoKey key;
  key.add(kEnumMemoKind).add(net).add(room).add_text(text.data(), text.size());
  const bool memo = clg->memo && key.fits();
  if (memo) {
    int32_t count;
    size_t bytes;
    if (clg->memo->find(key.view(), &count, out, sizeof(uint16_t) * static_cast<size_t>(room), &bytes)) return count;
  }
  int32_t len = fst_encode(text.c_str(), static_cast<int32_t>(text.size()), b->coded.data(),
                           static_cast<int32_t>(b->coded.size()), false, false, true, clg);
  if (len == kFstNotInAlphabet) return 0;
  if (len == kFstTooLong) return kFstTokenBufferSmall;
  if (len < 0) return len;
  FstFrame frames[kEnumFrames];
  int32_t r = apply_fst_enum(b->coded.data(), out, room, net, frames, kEnumFrames, clg);
  if (r == kFstTooLong) r = room;
  if (r == kFstStackOverflow || r == kFstIncompleteInput) r = 0;
  if (memo && r >= 0) clg->memo->store(key.view(), r, out, sizeof(uint16_t) * static_cast<size_t>(r));
  return r;
}

// The case variants of a candidate's tokens: all capitals with the letters
// after the first lowered, then the first letter's case changed.
void variants(const Tagging* t, const std::vector<std::string>& parts, bool start, std::vector<std::string>* out) {
  auto join = [](const std::vector<std::string>& p) {
    std::string s;
    for (size_t i = 0; i < p.size(); ++i) s += (i ? " " : "") + p[i];
    return s;
  };
  out->clear();
  out->push_back(join(parts));
  std::vector<std::string> caps = parts;
  bool changed = false;
  for (std::string& p : caps) {
    if (!all_capitals(p)) continue;
    for (size_t i = 1; i < p.size(); ++i) p[i] = static_cast<char>(to_lower(static_cast<uint8_t>(p[i])));
    changed = true;
  }
  if (changed) out->push_back(join(caps));
  changed = false;
  for (size_t k = 0; k < caps.size(); ++k) {
    if (!(t->title_mode || t->lower_mode || (k == 0 && start)) || caps[k].empty()) continue;
    uint8_t c = static_cast<uint8_t>(caps[k][0]);
    uint8_t to = c;
    if (t->lower_mode && is_lower(c)) to = to_upper(c);
    if (!t->lower_mode && is_upper(c)) to = to_lower(c);
    if (to != c) {
      caps[k][0] = static_cast<char>(to);
      changed = true;
    }
  }
  if (changed) out->push_back(join(caps));
}

// Classifies the word at token i: *next is the token after it.
int32_t classify(Tagging* t, int32_t i, bool start, int32_t* next, int32_t* cls) {
  TaggerBuffer* b = t->b;
  const Hmm* hmm = t->hmm;
  const int32_t room = hmm->ntag;
  std::vector<uint16_t>& found = t->found;
  found.resize(static_cast<size_t>(room));
  std::vector<std::string>& parts = t->parts;
  std::vector<std::string>& forms = t->forms;
  std::vector<int32_t>& index = t->index;
  parts.clear();
  index.clear();
  int32_t best = 0;
  std::vector<uint16_t>& best_codes = t->best_codes;
  best_codes.clear();
  for (int32_t j = i; j < t->n;) {
    if (!index.empty()) {
      while (j < t->n && static_cast<uint8_t>(t->tok[static_cast<size_t>(j)][0]) < 33) b->blank[static_cast<size_t>(j++)] = 1;
      if (j == t->n) break;
    }
    parts.emplace_back(t->tok[static_cast<size_t>(j)]);
    index.push_back(j);
    variants(t, parts, start, &forms);
    std::vector<uint16_t>& codes = t->codes;
    codes.clear();
    for (const std::string& form : forms) {
      int32_t c = lookup_codes(t, form, t->lex, t->title, found.data(), room);
      if (c < 0) return c;
      codes.insert(codes.end(), found.begin(), found.begin() + c);
    }
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    bool has_mwt = std::find(codes.begin(), codes.end(), b->mwt_number) != codes.end();
    bool has_real = codes.size() > (has_mwt ? 1u : 0u);
    const int32_t k = static_cast<int32_t>(parts.size());
    if (has_real && k >= best) {
      best = k;
      if (b->by_length.size() < static_cast<size_t>(k)) b->by_length.resize(static_cast<size_t>(k));
      b->by_length[static_cast<size_t>(k) - 1] = codes;
      best_codes = codes;
    }
    if (!t->multi || !has_mwt) break;
    ++j;
  }
  if (best > 0) {
    for (int32_t k = 0; k + 1 < best; ++k) b->mwt[static_cast<size_t>(index[static_cast<size_t>(k)])] = 1;
    *cls = hmm_class_of(hmm, best_codes.data(), static_cast<int32_t>(best_codes.size()));
    *next = index[static_cast<size_t>(best) - 1] + 1;
    return 0;
  }
  // The guesser, for the single token and its variants.
  std::vector<std::string>& single = t->single;
  single.assign(1, parts[0]);
  variants(t, single, start, &forms);
  int32_t filled = 0;
  const int32_t guess_room = static_cast<int32_t>(b->guessed.size());
  for (const std::string& form : forms) {
    if (filled >= guess_room) break;
    int32_t c = lookup_codes(t, form, t->guess, nullptr, b->guessed.data() + filled, guess_room - filled);
    if (c < 0) return c;
    filled += c;
  }
  *cls = hmm_class_of(hmm, b->guessed.data(), filled);
  *next = i + 1;
  return 0;
}

// One pass over the tokens: blank flags, multi-word flags, word classes.
int32_t classify_pass(Tagging* t, bool* title_pending) {
  TaggerBuffer* b = t->b;
  // Only the sentence's tokens are read.
  const size_t n = std::min(static_cast<size_t>(t->n > 0 ? t->n : 0), b->blank.size());
  std::fill(b->blank.begin(), b->blank.begin() + static_cast<std::ptrdiff_t>(n), 0);
  std::fill(b->mwt.begin(), b->mwt.begin() + static_cast<std::ptrdiff_t>(std::min(n, b->mwt.size())), 0);
  b->words = 0;
  bool start = true;
  for (int32_t i = 0; i < t->n;) {
    const char* tok = t->tok[static_cast<size_t>(i)];
    if (static_cast<uint8_t>(tok[0]) < 33) {
      b->blank[static_cast<size_t>(i++)] = 1;
      continue;
    }
    int32_t next = i + 1, cls = 0;
    if (int32_t rc = classify(t, i, start, &next, &cls); rc < 0) return rc;
    if (cls < 0 || cls >= t->hmm->nclass) cls = 0;
    b->word_class[static_cast<size_t>(b->words++)] = static_cast<int16_t>(cls);
    uint8_t c0 = static_cast<uint8_t>(tok[0]);
    if (is_opener(tok)) {
      start = true;
    } else if (c0 != '\'' && c0 != 146) {
      start = false;
    }
    if (*title_pending && b->words > 1 && is_lower(c0)) {
      bool title_word =
          t->title != nullptr && dict_lookup(tok, kTitleUncap, nullptr, 0, kDictFilterTag, 0, t->title) > 0;
      if (!title_word) *title_pending = false;
    }
    i = next;
  }
  return 0;
}

// Viterbi decoding over the words' classes into b->chosen.
void decode(TaggerBuffer* b, const Hmm* hmm) {
  const int32_t words = b->words;
  const size_t w = static_cast<size_t>(hmm->lattice);
  b->back.assign(static_cast<size_t>(words) * w, 0);
  std::vector<int32_t>* cur = &b->row_a;
  std::vector<int32_t>* prev = &b->row_b;
  const HmmClass* prev_class = nullptr;
  for (int32_t k = 0; k < words; ++k) {
    const HmmClass& c = hmm->classes[static_cast<size_t>(b->word_class[static_cast<size_t>(k)])];
    for (size_t j = 0; j < c.tags.size(); ++j) {
      const uint16_t tag = c.tags[j];
      if (k == 0) {
        (*cur)[j] = hmm_add(hmm->initial[tag], c.emit[j]);
        continue;
      }
      const std::vector<int32_t>& row = hmm->rows[tag];
      int32_t best = INT32_MIN;
      size_t chosen = 0;
      bool any = false;
      for (size_t i = 0; i < prev_class->tags.size(); ++i) {
        const uint16_t p = prev_class->tags[i];
        if (p >= row.size()) break;
        int32_t cand = hmm_add((*prev)[i], row[p]);
        if (!any || cand > best) {
          any = true;
          best = cand;
          chosen = i;
        }
      }
      (*cur)[j] = hmm_add(best, c.emit[j]);
      b->back[static_cast<size_t>(k) * w + j] = static_cast<uint8_t>(chosen);
    }
    prev_class = &c;
    std::swap(cur, prev);
  }
  if (words == 0) return;
  // prev now holds the last word's scores.
  size_t pick = 0;
  for (size_t j = 1; j < prev_class->tags.size(); ++j) {
    if ((*prev)[j] > (*prev)[pick]) pick = j;
  }
  for (int32_t k = words - 1; k >= 0; --k) {
    const HmmClass& c = hmm->classes[static_cast<size_t>(b->word_class[static_cast<size_t>(k)])];
    b->chosen[static_cast<size_t>(k)] = pick < c.tags.size() ? c.tags[pick] : 0;
    if (k > 0) pick = b->back[static_cast<size_t>(k) * w + (pick < c.tags.size() ? pick : 0)];
  }
}

}  // namespace

void* tagger_buffer_create(int32_t tokens, int32_t chars, const void* hmm_object) {
  if (tokens < 0 || chars < 0) return fst_error_handle(kFstBadNumber);
  if (hmm_object == nullptr) return fst_error_handle(kFstNullPointer);
  if (fst_is_error_handle(hmm_object)) return const_cast<void*>(hmm_object);
  const Hmm* hmm = nullptr;
  if (int32_t rc = hmm_check(hmm_object, &hmm); rc != 0) return fst_error_handle(rc);
  if (tokens > kTaggerMaxTokens || chars > kTaggerMaxChars) return fst_error_handle(kFstNoMemory);
  auto* b = new (std::nothrow) TaggerBuffer;
  if (b == nullptr) return fst_error_handle(kFstNoMemory);
  try {
    int32_t log2 = 0;
    while ((tokens >> (log2 + 1)) > 0) ++log2;
    const size_t text = static_cast<size_t>(chars) * static_cast<size_t>(log2 + 4);
    b->ntag = hmm->ntag;
    b->capacity = tokens;
    b->chars = chars;
    b->hmm = hmm;
    b->mwt_number = hmm->mwt_number;
    b->blank.assign(static_cast<size_t>(tokens), 0);
    b->mwt.assign(static_cast<size_t>(tokens), 0);
    b->text.assign(text, 0);
    b->coded.assign(text, 0);
    b->guessed.assign(2 * static_cast<size_t>(hmm->width), 0);
    b->word_class.assign(static_cast<size_t>(tokens), 0);
    b->chosen.assign(static_cast<size_t>(tokens), 0);
    b->row_a.assign(static_cast<size_t>(hmm->lattice), 0);
    b->row_b.assign(static_cast<size_t>(hmm->lattice), 0);
  } catch (const std::bad_alloc&) {
    delete b;
    return fst_error_handle(kFstNoMemory);
  }
  return b;
}

void* tagger_buffer_create_titled(int32_t tokens, int32_t chars, const void* hmm) {
  void* object = tagger_buffer_create(tokens, chars, hmm);
  if (fst_status(object) != 0) return object;
  auto* b = static_cast<TaggerBuffer*>(object);
  void* dict = dict_create(0, 0);
  bool ok = fst_status(dict) == 0;
  for (const char* word : kTitleWords) ok = ok && dict_add(word, kTitleUncap, 0, dict) == 0;
  if (!ok) {
    if (fst_status(dict) == 0) dict_free(dict);
    tagger_buffer_free(b);
    return fst_error_handle(kFstNoMemory);
  }
  b->title = dict;
  return b;
}

void tagger_buffer_free(void* buffer) {
  TaggerBuffer* b = nullptr;
  if (check_buffer(buffer, &b) != 0) return;
  b->magic = 0;
  delete b;
}

void tagger_buffer_free_titled(void* buffer) {
  TaggerBuffer* b = nullptr;
  if (check_buffer(buffer, &b) != 0) return;
  if (b->title != nullptr) dict_free(b->title);
  b->title = nullptr;
  tagger_buffer_free(b);
}

int32_t tag_sentence(const char* tokens, int32_t n, char* output, int32_t size, int32_t flags, const void* hmm_object,
                     void* buffer, const void* title, const void*) {
  if (tokens == nullptr || output == nullptr || hmm_object == nullptr || buffer == nullptr) return kFstNullPointer;
  const Hmm* hmm = nullptr;
  if (int32_t rc = hmm_check(hmm_object, &hmm); rc != 0) return rc;
  TaggerBuffer* b = nullptr;
  if (int32_t rc = check_buffer(buffer, &b); rc != 0) return rc;
  if (n < 0 || size < 0) return kFstBadNumber;
  const int32_t modes = flags & (kTagOrdinaryCase | kTagTitle | kTagLowerCase);
  if (modes == 0) return kFstBadFunction;
  if (n == 0) return 0;
  Tagging t{b, hmm, title, {}, n, (flags & kTagMultiWord) != 0};
  t.lex = fst_function(kLexiconFunction, hmm->clg);
  t.guess = fst_function(kGuesserFunction, hmm->clg);
  if (t.lex == 255) return kFstBadFunction;
  if (n > b->capacity) return kFstTooManyTokens;
  if (b->hmm != hmm || b->ntag != hmm->ntag) {
    // A buffer made for another model: its widths may not fit.
    if (static_cast<int32_t>(b->row_a.size()) < hmm->lattice) return kFstBadFsm;
  }
  try {
    t.tok.resize(static_cast<size_t>(n));
    const char* p = tokens;
    for (int32_t i = 0; i < n; ++i) {
      t.tok[static_cast<size_t>(i)] = p;
      p += std::strlen(p) + 1;
    }
    bool title_pending = false;
    if (modes == kTagTitle) {
      t.title_mode = true;
    } else if (modes == kTagLowerCase) {
      t.lower_mode = true;
    } else if (modes != kTagOrdinaryCase) {
      title_pending = (modes & kTagTitle) != 0;
      if (modes & kTagLowerCase) {
        for (const char* tok : t.tok) {
          if (static_cast<uint8_t>(tok[0]) < 33) continue;
          t.lower_mode = is_lower(static_cast<uint8_t>(tok[0]));
          break;
        }
      }
    }
    if (int32_t rc = classify_pass(&t, &title_pending); rc < 0) return rc;
    if (title_pending) {
      t.title_mode = true;
      bool none = false;
      if (int32_t rc = classify_pass(&t, &none); rc < 0) return rc;
    }
    decode(b, hmm);
  } catch (const std::bad_alloc&) {
    return kFstNoMemory;
  }

  int32_t out = 0, word = 0;
  for (int32_t i = 0; i < n; ++i) {
    const char* s = "";
    if (b->blank[static_cast<size_t>(i)]) {
      s = "";
    } else if (b->mwt[static_cast<size_t>(i)]) {
      s = "__mwt";
    } else {
      s = hmm->tag_names[b->chosen[static_cast<size_t>(word++)]].c_str();
    }
    size_t len = std::strlen(s);
    if (int64_t{out} + static_cast<int64_t>(len) + 1 > size) return kFstTooLong;
    std::memcpy(output + out, s, len + 1);
    out += static_cast<int32_t>(len) + 1;
  }
  return n;
}

int32_t tag_sentence_list(const char* tokens, char* output, int32_t size, void* buffer, int32_t flags,
                          const void* hmm) {
  if (tokens == nullptr || output == nullptr || buffer == nullptr || hmm == nullptr) return kFstNullPointer;
  TaggerBuffer* b = nullptr;
  if (int32_t rc = check_buffer(buffer, &b); rc != 0) return rc;
  if (flags & kTagMultiWord) return kFstBadFunction;
  int32_t modes = flags & (kTagOrdinaryCase | kTagTitle | kTagLowerCase | kTagAllCases);
  if (modes != 0 && (modes & (modes - 1)) != 0) return kFstBadFunction;
  if (modes == kTagAllCases) modes = kTagOrdinaryCase | kTagTitle | kTagLowerCase;
  int32_t n = 0;
  for (const char* p = tokens; *p != 0; p += std::strlen(p) + 1) ++n;
  int32_t rc = tag_sentence(tokens, n, output, size, modes, hmm, buffer, b->title, nullptr);
  if (rc < 0) return rc;
  int32_t used = 0;
  for (int32_t i = 0; i < n; ++i) used += static_cast<int32_t>(std::strlen(output + used)) + 1;
  if (used >= size) return kFstTooLong;
  output[used] = 0;
  return n;
}

}  // namespace vorlane
