// _engine_testing: a module that only the test host registers. It sets up the
// slot arenas directly through the store, so that script tests can open
// databases without the engine's set-up method.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "store/slot_arena.h"

namespace vorlane::engine::testing {

namespace {

PyObject* add_arena(PyObject*, PyObject* args) {
  unsigned int postings, count;
  if (!PyArg_ParseTuple(args, "II:add_arena", &postings, &count)) return nullptr;
  cache_add_arena(postings, count);
  Py_RETURN_NONE;
}

PyObject* total_slots(PyObject*, PyObject*) { return PyLong_FromUnsignedLong(cache_total_slots()); }

PyMethodDef methods[] = {
    {"add_arena", add_arena, METH_VARARGS, nullptr},
    {"total_slots", total_slots, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_engine_testing", nullptr, -1, methods,
                          nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyObject* PyInit__engine_testing() { return PyModule_Create(&module_def); }

}  // namespace vorlane::engine::testing
