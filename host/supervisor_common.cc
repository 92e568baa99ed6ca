#include "host/supervisor_common.h"

#include <atomic>
#include <mutex>
#include <string>

#include "platform/eventlog.h"

namespace vorlane::host {

namespace {

std::mutex stop_lock;
platform::Event the_stop_event;
std::atomic<bool> stop_made{false};
std::atomic<uint32_t> saved_error{0};

void report(platform::EventType type, int id, const std::vector<std::string>& strings) {
  platform::EventSource* source = platform::register_event_source(service_name);
  if (!source) return;  // lost silently
  platform::report_event(source, type, 0, id, strings);
  platform::deregister_event_source(source);
}

}  // namespace

bool make_stop_event() {
  std::lock_guard<std::mutex> g(stop_lock);
  if (stop_made) return true;
  if (!platform::event_create(&the_stop_event)) return false;
  stop_made = true;
  return true;
}

const platform::Event& stop_event() { return the_stop_event; }

void request_stop() {
  log_service_event("Stop Service");
  if (stop_made) platform::event_set(the_stop_event);
}

void log_service_error(const char* message, uint32_t code) {
  saved_error = code;
  report(platform::EventType::error, 1, {"error " + std::to_string(code), message});
}

void log_service_event(const char* message) { report(platform::EventType::warning, 2, {message}); }

uint32_t saved_error_code() { return saved_error; }

}  // namespace vorlane::host
