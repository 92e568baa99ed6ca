#include "engine/module/lock_release.h"

#include <gtest/gtest.h>
#include <thread>

#include "engine/module/sorn_module.h"
#include "engine/testing/interpreter_env.h"

namespace vorlane::engine {
namespace {

const auto* const interpreter = testing::add_interpreter_environment();

TEST(InterpreterRelease, ParksAndRestores) {
  PyThreadState* me = PyThreadState_Get();
  EXPECT_EQ(parked_thread_state(), nullptr);
  {
    InterpreterRelease unlocked;
    EXPECT_FALSE(PyGILState_Check());
    EXPECT_EQ(parked_thread_state(), me);
  }
  EXPECT_TRUE(PyGILState_Check());
  EXPECT_EQ(parked_thread_state(), nullptr);
}

// What the log hook does: take the lock back through the parked state, run a
// script function that itself calls a lock-releasing method, release again.
TEST(InterpreterRelease, NestedReleaseKeepsTheOuterParked) {
  PyThreadState* me = PyThreadState_Get();
  {
    InterpreterRelease outer;
    PyThreadState* parked = parked_thread_state();
    ASSERT_EQ(parked, me);
    PyEval_RestoreThread(parked);  // the hook takes the lock
    {
      InterpreterRelease inner;  // a method called by the script handler
      EXPECT_EQ(parked_thread_state(), me);
    }
    EXPECT_EQ(parked_thread_state(), me);  // the outer method is still parked
    EXPECT_EQ(PyEval_SaveThread(), me);     // the hook releases again
    EXPECT_EQ(parked_thread_state(), me);
  }
  EXPECT_EQ(parked_thread_state(), nullptr);
}

TEST(InterpreterRelease, KeyIsPerThread) {
  InterpreterRelease unlocked;
  PyThreadState* main_state = parked_thread_state();
  std::thread t([&] {
    PyGILState_STATE g = PyGILState_Ensure();
    EXPECT_EQ(parked_thread_state(), nullptr);
    {
      InterpreterRelease inner;
      EXPECT_NE(parked_thread_state(), main_state);
      EXPECT_NE(parked_thread_state(), nullptr);
    }
    EXPECT_EQ(parked_thread_state(), nullptr);
    PyGILState_Release(g);
  });
  t.join();
  EXPECT_EQ(parked_thread_state(), main_state);
}

TEST(SornInit, RunsOnce) {
  int before = sorn_engine_init_count();
  EXPECT_EQ(before, 1);
  PyObject* error = sorn_error;
  PyObject* m1 = PyInit_sorn();
  PyObject* m2 = PyInit_sorn();
  ASSERT_NE(m1, nullptr);
  ASSERT_NE(m2, nullptr);
  EXPECT_EQ(sorn_engine_init_count(), 1);
  EXPECT_EQ(sorn_error, error);
  EXPECT_EQ(PyDict_GetItemString(PyModule_GetDict(m2), "error"), error);
  Py_DECREF(m1);
  Py_DECREF(m2);
}

TEST(SornGlobals, DefaultsAndErrorRoutines) {
  EXPECT_EQ(max_hits, 40000u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(quality_offsets[i], i);
  EXPECT_EQ(find_language("english").stemmer, nullptr);
  EXPECT_EQ(raise_bad_db_id(128), nullptr);
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  EXPECT_EQ(type, sorn_error);
  PyObject* text = PyObject_Str(value);
  EXPECT_STREQ(PyUnicode_AsUTF8(text), "Invalid database identifier: 128");
  Py_XDECREF(text);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(tb);
  raise_db_not_open(5);
  PyErr_Fetch(&type, &value, &tb);
  text = PyObject_Str(value);
  EXPECT_STREQ(PyUnicode_AsUTF8(text), "Database not open: 5");
  Py_XDECREF(text);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(tb);
}

TEST(SornGlobals, FindLanguageSeesPublishedEntriesOnly) {
  static char name_a[] = "english";
  static char name_b[] = "german";
  static int stemmer_a, stemmer_b;
  language_table[0].handle.stemmer = &stemmer_a;
  language_table[0].name.store(name_a, std::memory_order_release);
  language_table[2].handle.stemmer = &stemmer_b;  // after a free entry: never seen
  language_table[2].name.store(name_b, std::memory_order_release);
  EXPECT_EQ(find_language("english").stemmer, &stemmer_a);
  EXPECT_EQ(find_language("german").stemmer, nullptr);
  EXPECT_EQ(find_language("englis").stemmer, nullptr);
  language_table[0].name.store(nullptr);
  language_table[2].name.store(nullptr);
  language_table[0].handle = {};
  language_table[2].handle = {};
}

}  // namespace
}  // namespace vorlane::engine
