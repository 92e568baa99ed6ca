// The typed tokens of one text, shared by the token passes
// (engine/analysis/token_passes.h) and the writers of phrases, stems and words
// (engine/analysis/phrase_output.h).
//
// Tokens cover the text from its start in order, without gaps or overlaps
// (zero-length tokens aside). A word token is followed by a separator run,
// except after a number: a letter directly after it gets a zero-length glue
// token first, and any other word byte starts the next word at once. The
// last token is the end token (type 0, length 0, where scanning stopped).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

// Token types. Words: 'w' lower-case, 'C' capitalised, 'S' other (all
// capitals, mixed case, letters with digits, abbreviations with points), 'n'
// number, 's' stop word. Separators: 0 untyped, ' ' soft break, '|' hard
// stop, '-' glue.
inline constexpr char kTokLower = 'w';
inline constexpr char kTokCapital = 'C';
inline constexpr char kTokOther = 'S';
inline constexpr char kTokNumber = 'n';
inline constexpr char kTokStop = 's';
inline constexpr char kTokSoft = ' ';
inline constexpr char kTokHard = '|';
inline constexpr char kTokGlue = '-';

struct ParseToken {
  char type;
  const char* start;  // first byte in the text
  int32_t length;     // bytes; 0 for the end token and the glue after a number
};

struct ParseState {
  const char* text;      // NUL-terminated; not owned unless owned_text
  ParseToken* tokens;    // owned when InitParseState made it
  uint32_t capacity;
  uint32_t count;
  int growable;          // AddParseState may enlarge tokens
  char* owned_text;      // a copy of a text given with a length, or null
};

// True for the word types (alphanumeric type characters).
constexpr bool is_word_type(char type) {
  return type == kTokLower || type == kTokCapital || type == kTokOther || type == kTokNumber || type == kTokStop;
}

// A growable state over text: capacity = length / 4 slots, zeroed.
ParseState InitParseState(const char* text);
// 0, or -1 when the array is full and not growable ("AddParseState:
// realloc()" through report_error). A growable state grows by 100 slots.
int AddParseState(ParseState* state, const char* start, int32_t length, char type);
// Frees what the state owns (token array, text copy).
void FreeParseState(ParseState state);

// Copies the token's bytes without control, punctuation and white-space
// bytes ("U.S.A." gives "USA"), lower-cased when asked, then a NUL. out needs
// length + 1 bytes. Returns the position of the NUL.
char* CopyTokenText(const ParseToken& token, char* out, int lowercase);
// Both copies in one pass: lower-cased into lower, as written into written
// (each length + 1 bytes). Returns the number of bytes before the NULs.
int32_t CopyTokenCases(const ParseToken& token, char* lower, char* written);
// "?" for type 0, the type character for a separator, CopyTokenText for a
// word. Returns the position of the NUL.
char* TokenText(const ParseToken& token, char* out);

// "*NULL*", or "\"<up to 50 bytes>\" (<type>)". buffer holds
// kFormatTokenSize bytes.
inline constexpr size_t kFormatTokenSize = 64;
const char* FormatToken(const ParseToken* token, char* buffer);

// With log mask bit 0x20000: "ParseState at <label>", each token's text,
// then "<count> used of <capacity>".
void DumpParseState(const ParseState& state, const char* label);

}  // namespace vorlane::engine
