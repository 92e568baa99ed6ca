#include "store/script/script_text.h"

#include <cstring>

namespace vorlane::script {

size_t TextArg::c_length() const { return strlen(data()); }

int path_converter(PyObject* object, void* out) {
  // Also the cleanup call (object null) after a later argument failed.
  return PyUnicode_FSConverter(object, &static_cast<PathArg*>(out)->bytes_);
}

int text_converter(PyObject* object, void* out) {
  auto* arg = static_cast<TextArg*>(out);
  if (object == nullptr) {  // cleanup after a later argument failed
    Py_CLEAR(arg->bytes_);
    return 1;
  }
  PyObject* bytes = nullptr;
  bool was_str = false;
  if (PyBytes_Check(object)) {
    Py_INCREF(object);
    bytes = object;
  } else if (PyUnicode_Check(object)) {
    if (PyUnicode_READY(object) != 0) return 0;
    if (PyUnicode_MAX_CHAR_VALUE(object) > 255) {
      PyErr_Format(PyExc_TypeError,
                   "argument '%s' holds a character above U+00FF: give bytes or a Latin-1 str",
                   arg->name_);
      return 0;
    }
    bytes = PyUnicode_AsLatin1String(object);
    if (!bytes) return 0;
    was_str = true;
  } else if (PyObject_CheckBuffer(object)) {
    Py_buffer view;
    if (PyObject_GetBuffer(object, &view, PyBUF_SIMPLE) != 0) return 0;
    bytes = PyBytes_FromStringAndSize(static_cast<const char*>(view.buf), view.len);
    PyBuffer_Release(&view);
    if (!bytes) return 0;
  } else {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be bytes or str, not %.100s", arg->name_,
                 Py_TYPE(object)->tp_name);
    return 0;
  }
  Py_XDECREF(arg->bytes_);
  arg->bytes_ = bytes;
  arg->original_ = object;
  arg->was_str_ = was_str;
  return Py_CLEANUP_SUPPORTED;
}

PyObject* latin1_str(const char* data, size_t length) {
  return PyUnicode_DecodeLatin1(data, static_cast<Py_ssize_t>(length), nullptr);
}

PyObject* latin1_str(const char* c_string) { return latin1_str(c_string, strlen(c_string)); }

PyObject* text_like(const TextArg& like, const char* data, size_t length) {
  if (like.was_str()) return latin1_str(data, length);
  return PyBytes_FromStringAndSize(data, static_cast<Py_ssize_t>(length));
}

PyObject* bytes_result(const void* data, size_t length) {
  return PyBytes_FromStringAndSize(static_cast<const char*>(data), static_cast<Py_ssize_t>(length));
}

PyObject* path_result(const char* path) { return PyUnicode_DecodeFSDefault(path); }

}  // namespace vorlane::script
