// What the service and the console supervisors share: the stop event, the
// stop request and the supervisor's events.
#pragma once

#include <cstdint>

#include "platform/event.h"

namespace vorlane::host {

// The service's name and the event source of the supervisor's events.
constexpr char service_name[] = "Vorlane Server";

// The stop event: manual reset, made once and kept for the life of the
// process, so that a late stop request never signals a descriptor that has
// been reused. False when it cannot be made.
bool make_stop_event();
const platform::Event& stop_event();

// Writes the "Stop Service" event, then signals the stop event when it
// exists.
void request_stop();

// An error event (category 0, id 1) with the strings "error <code>" and the
// message; code becomes the saved error code.
void log_service_error(const char* message, uint32_t code);

// A warning event (category 0, id 2) with the message.
void log_service_event(const char* message);

// The code of the most recent error event, 0 when none was written.
uint32_t saved_error_code();

}  // namespace vorlane::host
