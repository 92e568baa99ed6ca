// The service supervisor: the search server run by the service manager as
// the service "Vorlane Server". It starts one server process (child) per
// server number 0..9 that has a data directory, restarts a child that ends
// with a non-zero code, forgets one that ends with 0, and ends every child
// when the service is stopped.
#pragma once

#include <cstdint>
#include <string>

namespace vorlane::host {

void service_main(int argc, char** argv);
void service_control_handler(uint32_t control);

// Records the service's state; controls accepted: none while start pending,
// stop otherwise; check point 0 for running and stopped, else the next value
// of the check-point counter. True when the status was set; otherwise an
// error event "SetServiceStatus" is written.
bool report_service_status(uint32_t state, uint32_t exit_code, uint32_t wait_hint);

void run_service(int argc, char** argv);

// The configured program path of the service; empty when the service
// manager cannot be opened. A service without configuration ends the
// process with code 1.
void get_service_program_path(std::string* out);

}  // namespace vorlane::host

extern "C" {
// Connects to the service manager and runs the service; returns once it has
// stopped.
__attribute__((visibility("default"))) void service_startup(void);
}
