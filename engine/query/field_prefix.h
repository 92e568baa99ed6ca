// The field-prefix table: which field names of a query or of an indexed
// document get special handling. A name matches a row only when it equals the
// row's prefix as a whole, colon included; the first equal row decides. Names
// outside the table are plain prefixes of the term string.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlane::engine {

// Flag bits of a row.
inline constexpr uint32_t kFieldChecksum = 1;   // the value is a 16-hex-digit checksum
inline constexpr uint32_t kFieldLiteral = 2;    // the value is one literal term, not tokenised
inline constexpr uint32_t kFieldScheme = 4;     // a URL scheme word
inline constexpr uint32_t kFieldUnstemmed = 8;  // phrases without stems, plain lower-cased words
inline constexpr uint32_t kFieldUnbroken = 16;  // no stop words or hard stops: one phrase

struct FieldPrefix {
  const char* prefix;
  uint32_t flags;
};

inline constexpr size_t kFieldPrefixCount = 15;
extern const FieldPrefix FieldPrefixTable[kFieldPrefixCount];

// 1 when the first row equal to the name (length bytes, colon included) has
// the flag bit, else 0.
int field_has_flag(const char* name, size_t length, uint32_t flag);
// The same for a NUL-terminated name.
int field_has_flag(const char* name, uint32_t flag);

inline int is_checksum_field(const char* name) { return field_has_flag(name, kFieldChecksum); }
inline int is_literal_field(const char* name) { return field_has_flag(name, kFieldLiteral); }
inline int is_scheme_field(const char* name) { return field_has_flag(name, kFieldScheme); }
inline int is_unstemmed_field(const char* name) { return field_has_flag(name, kFieldUnstemmed); }
inline int is_unbroken_field(const char* name) { return field_has_flag(name, kFieldUnbroken); }

}  // namespace vorlane::engine
