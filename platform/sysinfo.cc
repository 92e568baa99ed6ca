#include "platform/sysinfo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/utsname.h>

namespace vorlane::platform {

bool memory_status(MemoryStatus* out) {
  *out = MemoryStatus();
  FILE* f = fopen("/proc/meminfo", "re");
  if (!f) return false;
  uint64_t total = 0, available = 0, swap_total = 0, swap_free = 0;
  bool have_available = false;
  char line[256];
  while (fgets(line, sizeof line, f)) {
    char name[64];
    unsigned long long kb = 0;
    if (sscanf(line, "%63[^:]: %llu", name, &kb) != 2) continue;
    uint64_t bytes = static_cast<uint64_t>(kb) * 1024;
    if (strcmp(name, "MemTotal") == 0) total = bytes;
    else if (strcmp(name, "MemAvailable") == 0) available = bytes, have_available = true;
    else if (strcmp(name, "MemFree") == 0 && !have_available) available = bytes;
    else if (strcmp(name, "SwapTotal") == 0) swap_total = bytes;
    else if (strcmp(name, "SwapFree") == 0) swap_free = bytes;
  }
  fclose(f);
  if (total == 0) return false;
  out->total_physical = total;
  out->available_physical = available;
  out->total_page_file = total + swap_total;
  out->available_page_file = available + swap_free;
  return true;
}

bool version_info(VersionInfo* out) {
  *out = VersionInfo();
  struct utsname u;
  if (uname(&u) != 0) return false;
  out->service_pack = u.release;
  int numbers[3] = {0, 0, 0};
  const char* p = u.release;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    long v = strtol(p, &end, 10);
    if (end == p) break;
    numbers[i] = static_cast<int>(v);
    if (*end != '.') break;
    p = end + 1;
  }
  out->major = numbers[0];
  out->minor = numbers[1];
  out->build = numbers[2];
  return true;
}

namespace {

const char* platform_name(int id) {
  switch (id) {
    case 0: return "Windows 3.1";
    case 1: return "Windows 95";
    case 2: return "Windows NT";
    default: return "Windows ??";
  }
}

}  // namespace

std::string platform_line(const VersionInfo& version) {
  char head[160];
  snprintf(head, sizeof head, "Platform: %s %d.%d   Build: %d   ServicePack: ", platform_name(version.platform_id),
           version.major, version.minor, version.build);
  return head + version.service_pack + "\n";
}

std::string memory_line(const MemoryStatus& memory) {
  char text[160];
  snprintf(text, sizeof text, "Memory: %llu (%llu free)   Virtual: %llu (%llu free)\n",
           static_cast<unsigned long long>(memory.total_physical),
           static_cast<unsigned long long>(memory.available_physical),
           static_cast<unsigned long long>(memory.total_page_file),
           static_cast<unsigned long long>(memory.available_page_file));
  return text;
}

}  // namespace vorlane::platform
