// Console control stand-in: the console's control events are signals,
// taken on a thread of its own.
//
//   SIGINT  -> ctrl_c_event        SIGQUIT -> ctrl_break_event
//   SIGHUP  -> ctrl_close_event    SIGTERM -> ctrl_shutdown_event
#pragma once

#include <cstdint>

namespace vorlane::platform {

constexpr uint32_t ctrl_c_event = 0;
constexpr uint32_t ctrl_break_event = 1;
constexpr uint32_t ctrl_close_event = 2;
constexpr uint32_t ctrl_logoff_event = 5;
constexpr uint32_t ctrl_shutdown_event = 6;

// The handler returns non-zero when it has handled the event.
using ConsoleCtrlHandler = int (*)(uint32_t event);

// Installs the handler. Call it before the process starts other threads: the
// four signals are blocked in the calling thread (and so in every thread made
// later) and a signal thread hands each one to the handler. False when the
// thread cannot be started.
bool set_console_ctrl_handler(ConsoleCtrlHandler handler);

}  // namespace vorlane::platform
