#include "engine/analysis/phrase_output.h"

#include <cstring>
#include <string>
#include <vector>

#include "engine/analysis/stem_output.h"
#include "store/log.h"

namespace vorlane::engine {

namespace {

struct Entry {
  ParseToken token;
  uint32_t index;  // position in the state
};

bool is_placeholder_glue(const ParseToken& t) {
  if (t.type != kTokGlue) return false;
  if (t.length == 1) return t.start[0] == '.' || t.start[0] == '/';
  return t.length == 2 && t.start[0] == '/' && t.start[1] == '~';
}

bool name_like(char type) { return type == kTokCapital || type == kTokOther; }

// The stems of one state's tokens, each made once per option: a word is
// written in up to three windows, and again folded when it names. Only
// stems made with the full room of one stem are kept (with less room a stem
// may come out differently), so a copy holds what WordOrStem would write.
class StemCache {
 public:
  explicit StemCache(uint32_t tokens) : slots_(2 * static_cast<size_t>(tokens)) {}

  // WordOrStem(token, out, room, handle, option) for token index.
  char* write(const ParseToken& token, uint32_t index, char* out, ptrdiff_t room, const zop_handle& handle,
              int option) {
    if (option == kStemNone || room < kStemRoom || index >= slots_.size() / 2)
      return WordOrStem(token, out, room, handle, option);
    Slot& slot = slots_[2 * static_cast<size_t>(index) + (option == kStemShortestFolded ? 1 : 0)];
    if (slot.option == option) {
      if (slot.at < 0) return nullptr;
      memcpy(out, bytes_.data() + slot.at, static_cast<size_t>(slot.length) + 1);
      return out + slot.length;
    }
    char* nul = WordOrStem(token, out, room, handle, option);
    if (slot.option == kUnset) {
      slot.option = option;
      if (nul) {
        slot.at = static_cast<int32_t>(bytes_.size());
        slot.length = static_cast<int32_t>(nul - out);
        bytes_.append(out, static_cast<size_t>(slot.length) + 1);
      } else {
        slot.at = -1;
      }
    }
    return nul;
  }

 private:
  static constexpr int kUnset = -1;
  struct Slot {
    int option = kUnset;
    int32_t at = 0;
    int32_t length = 0;
  };
  std::vector<Slot> slots_;
  std::string bytes_;
};

class PhraseWriter {
 public:
  PhraseWriter(char* out, size_t size, const zop_handle& handle, uint32_t tokens)
      : p_(out), end_(out + size), limit_(size ? out + size - 1 : out), handle_(handle), stems_(tokens) {}

  char* position() const { return p_; }
  ptrdiff_t left() const { return end_ - p_; }
  // The room test of the writers: the position lies before end - need.
  bool room(ptrdiff_t need) const { return p_ < end_ - need; }

  // The entries in order, a '.' before each 's' entry after the first, then
  // a NUL. Everything, its NUL included, stays before the area's last byte,
  // kept for the list's end. False, with nothing written, when it does not
  // fit.
  bool phrase(const Entry* e, int k, int option) {
    char* q = p_;
    for (int j = 0; j < k; ++j) {
      if (j > 0 && e[j].token.type == kTokStop) {
        if (q >= limit_) return false;
        *q++ = '.';
      }
      if (e[j].token.length == 0) continue;  // a placeholder writes nothing
      char* nul = stems_.write(e[j].token, e[j].index, q, limit_ - q, handle_, option);
      if (!nul) return false;
      q = nul;
    }
    if (q >= limit_) return false;
    *q = '\0';
    p_ = q + 1;
    return true;
  }

  // A word followed by a suffix ("++", "s").
  bool word_with(const ParseToken& t, uint32_t index, const char* suffix, int option) {
    char* nul = stems_.write(t, index, p_, limit_ - p_, handle_, option);
    size_t n = strlen(suffix);
    if (!nul || limit_ - nul <= static_cast<ptrdiff_t>(n)) return false;
    memcpy(nul, suffix, n + 1);
    p_ = nul + n + 1;
    return true;
  }

  // Three NUL bytes end the list (those that fit).
  void finish() {
    for (int k = 0; k < 3 && p_ + k < end_; ++k) p_[k] = '\0';
  }

 private:
  char* p_;
  char* const end_;
  char* const limit_;
  const zop_handle& handle_;
  StemCache stems_;
};

}  // namespace

int PhraseTokens(const ParseState& state, char* out, size_t size, const zop_handle& handle, int option, int mode) {
  const ParseToken* T = state.tokens;
  const uint32_t N = state.count;
  char buffer[kFormatTokenSize];
  if (log_mask.load(std::memory_order_relaxed) & LOG_TRACE)
    for (uint32_t k = 0; k < N; ++k) log_msg(LOG_TRACE, "PhraseTokens: %s", FormatToken(&T[k], buffer));

  PhraseWriter w(out, size, handle, N);
  int count = 0;
  uint32_t i = 0;
  while (i < N && !is_word_type(T[i].type)) ++i;
  uint32_t covered = i;
  bool full = false;

  auto write = [&](const Entry* e, int k, const char* label) {
    char* at = w.position();
    if (!w.phrase(e, k, option)) {
      full = true;
      return false;
    }
    ++count;
    log_msg(LOG_TRACE, "PhraseTokens (%s): %.40s", label, at);
    if (option != kStemNone && mode == 0) {
      bool names = false;
      for (int j = 0; j < k; ++j) names |= name_like(e[j].token.type);
      if (names) {
        if (!w.phrase(e, k, kStemShortestFolded)) {
          full = true;
          return false;
        }
        ++count;
      }
    }
    return true;
  };

  for (;;) {
    if (full || i >= N || w.left() <= 3) {
      w.finish();
      if (i < N) {
        char text[64] = "";
        if (T[i].length < 60) TokenText(T[i], text);
        log_msg(LOG_INFO, "PhraseTokens: buffer full, stopped at \"%.40s\" (token %d of %d)", text,
                static_cast<int>(i), static_cast<int>(N));
      }
      return count;
    }
    bool done = mode == 1 && i < covered;

    Entry e[4];
    int k = 0;
    for (uint32_t j = i; j < N && k < 4; ++j) {
      const ParseToken& t = T[j];
      if (is_word_type(t.type)) {
        e[k++] = {t, j};
      } else if (is_placeholder_glue(t)) {
        e[k++] = {{kTokStop, t.start, 0}, j};
      } else if (t.type == kTokHard) {
        break;
      }
    }
    auto need = [&](int n) {
      ptrdiff_t sum = 0;
      for (int j = 0; j < n; ++j) sum += e[j].token.length;
      return 2 * sum + 6;
    };
    auto stop = [&](int j) { return e[j].token.type == kTokStop; };

    if (k == 4 && (mode == 0 || !done) && w.room(need(4)) && !stop(0) && stop(1) && stop(2) && !stop(3)) {
      if (!write(e, 4, "4-word")) continue;
      done = true;
      covered = e[3].index;
    }
    bool three_stops = k >= 3 && stop(0) && stop(1) && stop(2);
    if (k >= 3 && (mode == 0 || !done || three_stops) && w.room(need(3)) && stop(1)) {
      if (!write(e, 3, "3-word")) continue;
      done = true;
      covered = three_stops ? e[0].index : e[2].index;
    }
    if (k >= 2 && (mode == 0 || !done) && w.room(need(2)) && !(stop(0) && stop(1)) && e[0].token.length > 0 &&
        e[1].token.length > 0) {
      if (!write(e, 2, "2-word")) continue;
      done = true;
      covered = stop(1) ? e[0].index : e[1].index;
    }

    const ParseToken& t = T[i];
    if (N - i > 1 && is_word_type(t.type) && T[i + 1].length > 1 && T[i + 1].start[0] == '+' &&
        T[i + 1].start[1] == '+' && w.room(static_cast<ptrdiff_t>(t.length) + 5)) {
      char* at = w.position();
      if (!w.word_with(t, i, "++", option)) {
        full = true;
        continue;
      }
      ++count;
      log_msg(LOG_TRACE, "PhraseTokens (X++): %.40s", at);
    }
    if (N - i > 2 && is_word_type(t.type) && T[i + 1].length == 1 && T[i + 1].start[0] == '\'' &&
        T[i + 2].length == 1 && T[i + 2].start[0] == 's' && w.room(2 * static_cast<ptrdiff_t>(t.length) + 10)) {
      char* at = w.position();
      if (!w.word_with(t, i, "s", option)) {
        full = true;
        continue;
      }
      ++count;
      log_msg(LOG_TRACE, "PhraseTokens (possessive): %.40s", at);
      if (option != kStemNone && mode == 0 && name_like(t.type)) {
        if (!w.word_with(t, i, "s", kStemShortestFolded)) {
          full = true;
          continue;
        }
        ++count;
      }
    }
    ++i;
  }
}

}  // namespace vorlane::engine
