// Time text and small services.
#pragma once

#include <cstddef>
#include <ctime>

namespace vorlane {

// The 24-character ctime text, a newline and NUL, copied into buffer (at most
// length bytes, padded with NULs). length must be at least 26.
char* ctime_r(time_t t, char* buffer, size_t length);

int sleep_seconds(unsigned seconds);
int get_host_id();   // always 0
void sync_files();   // does nothing

}  // namespace vorlane
