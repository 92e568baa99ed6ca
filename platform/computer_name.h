// The computer name of this host as the security layer uses it: the first
// label of the host name (up to the first "."), upper-cased (ASCII), at most
// 15 characters.
#pragma once

#include <cstddef>

namespace vorlane::platform {

// Writes the NUL-ended name into buffer (size at least 16); returns its
// length, 0 when the host name cannot be read.
size_t computer_name(char* buffer, size_t size);

}  // namespace vorlane::platform
