// Carrying standard output and standard error into a log file.
#pragma once

namespace vorlane::host {

// Opens path for appending (created when missing), then points standard
// output and standard error at it and makes both unbuffered. A file that
// cannot be opened changes nothing: the streams keep working and false is
// returned.
bool redirect_output(const char* path);

}  // namespace vorlane::host

extern "C" {
// redirect_output without its result.
__attribute__((visibility("default"))) void _output_to_logfile(const char* path);
}
