#include "host/server_registry.h"

#include <cstring>
#include <string>

#include "platform/errors.h"

namespace vorlane::host {

using platform::RegAccess;

RegKey orvelRegistryCreateKey(RegKey parent, const char* name) {
  RegKey key = nullptr;
  if (platform::reg_create_key(parent, name, RegAccess::full, &key) != platform::error_success) return nullptr;
  return key;
}

RegKey orvelRegistryOpenKey(RegKey parent, const char* name) {
  RegKey key = nullptr;
  if (platform::reg_open_key(parent, name, RegAccess::read, &key) != platform::error_success) return nullptr;
  return key;
}

RegKey orvelRegistryOpenServerKey(int server, int create) {
  RegKey key = platform::reg_root(platform::RegRoot::local_machine);
  for (const char* level : {"SOFTWARE", "Kestrova", "VorlaneServer"}) {
    RegKey child = orvelRegistryCreateKey(key, level);
    platform::reg_close_key(key);
    if (!child) return nullptr;
    key = child;
  }
  std::string number = std::to_string(server);
  RegKey server_key = create ? orvelRegistryCreateKey(key, number.c_str()) : orvelRegistryOpenKey(key, number.c_str());
  platform::reg_close_key(key);
  return server_key;
}

void orvelRegistrySetString(int server, const char* name, const char* text) {
  RegKey key = orvelRegistryOpenServerKey(server, 1);
  if (!key) return;
  platform::reg_set_value(key, name, platform::reg_sz, text, strlen(text) + 1);
  platform::reg_close_key(key);
}

void orvelRegistrySetNum(int server, const char* name, uint32_t value) {
  RegKey key = orvelRegistryOpenServerKey(server, 1);
  if (!key) return;
  platform::reg_set_value(key, name, platform::reg_dword, &value, sizeof value);
  platform::reg_close_key(key);
}

int orvelRegistryGetString(int server, const char* name, char* buffer, size_t size) {
  if (size == 0) return 0;
  buffer[0] = '\0';
  RegKey key = orvelRegistryOpenServerKey(server, 0);
  if (!key) return 0;
  uint32_t type = 0;
  size_t length = size;
  int rc = platform::reg_query_value(key, name, &type, buffer, &length);
  platform::reg_close_key(key);
  if (rc != platform::error_success || type != platform::reg_sz) {
    buffer[0] = '\0';
    return 0;
  }
  if (length == 0 || buffer[length - 1] != '\0') {
    // Stored without its NUL: terminate it when there is room.
    if (length >= size) {
      buffer[0] = '\0';
      return 0;
    }
    buffer[length] = '\0';
  }
  return 1;
}

}  // namespace vorlane::host

extern "C" int orvelRegistryGetNum(int server, const char* name, uint32_t* out) {
  using namespace vorlane;
  *out = 0xFFFFFFFFu;
  host::RegKey key = host::orvelRegistryOpenServerKey(server, 0);
  if (!key) return 0;
  uint32_t type = 0;
  uint32_t value = 0;
  size_t length = sizeof value;
  int rc = platform::reg_query_value(key, name, &type, &value, &length);
  platform::reg_close_key(key);
  if (rc != platform::error_success || type != platform::reg_dword || length != sizeof value) return 0;
  *out = value;
  return 1;
}
