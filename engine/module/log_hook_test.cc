#include "engine/module/log_hook.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "engine/module/lock_release.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "engine/testing/interpreter_env.h"
#include "store/log.h"

namespace vorlane::engine {
namespace {

PyObject* globals = nullptr;

// A lock-releasing method as a handler would call it: logs an error from
// inside its unlocked section; returns whether its own thread was parked.
PyObject* release_and_log(PyObject*, PyObject* args) {
  const char* text;
  if (!PyArg_ParseTuple(args, "s", &text)) return nullptr;
  bool parked;
  {
    InterpreterRelease unlocked;
    parked = parked_thread_state() != nullptr;
    log_msg(LOG_ERROR, "%s", text);
  }
  return PyBool_FromLong(parked);
}
PyMethodDef release_and_log_def = {"release_and_log", release_and_log, METH_VARARGS, nullptr};

const char* kScript = R"(
import sys
got = []
unraisable = []
sys.unraisablehook = lambda u: unraisable.append(str(u.exc_value))
def record(level, text):
    got.append((level, text))
def bad(level, text):
    got.append((level, text))
    raise ValueError("handler failed")
def clobber(level, text):
    import os
    os.path.exists("/nonexistent/file")
    got.append((level, text))
def nested(level, text):
    got.append((level, text))
    if text == "outer":
        got.append(("inner parked", release_and_log("inner")))
)";

// The script's globals, once the interpreter has started.
void load_script() {
  PyObject* main = PyImport_AddModule("__main__");
  globals = PyModule_GetDict(main);
  PyObject* fn = PyCFunction_New(&release_and_log_def, nullptr);
  PyDict_SetItemString(globals, "release_and_log", fn);
  Py_DECREF(fn);
  PyObject* r = PyRun_String(kScript, Py_file_input, globals, globals);
  ASSERT_NE(r, nullptr);
  Py_DECREF(r);
}

const auto* const interpreter = testing::add_interpreter_environment(load_script);

void install(int mask, const char* function) {
  PyObject* args = Py_BuildValue("(iO)", mask, PyDict_GetItemString(globals, function));
  PyObject* r = sorn_set_log_handler(nullptr, args);
  ASSERT_NE(r, nullptr);
  Py_DECREF(r);
  Py_DECREF(args);
  PyList_SetSlice(PyDict_GetItemString(globals, "got"), 0, PY_SSIZE_T_MAX, nullptr);
  PyList_SetSlice(PyDict_GetItemString(globals, "unraisable"), 0, PY_SSIZE_T_MAX, nullptr);
}

// The messages received, as "level:text" lines.
std::string received() {
  PyObject* got = PyDict_GetItemString(globals, "got");
  std::string out;
  for (Py_ssize_t i = 0; i < PyList_Size(got); ++i) {
    PyObject* item = PyList_GetItem(got, i);
    PyObject* level = PyTuple_GetItem(item, 0);
    PyObject* text = PyTuple_GetItem(item, 1);
    PyObject* ls = PyObject_Str(level);
    PyObject* ts = PyObject_Str(text);
    out += std::string(PyUnicode_AsUTF8(ls)) + ":" + PyUnicode_AsUTF8(ts) + "\n";
    Py_DECREF(ls);
    Py_DECREF(ts);
  }
  return out;
}

Py_ssize_t unraisable_count() { return PyList_Size(PyDict_GetItemString(globals, "unraisable")); }

TEST(LogHook, MaskDecidesWhatReachesTheFunction) {
  install(0, "record");
  log_msg(LOG_ERROR, "error %d", 1);
  log_msg(LOG_NOTICE, "notice");
  log_msg(LOG_WARNING, "warning");
  log_msg(LOG_TRACE, "trace");
  EXPECT_EQ(received(), "1073741824:error 1\n-2147483648:notice\n");
  install(LOG_TRACE, "record");
  log_msg(LOG_TRACE, "trace");
  log_msg(LOG_WARNING, "warning");
  EXPECT_EQ(received(), "8:trace\n");
}

TEST(LogHook, TextIsLatin1AndCutToTheBuffer) {
  install(0, "record");
  log_msg(LOG_ERROR, "caf\xe9");
  std::string long_text(10000, 'x');
  log_msg(LOG_ERROR, "%s", long_text.c_str());
  PyObject* got = PyDict_GetItemString(globals, "got");
  ASSERT_EQ(PyList_Size(got), 2);
  PyObject* first = PyTuple_GetItem(PyList_GetItem(got, 0), 1);
  ASSERT_EQ(PyUnicode_GetLength(first), 4);
  EXPECT_EQ(PyUnicode_ReadChar(first, 3), 0xE9u);
  EXPECT_EQ(PyUnicode_GetLength(PyTuple_GetItem(PyList_GetItem(got, 1), 1)),
            static_cast<Py_ssize_t>(kLogHookBufferSize - 1));
}

TEST(LogHook, RaisingFunctionLeavesNoPendingException) {
  install(0, "bad");
  log_msg(LOG_ERROR, "first");
  EXPECT_EQ(PyErr_Occurred(), nullptr);
  EXPECT_EQ(unraisable_count(), 1);
  // An exception pending when the message is logged survives the call.
  PyErr_SetString(PyExc_KeyError, "pending");
  log_msg(LOG_ERROR, "second");
  ASSERT_NE(PyErr_Occurred(), nullptr);
  EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_KeyError));
  PyErr_Clear();
  EXPECT_EQ(unraisable_count(), 2);
  EXPECT_EQ(received(), "1073741824:first\n1073741824:second\n");
}

TEST(LogHook, ErrnoSurvivesTheCall) {
  install(0, "clobber");
  errno = EACCES;
  log_msg(LOG_ERROR, "first");
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(received(), "1073741824:first\n");
}

TEST(LogHook, ParkedThreadTakesTheLockForTheCall) {
  install(0, "record");
  PyThreadState* me = PyThreadState_Get();
  {
    InterpreterRelease unlocked;
    log_msg(LOG_ERROR, "unlocked");
    EXPECT_FALSE(PyGILState_Check());
    EXPECT_EQ(parked_thread_state(), me);
  }
  EXPECT_EQ(received(), "1073741824:unlocked\n");
}

TEST(LogHook, NestedLockReleasingCallKeepsTheOuterKey) {
  install(0, "nested");
  PyThreadState* me = PyThreadState_Get();
  {
    InterpreterRelease outer;
    log_msg(LOG_ERROR, "outer");
    EXPECT_EQ(parked_thread_state(), me);
    EXPECT_FALSE(PyGILState_Check());
  }
  EXPECT_EQ(parked_thread_state(), nullptr);
  EXPECT_EQ(received(), "1073741824:outer\n1073741824:inner\ninner parked:True\n");
}

TEST(LogHook, ThreadWithoutInterpreterStateIsServed) {
  install(0, "record");
  {
    InterpreterRelease unlocked;
    std::thread worker([] { log_msg(LOG_ERROR, "from a worker"); });
    worker.join();
  }
  EXPECT_EQ(received(), "1073741824:from a worker\n");
}

TEST(LogHook, ReplacingTheFunctionKeepsOneReference) {
  PyObject* record = PyDict_GetItemString(globals, "record");
  install(0, "record");
  Py_ssize_t held = Py_REFCNT(record);
  install(0, "bad");
  EXPECT_EQ(Py_REFCNT(record), held - 1);
  EXPECT_EQ(script_log_function(), PyDict_GetItemString(globals, "bad"));
  PyObject* args = Py_BuildValue("(is)", 0, "not a function");
  EXPECT_EQ(sorn_set_log_handler(nullptr, args), nullptr);
  EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_TypeError));
  PyErr_Clear();
  Py_DECREF(args);
}

}  // namespace
}  // namespace vorlane::engine
