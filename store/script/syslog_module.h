// Init function of the _syslog script module (see syslog_module.cc).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorlane::script {

PyObject* PyInit__syslog();

}  // namespace vorlane::script
