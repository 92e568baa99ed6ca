// The tagger model: a first-order hidden Markov model over part-of-speech
// tags, read from a ".hmm" file that belongs to one class lexicon (CLG).
//
// File (numbers are 32-bit little-endian, read byte by byte):
//   0    12  header: byte 4 the file type, 14; byte 7 the language number,
//            equal to the CLG's; the other bytes are not read
//   12  <=32 version line: at most 31 bytes and LF, equal to the CLG's
//            version text
//   next     a NUL-terminated text, skipped
//   next  4  N1 (not used)
//   next  4  W: lattice width, at least the size of the largest class
//   next  4  Ntag: number of tags (1..32,767)
//   next  4  Nclass: number of classes (1..32,767)
//   next     Ntag tag names, each NUL-terminated, at most 255 bytes; tag
//            number = position from 0
//   next  1  an empty string (a lone NUL)
//   next     class strings, each NUL-terminated, at most 255 bytes, ended by
//            an empty string; class number = position from 0; each names
//            the tags of its class as CLG tag specifiers ("[NN][VB]")
//   next  4  Ntag again
//   next 4xNtag  initial score of each tag (signed)
//   next     for each tag t: k (0..Ntag), then k signed scores: transition
//            from previous tag p (p = 0..k-1) to t
//   next     for each class: m (0..255, at most W), then m pairs (tag number
//            below Ntag, signed emission score), tags strictly ascending
// The value 2,147,483,647 of N1, W, Ntag or Nclass counts as end of file.
// Scores are expected negative; decoding maximises their sum.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "linguistics/fst/fsm.h"

namespace vorlane {

inline constexpr uint32_t kHmmMagic = 0x484d4d31;  // "HMM1"
inline constexpr uint8_t kHmmFileType = 14;
inline constexpr int32_t kHmmChains = 1009;
inline constexpr int32_t kHmmMaxTags = 32767;
inline constexpr int32_t kHmmMaxClasses = 32767;
inline constexpr int32_t kHmmMaxClassCodes = 1024;
inline constexpr int32_t kHmmMaxWidth = 255;
// The class symbol number standing for no symbol.
inline constexpr uint16_t kNoSymbol = 0xFFFF;

struct HmmClassEntry {
  int32_t next = -1;  // next entry of the hash chain
  int32_t cls = 0;
  std::vector<uint16_t> codes;  // sorted class symbol numbers
};

struct HmmClass {
  std::vector<uint16_t> tags;  // ascending tag numbers
  std::vector<int32_t> emit;   // emission score of each
};

struct Hmm {
  uint32_t magic = kHmmMagic;
  int32_t width = 0;          // W
  int32_t tag_symbols = 0;    // '[' characters in all class strings
  int32_t ntag = 0;
  int32_t nclass = 0;
  const FSM* clg = nullptr;
  int32_t heads[kHmmChains];
  std::vector<HmmClassEntry> entries;
  std::vector<std::string> tag_names;
  std::vector<int32_t> initial;
  std::vector<HmmClass> classes;
  std::vector<std::vector<int32_t>> rows;  // transition row of each tag
  uint16_t mwt_number = kNoSymbol;         // "[__mwt]" in the enumeration's numbering
  uint16_t tagsep_number = kNoSymbol;
  uint16_t end_number = kNoSymbol;
};

// The model, or the error handle of -28, -5, -11, -1, -2, -25, -3 or -12.
void* hmm_open(const char* path, const void* clg);
void hmm_close(void* hmm);
void* HmmOpen(const char* path, const void* clg);
void HmmClose(void* hmm);

// The HMM behind an object: 0, -28, an error handle's code, or -5.
int32_t hmm_check(const void* object, const Hmm** hmm);

// The class of a tag set (class symbol numbers, any order, repeats allowed):
// the exact class, else the nearest one; 0 for no codes or an empty table.
int32_t hmm_class_of(const Hmm* hmm, const uint16_t* codes, int32_t count);

// The class-table hash of a sorted code sequence.
uint32_t hmm_class_hash(const uint16_t* codes, size_t count);

// The number of a CLG symbol code in the enumeration's numbering.
inline uint16_t hmm_symbol_number(uint16_t code) {
  return static_cast<uint16_t>(((code >> 8) >> 2) + 64 * (code & 0xFF));
}

}  // namespace vorlane
