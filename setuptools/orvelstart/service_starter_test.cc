#include "setuptools/orvelstart/service_starter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/server_registry.h"
#include "platform/service_manager.h"
#include "platform/testing/test_root.h"

namespace vorlane::orvelstart {
namespace {

const Tries once{1, 0};

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Server 0 as a running server records itself.
void record(const std::string& data_dir) {
  host::orvelRegistrySetString(0, "data_dir", data_dir.c_str());
  host::orvelRegistrySetString(0, "hostname", "search.example");
  host::orvelRegistrySetNum(0, "port", 8765);
}

TEST(Orvelstart, ShortcutHoldsTheRecordedAddress) {
  platform::TestRoot root;
  std::string data = root.file("data");
  std::filesystem::create_directory(data);
  record(data);
  char path[1024];
  ASSERT_TRUE(writeAdminShortcut(path, sizeof path, once));
  EXPECT_EQ(std::string(path), data + "/orvelstart.url");
  EXPECT_EQ(read_file(path), "[InternetShortcut]\nurl=http://search.example:8765/admin\n");
  // An existing file is replaced.
  host::orvelRegistrySetNum(0, "port", 80);
  ASSERT_TRUE(writeAdminShortcut(path, sizeof path, once));
  EXPECT_EQ(read_file(path), "[InternetShortcut]\nurl=http://search.example:80/admin\n");
}

TEST(Orvelstart, EachValueIsNeeded) {
  for (const char* missing : {"data_dir", "hostname", "port"}) {
    platform::TestRoot root;
    std::string data = root.file("data");
    std::filesystem::create_directory(data);
    record(data);
    platform::RegKey key = host::orvelRegistryOpenServerKey(0, 1);
    platform::reg_delete_value(key, missing);
    platform::reg_close_key(key);
    char path[1024];
    EXPECT_FALSE(writeAdminShortcut(path, sizeof path, once)) << missing;
    EXPECT_FALSE(std::filesystem::exists(data + "/orvelstart.url")) << missing;
  }
}

// A directory path of exactly length characters under base, made of
// components short enough for the file system.
std::string path_of_length(const std::string& base, size_t length) {
  std::string path = base;
  while (path.size() + 202 < length) path += "/" + std::string(200, 'e');
  return path + "/" + std::string(length - path.size() - 1, 'e');
}

TEST(Orvelstart, DirectoryTooLongOrMissing) {
  platform::TestRoot root;
  // The directory fits the path buffer but the file name would not.
  std::string long_dir = path_of_length(root.path(), 1021);
  record(long_dir);
  char buffer[1024 + 64];
  memset(buffer, 'G', sizeof buffer);
  EXPECT_FALSE(writeAdminShortcut(buffer, 1024, once));
  for (size_t i = 1024; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 'G') << i;
  // One that leaves exactly room for the name and its NUL is used.
  std::string fits = path_of_length(root.path(), 1024 - 16);
  ASSERT_EQ(fits.size() + strlen("/orvelstart.url") + 1, 1024u);
  std::filesystem::create_directories(fits);
  record(fits);
  EXPECT_TRUE(writeAdminShortcut(buffer, 1024, once));
  EXPECT_EQ(std::string(buffer), fits + "/orvelstart.url");
  // A directory that does not exist: the file cannot be made.
  record(root.file("absent"));
  EXPECT_FALSE(writeAdminShortcut(buffer, 1024, Tries{2, 1}));
}

TEST(Orvelstart, ServiceStartFailures) {
  platform::TestRoot root;
  EXPECT_EQ(startServerService(), 10);
  ASSERT_EQ(platform::service_install(service_name, root.file("no-such-program").c_str()), 0);
  EXPECT_EQ(startServerService(), 11);
}

}  // namespace
}  // namespace vorlane::orvelstart
