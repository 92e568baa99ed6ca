#include "linguistics/fst/fst_errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vorlane {
namespace {

TEST(FstErrors, StatusOfHandlesAndObjects) {
  int object = 0;
  EXPECT_EQ(fst_status(fst_error_handle(-3)), -3);
  EXPECT_EQ(fst_status(&object), 0);
  EXPECT_EQ(fst_status(nullptr), -28);
  // The block's first byte is not a handle (code 0).
  auto* first = static_cast<char*>(fst_error_handle(-1)) - 1;
  EXPECT_EQ(fst_status(first), 0);
  for (int32_t code = -60; code <= -1; ++code) {
    EXPECT_EQ(fst_status(fst_error_handle(code)), code) << code;
    EXPECT_TRUE(fst_is_error_handle(fst_error_handle(code)));
  }
  EXPECT_FALSE(fst_is_error_handle(first));
  EXPECT_FALSE(fst_is_error_handle(&object));
}

TEST(FstErrors, CodesOutsideTheBlockMapToBadNumber) {
  for (int32_t code : {0, 5, -61, -1000, INT32_MIN}) {
    EXPECT_EQ(fst_error_handle(code), fst_error_handle(-8)) << code;
  }
}

TEST(FstErrors, Texts) {
  struct Case {
    int32_t code;
    const char* text;
  } cases[] = {
      {0, "No error occurred."},
      {17, "No error occurred."},
      {-7, "Unknown error code."},
      {-9, "Unknown error code."},
      {-30, "Unknown error code."},
      {-43, "Unknown error code."},
      {-51, "Unknown error code."},
      {INT32_MIN, "Unknown error code."},
      {-1, "The file cannot be opened, either because it cannot be found or because it is protected or locked."},
      {-2, "The file is of the wrong type, or is damaged."},
      {-3, "Insufficient memory is available to complete the function."},
      {-12, "The output of the function is too long to fit in the provided buffer."},
      {-14, "The input word contains an incomplete tag specifier."},
      {-17, "The class guesser has failed to recognize a token in the input.  This most often results from illegal "
            "characters in the input."},
      {-27, "The specified file loaded as client dictionary data contains an single-field entry before the first tag "
            "specifier."},
      {-28, "Instead of a valid object, a null pointer was passed to this function."},
      {-29, "Input/output error."},
      {-44, "ZOP_SOURCE_ERROR"},
      {-45, "Summarizer unknown error"},
      {-48, "Summarizer initialization failed"},
      {-50, "ZOP_TOKENIZER_INIT_BUFFER_OVERFLOW"},
  };
  for (const Case& c : cases) {
    char buffer[256];
    EXPECT_EQ(fst_error_message(c.code, buffer, sizeof buffer), 0) << c.code;
    EXPECT_STREQ(buffer, c.text) << c.code;
  }
  // Every library code from -1 to -29 but -7 and -9 has a text of its own.
  for (int32_t code = -1; code >= -29; --code) {
    bool own = std::strcmp(fst_error_text(code), "Unknown error code.") != 0;
    EXPECT_EQ(own, code != -7 && code != -9) << code;
  }
}

TEST(FstErrors, BoundedCopy) {
  struct Case {
    int32_t size;
    int32_t result;
    const char* text;
  } cases[] = {
      {100, 0, "2.2"}, {4, 0, "2.2"}, {3, -12, "2."}, {2, -12, "2"}, {1, -12, ""},
  };
  for (const Case& c : cases) {
    char buffer[8];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(fst_library_version(buffer, c.size), c.result) << c.size;
    EXPECT_STREQ(buffer, c.text) << c.size;
    // Nothing beyond the buffer.
    for (int i = std::min<int>(c.size, 8); i < 8; ++i) EXPECT_EQ(buffer[i], 'X');
  }
  char untouched = 'X';
  EXPECT_EQ(fst_library_version(&untouched, 0), -12);
  EXPECT_EQ(untouched, 'X');
  EXPECT_EQ(fst_library_version(nullptr, 10), -28);
  EXPECT_EQ(fst_library_version(&untouched, -1), -8);
  EXPECT_EQ(fst_error_message(-2, nullptr, 10), -28);
  EXPECT_EQ(fst_error_message(-2, &untouched, -5), -8);

  char small[10];
  EXPECT_EQ(fst_error_message(-2, small, sizeof small), -12);
  EXPECT_STREQ(small, "The file ");
}

TEST(FstErrors, InitAndTerm) {
  EXPECT_EQ(fst_init(), 0);
  fst_term();
}

}  // namespace
}  // namespace vorlane
