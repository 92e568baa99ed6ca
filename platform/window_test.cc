#include "platform/window.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/testing/test_root.h"

namespace vorlane::platform {
namespace {

std::vector<unsigned> seen;
bool allow_restore = false;

intptr_t test_proc(Window* w, unsigned message, uintptr_t wparam, intptr_t lparam) {
  seen.push_back(message);
  if (message == wm_queryopen) return allow_restore ? 1 : 0;
  if (message == wm_destroy) {
    window_post_quit(w);
    return 0;
  }
  return window_default_proc(w, message, wparam, lparam);
}

void send(const std::string& text) {
  int fd = open(window_fifo_path(getpid()).c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
}

std::string state() {
  std::ifstream in(window_state_path(getpid()));
  std::string line;
  std::getline(in, line);
  return line;
}

TEST(Window, FifoCommandsBecomeMessages) {
  TestRoot root;
  WindowClass wc;
  wc.name = "TestClass";
  wc.proc = test_proc;
  ASSERT_TRUE(window_register_class(wc));
  EXPECT_EQ(window_create("NoSuchClass", "x"), nullptr);
  Window* w = window_create("TestClass", "Title");
  ASSERT_NE(w, nullptr);
  window_show(w, true);
  EXPECT_EQ(state(), "minimized");

  WindowMessage m;
  send("restore\nnonsense\ncommand x\ncomm");
  send("and 12\nrestore\r\n");
  ASSERT_EQ(window_get_message(w, &m), 1);
  EXPECT_EQ(m.message, wm_queryopen);
  window_dispatch(w, m);
  EXPECT_EQ(state(), "minimized");  // refused
  ASSERT_EQ(window_get_message(w, &m), 1);  // the two bad lines are skipped
  EXPECT_EQ(m.message, wm_command);
  EXPECT_EQ(m.wparam, 12u);
  ASSERT_EQ(window_get_message(w, &m), 1);
  allow_restore = true;
  window_dispatch(w, m);
  EXPECT_EQ(state(), "normal");

  send("close\n");
  ASSERT_EQ(window_get_message(w, &m), 1);
  EXPECT_EQ(m.message, wm_close);
  window_dispatch(w, m);
  EXPECT_EQ(state(), "destroyed");
  EXPECT_EQ(window_get_message(w, &m), 0);
  EXPECT_EQ(m.message, wm_quit);
  EXPECT_EQ(seen, (std::vector<unsigned>{wm_queryopen, wm_queryopen, wm_close, wm_destroy}));
  window_release(w);
  EXPECT_NE(access(window_fifo_path(getpid()).c_str(), F_OK), 0);
}

}  // namespace
}  // namespace vorlane::platform
