#include "platform/event.h"

#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vorlane::platform {

bool event_create(Event* event) {
  event->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return event->fd >= 0;
}

void event_set(const Event& event) {
  if (event.fd < 0) return;
  uint64_t one = 1;
  ssize_t n = write(event.fd, &one, sizeof one);
  (void)n;  // a counter already at its limit is set anyway
}

void event_reset(const Event& event) {
  if (event.fd < 0) return;
  uint64_t value;
  ssize_t n = read(event.fd, &value, sizeof value);
  (void)n;  // not set: nothing to read
}

bool event_is_set(const Event& event) {
  if (event.fd < 0) return false;
  pollfd p = {event.fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

void event_close(Event* event) {
  if (event->fd >= 0) close(event->fd);
  event->fd = -1;
}

}  // namespace vorlane::platform
