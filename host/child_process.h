// Starting server processes (children) from the supervisors, and the
// environment they get.
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

namespace vorlane::host {

// Appended to the installation directory (the program's path less its last
// two components) to make the children's library path.
constexpr char library_subdir[] = "/lib/python1.5";

// The longest child command line: "\"<program>\" -child" and one blank and
// each further argument.
constexpr size_t max_child_command_line = 1023;

// In place: every "/./" that has at least one character after it collapses
// to "/" (again at the same place while one follows); one at the very end
// is kept.
void normalize_program_path(std::string& path);

// The installation directory's library path: the program path cut at its
// last "/" and again at the new last "/", then library_subdir. Empty when
// the path has fewer than two "/".
std::string library_path(const std::string& program);

// Service form: PYTHONPATH becomes the library path (left alone when there
// is none); TEMP, when unset or empty, becomes "/tmp".
void set_service_environment(const std::string& program);

// Console form: the library path, then ":" and the earlier PYTHONPATH when
// it had a value. TEMP is not touched.
void set_console_pythonpath(const std::string& program);

// The child's command line: the program path in double quotes, " -child",
// then a blank and each argument as it is.
std::string child_command_line(const std::string& program, const std::vector<std::string>& args);

// Starts "<program> -child <args...>" with this process's environment, the
// program's folder as working directory, standard streams on /dev/null, no
// inherited descriptors, in a session of its own, ended with SIGKILL when
// the calling thread (the supervision loop) or this process ends. False (nothing started)
// when the command line would pass max_child_command_line or the spawn
// fails; *error then holds the reason (an errno value, E2BIG for the length).
bool start_child(const std::string& program, const std::vector<std::string>& args, platform::Process* child,
                 int* error);

}  // namespace vorlane::host
