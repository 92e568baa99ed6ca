// Escaping of texts that are stored as fields of one tab-separated line (the
// event log, the message-box record, the registry's value lists): backslash
// as "\\", newline as "\n", carriage return as "\r", tab as "\t".
#pragma once

#include <string>
#include <string_view>

namespace vorlane::platform {

// Appends text to out with the four characters escaped.
void append_escaped(std::string& out, std::string_view text);

// The text of an escaped field; a backslash before any other character
// stands for that character. False when the field ends in a lone backslash,
// which is then kept in *out as it stands.
bool unescape_field(std::string_view field, std::string* out);

}  // namespace vorlane::platform
