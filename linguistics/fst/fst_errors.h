// Error handles, status and the fixed error texts of the finite-state library.
//
// Every object of the library reaches its caller as an untyped pointer. A
// constructor that fails returns an error handle instead: the address of byte
// -c of a reserved 61-byte block that is never an object, c being the code
// (-60..-1). fst_status turns any pointer back into a code. The library never
// logs; it reports negative codes whose texts fst_error_message gives.
#pragma once

#include <cstdint>

namespace vorlane {

// Codes of the library (-44..-50 belong to the resource-set wrapper).
enum FstCode : int32_t {
  kFstCannotOpen = -1,
  kFstDamaged = -2,
  kFstNoMemory = -3,
  kFstUnsupported = -4,
  kFstBadFsm = -5,
  kFstBadDictionary = -6,
  kFstBadNumber = -8,
  kFstNotInAlphabet = -10,
  kFstBadFunction = -11,
  kFstTooLong = -12,
  kFstStackOverflow = -13,
  kFstIncompleteTag = -14,
  kFstUnrecognizedToken = -15,
  kFstIncompleteInput = -16,
  kFstGuesserFailed = -17,
  kFstBadClass = -18,
  kFstTooManyTokens = -19,
  kFstTokenBufferSmall = -20,
  kFstClientBufferSmall = -21,
  kFstCodedInputSmall = -22,
  kFstCodedOutputSmall = -23,
  kFstMoreResults = -24,
  kFstModelMismatch = -25,
  kFstInternalBufferSmall = -26,
  kFstSingleFieldEntry = -27,
  kFstNullPointer = -28,
  kFstIoError = -29,
};

inline constexpr int32_t kFstLowestHandleCode = -60;

int32_t fst_init();
void fst_term();

// The error handle of code (code -60..-1); any other code gives the handle of -8.
void* fst_error_handle(int32_t code);
// -28 for null, the code for an error handle, 0 for any other pointer.
int32_t fst_status(const void* object);
// True when object is an error handle (null is not).
bool fst_is_error_handle(const void* object);

// The fixed English text of a code ("No error occurred." for 0 or more,
// "Unknown error code." for codes without a text).
const char* fst_error_text(int32_t code);

// Copies text with its NUL into buffer when it fits (0); otherwise the first
// size - 1 bytes and a NUL (-12); size 0 receives nothing (-12).
int32_t fst_bounded_copy(const char* text, int32_t length, char* buffer, int32_t size);

int32_t fst_error_message(int32_t code, char* buffer, int32_t size);
int32_t fst_library_version(char* buffer, int32_t size);

}  // namespace vorlane
