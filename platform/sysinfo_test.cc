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

}  // namespace
}  // namespace vorlane::platform
