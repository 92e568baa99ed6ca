// Opening the files that configuration lines name. Paths are opened as
// given; a path written with '\' separators (as older configuration files
// hold them) is tried again with '/' in their place. The caller's text is
// never changed.
#pragma once

#include <cstdio>

namespace vorlane {

FILE* open_config_path(const char* path, const char* mode);

}  // namespace vorlane
