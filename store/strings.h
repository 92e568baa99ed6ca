// Small string services. White space is the C locale's.
#pragma once

namespace vorlane {

char* str_dup(const char* text);                      // s_malloc copy
char* span_dup(const char* start, const char* end);   // [start, end) + NUL
char* first_word_dup(const char* text);               // null when only blanks
char* first_word_copy(char* destination, const char* text);
char* trim_comment(char* line);                       // in place
char* str_lower(char* text);                          // in place, A-Z only

}  // namespace vorlane
