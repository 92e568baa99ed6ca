// The module wstrop: its method table, its attributes (ConvertError, the
// flags, the registries) and its init function, which the built-in module
// table calls on the first import.
#include "linguistics/wstrop/wstring_type.h"
#include "linguistics/wstrop/wstrop_module.h"

namespace vorlane::linguistics {

PyObject* convert_error = nullptr;

namespace {

constexpr char module_doc[] =
    "Support for wide character strings.\n"
    "\n"
    "The type wstring is a string of 16-bit character cells (UTF-16 code\n"
    "units; a character above U+FFFF takes two cells, a surrogate pair). It\n"
    "supports len, +, *, indexing, slicing without a step, comparison and\n"
    "hashing. Make one with L / from_utf8 (UTF-8), decode (a registered\n"
    "character set), chr (a code point), from_ucs2, from_utf16, from_ucs4 or\n"
    "from_utf7 (big-endian forms and UTF-7); turn it back into bytes with\n"
    "its methods utf8, ucs2, ucs4, utf7, utf16 and encode.\n"
    "\n"
    "Flags (optional last argument of the conversions, OR-ed together):\n"
    "  SKIP_INVALID          1  drop what cannot be converted instead of\n"
    "                           raising ConvertError\n"
    "  UTF7_QUOTE_OPTIONALS  2  utf7 writes the optional direct characters\n"
    "                           and white space in base64 too\n"
    "  UCS_SWITCH_BYTEORDER  4  reserved for little-endian forms (unused)\n"
    "  UCS2_DO_UTF16         8  UCS-2 data is UTF-16 (surrogate pairs)\n"
    "\n"
    "Character sets: decode and encode look the name up in aliases, then\n"
    "use ISO_8859-1:1987 (built in), a table in decodings / encodings\n"
    "({byte: code point} / {code point: byte}), or a function in\n"
    "decoding_functions / encoding_functions (f(bytes, flags) -> wstring,\n"
    "f(wstring, flags) -> bytes).";

PyMethodDef module_methods[] = {
    {"L", wstrop_L, METH_VARARGS, "L(bytes) -> wstring decoded from UTF-8."},
    {"from_utf8", wstrop_from_utf8, METH_VARARGS, "from_utf8(bytes) -> wstring decoded from UTF-8."},
    {"decode", wstrop_decode, METH_VARARGS,
     "decode(name, bytes[, flags]) -> wstring decoded from a registered character set."},
    {"chr", wstrop_chr, METH_VARARGS, "chr(code) -> wstring of one character."},
    {"ord", wstrop_ord, METH_VARARGS, "ord(wstring) -> code point of its first character (0 if empty)."},
    {"from_ucs2", wstrop_from_ucs2, METH_VARARGS, "from_ucs2(bytes[, flags]) -> wstring from big-endian UCS-2."},
    {"from_utf16", wstrop_from_utf16, METH_VARARGS,
     "from_utf16(bytes[, flags]) -> wstring from big-endian UTF-16 (from_ucs2 with UCS2_DO_UTF16)."},
    {"from_ucs4", wstrop_from_ucs4, METH_VARARGS, "from_ucs4(bytes[, flags]) -> wstring from big-endian UCS-4."},
    {"from_utf7", wstrop_from_utf7, METH_VARARGS, "from_utf7(bytes[, flags]) -> wstring from UTF-7."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef wstrop_module_def = {
    PyModuleDef_HEAD_INIT, "wstrop", module_doc, -1, module_methods, nullptr, nullptr, nullptr, nullptr,
};

bool globals_ready = false;

// Turns the pending exception (if any) into ImportError naming the step.
PyObject* import_error(const char* step) {
  if (PyErr_Occurred()) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyErr_Format(PyExc_ImportError, "Can't initialize module wstrop: %s failed: %S", step,
                 value ? value : Py_None);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
  } else {
    PyErr_Format(PyExc_ImportError, "Can't initialize module wstrop: %s failed", step);
  }
  return nullptr;
}

// The type, the exception and the registries are made once per process;
// each step can be tried again after a failure.
const char* make_globals() {
  if (globals_ready) return nullptr;
  if (wstring_type_ready() != 0) return "completing the wstring type";
  if (!convert_error && !(convert_error = PyErr_NewException("wstrop.ConvertError", nullptr, nullptr)))
    return "creating ConvertError";
  if (registries_ready() != 0) return "creating the registries";
  globals_ready = true;
  return nullptr;
}

}  // namespace

PyObject* PyInit_wstrop() {
  if (const char* step = make_globals()) return import_error(step);
  PyObject* module = PyModule_Create(&wstrop_module_def);
  if (!module) return import_error("creating the module");
  const struct {
    const char* name;
    long value;
  } flags[] = {
      {"SKIP_INVALID", kSkipInvalid},
      {"UTF7_QUOTE_OPTIONALS", kUtf7QuoteOptionals},
      {"UCS_SWITCH_BYTEORDER", kUcsSwitchByteorder},
      {"UCS2_DO_UTF16", kUcs2DoUtf16},
  };
  bool ok = PyModule_AddObjectRef(module, "ConvertError", convert_error) == 0 &&
            PyModule_AddObjectRef(module, "encodings", registries.encodings) == 0 &&
            PyModule_AddObjectRef(module, "decodings", registries.decodings) == 0 &&
            PyModule_AddObjectRef(module, "encoding_functions", registries.encoding_functions) == 0 &&
            PyModule_AddObjectRef(module, "decoding_functions", registries.decoding_functions) == 0 &&
            PyModule_AddObjectRef(module, "aliases", registries.aliases) == 0;
  for (const auto& f : flags) ok = ok && PyModule_AddIntConstant(module, f.name, f.value) == 0;
  if (!ok) {
    Py_DECREF(module);
    return import_error("adding the module's attributes");
  }
  return module;
}

}  // namespace vorlane::linguistics
