#include "platform/disk_sector.h"

#include <cstdio>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace vorlane::platform {

namespace {

constexpr uint32_t kSmallest = 512;
constexpr uint32_t kLargest = 65536;

bool usable(uint64_t v) { return v >= kSmallest && v <= kLargest && (v & (v - 1)) == 0; }

// The physical block size of the device, 0 when unknown.
uint32_t physical_block(dev_t dev) {
  const char* forms[] = {"/sys/dev/block/%u:%u/queue/physical_block_size",
                         "/sys/dev/block/%u:%u/../queue/physical_block_size"};
  for (const char* form : forms) {
    char path[128];
    std::snprintf(path, sizeof path, form, major(dev), minor(dev));
    FILE* f = std::fopen(path, "re");
    if (!f) continue;
    unsigned value = 0;
    int got = std::fscanf(f, "%u", &value);
    std::fclose(f);
    if (got == 1 && usable(value)) return value;
  }
  return 0;
}

}  // namespace

uint32_t bytes_per_sector(int fd) {
  uint32_t answer = 0;
  struct stat st;
  if (fstat(fd, &st) == 0) answer = physical_block(st.st_dev);
  struct statvfs vfs;
  if (fstatvfs(fd, &vfs) == 0) {
    uint64_t block = vfs.f_bsize;
    // A file system whose blocks pass the largest page size still writes
    // whole blocks of that size at least.
    if (block > kLargest && (block & (block - 1)) == 0) block = kLargest;
    if (usable(block) && block > answer) answer = static_cast<uint32_t>(block);
  }
  return answer;
}

}  // namespace vorlane::platform
