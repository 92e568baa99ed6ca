// The console supervisor: the search server started by a user. It runs one
// server process (child) with its own arguments, restarts it when it ends
// with a non-zero code, and shows a minimised window that refuses to be
// restored; closing the window, a window command or a console event stops
// the child and the supervisor.
#pragma once

#include <cstdint>

#include "platform/window.h"

namespace vorlane::host {

int console_ctrl_handler(uint32_t event);
intptr_t server_window_proc(platform::Window* window, unsigned message, uintptr_t wparam, intptr_t lparam);
void server_window_thread();

}  // namespace vorlane::host

extern "C" {
__attribute__((visibility("default"))) void wrapper_startup(int argc, char** argv);
}
