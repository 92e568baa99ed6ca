#include "host/console_supervisor.h"

#include <atomic>
#include <mutex>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "host/child_process.h"
#include "host/server_globals.h"
#include "host/supervisor_common.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/program_lookup.h"

namespace vorlane::host {

namespace {

// The window, while it exists; posting to it and releasing it are done
// under window_lock.
std::mutex window_lock;
platform::Window* server_window = nullptr;
// Set when the supervisor ends on its own (its child ended with 0): the
// window then goes without a stop request.
std::atomic<bool> leaving{false};

}  // namespace

int console_ctrl_handler(uint32_t) {
  request_stop();
  return 1;
}

intptr_t server_window_proc(platform::Window* window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case platform::wm_destroy:
    case platform::wm_command:
      platform::window_post_quit(window);
      return 0;
    case platform::wm_queryopen:
      return 0;  // stays minimised
    default:
      return platform::window_default_proc(window, message, wparam, lparam);
  }
}

void server_window_thread() {
  platform::WindowClass wc;
  wc.name = "VorlaneServerClass";
  wc.proc = server_window_proc;
  wc.instance = HInstance;
  wc.menu_name = "Vorlane Server";
  platform::Window* window = nullptr;
  if (platform::window_register_class(wc)) window = platform::window_create("VorlaneServerClass", "Vorlane Server");
  if (window) {
    platform::window_show(window, true);
    {
      std::lock_guard<std::mutex> g(window_lock);
      server_window = window;
    }
    platform::WindowMessage m;
    while (!leaving && platform::window_get_message(window, &m) > 0) platform::window_dispatch(window, m);
  }
  if (!leaving) request_stop();
  {
    std::lock_guard<std::mutex> g(window_lock);
    server_window = nullptr;
  }
  platform::window_release(window);
}

}  // namespace vorlane::host

extern "C" void wrapper_startup(int argc, char** argv) {
  using namespace vorlane;
  using namespace vorlane::host;
  platform::set_console_ctrl_handler(console_ctrl_handler);

  std::string program;
  if (platform::find_executable(argc > 0 ? argv[0] : "", &program) != 0) {
    log_service_error("Cannot find the server program.", static_cast<uint32_t>(platform::error_file_not_found));
    return;
  }
  normalize_program_path(program);
  set_console_pythonpath(program);

  if (!make_stop_event()) {
    log_service_error("CreateEvent", static_cast<uint32_t>(errno));
    return;
  }
  std::thread window(server_window_thread);

  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  platform::Process child;
  int error = 0;
  bool running = start_child(program, args, &child, &error);
  if (!running) {
    std::string message = "Cannot start child: " + child_command_line(program, args);
    log_service_error(message.c_str(), static_cast<uint32_t>(error));
  }
  while (running) {
    platform::Process* waiting[] = {&child};
    int ready = platform::process_wait_any(waiting, 1, stop_event().fd);
    if (ready == 0 && child.exit_code != 0) {
      platform::process_close(&child);
      running = start_child(program, args, &child, &error);
      if (!running) {
        std::string message = "Cannot restart child: " + child_command_line(program, args);
        log_service_error(message.c_str(), static_cast<uint32_t>(error));
      }
      continue;
    }
    // The stop event, the child's end with 0, or a wait that failed (which
    // must not be retried without end).
    platform::process_terminate(&child, 1);
    break;
  }
  platform::process_close(&child);

  // The window goes with the supervisor. Either the window thread has
  // published its window (and gets the quit message) or it sees leaving
  // before it waits for messages.
  {
    std::lock_guard<std::mutex> g(window_lock);
    leaving = true;
    if (server_window) platform::window_post_quit(server_window);
  }
  window.join();
}
