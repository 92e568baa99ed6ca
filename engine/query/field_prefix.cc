#include "engine/query/field_prefix.h"

#include <cstring>

namespace vorlane::engine {

const FieldPrefix FieldPrefixTable[kFieldPrefixCount] = {
    {"checksum:", kFieldChecksum},
    {"site:", kFieldLiteral},
    {"url:", kFieldUnstemmed | kFieldUnbroken},
    {"link:", kFieldUnstemmed | kFieldUnbroken},
    {"imagelink:", kFieldUnstemmed | kFieldUnbroken},
    {"topic:", kFieldUnstemmed},
    {"ancestor:", kFieldUnstemmed},
    {"pumirank:", kFieldUnstemmed | kFieldUnbroken},
    {"ext:", kFieldUnstemmed | kFieldUnbroken},
    {"http:", kFieldScheme},
    {"ftp:", kFieldScheme},
    {"mailto:", kFieldScheme},
    {"gopher:", kFieldScheme},
    {"news:", kFieldScheme},
    {"href:", kFieldLiteral},
};

int field_has_flag(const char* name, size_t length, uint32_t flag) {
  for (const FieldPrefix& row : FieldPrefixTable) {
    if (std::strlen(row.prefix) == length && std::memcmp(row.prefix, name, length) == 0) {
      return (row.flags & flag) != 0 ? 1 : 0;
    }
  }
  return 0;
}

int field_has_flag(const char* name, uint32_t flag) {
  return field_has_flag(name, std::strlen(name), flag);
}

}  // namespace vorlane::engine
