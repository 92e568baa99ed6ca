// Text at the script boundary, shared by every script module.
//
// The engine works on byte strings. A text argument may be bytes (any
// bytes-like object, taken as it is) or str, encoded as Latin-1 (one byte per
// code point); a str with a code point above 255 is refused with TypeError
// naming the argument. Texts that come from stored data go back as str
// decoded as Latin-1, so that result.encode('latin-1') gives the stored bytes.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

namespace vorlane::script {

// An argument taken by text_converter ("O&"). Name it before parsing:
//   TextArg text("text");
//   PyArg_ParseTuple(args, "O&:checksum", text_converter, &text)
// data() is always NUL-terminated (texts may also hold NULs; size() counts
// every byte). The object keeps its reference until destroyed, which must
// happen with the interpreter lock held.
class TextArg {
 public:
  explicit TextArg(const char* name) : name_(name) {}
  ~TextArg() { Py_XDECREF(bytes_); }
  TextArg(const TextArg&) = delete;
  TextArg& operator=(const TextArg&) = delete;

  const char* data() const { return bytes_ ? PyBytes_AS_STRING(bytes_) : ""; }
  size_t size() const { return bytes_ ? static_cast<size_t>(PyBytes_GET_SIZE(bytes_)) : 0; }
  // Length up to the first NUL (what a C-string argument sees).
  size_t c_length() const;
  bool was_str() const { return was_str_; }
  // The object the script passed (borrowed; valid while the call runs).
  PyObject* original() const { return original_; }
  const char* name() const { return name_; }
  bool given() const { return bytes_ != nullptr; }

 private:
  friend int text_converter(PyObject*, void*);
  const char* name_;
  PyObject* bytes_ = nullptr;
  PyObject* original_ = nullptr;
  bool was_str_ = false;
};

// The "O&" converter for TextArg.
int text_converter(PyObject* object, void* text_arg);

// A file path argument taken by path_converter ("O&"): str, bytes or a path
// object, encoded as the file system's paths are (PyUnicode_FSConverter).
//   PathArg path;
//   PyArg_ParseTuple(args, "O&:get_disk_free", path_converter, &path)
// c_str() stays valid while the object lives, also without the interpreter
// lock; the object keeps its reference until destroyed, which must happen
// with the lock held.
class PathArg {
 public:
  PathArg() = default;
  ~PathArg() { Py_XDECREF(bytes_); }
  PathArg(const PathArg&) = delete;
  PathArg& operator=(const PathArg&) = delete;

  const char* c_str() const { return bytes_ ? PyBytes_AS_STRING(bytes_) : ""; }
  size_t size() const { return bytes_ ? static_cast<size_t>(PyBytes_GET_SIZE(bytes_)) : 0; }
  bool empty() const { return size() == 0; }

 private:
  friend int path_converter(PyObject*, void*);
  PyObject* bytes_ = nullptr;
};

// The "O&" converter for PathArg.
int path_converter(PyObject* object, void* path_arg);

// Latin-1 str results.
PyObject* latin1_str(const char* data, size_t length);
PyObject* latin1_str(const char* c_string);

// A result of the same type as the argument it was made from: str in, str
// out; bytes (or another bytes-like object) in, bytes out.
PyObject* text_like(const TextArg& like, const char* data, size_t length);

// Bytes results (checksums, raw encoded forms, keys and values).
PyObject* bytes_result(const void* data, size_t length);

// A path handed back to a script (decoded as the file system's paths are).
PyObject* path_result(const char* path);

}  // namespace vorlane::script
