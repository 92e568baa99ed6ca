// System information stand-ins: memory status and the platform version.
#pragma once

#include <cstdint>
#include <string>

namespace vorlane::platform {

// Memory figures in bytes, from /proc/meminfo. The "page file" is the commit
// space the system can hand out: physical memory plus swap.
struct MemoryStatus {
  uint64_t total_physical = 0;
  uint64_t available_physical = 0;  // MemAvailable
  uint64_t total_page_file = 0;     // MemTotal + SwapTotal
  uint64_t available_page_file = 0; // MemAvailable + SwapFree
};

// False when /proc/meminfo cannot be read (the figures are then 0).
bool memory_status(MemoryStatus* out);

// The platform id of a system of the NT family, the only one that runs
// services; the version numbers come from uname.
constexpr int platform_id_nt = 2;

struct VersionInfo {
  int platform_id = platform_id_nt;
  int major = 0;            // release "6.1.55-..." gives 6, 1 and build 55
  int minor = 0;
  int build = 0;
  std::string service_pack; // the whole release text of uname
};

bool version_info(VersionInfo* out);

// The two lines that the script module and plimmet show:
//   "Platform: %s %d.%d   Build: %d   ServicePack: %s\n" with the platform's
//   name by id (0 "Windows 3.1", 1 "Windows 95", 2 "Windows NT", any other
//   "Windows ??"), the version numbers and the service-pack text;
//   "Memory: %llu (%llu free)   Virtual: %llu (%llu free)\n" with the four
//   figures in bytes (64-bit, so more than 2 GiB prints as it is).
std::string platform_line(const VersionInfo& version);
std::string memory_line(const MemoryStatus& memory);

}  // namespace vorlane::platform
