// plimmet: a windowless program that collects facts about the machine and the
// installed server into one text and shows it in the message box
// "System Info". It takes no arguments and always ends with exit code 0;
// whatever cannot be found is simply left out of the text.
//
// The text, in order:
//   "\n"
//   "Platform: %s %d.%d   Build: %d   ServicePack: %s\n"
//   "Product Type: %s\n"           only on the NT platform, when the value is set
//   "\n"
//   "Memory: %d (%d free)   Virtual: %d (%d free)\n"   (bytes)
//   "\n"
//   "Hostname: %s"                 from the fourth line of "ipconfig /all"
//   "Vorlane version: %s"          server 0's "version" value
//   "\n\n\n"
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace vorlane::plimmet {

// The text being built: at most text_capacity - 1 bytes; what would go past
// that is cut off.
constexpr size_t text_capacity = 4096;

struct InfoText {
  std::string text;
  void append(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

// Opens an existing subkey for reading; null when it cannot be opened.
platform::RegKey openKeyForRead(platform::RegKey parent, const char* name);

// The platform line and, on the NT platform, the product type from
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\ProductOptions.
void addPlatformInfo(InfoText& out, const platform::VersionInfo& version);

void addMemoryInfo(InfoText& out, const platform::MemoryStatus& memory);

// Reads lines (up to 1,024 bytes each) until the fourth has been read or the
// output ends; the last line read names the host after its first colon.
void addHostName(InfoText& out, FILE* ipconfig_output);

void addServerVersion(InfoText& out);

// The whole text. A null argument is a source that could not be read: its
// line is left out.
std::string system_info_text(const platform::VersionInfo* version, const platform::MemoryStatus* memory,
                             FILE* ipconfig_output);

// Gathers the facts from the platform, shows the box and returns 0.
int WinMain();

}  // namespace vorlane::plimmet
