#include "host/child_process.h"

#include <cerrno>
#include <cstdlib>

namespace vorlane::host {

void normalize_program_path(std::string& path) {
  size_t pos = 0;
  while ((pos = path.find("/./", pos)) != std::string::npos) {
    if (pos + 3 >= path.size()) break;  // nothing after it: kept
    path.erase(pos, 2);                 // "/./x" -> "/x"; look again here
  }
}

std::string library_path(const std::string& program) {
  size_t last = program.rfind('/');
  if (last == std::string::npos || last == 0) return std::string();
  size_t before = program.rfind('/', last - 1);
  if (before == std::string::npos) return std::string();
  return program.substr(0, before) + library_subdir;
}

void set_service_environment(const std::string& program) {
  std::string lib = library_path(program);
  if (!lib.empty()) setenv("PYTHONPATH", lib.c_str(), 1);
  const char* temp = getenv("TEMP");
  if (!temp || !*temp) setenv("TEMP", "/tmp", 1);
}

void set_console_pythonpath(const std::string& program) {
  std::string lib = library_path(program);
  if (lib.empty()) return;
  const char* old = getenv("PYTHONPATH");
  if (old && *old) lib += std::string(":") + old;
  setenv("PYTHONPATH", lib.c_str(), 1);
}

std::string child_command_line(const std::string& program, const std::vector<std::string>& args) {
  std::string line = "\"" + program + "\" -child";
  for (const std::string& a : args) line += " " + a;
  return line;
}

bool start_child(const std::string& program, const std::vector<std::string>& args, platform::Process* child,
                 int* error) {
  *child = platform::Process();
  if (program.empty()) {
    *error = ENOENT;
    return false;
  }
  if (child_command_line(program, args).size() > max_child_command_line) {
    *error = E2BIG;
    return false;
  }
  std::vector<std::string> words = {program, "-child"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  size_t slash = program.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : program.substr(0, slash == 0 ? 1 : slash);
  platform::SpawnRequest request;
  request.path = program.c_str();
  request.argv = argv.data();
  request.directory = folder.empty() ? nullptr : folder.c_str();
  // A server ends with its supervisor, killed or not: none is left holding
  // its port for the next supervisor's server.
  request.end_with_parent = true;
  *error = platform::process_spawn(request, child);
  return *error == 0;
}

}  // namespace vorlane::host
