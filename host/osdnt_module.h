// The osdnt_native script module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorlane::host {

// Creates the module; the built-in module table calls it on the first import.
PyObject* PyInit_osdnt_native();

}  // namespace vorlane::host
