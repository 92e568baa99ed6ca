#include "host/server_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/errors.h"
#include "platform/testing/test_root.h"

namespace vorlane::host {
namespace {

using platform::reg_close_key;
using platform::reg_query_value;
using platform::reg_set_value;

const char* const server_keys = "/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kestrova/VorlaneServer";

// Writes a raw value into a server's key, as another program might have.
void set_raw(int server, const char* name, uint32_t type, const void* data, size_t size) {
  RegKey key = orvelRegistryOpenServerKey(server, 1);
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(reg_set_value(key, name, type, data, size), platform::error_success);
  reg_close_key(key);
}

TEST(ServerRegistry, UnconfiguredServerReadsAsMissingButGetsTheUpperLevels) {
  platform::TestRoot root;
  uint32_t port = 7;
  EXPECT_EQ(orvelRegistryGetNum(5, "port", &port), 0);
  EXPECT_EQ(port, 0xFFFFFFFFu);
  char text[16] = "junk";
  EXPECT_EQ(orvelRegistryGetString(5, "data_dir", text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_TRUE(std::filesystem::is_directory(root.path() + server_keys));
  EXPECT_FALSE(std::filesystem::exists(root.path() + server_keys + "/5"));
}

TEST(ServerRegistry, StringsAndNumbersRoundTrip) {
  platform::TestRoot root;
  orvelRegistrySetString(0, "data_dir", "/srv/data\xe9");
  orvelRegistrySetNum(0, "port", 8080);
  orvelRegistrySetNum(-3, "gpf", 1);
  char text[64];
  uint32_t n = 0;
  EXPECT_EQ(orvelRegistryGetString(0, "DATA_DIR", text, sizeof text), 1);
  EXPECT_STREQ(text, "/srv/data\xe9");
  EXPECT_EQ(orvelRegistryGetNum(0, "Port", &n), 1);
  EXPECT_EQ(n, 8080u);
  EXPECT_EQ(orvelRegistryGetNum(-3, "gpf", &n), 1);
  EXPECT_EQ(n, 1u);
  EXPECT_TRUE(std::filesystem::is_directory(root.path() + server_keys + "/-3"));
  // Each reader refuses the other type.
  EXPECT_EQ(orvelRegistryGetNum(0, "data_dir", &n), 0);
  EXPECT_EQ(n, 0xFFFFFFFFu);
  EXPECT_EQ(orvelRegistryGetString(0, "port", text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  // Servers do not share values.
  EXPECT_EQ(orvelRegistryGetNum(1, "port", &n), 0);
}

TEST(ServerRegistry, StringEdgeCases) {
  platform::TestRoot root;
  // An empty text is one NUL byte.
  orvelRegistrySetString(2, "version", "");
  RegKey key = orvelRegistryOpenServerKey(2, 0);
  ASSERT_NE(key, nullptr);
  char raw[8];
  size_t size = sizeof raw;
  uint32_t type = 0;
  ASSERT_EQ(reg_query_value(key, "version", &type, raw, &size), platform::error_success);
  EXPECT_EQ(type, platform::reg_sz);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(raw[0], '\0');
  // Readers open the server key for reading only.
  EXPECT_EQ(reg_set_value(key, "x", platform::reg_sz, "", 1), platform::error_access_denied);
  reg_close_key(key);

  char buf[8];
  EXPECT_EQ(orvelRegistryGetString(2, "version", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "");

  struct Case {
    const char* what;
    uint32_t type;
    std::string stored;
    size_t buffer;
    int result;
    const char* text;
  } cases[] = {
      {"exact fit", platform::reg_sz, std::string("abcdefg\0", 8), 8, 1, "abcdefg"},
      {"one byte short", platform::reg_sz, std::string("abcdefgh\0", 9), 8, 0, ""},
      {"no NUL, room for one", platform::reg_sz, "abc", 4, 1, "abc"},
      {"no NUL, no room for one", platform::reg_sz, "abcd", 4, 0, ""},
      {"empty without NUL", platform::reg_sz, "", 4, 1, ""},
      {"expandable string", platform::reg_expand_sz, std::string("%PATH%\0", 7), 8, 0, ""},
      {"binary", platform::reg_binary, std::string("ab\0", 3), 8, 0, ""},
  };
  for (const Case& c : cases) {
    set_raw(3, "v", c.type, c.stored.data(), c.stored.size());
    char out[16];
    memset(out, '#', sizeof out);
    EXPECT_EQ(orvelRegistryGetString(3, "v", out, c.buffer), c.result) << c.what;
    EXPECT_STREQ(out, c.text) << c.what;
    EXPECT_EQ(out[c.buffer], '#') << c.what << ": wrote past the buffer";
  }
  // A buffer of size 0 is never written.
  char untouched = '#';
  EXPECT_EQ(orvelRegistryGetString(3, "v", &untouched, 0), 0);
  EXPECT_EQ(untouched, '#');
}

TEST(ServerRegistry, NumbersMustBeFourBytes) {
  platform::TestRoot root;
  uint16_t short_value = 7;
  set_raw(4, "port", platform::reg_dword, &short_value, 2);
  uint32_t n = 0;
  EXPECT_EQ(orvelRegistryGetNum(4, "port", &n), 0);
  EXPECT_EQ(n, 0xFFFFFFFFu);
  uint64_t long_value = 9;
  set_raw(4, "port", platform::reg_dword, &long_value, 8);
  EXPECT_EQ(orvelRegistryGetNum(4, "port", &n), 0);
  orvelRegistrySetNum(4, "port", 0xFFFFFFFEu);
  EXPECT_EQ(orvelRegistryGetNum(4, "port", &n), 1);
  EXPECT_EQ(n, 0xFFFFFFFEu);
}

TEST(ServerRegistry, KeyRoutines) {
  platform::TestRoot root;
  RegKey hklm = platform::reg_root(platform::RegRoot::local_machine);
  EXPECT_EQ(orvelRegistryOpenKey(hklm, "Missing"), nullptr);
  RegKey made = orvelRegistryCreateKey(hklm, "Made");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(reg_set_value(made, "v", platform::reg_sz, "", 1), platform::error_success);
  reg_close_key(made);
  RegKey opened = orvelRegistryOpenKey(hklm, "made");
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(reg_set_value(opened, "v", platform::reg_sz, "", 1), platform::error_access_denied);
  reg_close_key(opened);
  EXPECT_EQ(orvelRegistryCreateKey(hklm, "a/b"), nullptr);
}

}  // namespace
}  // namespace vorlane::host
