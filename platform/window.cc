#include "platform/window.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/event.h"
#include "platform/file_replace.h"
#include "platform/root.h"

namespace vorlane::platform {

struct Window {
  WindowProc proc = nullptr;
  std::string title;
  int fifo = -1;
  Event quit;
  std::string pending;  // FIFO text not yet ended by a newline
  std::string state = "hidden";
};

namespace {

std::mutex classes_lock;
std::map<std::string, WindowClass> classes;

void write_state(Window* w, const std::string& state) {
  w->state = state;
  replace_file(window_state_path(getpid()), state + "\n" + w->title + "\n", false);
}

// Turns one FIFO line into a message; false for a line that is none.
bool parse_command(const std::string& line, WindowMessage* m) {
  *m = WindowMessage();
  if (line == "close") {
    m->message = wm_close;
    return true;
  }
  if (line == "restore") {
    m->message = wm_queryopen;
    return true;
  }
  if (line.rfind("command ", 0) == 0) {
    char* end = nullptr;
    unsigned long n = strtoul(line.c_str() + 8, &end, 10);
    if (end == line.c_str() + 8 || *end) return false;
    m->message = wm_command;
    m->wparam = n;
    return true;
  }
  return false;
}

}  // namespace

std::string window_fifo_path(pid_t pid) { return root_path("windows/" + std::to_string(pid) + ".fifo"); }
std::string window_state_path(pid_t pid) { return root_path("windows/" + std::to_string(pid) + ".state"); }

bool window_register_class(const WindowClass& window_class) {
  if (!window_class.name || !window_class.proc) return false;
  std::lock_guard<std::mutex> g(classes_lock);
  classes[window_class.name] = window_class;
  return true;
}

Window* window_create(const char* class_name, const char* title) {
  WindowProc proc = nullptr;
  {
    std::lock_guard<std::mutex> g(classes_lock);
    auto it = classes.find(class_name ? class_name : "");
    if (it == classes.end()) return nullptr;
    proc = it->second.proc;
  }
  std::string fifo = window_fifo_path(getpid());
  unlink(fifo.c_str());
  if (mkfifo(fifo.c_str(), 0600) != 0) return nullptr;
  Window* w = new Window;
  w->proc = proc;
  w->title = title ? title : "";
  // Opened for reading and writing, so that the FIFO never reads as ended
  // when a writer closes it.
  w->fifo = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (w->fifo < 0 || !event_create(&w->quit)) {
    window_release(w);
    return nullptr;
  }
  write_state(w, "hidden");
  return w;
}

void window_show(Window* window, bool minimised) { write_state(window, minimised ? "minimized" : "normal"); }

int window_get_message(Window* window, WindowMessage* message) {
  while (true) {
    if (event_is_set(window->quit)) {
      *message = WindowMessage();
      message->message = wm_quit;
      return 0;
    }
    size_t nl = window->pending.find('\n');
    if (nl != std::string::npos) {
      std::string line = window->pending.substr(0, nl);
      window->pending.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (parse_command(line, message)) return 1;
      continue;
    }
    pollfd fds[2] = {{window->fifo, POLLIN, 0}, {window->quit.fd, POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (fds[0].revents & POLLIN) {
      char buf[256];
      ssize_t n = read(window->fifo, buf, sizeof buf);
      if (n > 0) window->pending.append(buf, static_cast<size_t>(n));
      if (window->pending.size() > 4096) window->pending.clear();  // no line that long is a command
    }
  }
}

intptr_t window_dispatch(Window* window, const WindowMessage& message) {
  intptr_t result = window->proc(window, message.message, message.wparam, message.lparam);
  // Restoring goes ahead only when the procedure allows it.
  if (message.message == wm_queryopen && result != 0 && window->state == "minimized") write_state(window, "normal");
  return result;
}

intptr_t window_default_proc(Window* window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case wm_close:
      write_state(window, "destroyed");
      window->proc(window, wm_destroy, 0, 0);
      return 0;
    case wm_queryopen:
      return 1;
    default:
      (void)wparam;
      (void)lparam;
      return 0;
  }
}

void window_post_quit(Window* window) { event_set(window->quit); }

void window_release(Window* window) {
  if (!window) return;
  if (window->fifo >= 0) close(window->fifo);
  event_close(&window->quit);
  unlink(window_fifo_path(getpid()).c_str());
  unlink(window_state_path(getpid()).c_str());
  delete window;
}

}  // namespace vorlane::platform
