// sorn.crypt: the MD5-based "$1$" password hash for scripts. It keeps the
// interpreter lock, which serialises callers of the non-reentrant md5_crypt.
#include "engine/auth/md5_crypt.h"
#include "engine/module/sorn_methods.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

PyObject* sorn_crypt(PyObject*, PyObject* args) {
  script::TextArg password("password");
  script::TextArg salt("salt");
  if (!PyArg_ParseTuple(args, "O&O&:crypt", script::text_converter, &password, script::text_converter, &salt))
    return nullptr;
  if (password.c_length() != password.size() || salt.c_length() != salt.size()) {
    PyErr_SetString(PyExc_ValueError, "crypt: embedded null character");
    return nullptr;
  }
  return script::latin1_str(md5_crypt(password.data(), salt.data()));
}

}  // namespace vorlane::engine
