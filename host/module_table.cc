// The built-in module table. The first import of a listed name runs its init
// function; the interpreter's own standard modules come from its library.
// Each init function is defined with its module; one absent from this build
// is left out of the table.
#include "host/module_table.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <iterator>

extern "C" PyObject* PyInit_pyexpat(void);  // the interpreter's expat binding

namespace vorlane {
namespace engine {
PyObject* PyInit_sorn() __attribute__((weak));
}
namespace script {
PyObject* PyInit__syslog() __attribute__((weak));
}
namespace linguistics {
PyObject* PyInit_wstrop() __attribute__((weak));
}
namespace host {
PyObject* PyInit_osdnt_native() __attribute__((weak));
}
namespace hashdb {
PyObject* PyInit_bsddb() __attribute__((weak));
}
}  // namespace vorlane

namespace {

struct Entry {
  const char* name;
  PyObject* (*init)();
};

}  // namespace

extern "C" int vorlane_register_modules(void) {
  static bool done = false;
  if (done) return 0;
  const Entry entries[] = {
      {"bsddb", vorlane::hashdb::PyInit_bsddb},
      {"wstrop", vorlane::linguistics::PyInit_wstrop},
      {"expat", PyInit_pyexpat},
      {"sorn", vorlane::engine::PyInit_sorn},
      {"osdnt_native", vorlane::host::PyInit_osdnt_native},
      {"_syslog", vorlane::script::PyInit__syslog},
  };
  // The table keeps pointers to its records for the life of the process.
  static struct _inittab table[std::size(entries) + 1];
  size_t n = 0;
  for (const Entry& e : entries)
    if (e.init) table[n++] = {e.name, e.init};
  table[n] = {nullptr, nullptr};
  if (PyImport_ExtendInittab(table) != 0) return -1;
  done = true;
  return 0;
}
