// The part-of-speech tagger: gives every token of one sentence a tag.
//
// Each token (or run of tokens forming a multi-word token) gets an ambiguity
// class: the class lexicon (function 60 of the CLG) is asked for its tags,
// the class guesser (function 61) for tokens the lexicon does not know, and
// the tag set is mapped to one of the model's classes (exactly, else the
// nearest). Viterbi decoding over the model's integer log-scores then
// chooses one tag per word.
#pragma once

#include <cstdint>
#include <vector>

#include "linguistics/zop/hmm_model.h"

namespace vorlane {

inline constexpr uint32_t kTaggerBufferMagic = 0x54414731;  // "TAG1"
inline constexpr int32_t kTaggerMaxTokens = 100000;
inline constexpr int32_t kTaggerMaxChars = 1000000;

// Flags of tag_sentence.
inline constexpr int32_t kTagOrdinaryCase = 1;  // capitalised sentence starts
inline constexpr int32_t kTagTitle = 2;         // capitalised words
inline constexpr int32_t kTagLowerCase = 4;
inline constexpr int32_t kTagMultiWord = 8;
inline constexpr int32_t kTagAllCases = 128;    // tag_sentence_list: 1, 2 and 4

// The work area of one sentence. Storage that only long multi-word
// candidates need grows on demand up to the capacities.
struct TaggerBuffer {
  uint32_t magic = kTaggerBufferMagic;
  int32_t ntag = 0;
  int32_t capacity = 0;      // T, tokens
  int32_t words = 0;         // words of the last sentence
  int32_t zero = 0;
  void* title = nullptr;     // title dictionary (titled buffers) or null
  const Hmm* hmm = nullptr;
  int32_t chars = 0;         // L
  std::vector<uint8_t> blank, mwt;
  uint16_t mwt_number = kNoSymbol;
  std::vector<char> text;      // candidate texts: L x (floor(log2 T) + 4)
  std::vector<uint8_t> coded;  // same size
  std::vector<std::vector<uint16_t>> by_length;  // codes kept for each candidate length
  std::vector<uint16_t> guessed;                 // 2 x W
  std::vector<int16_t> word_class;
  std::vector<uint16_t> chosen;
  std::vector<int32_t> row_a, row_b;
  std::vector<uint8_t> back;  // W per word
};

// A buffer, or the error handle of -8, -28, the HMM's code, -3.
void* tagger_buffer_create(int32_t tokens, int32_t chars, const void* hmm);
// As above, owning a client dictionary of the 16 title words.
void* tagger_buffer_create_titled(int32_t tokens, int32_t chars, const void* hmm);
void tagger_buffer_free(void* buffer);
void tagger_buffer_free_titled(void* buffer);

// Tags n consecutive NUL-terminated tokens: writes n NUL-terminated tag
// names (the empty string for a blank token, "__mwt" inside a multi-word
// token). Returns n or a negative code.
int32_t tag_sentence(const char* tokens, int32_t n, char* output, int32_t size, int32_t flags, const void* hmm,
                     void* buffer, const void* title, const void* unused);
// Tokens ended by an empty string; the output list ends with an extra NUL.
int32_t tag_sentence_list(const char* tokens, char* output, int32_t size, void* buffer, int32_t flags,
                          const void* hmm);

// The add rule of decoding: the 32-bit sum when it is negative, else the
// lowest score.
inline int32_t hmm_add(int32_t a, int32_t b) {
  int64_t s = int64_t{a} + b;
  if (s >= (int64_t{1} << 31)) s -= int64_t{1} << 32;
  if (s < -(int64_t{1} << 31)) s += int64_t{1} << 32;
  return s < 0 ? static_cast<int32_t>(s) : INT32_MIN;
}

}  // namespace vorlane
