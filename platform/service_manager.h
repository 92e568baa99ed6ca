// Service manager stand-in.
//
// A service is the directory $VORLANE_ROOT/services/<name>/ with:
//   config   the service's program path, one line;
//   status   its status, rewritten atomically (temporary file, rename), one
//            "key=value" line each: pid, state, check_point, wait_hint,
//            exit_code, specific_exit_code, controls, type;
//   history  one line appended for every status the service reports:
//            "<state> <check point> <wait hint> <exit code> <controls>\n".
//
// Starting a service spawns its program (no arguments) in a session of its
// own, standard streams on /dev/null, working directory "/", with the
// starter's environment plus VORLANE_SERVICE=<name>. The program connects
// with service_dispatcher_run, which runs the service main on a thread of its
// own and turns SIGTERM into the stop control, delivered on the dispatcher's
// thread. Stopping a service sends it SIGTERM.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace vorlane::platform {

constexpr uint32_t service_win32_own_process = 0x10;

constexpr uint32_t service_stopped = 1;
constexpr uint32_t service_start_pending = 2;
constexpr uint32_t service_stop_pending = 3;
constexpr uint32_t service_running = 4;

constexpr uint32_t service_accept_stop = 1;

constexpr uint32_t service_control_stop = 1;
constexpr uint32_t service_control_interrogate = 4;

constexpr int error_service_already_running = 1056;
constexpr int error_service_does_not_exist = 1060;
constexpr int error_service_not_active = 1062;
constexpr int error_failed_service_controller_connect = 1063;

struct ServiceStatus {
  uint32_t service_type = service_win32_own_process;
  uint32_t current_state = service_stopped;
  uint32_t controls_accepted = 0;
  uint32_t win32_exit_code = 0;
  uint32_t service_specific_exit_code = 0;
  uint32_t check_point = 0;
  uint32_t wait_hint = 0;
};

// The environment variable that names the service a program was started as.
constexpr char service_name_variable[] = "VORLANE_SERVICE";

std::string service_dir(const char* name);

// --- The manager's side ---------------------------------------------------

// Success, or access_denied when the services directory cannot be used
// (the manager cannot be opened).
int service_manager_open();

// Installs (or reconfigures) a service.
int service_install(const char* name, const char* program);

// The configured program path; error_service_does_not_exist when the
// service or its configuration is missing.
int service_query_config(const char* name, std::string* program);

// Starts the service; error_service_already_running when its process is
// alive. *pid (when given) receives the service process's id.
int service_start(const char* name, pid_t* pid = nullptr);

// Sends the stop control; error_service_not_active when it is not running.
int service_stop(const char* name);

// The last status the service reported; a service whose process is gone
// reads as stopped. *pid (when given) receives its process id or 0.
int service_query_status(const char* name, ServiceStatus* status, pid_t* pid = nullptr);

// --- The service's side ---------------------------------------------------

using ServiceMain = void (*)(int argc, char** argv);
using ServiceControlHandler = void (*)(uint32_t control);

struct ServiceTableEntry {
  const char* name;
  ServiceMain main;
};

// Connects to the manager and runs the service: fails with
// error_failed_service_controller_connect unless this process was started
// as that service; once connected, VORLANE_SERVICE is removed from the
// environment, so the programs the service starts do not take themselves for
// it. Returns once the service main has returned.
int service_dispatcher_run(const ServiceTableEntry& entry);

struct ServiceStatusRecord;
using ServiceStatusHandle = ServiceStatusRecord*;

// Registers the control handler of the running service; null when name is
// not the service being dispatched.
ServiceStatusHandle service_register_control_handler(const char* name, ServiceControlHandler handler);

// Records the service's status (serialised); 0 or an error code.
int service_set_status(ServiceStatusHandle handle, const ServiceStatus& status);

}  // namespace vorlane::platform
