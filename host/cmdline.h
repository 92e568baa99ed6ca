// Splitting a command line into an argument vector.
#pragma once

extern "C" {
// Splits a heap copy of line (malloc; the caller frees it once the arguments
// are no longer used) into at most max_args arguments, whose pointers go into
// argv and point into the copy; *argc receives their number. Returns the
// copy, or null when it cannot be allocated (*argc is then not set).
//
// Only the space character separates arguments. An argument that begins with
// a double quote runs to the next double quote (or the end of the line) and
// may hold blanks:
//   - strip_quotes non-zero: the argument is what lies between the quotes; a
//     closing quote ends it, so "abc"def gives abc and def;
//   - strip_quotes 0: the argument keeps both quotes; text right after the
//     closing quote belongs to it up to the next blank, so "abc"def is one
//     argument.
// An unterminated quote runs to the end of the line; quotes inside an
// unquoted argument are ordinary characters. Once max_args arguments are
// stored the rest of the copy stays unsplit; with max_args 0 argv is never
// written.
__attribute__((visibility("default"))) char* parseCmdLine(const char* line, int* argc, char** argv, int max_args,
                                                          int strip_quotes);
}
