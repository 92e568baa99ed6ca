#include "engine/analysis/parse_state.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "store/alloc.h"
#include "store/cclass.h"
#include "store/log.h"
#include "store/mapfile.h"

namespace vorlane::engine {

namespace {
inline bool is_separator_byte(unsigned char c) { return c_class(c) & (CC_CNTRL | CC_PUNCT | CC_SPACE); }
inline constexpr uint32_t kGrowth = 100;
}  // namespace

ParseState InitParseState(const char* text) {
  ParseState s{};
  s.text = text;
  s.capacity = static_cast<uint32_t>(strlen(text) / 4);
  s.tokens = static_cast<ParseToken*>(s_malloc(sizeof(ParseToken) * (s.capacity ? s.capacity : 1)));
  memset(s.tokens, 0, sizeof(ParseToken) * (s.capacity ? s.capacity : 1));
  s.count = 0;
  s.growable = 1;
  return s;
}

int AddParseState(ParseState* state, const char* start, int32_t length, char type) {
  if (state->count >= state->capacity) {
    if (!state->growable) {
      report_error("AddParseState: realloc()", state->text);
      return -1;
    }
    state->capacity += kGrowth;
    state->tokens = static_cast<ParseToken*>(s_realloc(state->tokens, sizeof(ParseToken) * state->capacity));
  }
  state->tokens[state->count++] = {type, start, length};
  return 0;
}

void FreeParseState(ParseState state) {
  s_free(state.tokens);
  s_free(state.owned_text);
}

char* CopyTokenText(const ParseToken& token, char* out, int lowercase) {
  for (int32_t i = 0; i < token.length; ++i) {
    unsigned char c = static_cast<unsigned char>(token.start[i]);
    if (is_separator_byte(c)) continue;
    *out++ = static_cast<char>(lowercase ? c_tolower(c) : c);
  }
  *out = '\0';
  return out;
}

int32_t CopyTokenCases(const ParseToken& token, char* lower, char* written) {
  int32_t n = 0;
  for (int32_t i = 0; i < token.length; ++i) {
    unsigned char c = static_cast<unsigned char>(token.start[i]);
    if (is_separator_byte(c)) continue;
    written[n] = static_cast<char>(c);
    lower[n] = static_cast<char>(c_tolower(c));
    ++n;
  }
  lower[n] = '\0';
  written[n] = '\0';
  return n;
}

char* TokenText(const ParseToken& token, char* out) {
  if (token.type == 0) {
    out[0] = '?';
    out[1] = '\0';
    return out + 1;
  }
  if (!is_word_type(token.type)) {
    out[0] = token.type;
    out[1] = '\0';
    return out + 1;
  }
  return CopyTokenText(token, out, 0);
}

const char* FormatToken(const ParseToken* token, char* buffer) {
  if (!token) return "*NULL*";
  int shown = token->length < 50 ? token->length : 50;
  if (shown < 0) shown = 0;
  snprintf(buffer, kFormatTokenSize, "\"%.*s\" (%c)", shown, token->start, token->type);
  return buffer;
}

void DumpParseState(const ParseState& state, const char* label) {
  if (!(log_mask.load(std::memory_order_relaxed) & LOG_PARSE_STATE)) return;
  log_msg(LOG_PARSE_STATE, "ParseState at %s\n", label);
  std::string text;
  for (uint32_t i = 0; i < state.count; ++i) {
    const ParseToken& t = state.tokens[i];
    text.assign(static_cast<size_t>(t.length > 0 ? t.length : 0) + 2, '\0');
    TokenText(t, text.data());
    log_msg(LOG_PARSE_STATE, "%s", text.c_str());
  }
  log_msg(LOG_PARSE_STATE, "%d used of %d\n", static_cast<int>(state.count), static_cast<int>(state.capacity));
}

}  // namespace vorlane::engine
