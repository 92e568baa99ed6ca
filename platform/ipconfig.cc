#include "platform/ipconfig.h"

#include <cstdlib>

namespace vorlane::platform {

namespace {

const char* const default_script =
    "printf '\\nVorlane IP Configuration\\n\\n'; "
    "printf '        Host Name . . . . . . . . . . . . : %s\\n' \"$(uname -n)\"; "
    "ip -o addr show 2>/dev/null | awk '{ "
    "printf \"\\nAdapter %s:\\n\\n        %s Address. . . . . . . . . . . : %s\\n\", "
    "$2, ($3 == \"inet\" ? \"IPv4\" : \"IPv6\"), $4 }'";

}  // namespace

std::string ipconfig_command() {
  const char* command = getenv("VORLANE_IPCONFIG");
  if (command && *command) return command;
  return default_script;
}

FILE* ipconfig_open() { return popen(ipconfig_command().c_str(), "re"); }

int ipconfig_close(FILE* pipe) { return pipe ? pclose(pipe) : -1; }

}  // namespace vorlane::platform
