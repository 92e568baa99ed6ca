// Error codes the stand-ins return, with the values of the platform the
// system was written against, so that code that compares or reports them
// keeps its meaning.
#pragma once

namespace vorlane::platform {

constexpr int error_success = 0;
constexpr int error_file_not_found = 2;
constexpr int error_access_denied = 5;
constexpr int error_invalid_parameter = 87;
constexpr int error_more_data = 234;

}  // namespace vorlane::platform
