// The tokenizer: cuts a Windows Latin-1 byte text into token records.
//
// Runs of letters and digits, whitespace and single punctuation marks are
// recognised directly; a chunk that mixes letters with inner punctuation, or
// begins with a character that is neither letter, digit, space nor known
// punctuation, is segmented by the tokenizer transducer (function 28, lookup
// mode 11). In markup mode tags are records of their own, typed through the
// tokenizer's client dictionary, and inhibited elements (for example script)
// become one skipped record. A long text may be fed piece by piece: each
// call returns how many bytes it consumed.
#pragma once

#include <cstdint>
#include <memory>

#include "linguistics/fst/fsm.h"

namespace vorlane {

// One token, four 32-bit words.
struct TokenRecord {
  int32_t text;    // -1: the span of the input; else the offset of the
                   // normalised text (NUL-terminated) in the work buffer
  int32_t offset;  // byte offset in the text given to this call
  int32_t length;  // byte length in the text
  int32_t type;    // kToken* bits
};

enum TokenType : int32_t {
  kTokenMixed = 0,       // a transducer token mixing letters and other characters
  kTokenWord = 1,        // letters and digits only
  kTokenPunct = 2,
  kTokenClosing = 4,
  kTokenOpening = 8,     // always with kTokenPunct
  kTokenSentence = 16,
  kTokenLineBreak = 32,
  kTokenTagKeep = 64,
  kTokenIgnore = 128,
  kTokenParagraph = 256,
};

// Flags of tokenize_text.
inline constexpr int32_t kTokenizeComplete = 1;
inline constexpr int32_t kTokenizeMarkup = 2;
inline constexpr int32_t kTokenizeLineIsParagraph = 4;

inline constexpr uint32_t kTokenizerMagic = 0x544f4b31;  // "TOK1"
inline constexpr int32_t kTokenizerFunction = 28;

struct Tokenizer {
  uint32_t magic = kTokenizerMagic;
  const FSM* fsm = nullptr;
  uint32_t spare = 0;
  int32_t options = 0;
  const void* dictionary = nullptr;
  std::unique_ptr<char[]> buffer;
  int32_t buffer_size = 0;
};

// A tokenizer, or the error handle of -5 (null FSM, an error handle or an
// object that is no FSM), -6 (the dictionary is an error handle), -11 (no
// function 28), -3 (memory).
void* tokenizer_create(const void* fsm, int32_t options, const void* dictionary);
void tokenizer_free(void* tokenizer);

// Tokenises up to length bytes of text into records (at most capacity); the
// normalised texts of transducer tokens go to work. *count receives the
// number of records written. Returns the number of bytes consumed, or a
// negative code: -28 null arguments, -8 negative sizes, -5 a tokenizer that
// is no tokenizer, the code of an error handle, and the codes of a chunk the
// transducer cannot handle at the start of the text.
int32_t tokenize_text(const char* text, int32_t length, void* tokenizer, int32_t flags, TokenRecord* records,
                      int32_t capacity, char* work, int32_t work_size, int32_t* count);

}  // namespace vorlane
