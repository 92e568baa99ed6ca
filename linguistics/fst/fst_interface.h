// The library's flat interface on transducer files: open and close, the info
// and version texts, header fields, the capability mask, the coded word and
// the header objects. Objects travel as untyped pointers; an operation given
// null reports -28 and one given an error handle reports its code.
//
// Every operation here also has a second entry point (the CamelCase names at
// the end) that forwards its arguments unchanged; fst_status has two.
#pragma once

#include <cstdint>

#include "linguistics/fst/fst_errors.h"

namespace vorlane {

// Capability bits (from the function table).
enum FstCapability : uint32_t {
  kCapLookup = 1 | 8,       // function 12
  kCapStem = 2 | 64,        // function 27
  kCapTokenizer = 4,        // function 28
  kCapTagger = 16,          // functions 60 and 61
  kCapFunction1 = 128,      // function 1
  kCapGrouper = 256,        // function 62
};

// An FSM, or the error handle of -28 (null path), -1, -2 or -3.
void* fst_open(const char* path);
void fst_close(void* fsm);
// The info text with carriage returns folded; 0, -28, -8, -12 or the code of
// an error handle (-5 for an object that is not an FSM).
int32_t fst_info(char* buffer, int32_t size, const void* fsm);
// The version text that follows the info text, "1.0" when there is none.
int32_t fst_version(char* buffer, int32_t size, const void* fsm);
uint32_t fst_header_word(const void* fsm);
uint32_t fst_capabilities(const void* fsm);
int32_t fst_property(const void* fsm);
int32_t fst_language(const void* fsm);
// Encodes word into output. Mode 0 appends the end symbol, mode 1 allows tag
// specifiers, mode 2 appends the coded EOF symbol. The coded length or a
// negative code.
int32_t fst_encode_tagged(const char* word, uint8_t* output, int32_t size, int32_t mode, const void* fsm);

// The 92-byte header of a transducer file, or an error handle.
void* fst_open_header(const char* path);
void fst_close_header(void* header);
// 1 when the headers are equal byte for byte, else 0; -28 for null, the code
// of an error handle. An FSM may stand for its header.
int32_t fst_compare_headers(const void* a, const void* b);

// Second entry points.
void* FstOpen(const char* path);
void FstClose(void* fsm);
int32_t FstInfo(char* buffer, int32_t size, const void* fsm);
int32_t FstVersion(char* buffer, int32_t size, const void* fsm);
uint32_t FstHeaderWord(const void* fsm);
uint32_t FstCapabilities(const void* fsm);
int32_t FstStatus(const void* object);
int32_t FstObjectStatus(const void* object);
int32_t FstErrorMessage(int32_t code, char* buffer, int32_t size);
int32_t FstProperty(const void* fsm);
int32_t FstLanguage(const void* fsm);
int32_t FstLibraryVersion(char* buffer, int32_t size);
void* FstErrorHandle(int32_t code);
void* FstOpenHeader(const char* path);
void FstCloseHeader(void* header);
int32_t FstCompareHeaders(const void* a, const void* b);

}  // namespace vorlane
