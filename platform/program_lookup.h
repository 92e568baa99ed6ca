// Association lookup stand-in: the program that runs a file. The only file
// the system asks about is its own program, so the answer is the running
// program, read from /proc/self/exe.
#pragma once

#include <string>

namespace vorlane::platform {

// 0 with the program's absolute path, or error_file_not_found.
int find_executable(const char* file, std::string* program);

}  // namespace vorlane::platform
