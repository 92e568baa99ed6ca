// The module osdnt_native: operating-system services for the server's
// scripts (running programs with time limits, the server's registry key,
// system information, the message box, opening files, the log file, socket
// byte counts). The built-in module table calls its init function on the
// first import.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/ioctl.h>

#include "host/osdnt_module.h"
#include "host/output_redirect.h"
#include "host/server_globals.h"
#include "host/server_registry.h"
#include "host/spawn_command.h"
#include "platform/errors.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "platform/shell_open.h"
#include "platform/sysinfo.h"
#include "store/log.h"
#include "store/script/script_text.h"

namespace vorlane::host {

namespace {

using script::TextArg;
using script::text_converter;

// A text argument used as a C string: one with a NUL inside is refused, as
// the interpreter's own "s" format does.
bool c_text(const TextArg& arg) {
  if (arg.c_length() == arg.size()) return true;
  PyErr_Format(PyExc_ValueError, "%s: embedded null character", arg.name());
  return false;
}

PyObject* osdnt_memory_info(PyObject*, PyObject*) {
  platform::MemoryStatus m;
  platform::memory_status(&m);
  return script::latin1_str(platform::memory_line(m).c_str());
}

PyObject* osdnt_message_box(PyObject*, PyObject* args) {
  TextArg text("text");
  if (!PyArg_ParseTuple(args, "O&:message_box", text_converter, &text) || !c_text(text)) return nullptr;
  // The box is modal: the interpreter lock stays held until it is closed.
  platform::message_box(text.data(), "Information", platform::mb_iconinformation | platform::mb_topmost);
  Py_RETURN_NONE;
}

PyObject* osdnt_output_to_logfile(PyObject*, PyObject* args) {
  script::PathArg path;
  if (!PyArg_ParseTuple(args, "O&:output_to_logfile", script::path_converter, &path)) return nullptr;
  // Whatever the script has written so far goes where it was meant to go.
  for (const char* name : {"stdout", "stderr"}) {
    PyObject* stream = PySys_GetObject(name);
    if (stream && stream != Py_None) {
      PyObject* r = PyObject_CallMethod(stream, "flush", nullptr);
      if (r) Py_DECREF(r); else PyErr_Clear();
    }
  }
  const char* file = path.c_str();
  if (!redirect_output(file))
    log_msg(LOG_WARNING, "output_to_logfile: cannot open %s: %s; output stays where it was", file, strerror(errno));
  Py_RETURN_NONE;
}

PyObject* osdnt_query_registry(PyObject*, PyObject* args) {
  TextArg name("name");
  if (!PyArg_ParseTuple(args, "O&:query_registry", text_converter, &name) || !c_text(name)) return nullptr;
  char buffer[1024];
  if (orvelRegistryGetString(serverNum, name.data(), buffer, sizeof buffer)) return script::latin1_str(buffer);
  uint32_t number = 0;
  if (orvelRegistryGetNum(serverNum, name.data(), &number)) return PyLong_FromUnsignedLong(number);
  Py_RETURN_NONE;
}

PyObject* osdnt_record(PyObject*, PyObject* args) {
  TextArg data_dir("data_dir"), hostname("hostname"), version("version");
  int port = 0;
  if (!PyArg_ParseTuple(args, "O&O&iO&:record", text_converter, &data_dir, text_converter, &hostname, &port,
                        text_converter, &version) ||
      !c_text(data_dir) || !c_text(hostname) || !c_text(version))
    return nullptr;
  orvelRegistrySetString(serverNum, "data_dir", data_dir.data());
  orvelRegistrySetString(serverNum, "hostname", hostname.data());
  orvelRegistrySetNum(serverNum, "port", static_cast<uint32_t>(port));
  orvelRegistrySetString(serverNum, "version", version.data());
  Py_RETURN_NONE;
}

PyObject* osdnt_set_server_num(PyObject*, PyObject* args) {
  int number = 0;
  if (!PyArg_ParseTuple(args, "i:set_server_num", &number)) return nullptr;
  serverNum = number;
  Py_RETURN_NONE;
}

PyObject* osdnt_shell_execute(PyObject*, PyObject* args) {
  TextArg target("target");
  if (!PyArg_ParseTuple(args, "O&:shell_execute", text_converter, &target) || !c_text(target)) return nullptr;
  platform::shell_open(target.data());
  Py_RETURN_NONE;
}

PyObject* osdnt_socket_fionread(PyObject*, PyObject* args) {
  int socket = 0;
  if (!PyArg_ParseTuple(args, "i:socket_fionread", &socket)) return nullptr;
  int count = 0;
  if (ioctl(socket, FIONREAD, &count) != 0) return PyErr_SetFromErrno(PyExc_OSError);
  return PyLong_FromLong(count);
}

PyObject* osdnt_spawn(PyObject*, PyObject* args) {
  TextArg command("command");
  int limit = 0;
  if (!PyArg_ParseTuple(args, "O&i:spawn", text_converter, &command, &limit) || !c_text(command)) return nullptr;
  // The environment is read while the lock keeps os.environ still.
  SpawnPlan plan;
  int code = prepare_spawn(command.data(), &plan);
  if (code < 0) Py_RETURN_NONE;
  if (code == 0) {
    Py_BEGIN_ALLOW_THREADS
    code = run_spawn(plan, limit);
    Py_END_ALLOW_THREADS
  }
  return PyLong_FromLong(code);
}

PyObject* osdnt_version_info(PyObject*, PyObject*) {
  platform::VersionInfo v;
  platform::version_info(&v);
  return script::latin1_str(platform::platform_line(v).c_str());
}

PyObject* osdnt_get_registry(PyObject*, PyObject* args) {
  TextArg path_arg("path");
  if (!PyArg_ParseTuple(args, "O&:get_registry", text_converter, &path_arg) || !c_text(path_arg)) return nullptr;
  std::string path = path_arg.data();
  // Longer paths name nothing that can be read.
  if (path.size() > 1023) Py_RETURN_NONE;
  size_t slash = path.find('/');
  if (slash == std::string::npos) Py_RETURN_NONE;
  platform::RegKey key = platform::reg_root_by_name(path.substr(0, slash).c_str());
  if (!key) Py_RETURN_NONE;
  size_t start = slash + 1;
  while ((slash = path.find('/', start)) != std::string::npos) {
    platform::RegKey sub = nullptr;
    int rc = platform::reg_open_key(key, path.substr(start, slash - start).c_str(), platform::RegAccess::read, &sub);
    platform::reg_close_key(key);
    if (rc != platform::error_success) Py_RETURN_NONE;
    key = sub;
    start = slash + 1;
  }
  char buffer[1024];
  size_t size = sizeof buffer;
  uint32_t type = 0;
  int rc = platform::reg_query_value(key, path.c_str() + start, &type, buffer, &size);
  platform::reg_close_key(key);
  if (rc != platform::error_success) Py_RETURN_NONE;
  if (type == platform::reg_dword && size == 4) {
    uint32_t value;
    memcpy(&value, buffer, 4);
    return PyLong_FromUnsignedLong(value);
  }
  if (type == platform::reg_sz) return script::latin1_str(buffer, strnlen(buffer, size));
  Py_RETURN_NONE;
}

PyMethodDef osdnt_methods[] = {
    {"memory_info", osdnt_memory_info, METH_VARARGS, nullptr},
    {"message_box", osdnt_message_box, METH_VARARGS, nullptr},
    {"output_to_logfile", osdnt_output_to_logfile, METH_VARARGS, nullptr},
    {"query_registry", osdnt_query_registry, METH_VARARGS, nullptr},
    {"record", osdnt_record, METH_VARARGS, nullptr},
    {"set_server_num", osdnt_set_server_num, METH_VARARGS, nullptr},
    {"shell_execute", osdnt_shell_execute, METH_VARARGS, nullptr},
    {"socket_fionread", osdnt_socket_fionread, METH_VARARGS, nullptr},
    {"spawn", osdnt_spawn, METH_VARARGS, nullptr},
    {"version_info", osdnt_version_info, METH_VARARGS, nullptr},
    {"get_registry", osdnt_get_registry, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef osdnt_module_def = {
    PyModuleDef_HEAD_INIT, "osdnt_native", nullptr, -1, osdnt_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyObject* PyInit_osdnt_native() { return PyModule_Create(&osdnt_module_def); }

}  // namespace vorlane::host
