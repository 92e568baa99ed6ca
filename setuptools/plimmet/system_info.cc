#include "setuptools/plimmet/system_info.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "host/server_registry.h"
#include "platform/errors.h"
#include "platform/ipconfig.h"
#include "platform/message_box.h"

namespace vorlane::plimmet {

void InfoText::append(const char* format, ...) {
  if (text.size() >= text_capacity - 1) return;
  char piece[text_capacity];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (n <= 0) return;
  size_t length = std::min(static_cast<size_t>(n), sizeof piece - 1);
  text.append(piece, std::min(length, text_capacity - 1 - text.size()));
}

platform::RegKey openKeyForRead(platform::RegKey parent, const char* name) {
  if (!parent) return nullptr;
  platform::RegKey key = nullptr;
  if (platform::reg_open_key(parent, name, platform::RegAccess::read, &key) != platform::error_success) return nullptr;
  return key;
}

namespace {

void add_product_type(InfoText& out) {
  platform::RegKey key = platform::reg_root(platform::RegRoot::local_machine);
  for (const char* level : {"SYSTEM", "CurrentControlSet", "Control", "ProductOptions"}) {
    platform::RegKey child = openKeyForRead(key, level);
    platform::reg_close_key(key);
    key = child;
    if (!key) return;
  }
  char value[256];
  size_t size = sizeof value;
  uint32_t type = 0;
  int rc = platform::reg_query_value(key, "ProductType", &type, value, &size);
  platform::reg_close_key(key);
  if (rc != platform::error_success || type != platform::reg_sz) return;
  // A value stored without its NUL is cut to the buffer.
  value[std::min(size, sizeof value - 1)] = '\0';
  out.append("Product Type: %s\n", value);
}

}  // namespace

void addPlatformInfo(InfoText& out, const platform::VersionInfo& version) {
  out.append("%s", platform::platform_line(version).c_str());
  if (version.platform_id == platform::platform_id_nt) add_product_type(out);
}

void addMemoryInfo(InfoText& out, const platform::MemoryStatus& memory) {
  out.append("%s", platform::memory_line(memory).c_str());
}

void addHostName(InfoText& out, FILE* ipconfig_output) {
  if (!ipconfig_output) return;
  char line[1024];
  bool have_line = false;
  for (int i = 0; i < 4; ++i) {
    if (!fgets(line, sizeof line, ipconfig_output)) break;
    have_line = true;
  }
  if (!have_line) return;
  const char* colon = strchr(line, ':');
  if (!colon) return;
  // The name starts two characters after the colon (past ": "); a colon that
  // ends the line gives an empty name rather than a read past it.
  const char* name = colon + 1;
  if (*name) ++name;
  out.append("Hostname: %s", name);
}

void addServerVersion(InfoText& out) {
  char version[128];
  if (host::orvelRegistryGetString(0, "version", version, sizeof version) && version[0])
    out.append("Vorlane version: %s", version);
}

std::string system_info_text(const platform::VersionInfo* version, const platform::MemoryStatus* memory,
                             FILE* ipconfig_output) {
  InfoText out;
  out.append("\n");
  if (version) addPlatformInfo(out, *version);
  out.append("\n");
  if (memory) addMemoryInfo(out, *memory);
  out.append("\n");
  addHostName(out, ipconfig_output);
  addServerVersion(out);
  out.append("\n");
  out.append("\n");
  out.append("\n");
  return out.text;
}

int WinMain() {
  platform::VersionInfo version;
  bool have_version = platform::version_info(&version);
  platform::MemoryStatus memory;
  bool have_memory = platform::memory_status(&memory);
  FILE* ipconfig = platform::ipconfig_open();
  std::string text = system_info_text(have_version ? &version : nullptr, have_memory ? &memory : nullptr, ipconfig);
  platform::ipconfig_close(ipconfig);
  platform::message_box(text.c_str(), "System Info", platform::mb_iconinformation);
  return 0;
}

}  // namespace vorlane::plimmet
