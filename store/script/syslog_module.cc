// The script module _syslog: writes events to the event log.
//
//   _syslog.syslog(priority, message)  one event; priority 1-3 error,
//                                      4 warning, others information
//   _syslog.openlog(...)               accepted and ignored
#include "store/script/syslog_module.h"

#include "store/log.h"
#include "store/script/script_text.h"

namespace vorlane::script {

namespace {

PyObject* syslog_syslog(PyObject*, PyObject* args) {
  int priority;
  TextArg message("message");
  if (!PyArg_ParseTuple(args, "iO&:syslog", &priority, text_converter, &message)) return nullptr;
  syslog_write(priority, "%s", message.data());
  Py_RETURN_NONE;
}

PyObject* syslog_openlog(PyObject*, PyObject*) { Py_RETURN_NONE; }

PyMethodDef syslog_methods[] = {
    {"syslog", syslog_syslog, METH_VARARGS, nullptr},
    {"openlog", syslog_openlog, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef syslog_module = {
    PyModuleDef_HEAD_INIT, "_syslog", nullptr, -1, syslog_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyObject* PyInit__syslog() { return PyModule_Create(&syslog_module); }

}  // namespace vorlane::script
