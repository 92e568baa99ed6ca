#include "store/pread.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "store/log.h"

namespace vorlane {

ssize_t pread(int fd, void* buffer, size_t count, uint64_t offset) {
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n == 0 && done == 0)) {
      char buf[256];
      const char* text = n == 0 ? "Reached the end of the file." : strerror_r(errno, buf, sizeof buf);
      log_msg(LOG_WARNING, "pread fd=0x%8.8x offset=%lld count=%d ReadFile: %s", static_cast<unsigned>(fd),
              static_cast<long long>(offset), static_cast<int>(count), text);
      return -1;
    }
    if (n == 0) break;  // the read crossed the end of the file
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace vorlane
