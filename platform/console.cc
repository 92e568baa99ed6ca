#include "platform/console.h"

#include <atomic>
#include <csignal>
#include <thread>

namespace vorlane::platform {

namespace {

std::atomic<ConsoleCtrlHandler> current_handler{nullptr};
std::atomic<bool> thread_started{false};

sigset_t console_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, sig);
  return set;
}

uint32_t event_of(int sig) {
  switch (sig) {
    case SIGINT: return ctrl_c_event;
    case SIGQUIT: return ctrl_break_event;
    case SIGHUP: return ctrl_close_event;
    default: return ctrl_shutdown_event;
  }
}

}  // namespace

bool set_console_ctrl_handler(ConsoleCtrlHandler handler) {
  current_handler = handler;
  sigset_t set = console_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  if (thread_started.exchange(true)) return true;
  try {
    std::thread([set] {
      while (true) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        ConsoleCtrlHandler h = current_handler.load();
        if (h) h(event_of(sig));
      }
    }).detach();
  } catch (...) {
    thread_started = false;
    return false;
  }
  return true;
}

}  // namespace vorlane::platform
