#include "platform/disk_sector.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/testing/test_root.h"

namespace vorlane::platform {
namespace {

// The answer is never smaller than the file system's block: a disk with
// 512-byte logical sectors under a 4096-byte file system answers 4096.
TEST(DiskSector, AnswersTheUnitTheDiskWrites) {
  TestRoot root;
  for (const std::string& path : {root.file("f"), std::string("/proc/self/status")}) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path;
    uint32_t bytes = bytes_per_sector(fd);
    struct statvfs vfs;
    ASSERT_EQ(fstatvfs(fd, &vfs), 0);
    ::close(fd);
    EXPECT_EQ(bytes & (bytes - 1), 0u) << path;
    EXPECT_LE(bytes, 65536u) << path;
    if (vfs.f_bsize >= 512 && vfs.f_bsize <= 65536 && (vfs.f_bsize & (vfs.f_bsize - 1)) == 0) {
      EXPECT_GE(bytes, vfs.f_bsize) << path;
    }
    if (path == root.file("f")) {
      EXPECT_GE(bytes, 512u);
    }
  }
  EXPECT_EQ(bytes_per_sector(-1), 0u);
}

}  // namespace
}  // namespace vorlane::platform
