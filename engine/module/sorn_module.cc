#include "engine/module/sorn_module.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engine/module/sorn_init_hooks.h"
#include "engine/module/sorn_method_table.h"
#include "store/heap.h"
#include "store/mapfile.h"
#include "store/sthread.h"

namespace vorlane::engine {

language_entry language_table[kMaxLanguages];
int32_t quality_offsets[8] = {0, 1, 2, 3, 4, 5, 6, 7};
uint32_t max_hits = 40000;
sthread_key saved_thread_key = -1;
PyObject* sorn_error = nullptr;
PyObject* sorn_limit = nullptr;

namespace {

bool engine_ready = false;
int engine_init_count = 0;
bool key_created = false;

std::vector<PyMethodDef>& module_methods() {
  static std::vector<PyMethodDef> methods = [] {
    std::vector<PyMethodDef> v;
    for (const SornMethod& m : sorn_method_table)
      v.push_back({m.name, m.function, m.flags, nullptr});
    v.push_back({nullptr, nullptr, 0, nullptr});
    return v;
  }();
  return methods;
}

PyModuleDef sorn_module_def = {
    PyModuleDef_HEAD_INIT, "sorn", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

bool fail(const char* step) {
  if (PyErr_Occurred()) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    PyErr_Format(PyExc_ImportError, "sorn: %s failed: %S", step, value ? value : Py_None);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(tb);
  } else {
    PyErr_Format(PyExc_ImportError, "sorn: %s failed", step);
  }
  return false;
}

}  // namespace

PyObject* raise_error(const char* message) {
  PyErr_SetString(sorn_error, message);
  return nullptr;
}

PyObject* raise_store_error(const char* message) {
  const std::string file = file_failure_text();
  if (file.empty()) return raise_error(message);
  return raise_error((std::string(message) + ": " + file).c_str());
}

PyObject* raise_limit(const char* message) {
  PyErr_SetString(sorn_limit, message);
  return nullptr;
}

PyObject* raise_bad_db_id(int id) {
  PyErr_Format(sorn_error, "Invalid database identifier: %d", id);
  return nullptr;
}

PyObject* raise_db_not_open(int id) {
  PyErr_Format(sorn_error, "Database not open: %d", id);
  return nullptr;
}

zop_handle find_language(const char* name) {
  for (language_entry& e : language_table) {
    const char* entry_name = e.name.load(std::memory_order_acquire);
    if (!entry_name) break;
    if (strcmp(entry_name, name) == 0) return e.handle;
  }
  return zop_handle{};
}

void dict_add_int(PyObject* dict, const char* key, long value) {
  PyObject* v = PyLong_FromLong(value);
  if (!v || PyDict_SetItemString(dict, key, v) != 0) PyErr_Clear();
  Py_XDECREF(v);
}

void dict_add_string(PyObject* dict, const char* key, const char* text) {
  PyObject* v = PyUnicode_DecodeLatin1(text, static_cast<Py_ssize_t>(strlen(text)), nullptr);
  if (!v || PyDict_SetItemString(dict, key, v) != 0) PyErr_Clear();
  Py_XDECREF(v);
}

// The engine's globals are made once per process; each step can be tried
// again after a failure, and nothing counts as ready until every step
// succeeded. Runs with the interpreter lock held.
bool sorn_engine_init() {
  if (engine_ready) return true;

  // Records the memory baseline that datasize measures against.
  heap_growth();

  if (!sorn_error && !(sorn_error = PyErr_NewException("sorn.error", nullptr, nullptr)))
    return fail("creating sorn.error");
  if (!sorn_limit && !(sorn_limit = PyErr_NewException("sorn.limit", nullptr, nullptr)))
    return fail("creating sorn.limit");

  if (idoc_type_ready() != 0) return fail("completing the idoc type");
  if (ntlm_type_ready() != 0) return fail("completing the ntlm type");

  init_percent_table();
  init_blend_table();

  for (int i = 0; i < 8; ++i) quality_offsets[i] = i;

  sthread_init();
  if (!key_created) {
    if (sthread_key_create(&saved_thread_key, nullptr) != 0) return fail("creating the saved-thread key");
    key_created = true;
  }

  sspi_init();

  engine_ready = true;
  ++engine_init_count;
  return true;
}

int sorn_engine_init_count() { return engine_init_count; }

PyObject* PyInit_sorn() {
  if (!sorn_engine_init()) return nullptr;
  sorn_module_def.m_methods = module_methods().data();
  PyObject* module = PyModule_Create(&sorn_module_def);
  if (!module) return nullptr;
  PyObject* dict = PyModule_GetDict(module);
  if (PyDict_SetItemString(dict, "error", sorn_error) != 0 || PyDict_SetItemString(dict, "limit", sorn_limit) != 0) {
    Py_DECREF(module);
    return nullptr;
  }
  dict_add_int(dict, "FIONREAD", kFionread);
  dict_add_string(dict, "OSFLAVOR", "");
  return module;
}

}  // namespace vorlane::engine
