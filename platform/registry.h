// Registry stand-in.
//
// Each key is a directory under $VORLANE_ROOT/registry; the four root keys
// are the directories "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
// "HKEY_CLASSES_ROOT" and "HKEY_USERS" there, and a subkey is a directory of
// the same name inside its parent's directory. Key names and value names are
// compared without regard to ASCII case; a key keeps the spelling it was
// created with.
//
// A key's values live in the file ".values" of its directory, one line per
// value:
//
//   <type, decimal>\t<name>\t<data, two lower-case hex digits per byte>\n
//
// The name is escaped so that the line stays one line: backslash as "\\",
// tab as "\t", newline as "\n", carriage return as "\r". Lines are kept in
// the order the values were first set. A writer takes flock(LOCK_EX) on the
// key's ".lock" file, writes the whole new list to ".values.tmp" and renames
// it over ".values", so a reader (which takes no lock) always sees either the
// old list or the new one. Lines that do not parse are dropped.
//
// Key names are single path components or several joined by a backslash;
// empty components, components beginning with "." (the stand-in's own files)
// and components holding "/" are refused. An empty name opens the key itself.
//
// Access rights: a key opened for reading refuses writes; opening a key for
// full access needs write permission on its directory, reading needs read
// and search permission.
//
// Results are the platform's error codes (platform/errors.h): success,
// file_not_found (no such key or value), access_denied, invalid_parameter,
// more_data (the value does not fit the buffer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorlane::platform {

// Value types.
constexpr uint32_t reg_none = 0;
constexpr uint32_t reg_sz = 1;
constexpr uint32_t reg_expand_sz = 2;
constexpr uint32_t reg_binary = 3;
constexpr uint32_t reg_dword = 4;
constexpr uint32_t reg_multi_sz = 7;

enum class RegAccess { read, full };

// An open key. The root keys are predefined: reg_root gives the same record
// every time and reg_close_key leaves it alone.
struct RegKeyRecord;
using RegKey = RegKeyRecord*;

enum class RegRoot { local_machine, current_user, classes_root, users };

RegKey reg_root(RegRoot root);

// The root key of that exact (case-sensitive) name, or null.
RegKey reg_root_by_name(const char* name);

// Creates the subkey (and any missing level of a multi-level name) or opens
// it when it exists.
int reg_create_key(RegKey parent, const char* name, RegAccess access, RegKey* out);

// Opens an existing subkey.
int reg_open_key(RegKey parent, const char* name, RegAccess access, RegKey* out);

// Releases an open key; null and the root keys are ignored.
void reg_close_key(RegKey key);

// Sets a value (created when missing, replaced otherwise).
int reg_set_value(RegKey key, const char* name, uint32_t type, const void* data, size_t size);

// Reads a value. type may be null. With data null, *size receives the
// value's size. Otherwise *size is the buffer's size on entry and the value's
// size on return; a value larger than the buffer gives more_data and leaves
// the buffer alone.
int reg_query_value(RegKey key, const char* name, uint32_t* type, void* data, size_t* size);

// Removes a value.
int reg_delete_value(RegKey key, const char* name);

// The directory that holds a key (for tests and tools).
std::string reg_key_directory(RegKey key);

}  // namespace vorlane::platform
