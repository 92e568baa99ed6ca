// The one directory under which every stand-in keeps its state.
#pragma once

#include <string>

namespace vorlane::platform {

// $VORLANE_ROOT, or /var/lib/vorlane when unset or empty. Read on every call,
// so a test can point it at a temporary directory. The directory is created
// (with its parents) when missing; creation failures surface when the caller
// uses a path under it.
std::string root_dir();

// root_dir() + "/" + relative, with the parent directories of the result
// created.
std::string root_path(const std::string& relative);

// mkdir -p; true when the directory exists afterwards.
bool make_dirs(const std::string& path);

}  // namespace vorlane::platform
