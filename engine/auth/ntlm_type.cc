// The script type ntlm: sorn.ntlm(user, password) makes an object whose
// authstep(scheme, data) turns the server's latest challenge into the next
// token (both base64 text) until moresteps() says the exchange is complete.
#include "engine/module/lock_release.h"
#include "engine/auth/ntlm_step.h"
#include "engine/module/sorn_init_hooks.h"
#include "engine/module/sorn_methods.h"
#include "store/log.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

namespace {

struct ntlm_object {
  PyObject_HEAD
  ntlm_context* context;
};

// Both texts of a call must be C strings.
bool c_strings(const script::TextArg& a, const script::TextArg& b, const char* method) {
  if (a.c_length() == a.size() && b.c_length() == b.size()) return true;
  PyErr_Format(PyExc_ValueError, "%s: embedded null character", method);
  return false;
}

void ntlm_dealloc(PyObject* self) {
  ntlm_context* c = reinterpret_cast<ntlm_object*>(self)->context;
  if (c) ntlm_context_free(c);
  PyObject_Free(self);
}

PyObject* ntlm_authstep(PyObject* self, PyObject* args) {
  script::TextArg scheme("scheme");
  script::TextArg data("data");
  if (!PyArg_ParseTuple(args, "O&O&:authstep", script::text_converter, &scheme, script::text_converter, &data))
    return nullptr;
  if (!c_strings(scheme, data, "authstep")) return nullptr;
  ntlm_context* c = reinterpret_cast<ntlm_object*>(self)->context;

  std::string token;
  bool ok;
  {
    InterpreterRelease unlocked;
    std::lock_guard<std::mutex> one_at_a_time(c->busy);
    ok = ntlm_step(c, scheme.data(), data.data(), &token);
    if (!ok && c->error == kNtlmNoData)
      log_msg(LOG_INFO, "can't log in user \"%s\" for NTLM authentication", c->user_string);
    else if (!ok && c->error == kNtlmNoMemory)
      log_msg(LOG_WARNING, "out of memory in NTLM authentication");
  }
  if (!ok) Py_RETURN_NONE;
  return script::latin1_str(token.data(), token.size());
}

PyObject* ntlm_moresteps(PyObject* self, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":moresteps")) return nullptr;
  ntlm_context* c = reinterpret_cast<ntlm_object*>(self)->context;
  return PyLong_FromLong(c->more_steps ? 1 : 0);
}

PyMethodDef ntlm_methods[] = {
    {"authstep", ntlm_authstep, METH_VARARGS, nullptr},
    {"moresteps", ntlm_moresteps, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject ntlm_type{};

}  // namespace

int ntlm_type_ready() {
  static bool ready = false;
  if (ready) return 0;
  PyTypeObject& t = ntlm_type;
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&t), 1);  // a static type is never freed
  Py_SET_TYPE(&t, &PyType_Type);
  t.tp_name = "ntlm";
  t.tp_basicsize = sizeof(ntlm_object);
  t.tp_dealloc = ntlm_dealloc;
  t.tp_flags = Py_TPFLAGS_DEFAULT;
  t.tp_methods = ntlm_methods;
  if (PyType_Ready(&t) != 0) return -1;
  ready = true;
  return 0;
}

PyObject* sorn_ntlm(PyObject*, PyObject* args) {
  script::TextArg user("user");
  script::TextArg password("password");
  if (!PyArg_ParseTuple(args, "O&O&:ntlm", script::text_converter, &user, script::text_converter, &password))
    return nullptr;
  if (!c_strings(user, password, "ntlm")) return nullptr;

  ntlm_object* self = PyObject_New(ntlm_object, &ntlm_type);
  if (!self) return nullptr;
  {
    InterpreterRelease unlocked;
    self->context = ntlm_context_make(user.data(), password.data());
  }
  if (!self->context) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  return reinterpret_cast<PyObject*>(self);
}

}  // namespace vorlane::engine
