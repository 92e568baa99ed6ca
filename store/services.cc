#include "store/services.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace vorlane {

char* ctime_r(time_t t, char* buffer, size_t length) {
  if (length < 26) {
    fprintf(stderr, "Assertion failed: buflen >= 26\n");
    abort();
  }
  char text[64];
  if (!::ctime_r(&t, text)) text[0] = '\0';
  strncpy(buffer, text, length);
  return buffer;
}

int sleep_seconds(unsigned seconds) {
  sleep(seconds);
  return 0;
}

int get_host_id() { return 0; }
void sync_files() {}

}  // namespace vorlane
