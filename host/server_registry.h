// The per-server registry routines.
//
// Each search server (number 0..9) keeps its settings in the key
// HKEY_LOCAL_MACHINE\SOFTWARE\Kestrova\VorlaneServer\<number, "%d">:
//
//   "data_dir"  string   the server's data directory
//   "hostname"  string   the host name it serves under
//   "port"      number   its port (32-bit)
//   "version"   string   the server's version text
//   "gpf"       number   1 or 0
//
// Strings are stored with their terminating NUL (length + 1 bytes). Every
// routine opens the keys it needs and closes them before it returns. None
// reports an error: a key that cannot be made or opened gives null, a failed
// write is silent, a failed read gives 0 with an empty text or 0xFFFFFFFF.
//
// This library is linked into libvorlane.so and, as a build of its own, into
// each setup program.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/registry.h"

namespace vorlane::host {

using platform::RegKey;

// Creates (or opens) SOFTWARE, Kestrova and VorlaneServer one level at a
// time with full access, closing each parent once its child is made, then
// the server's key: created with full access (create non-zero) or opened for
// reading (create 0). The caller closes the key it gets.
RegKey orvelRegistryOpenServerKey(int server, int create);

// Creates or opens a subkey with full access; null on failure.
RegKey orvelRegistryCreateKey(RegKey parent, const char* name);

// Opens an existing subkey for reading; null on failure.
RegKey orvelRegistryOpenKey(RegKey parent, const char* name);

// Stores text (with its NUL) as a string value of the server's key.
void orvelRegistrySetString(int server, const char* name, const char* text);

// Stores a 32-bit number value of the server's key.
void orvelRegistrySetNum(int server, const char* name, uint32_t value);

// 1 when the value exists as a string and fits buffer (size bytes, its NUL
// included; a value stored without its NUL is terminated here and must leave
// room for it); otherwise 0 with buffer[0] = NUL. A buffer of size 0 is never
// written.
int orvelRegistryGetString(int server, const char* name, char* buffer, size_t size);

}  // namespace vorlane::host

extern "C" {
// 1 when the value exists as a 32-bit number (*out receives it); otherwise 0
// with *out = 0xFFFFFFFF.
__attribute__((visibility("default"))) int orvelRegistryGetNum(int server, const char* name, uint32_t* out);
}
