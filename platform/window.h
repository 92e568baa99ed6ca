// Window stand-in: one top-level window per process, with no screen. Its
// message queue is fed by the FIFO $VORLANE_ROOT/windows/<pid>.fifo, one
// command a line:
//
//   close       the user closes the window (WM_CLOSE)
//   restore     the user restores the minimised window (WM_QUERYOPEN)
//   command N   a menu command (WM_COMMAND with N)
//
// Its state is kept in $VORLANE_ROOT/windows/<pid>.state, rewritten
// atomically: "minimized", "normal" or "destroyed", and a line with the
// title. Restoring changes the state only when the window procedure lets it
// (a non-zero answer to WM_QUERYOPEN); closing destroys the window, which
// sends WM_DESTROY. Both files are removed when the window is released.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace vorlane::platform {

constexpr unsigned wm_destroy = 0x0002;
constexpr unsigned wm_close = 0x0010;
constexpr unsigned wm_quit = 0x0012;
constexpr unsigned wm_queryopen = 0x0013;
constexpr unsigned wm_command = 0x0111;

struct Window;
using WindowProc = intptr_t (*)(Window* window, unsigned message, uintptr_t wparam, intptr_t lparam);

struct WindowMessage {
  unsigned message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
};

struct WindowClass {
  const char* name = nullptr;
  WindowProc proc = nullptr;
  void* instance = nullptr;
  const char* menu_name = nullptr;
};

// Records a window class; false when it has no name or procedure.
bool window_register_class(const WindowClass& window_class);

// Creates the window of a registered class (hidden until shown); null on
// failure.
Window* window_create(const char* class_name, const char* title);

// Shows the window, minimised or normal.
void window_show(Window* window, bool minimised);

// Takes the next message: 1 with a message, 0 for the quit message, -1 on
// failure.
int window_get_message(Window* window, WindowMessage* message);

// Hands a message to the window's procedure.
intptr_t window_dispatch(Window* window, const WindowMessage& message);

// What the platform does with a message the procedure does not handle.
intptr_t window_default_proc(Window* window, unsigned message, uintptr_t wparam, intptr_t lparam);

// Posts the quit message to the window's queue.
void window_post_quit(Window* window);

// Releases the window and its files.
void window_release(Window* window);

std::string window_fifo_path(pid_t pid);
std::string window_state_path(pid_t pid);

}  // namespace vorlane::platform
