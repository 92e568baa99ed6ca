#include "linguistics/fst/fst_errors.h"

#include <cstring>

namespace vorlane {

namespace {

// Byte -c of this block is the error handle of code c. Nothing is ever stored
// in it; only addresses inside it are handed out.
alignas(8) unsigned char g_error_block[61];

struct CodeText {
  int32_t code;
  const char* text;
};

constexpr CodeText kTexts[] = {
    {-1, "The file cannot be opened, either because it cannot be found or because it is protected or locked."},
    {-2, "The file is of the wrong type, or is damaged."},
    {-3, "Insufficient memory is available to complete the function."},
    {-4, "The library requires functionality not present in this operating system or in this version of the "
         "operating system."},
    {-5, "An invalid FSM object was passed to this function."},
    {-6, "An invalid client dictionary object was passed to this function."},
    {-8, "An invalid number was passed to this function."},
    {-10, "A character in the input word is not part of the alphabet for this lexical transducer."},
    {-11, "The specified function is invalid or is not supported by the FSM."},
    {-12, "The output of the function is too long to fit in the provided buffer."},
    {-13, "The backtracking stack overflowed, because there are too many pending ambiguities in the input during "
          "lookup."},
    {-14, "The input word contains an incomplete tag specifier."},
    {-15, "The input contains an unrecognizable token."},
    {-16, "The input to the tokenizer is incomplete, and needs to be extended before tokenization can succeed from "
          "this point."},
    {-17, "The class guesser has failed to recognize a token in the input.  This most often results from illegal "
          "characters in the input."},
    {-18, "An unrecognized class is returned by the class lexicon or class guesser.  This error message points to a "
          "defect in the class lexicon or class guesser."},
    {-19, "The input sentence contains too many tokens to fit in the given tagger buffer."},
    {-20, "The token buffer in the given tagger buffer is not large enough to contain the tokens in the input "
          "sentence."},
    {-21, "The client output buffer is too small to contain the output."},
    {-22, "The lookup buffer's coded input buffer is too small to contain the encoded representation of the input "
          "string."},
    {-23, "The lookup buffer's coded output buffer is too small to contain one of the results."},
    {-24, "The client output buffer is full of results, and there are additional results awaiting the continuation "
          "of the operation."},
    {-25, "The given CLG and HMM objects do not match in language and version number."},
    {-26, "An internal buffer is too small to hold the required data."},
    {-27, "The specified file loaded as client dictionary data contains an single-field entry before the first tag "
          "specifier."},
    {-28, "Instead of a valid object, a null pointer was passed to this function."},
    {-29, "Input/output error."},
    {-44, "ZOP_SOURCE_ERROR"},
    {-45, "Summarizer unknown error"},
    {-46, "ZOP_LOADING_ERROR"},
    {-47, "ZOP_STEM_ERROR"},
    {-48, "Summarizer initialization failed"},
    {-49, "ZOP_TOKENIZER_INIT_ERROR"},
    {-50, "ZOP_TOKENIZER_INIT_BUFFER_OVERFLOW"},
};

constexpr char kLibraryVersion[] = "2.2";

}  // namespace

int32_t fst_init() { return 0; }

void fst_term() {}

void* fst_error_handle(int32_t code) {
  if (code >= 0 || code < kFstLowestHandleCode) code = kFstBadNumber;
  return g_error_block + (-code);
}

bool fst_is_error_handle(const void* object) {
  auto p = reinterpret_cast<uintptr_t>(object);
  auto start = reinterpret_cast<uintptr_t>(g_error_block);
  return p > start && p < start + sizeof g_error_block;
}

int32_t fst_status(const void* object) {
  if (object == nullptr) return kFstNullPointer;
  auto p = reinterpret_cast<uintptr_t>(object);
  auto start = reinterpret_cast<uintptr_t>(g_error_block);
  if (p >= start && p < start + sizeof g_error_block) return -static_cast<int32_t>(p - start);
  return 0;
}

const char* fst_error_text(int32_t code) {
  if (code >= 0) return "No error occurred.";
  for (const CodeText& t : kTexts) {
    if (t.code == code) return t.text;
  }
  return "Unknown error code.";
}

int32_t fst_bounded_copy(const char* text, int32_t length, char* buffer, int32_t size) {
  if (size <= 0) return kFstTooLong;
  if (length < size) {
    std::memcpy(buffer, text, static_cast<size_t>(length));
    buffer[length] = '\0';
    return 0;
  }
  std::memcpy(buffer, text, static_cast<size_t>(size - 1));
  buffer[size - 1] = '\0';
  return kFstTooLong;
}

int32_t fst_error_message(int32_t code, char* buffer, int32_t size) {
  if (buffer == nullptr) return kFstNullPointer;
  if (size < 0) return kFstBadNumber;
  const char* text = fst_error_text(code);
  return fst_bounded_copy(text, static_cast<int32_t>(std::strlen(text)), buffer, size);
}

int32_t fst_library_version(char* buffer, int32_t size) {
  if (buffer == nullptr) return kFstNullPointer;
  if (size < 0) return kFstBadNumber;
  return fst_bounded_copy(kLibraryVersion, sizeof kLibraryVersion - 1, buffer, size);
}

}  // namespace vorlane
