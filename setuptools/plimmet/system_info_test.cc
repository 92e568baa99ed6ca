#include "setuptools/plimmet/system_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/server_registry.h"
#include "platform/errors.h"
#include "platform/message_box.h"
#include "platform/testing/test_root.h"

namespace vorlane::plimmet {
namespace {

// A stream over a hand-made command output.
struct Output {
  explicit Output(const std::string& text) : data(text) {
    stream = fmemopen(data.data(), data.size(), "r");
  }
  ~Output() {
    if (stream) fclose(stream);
  }
  std::string data;
  FILE* stream = nullptr;
};

const char* const ipconfig_text =
    "\r\n"
    "Windows IP Configuration\r\n"
    "\r\n"
    "        Host Name . . . . . . . . . : kestrel01\r\n"
    "        Primary DNS Suffix  . . . . : example.org\r\n";

platform::VersionInfo nt_version() {
  platform::VersionInfo v;
  v.platform_id = 2;
  v.major = 4;
  v.minor = 0;
  v.build = 1381;
  v.service_pack = "Service Pack 6";
  return v;
}

void set_product_type(const char* type) {
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::reg_create_key(platform::reg_root(platform::RegRoot::local_machine),
                                     "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", platform::RegAccess::full,
                                     &key),
            platform::error_success);
  platform::reg_set_value(key, "ProductType", platform::reg_sz, type, strlen(type) + 1);
  platform::reg_close_key(key);
}

TEST(Plimmet, WholeTextFromInjectedValues) {
  platform::TestRoot root;
  set_product_type("WinNT");
  host::orvelRegistrySetString(0, "version", "3.1.4\n");
  platform::VersionInfo version = nt_version();
  platform::MemoryStatus memory;
  memory.total_physical = 6442450944ull;  // 6 GiB: past what a signed 32-bit figure holds
  memory.available_physical = 2147483648ull;
  memory.total_page_file = 10737418240ull;
  memory.available_page_file = 4294967297ull;
  Output out(ipconfig_text);
  EXPECT_EQ(system_info_text(&version, &memory, out.stream),
            "\n"
            "Platform: Windows NT 4.0   Build: 1381   ServicePack: Service Pack 6\n"
            "Product Type: WinNT\n"
            "\n"
            "Memory: 6442450944 (2147483648 free)   Virtual: 10737418240 (4294967297 free)\n"
            "\n"
            "Hostname: kestrel01\r\n"
            "Vorlane version: 3.1.4\n"
            "\n\n\n");
}

TEST(Plimmet, MissingSourcesLeaveTheirLinesOut) {
  platform::TestRoot root;
  set_product_type("ServerNT");
  // Platform ids other than NT: names, and no product type even when set.
  for (auto [id, name] : {std::pair{0, "Windows 3.1"}, {1, "Windows 95"}, {7, "Windows ??"}}) {
    platform::VersionInfo version = nt_version();
    version.platform_id = id;
    EXPECT_EQ(system_info_text(&version, nullptr, nullptr),
              std::string("\nPlatform: ") + name + " 4.0   Build: 1381   ServicePack: Service Pack 6\n\n\n\n\n\n")
        << id;
  }
  // Nothing readable at all: only the blank lines remain.
  EXPECT_EQ(system_info_text(nullptr, nullptr, nullptr), "\n\n\n\n\n\n");
}

TEST(Plimmet, ProductTypeKeysAreOnlyRead) {
  platform::TestRoot root;
  platform::VersionInfo version = nt_version();
  EXPECT_EQ(system_info_text(&version, nullptr, nullptr),
            "\nPlatform: Windows NT 4.0   Build: 1381   ServicePack: Service Pack 6\n\n\n\n\n\n");
  EXPECT_FALSE(std::filesystem::exists(root.path() + "/registry/HKEY_LOCAL_MACHINE/SYSTEM"));
  // A product type that is not a string is left out.
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::reg_create_key(platform::reg_root(platform::RegRoot::local_machine),
                                     "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", platform::RegAccess::full,
                                     &key),
            platform::error_success);
  uint32_t number = 1;
  platform::reg_set_value(key, "ProductType", platform::reg_dword, &number, sizeof number);
  platform::reg_close_key(key);
  InfoText out;
  addPlatformInfo(out, version);
  EXPECT_EQ(out.text, "Platform: Windows NT 4.0   Build: 1381   ServicePack: Service Pack 6\n");
}

TEST(Plimmet, HostNameFromTheFourthOrLastLine) {
  struct Case {
    std::string output;
    std::string expected;
  } cases[] = {
      {ipconfig_text, "Hostname: kestrel01\r\n"},
      // Fewer than four lines: the last one read counts.
      {"a\nb\nname: short\n", "Hostname: short\n"},
      // The last line has no colon, or nothing after it.
      {"\n\n\nno colon here\n", ""},
      {"\n\n\nHost Name:", "Hostname: "},
      {"\n\n\nHost Name:\n", "Hostname: "},
      {"", ""},
      // A line longer than 1,023 bytes is read in pieces, each counting as a line.
      {std::string(1023, 'x') + "y\n\nHost: z\nHost: later\n", "Hostname: z\n"},
  };
  for (const Case& c : cases) {
    Output out(c.output);
    InfoText text;
    addHostName(text, out.data.empty() ? nullptr : out.stream);
    EXPECT_EQ(text.text, c.expected) << c.output;
  }
}

TEST(Plimmet, TextStopsAtItsBuffer) {
  platform::TestRoot root;
  platform::VersionInfo version = nt_version();
  version.service_pack = std::string(5000, 's');
  std::string text = system_info_text(&version, nullptr, nullptr);
  EXPECT_EQ(text.size(), text_capacity - 1);
  EXPECT_EQ(text.substr(0, 11), "\nPlatform: ");
}

TEST(Plimmet, ShowsTheBoxAndReturnsZero) {
  platform::TestRoot root;
  setenv("VORLANE_IPCONFIG", "printf '\\nX\\n\\n  Host Name . . : box-host\\n'", 1);
  int rc = WinMain();
  unsetenv("VORLANE_IPCONFIG");
  EXPECT_EQ(rc, 0);
  std::ifstream messages(platform::messages_path());
  std::stringstream all;
  all << messages.rdbuf();
  std::string line = all.str();
  // <time>\t<style>\t<caption>\t<text, escaped>\n
  size_t tab = line.find('\t');
  ASSERT_NE(tab, std::string::npos);
  EXPECT_EQ(line.substr(tab + 1, 15), "40\tSystem Info\t");
  EXPECT_NE(line.find("\\nPlatform: Windows NT "), std::string::npos);
  EXPECT_NE(line.find("\\nMemory: "), std::string::npos);
  EXPECT_NE(line.find("\\nHostname: box-host\\n\\n\\n\\n\n"), std::string::npos) << line;
}

}  // namespace
}  // namespace vorlane::plimmet
