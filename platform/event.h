// Event stand-in: a manual-reset event as an eventfd. Once set it stays
// readable (nobody reads it down) until reset, so every waiter sees it.
#pragma once

namespace vorlane::platform {

struct Event {
  int fd = -1;
};

// False when the eventfd cannot be made.
bool event_create(Event* event);
void event_set(const Event& event);
void event_reset(const Event& event);
bool event_is_set(const Event& event);
void event_close(Event* event);

}  // namespace vorlane::platform
