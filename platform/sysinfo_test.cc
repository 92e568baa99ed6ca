#include "platform/sysinfo.h"

#include <gtest/gtest.h>

#include <sys/utsname.h>

namespace vorlane::platform {
namespace {

TEST(SysInfo, MemoryFiguresAreBytesAndConsistent) {
  MemoryStatus m;
  ASSERT_TRUE(memory_status(&m));
  EXPECT_GT(m.total_physical, 1ull << 20);
  EXPECT_LE(m.available_physical, m.total_physical);
  EXPECT_GE(m.total_page_file, m.total_physical);
  EXPECT_LE(m.available_page_file, m.total_page_file);
}

TEST(SysInfo, VersionComesFromUname) {
  VersionInfo v;
  ASSERT_TRUE(version_info(&v));
  struct utsname u;
  ASSERT_EQ(uname(&u), 0);
  EXPECT_EQ(v.platform_id, platform_id_nt);
  EXPECT_EQ(v.service_pack, u.release);
  EXPECT_EQ(std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build),
            std::string(u.release).substr(0, std::string(u.release).find_first_not_of("0123456789.")));
}

TEST(SysInfo, PlatformAndMemoryLines) {
  struct Case {
    int id;
    const char* line;
  };
  const Case cases[] = {
      {0, "Platform: Windows 3.1 6.1   Build: 55   ServicePack: 6.1.55-x\n"},
      {1, "Platform: Windows 95 6.1   Build: 55   ServicePack: 6.1.55-x\n"},
      {2, "Platform: Windows NT 6.1   Build: 55   ServicePack: 6.1.55-x\n"},
      {3, "Platform: Windows ?? 6.1   Build: 55   ServicePack: 6.1.55-x\n"},
      {-1, "Platform: Windows ?? 6.1   Build: 55   ServicePack: 6.1.55-x\n"},
  };
  for (const Case& c : cases) {
    VersionInfo v;
    v.platform_id = c.id;
    v.major = 6;
    v.minor = 1;
    v.build = 55;
    v.service_pack = "6.1.55-x";
    EXPECT_EQ(platform_line(v), c.line);
  }
  MemoryStatus m;
  m.total_physical = 25769803776ull;  // 24 GiB
  m.available_physical = 3;
  m.total_page_file = 1ull << 40;
  m.available_page_file = 0;
  EXPECT_EQ(memory_line(m), "Memory: 25769803776 (3 free)   Virtual: 1099511627776 (0 free)\n");
}

}  // namespace
}  // namespace vorlane::platform
