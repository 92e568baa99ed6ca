// sorn.convert_to_net_format, convert_to_host_format, physavail, physsize.
#include "engine/transfer/byte_order.h"
#include "engine/module/sorn_methods.h"

namespace vorlane::engine {

PyObject* sorn_convert_to_net_format(PyObject*, PyObject* args) {
  int number;
  if (!PyArg_ParseTuple(args, "i:convert_to_net_format", &number)) return nullptr;
  return PyLong_FromLong(convert_to_net_format(number));
}

PyObject* sorn_convert_to_host_format(PyObject*, PyObject* args) {
  int number;
  if (!PyArg_ParseTuple(args, "i:convert_to_host_format", &number)) return nullptr;
  return PyLong_FromLong(convert_to_host_format(number));
}

PyObject* sorn_physavail(PyObject*, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":physavail")) return nullptr;
  return PyLong_FromLongLong(physavail());
}

PyObject* sorn_physsize(PyObject*, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":physsize")) return nullptr;
  return PyLong_FromLongLong(physsize());
}

}  // namespace vorlane::engine
