#include "host/service_supervisor.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "host/child_process.h"
#include "host/server_registry.h"
#include "host/supervisor_common.h"
#include "platform/errors.h"
#include "platform/service_manager.h"

namespace vorlane::host {

namespace {

using namespace platform;

// Status reports come from the service's thread and from the control
// handler on the dispatcher's thread: one at a time.
std::mutex status_lock;
ServiceStatus status;
ServiceStatusHandle status_handle = nullptr;
uint32_t check_point = 1;

constexpr int max_children = 10;

struct Slot {
  Process process;
  int server = 0;
};

bool start_server(const std::string& program, int server, bool name_it, Slot* slot) {
  std::vector<std::string> args;
  if (name_it) args = {"-serverNum", std::to_string(server)};
  int error = 0;
  slot->server = server;
  if (start_child(program, args, &slot->process, &error)) return true;
  std::string message = "Cannot start child: " + child_command_line(program, args);
  log_service_error(message.c_str(), static_cast<uint32_t>(error));
  return false;
}

void end_children(std::vector<Slot>& slots) {
  for (Slot& s : slots) {
    process_terminate(&s.process, 1);
    process_close(&s.process);
  }
  slots.clear();
}

}  // namespace

bool report_service_status(uint32_t state, uint32_t exit_code, uint32_t wait_hint) {
  int rc;
  {
    std::lock_guard<std::mutex> g(status_lock);
    status.current_state = state;
    status.win32_exit_code = exit_code;
    status.wait_hint = wait_hint;
    status.controls_accepted = state == service_start_pending ? 0 : service_accept_stop;
    status.check_point = state == service_running || state == service_stopped ? 0 : check_point++;
    rc = service_set_status(status_handle, status);
  }
  if (rc == error_success) return true;
  log_service_error("SetServiceStatus", static_cast<uint32_t>(rc));
  return false;
}

void service_control_handler(uint32_t control) {
  if (control == service_control_stop) {
    report_service_status(service_stop_pending, error_success, 3000);
    request_stop();
    return;
  }
  uint32_t state, exit_code;
  {
    std::lock_guard<std::mutex> g(status_lock);
    state = status.current_state;
    exit_code = status.win32_exit_code;
  }
  report_service_status(state, exit_code, 0);
}

void get_service_program_path(std::string* out) {
  out->clear();
  if (service_manager_open() != error_success) return;
  std::string program;
  if (service_query_config(service_name, &program) != error_success) {
    fprintf(stderr, "Cannot start child, not registry information for service '%s'\n", service_name);
    exit(1);
  }
  if (program.size() <= 1023) *out = program;
}

void run_service(int, char**) {
  log_service_event("Start Service");
  if (!report_service_status(service_start_pending, error_success, 3000)) return;
  if (!make_stop_event()) {
    log_service_error("CreateEvent", static_cast<uint32_t>(errno));
    return;
  }
  if (!report_service_status(service_start_pending, error_success, 3000)) return;

  std::string program;
  get_service_program_path(&program);
  if (program.empty()) {
    log_service_error("Cannot start children: the service's program path is unknown.", error_file_not_found);
    return;
  }
  set_service_environment(program);

  std::vector<Slot> slots;
  slots.reserve(max_children);
  for (int server = 0; server <= 9; ++server) {
    char data_dir[1024];
    if (!orvelRegistryGetString(server, "data_dir", data_dir, sizeof data_dir) || !data_dir[0]) continue;
    Slot slot;
    if (start_server(program, server, true, &slot)) slots.push_back(slot);
  }
  if (slots.empty()) {
    Slot slot;
    if (start_server(program, 0, false, &slot)) slots.push_back(slot);
  }

  if (!report_service_status(service_running, error_success, 3000)) {
    // Nobody would supervise them: end them rather than leave them running.
    end_children(slots);
    return;
  }

  while (!slots.empty()) {
    std::vector<Process*> waiting;
    for (Slot& s : slots) waiting.push_back(&s.process);
    int ready = process_wait_any(waiting.data(), static_cast<int>(waiting.size()), stop_event().fd);
    if (ready == static_cast<int>(slots.size())) {
      end_children(slots);
      break;
    }
    if (ready < 0) {
      log_service_error("WaitForMultipleObjects", static_cast<uint32_t>(errno));
      end_children(slots);
      break;
    }
    Slot& slot = slots[static_cast<size_t>(ready)];
    int code = slot.process.exit_code;
    process_close(&slot.process);
    if (code == 0 || !start_server(program, slot.server, true, &slot))
      slots.erase(slots.begin() + ready);  // forgotten, or cannot be restarted
  }
  // The stop event stays: it lives as long as the process.
}

void service_main(int argc, char** argv) {
  ServiceStatusHandle handle = service_register_control_handler(service_name, service_control_handler);
  if (!handle) return;
  {
    std::lock_guard<std::mutex> g(status_lock);
    status_handle = handle;
    status.service_type = service_win32_own_process;
    status.service_specific_exit_code = 0;
  }
  if (report_service_status(service_start_pending, error_success, 3000)) run_service(argc, argv);
  report_service_status(service_stopped, saved_error_code(), 0);
}

}  // namespace vorlane::host

extern "C" void service_startup(void) {
  using namespace vorlane;
  platform::ServiceTableEntry entry = {host::service_name, host::service_main};
  int rc = platform::service_dispatcher_run(entry);
  if (rc != platform::error_success) host::log_service_error("StartServiceCtrlDispatcher failed.", static_cast<uint32_t>(rc));
}
