// Small line tokenisers for configuration files, exported by libvorlane.so
// for outside callers and used by CharMapper and the language identifier.
//
// Numbers are read as tokens that run to the next white space (blank, tab,
// line feed, vertical tab, form feed, carriage return): decimal ("42",
// "-17"), hexadecimal ("0x1F"), octal ("017") or a single character ("a",
// its value that byte as a signed 8-bit number). Digits accumulate in 32 bits
// (wrapping) and the value is stored sign-extended into the long.
#pragma once

#define VORLANE_TEXTPARSE_API __attribute__((visibility("default")))

extern "C" {

// Turns every '/' of the NUL-terminated text into '\' in place; returns path.
VORLANE_TEXTPARSE_API char* cvdir(char* path);

// The first character that is neither a blank nor a tab (maybe the NUL).
VORLANE_TEXTPARSE_API char* eat_spaces(char* text);

// The first character after the first run of blanks and tabs, or null when
// the text holds no blank or tab. May point at the terminating NUL.
VORLANE_TEXTPARSE_API char* find_and_eat_spaces(char* text);

// Reads one number; returns the characters consumed (leading white space plus
// the token) and stores the value, or returns -1 (end of text, bad token).
VORLANE_TEXTPARSE_API int readnumber(char* text, long* value);

// Reads numbers until one does not read; stores them in values[0], [1], ...
// and returns how many were read. The caller provides room for all of them.
VORLANE_TEXTPARSE_API int readnumbers(char* text, long* values);

}  // extern "C"

namespace vorlane {

// The first blank or tab of the text, or null when there is none.
char* find_space(char* text);

// Reads exactly two numbers: 0, or -1 when the first does not read, nothing
// follows it, or the second does not read.
int readtwonumbers(char* text, long* first, long* second);

}  // namespace vorlane
