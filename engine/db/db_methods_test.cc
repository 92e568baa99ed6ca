// Database methods on handles put into the open-database table directly.
#include <gtest/gtest.h>
#include <string>

#include "engine/db/open_dbs.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "engine/testing/interpreter_env.h"
#include "platform/testing/test_root.h"
#include "store/db_handle.h"
#include "store/indexing.h"
#include "store/mapfile.h"
#include "store/testing/db_image.h"
#include "store/testing/index_fixture.h"
#include "store/testing/handle_testing.h"

namespace vorlane::engine {
namespace {

const auto* const interpreter = testing::add_interpreter_environment();

// The sorn.error text of the pending exception (cleared), or "" when none.
std::string error_text() {
  if (!PyErr_Occurred()) return "";
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  std::string text;
  if (PyErr_GivenExceptionMatches(type, sorn_error)) {
    PyObject* s = PyObject_Str(value);
    text = PyUnicode_AsUTF8(s);
    Py_DECREF(s);
  } else {
    text = "(another exception)";
  }
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(tb);
  return text;
}

TEST(DbMethods, DeleteOnReadOnlyDeletionMapFails) {
  platform::TestRoot root;
  const std::string dir = root.path() + "/db";
  testing::image_options o;
  o.ndocs = 2;
  testing::write_db_image(dir, {{5, 7, {(0u << 7) | 3}, 0}}, o);
  idbm_db* db = idbm_open_plain(dir.c_str(), nullptr);
  ASSERT_NE(db, nullptr);
  // As on a read-only file system: the deletion map falls back to read-only.
  ASSERT_TRUE(testing::remap_del_read_only(db));
  open_dbs[1] = db;
  ASSERT_NE(sorn_delete, nullptr);

  PyObject* args = Py_BuildValue("(ii)", 1, 0);
  EXPECT_EQ(sorn_delete(nullptr, args), nullptr);
  EXPECT_EQ(error_text(), "Failed: idbm_delete");
  Py_DECREF(args);
  args = Py_BuildValue("(ii)", 1, 2);
  EXPECT_EQ(sorn_delete(nullptr, args), nullptr);
  EXPECT_EQ(error_text(), "Invalid docid");
  Py_DECREF(args);

  args = Py_BuildValue("(i)", 1);
  PyObject* r = sorn_quit_db(nullptr, args);
  EXPECT_EQ(r, Py_None);
  Py_XDECREF(r);
  EXPECT_EQ(open_dbs[1], nullptr);
  Py_DECREF(args);
}

// After close_journal a document would have no journal record: the handle
// refuses it, so a later save cannot leave a journal that drops it.
TEST(DbMethods, CloseJournalRefusesLaterDocuments) {
  platform::TestRoot root;
  const std::string dir = root.path() + "/db";
  idbm_db* db = idbm_open_incr(dir.c_str(), 0, 10, 1, nullptr);
  ASSERT_NE(db, nullptr);
  testing::test_doc first = testing::synthetic_doc(5, 0, 300, 40);
  EXPECT_EQ(idbm_index_and_log(db, first.terms(), nullptr, 0, 0, 0, 0), 1);
  open_dbs[2] = db;

  PyObject* args = Py_BuildValue("(i)", 2);
  PyObject* r = sorn_close_journal(nullptr, args);
  EXPECT_EQ(r, Py_None);
  Py_XDECREF(r);
  EXPECT_EQ(db->jnl_stream, nullptr);
  testing::test_doc second = testing::synthetic_doc(5, 1, 300, 40);
  EXPECT_EQ(idbm_index_and_log(db, second.terms(), nullptr, 0, 0, 0, 0), 0);
  EXPECT_EQ(db->ndocs, 1u);
  PyObject* n = sorn_numdocs(nullptr, args);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(PyLong_AsLong(n), 1);
  Py_DECREF(n);

  r = sorn_quit_db(nullptr, args);
  EXPECT_EQ(r, Py_None);
  Py_XDECREF(r);
  EXPECT_EQ(open_dbs[2], nullptr);
  Py_DECREF(args);
}

TEST(DbMethods, ReservedEntryIsNotOpen) {
  open_dbs[3] = kReservedDb;
  PyObject* args = Py_BuildValue("(i)", 3);
  EXPECT_EQ(sorn_numdocs(nullptr, args), nullptr);
  EXPECT_EQ(error_text(), "Database not open: 3");
  PyObject* r = sorn_quit_db(nullptr, args);  // nothing to do
  EXPECT_EQ(r, Py_None);
  Py_XDECREF(r);
  EXPECT_EQ(open_dbs[3], kReservedDb);
  PyObject* list = sorn_list(nullptr, nullptr);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(PyList_Size(list), 0);
  Py_DECREF(list);
  Py_DECREF(args);
  open_dbs[3] = nullptr;
}

}  // namespace
}  // namespace vorlane::engine
