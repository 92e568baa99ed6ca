// Writing whole texts to files, for the stand-ins that keep their state in
// small files (registry value lists, service status, window state, message
// and event records).
#pragma once

#include <string>

namespace vorlane::platform {

// Writes all of data to fd, going on after partial writes and interrupted
// calls. False on an error (errno tells which; ENOSPC when nothing could be
// written).
bool write_whole(int fd, const std::string& data);

// Replaces the file at path with text: writes "<path>.tmp" (flushed to disk
// first when `sync`) and renames it over path, so that a reader sees either
// the old file or the new one. 0, or the errno of the step that failed (the
// temporary file is then removed).
int replace_file(const std::string& path, const std::string& text, bool sync);

}  // namespace vorlane::platform
