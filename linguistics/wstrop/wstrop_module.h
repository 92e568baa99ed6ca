// What the parts of the wstrop module share: its exception, its registries
// and the module functions that its method table lists.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "linguistics/wstrop/wide_codecs.h"

namespace vorlane::linguistics {

// wstrop.ConvertError, raised by every conversion failure.
extern PyObject* convert_error;

// The registries, made once per process and shared by every module object:
// encodings (name -> {cell: byte}), decodings (name -> {byte: cell}),
// encoding_functions (name -> f(wstring, flags) -> bytes),
// decoding_functions (name -> f(bytes, flags) -> wstring) and aliases
// (alias -> name).
struct Registries {
  PyObject* encodings = nullptr;
  PyObject* decodings = nullptr;
  PyObject* encoding_functions = nullptr;
  PyObject* decoding_functions = nullptr;
  PyObject* aliases = nullptr;
};
extern Registries registries;

// The one character set built in.
constexpr char kLatin1Name[] = "ISO_8859-1:1987";

// Sets ConvertError with a text; returns nullptr.
PyObject* raise_convert(const char* message);
PyObject* raise_convert(ConvertStatus status);

// Checks a code point given by a script (chr, a decoding table's value):
// false with ValueError "negative wide character" when negative, with
// ConvertError above U+10FFFF.
bool check_code_point(long long value);

// Module functions (wstrop_convert.cc).
PyObject* wstrop_L(PyObject*, PyObject* args);
PyObject* wstrop_from_utf8(PyObject*, PyObject* args);
PyObject* wstrop_chr(PyObject*, PyObject* args);
PyObject* wstrop_ord(PyObject*, PyObject* args);
PyObject* wstrop_from_ucs2(PyObject*, PyObject* args);
PyObject* wstrop_from_utf16(PyObject*, PyObject* args);
PyObject* wstrop_from_ucs4(PyObject*, PyObject* args);
PyObject* wstrop_from_utf7(PyObject*, PyObject* args);

// Through the registries (wstrop_registry.cc).
PyObject* wstrop_decode(PyObject*, PyObject* args);
PyObject* wstring_encode(PyObject* self, PyObject* args);
// Creates the registries with the preset aliases; -1 with an exception.
int registries_ready();

}  // namespace vorlane::linguistics
