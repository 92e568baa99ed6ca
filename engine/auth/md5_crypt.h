// The MD5-based crypt password hash with the magic "$1$".
//
// The result has the form "$1$" salt "$" and 22 characters of the alphabet
// "./0-9A-Za-z". The salt is taken after an optional leading "$1$", up to the
// first "$", the end of the text or 8 characters, whichever comes first.
#pragma once

#include <cstdint>

namespace vorlane::engine {

// Returns a pointer to a process-wide static buffer of 120 bytes holding the
// NUL-ended result; the next call overwrites it, so the function is not
// reentrant (its script caller holds the interpreter lock).
const char* md5_crypt(const char* password, const char* salt);

// Writes n characters of the crypt alphabet to destination, each indexed by
// the low 6 bits of value, shifting value right by 6 after each.
void crypt_to64(char* destination, uint32_t value, int n);

}  // namespace vorlane::engine
