// The sorn transfer methods log a sender's failure at the warning level and
// raise it; copy_to_file raises without logging.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "engine/module/sorn_module.h"
#include "platform/testing/test_root.h"
#include "store/log.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {

// Declared here without the weak mark of sorn_methods.h, so that the test
// program links the methods in from the engine library.
PyObject* sorn_copy_from_file(PyObject* self, PyObject* args);
PyObject* sorn_copy_to_file(PyObject* self, PyObject* args);

namespace {

std::string raised_text() {
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  EXPECT_EQ(type, sorn_error);
  PyObject* s = value ? PyObject_Str(value) : nullptr;
  std::string text = s ? PyUnicode_AsUTF8(s) : "";
  Py_XDECREF(s);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(tb);
  return text;
}

TEST(TransferMethods, FailureIsLoggedWithTheSenderNameAndRaised) {
  platform::TestRoot root;
  std::string path = root.file("tf0");
  const uint32_t record[] = {5, 6, 1, 0, 0xFFFFFF80u};  // count 0
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(record), sizeof record);
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);

  LogCapture log(LOG_WARNING);
  PyObject* args = Py_BuildValue("(isi)", sv[0], path.c_str(), 2);
  EXPECT_EQ(sorn_copy_from_file(nullptr, args), nullptr);
  Py_DECREF(args);
  EXPECT_EQ(raised_text(), "size==0: " + path);
  auto lines = log.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, LOG_WARNING);
  EXPECT_EQ(lines[0].text, "copy_from_file_swaptf: size==0: " + path);

  args = Py_BuildValue("(isi)", sv[0], root.file("none").c_str(), 7);
  EXPECT_EQ(sorn_copy_from_file(nullptr, args), nullptr);
  Py_DECREF(args);
  raised_text();
  EXPECT_EQ(log.lines().back().text, "copy_from_file_noswap: open " + root.file("none") + ": No such file or directory");

  size_t before = log.lines().size();
  args = Py_BuildValue("(isy#i)", sv[0], root.file("out").c_str(), "", Py_ssize_t{0}, 0);
  EXPECT_EQ(sorn_copy_to_file(nullptr, args), nullptr);
  Py_DECREF(args);
  EXPECT_EQ(raised_text(), "timeout");
  EXPECT_EQ(log.lines().size(), before);
  close(sv[0]);
  close(sv[1]);
}

}  // namespace
}  // namespace vorlane::engine
