// sorn.copy_from_file and sorn.copy_to_file: index-file transfer over a
// socket that a script opened (its fileno()). Both run without the
// interpreter lock.
#include <climits>
#include <string>

#include "engine/module/lock_release.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "engine/transfer/transfer.h"
#include "store/log.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

PyObject* sorn_copy_from_file(PyObject*, PyObject* args) {
  int sock;
  script::PathArg path;
  int kind = 0;
  if (!PyArg_ParseTuple(args, "iO&|i:copy_from_file", &sock, script::path_converter, &path, &kind)) return nullptr;

  int64_t sent = 0;
  std::string error;
  bool ok;
  {
    InterpreterRelease unlocked;
    ok = copy_from_file(sock, path.c_str(), kind, &sent, &error);
    if (!ok) log_msg(LOG_WARNING, "%s: %s", copy_from_file_sender(kind), error.c_str());
  }
  if (!ok) return raise_error(error.c_str());
  return PyLong_FromLongLong(sent);
}

PyObject* sorn_copy_to_file(PyObject*, PyObject* args) {
  int sock;
  script::PathArg path;
  script::TextArg first("first bytes");
  int timeout;
  if (!PyArg_ParseTuple(args, "iO&O&i:copy_to_file", &sock, script::path_converter, &path, script::text_converter,
                        &first, &timeout))
    return nullptr;
  if (timeout < 0) {
    PyErr_Format(sorn_error, "copy_to_file: negative time-out %d", timeout);
    return nullptr;
  }
  std::string head(first.data(), first.size());

  int64_t written = 0;
  std::string error;
  bool ok;
  {
    InterpreterRelease unlocked;
    ok = copy_to_file(sock, path.c_str(), head.data(), head.size(), timeout, &written, &error);
  }
  if (!ok) return raise_error(error.c_str());
  return PyLong_FromLongLong(written);
}

}  // namespace vorlane::engine
