// The fixed conversions: the module functions that make wstrings from UTF-8,
// UCS-2, UTF-16, UCS-4 and UTF-7 and from code points, and the wstring
// methods that give those forms back as bytes.
#include "linguistics/wstrop/utf7.h"
#include "linguistics/wstrop/wide_codecs.h"
#include "linguistics/wstrop/wstring_type.h"
#include "linguistics/wstrop/wstrop_module.h"
#include "store/script/script_text.h"

namespace vorlane::linguistics {

using script::TextArg;
using script::text_converter;

PyObject* raise_convert(const char* message) {
  PyErr_SetString(convert_error, message);
  return nullptr;
}

PyObject* raise_convert(ConvertStatus status) { return raise_convert(convert_status_text(status)); }

bool check_code_point(long long value) {
  if (value < 0) {
    PyErr_SetString(PyExc_ValueError, "negative wide character");
    return false;
  }
  if (value > kMaxCodePoint) {
    raise_convert(ConvertStatus::above_max_code_point);
    return false;
  }
  return true;
}

namespace {

using Decoder = ConvertResult (*)(const unsigned char* src, size_t n, int flags, wcell* out);
using Encoder = size_t (*)(const wcell* cells, size_t n, int flags, unsigned char* out);

// Counts, allocates, fills.
PyObject* decode_bytes(Decoder decoder, const TextArg& text, int flags) {
  const auto* src = reinterpret_cast<const unsigned char*>(text.data());
  ConvertResult counted = decoder(src, text.size(), flags, nullptr);
  if (counted.status != ConvertStatus::ok) return raise_convert(counted.status);
  PyObject* w = wstring_new(counted.count);
  if (!w) return nullptr;
  decoder(src, text.size(), flags, wstring_cells(w));
  return w;
}

PyObject* encode_cells(Encoder encoder, PyObject* self, int flags) {
  const wcell* cells = wstring_cells(self);
  size_t n = wstring_length(self);
  size_t size = encoder(cells, n, flags, nullptr);
  PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (!bytes) return nullptr;
  encoder(cells, n, flags, reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes)));
  return bytes;
}

ConvertResult utf8_decoder(const unsigned char* src, size_t n, int, wcell* out) {
  return utf8_to_cells(src, n, out);
}
size_t utf8_encoder(const wcell* cells, size_t n, int, unsigned char* out) {
  return cells_to_utf8(cells, n, out);
}
size_t ucs2_encoder(const wcell* cells, size_t n, int, unsigned char* out) {
  return cells_to_ucs2(cells, n, out);
}
size_t ucs4_encoder(const wcell* cells, size_t n, int, unsigned char* out) {
  return cells_to_ucs4(cells, n, out);
}

// name(bytes[, flags]) -> wstring; extra_flags are added to the caller's.
PyObject* from_bytes(PyObject* args, const char* format, Decoder decoder, int extra_flags) {
  TextArg text("bytes");
  int flags = 0;
  if (!PyArg_ParseTuple(args, format, text_converter, &text, &flags)) return nullptr;
  return decode_bytes(decoder, text, flags | extra_flags);
}

// method([flags]) -> bytes.
PyObject* to_bytes(PyObject* self, PyObject* args, const char* format, Encoder encoder, int extra_flags) {
  int flags = 0;
  if (!PyArg_ParseTuple(args, format, &flags)) return nullptr;
  return encode_cells(encoder, self, flags | extra_flags);
}

PyObject* from_utf8_bytes(PyObject* args, const char* format) {
  TextArg text("bytes");
  if (!PyArg_ParseTuple(args, format, text_converter, &text)) return nullptr;
  return decode_bytes(utf8_decoder, text, 0);
}

PyObject* wstring_utf8(PyObject* self, PyObject*) { return encode_cells(utf8_encoder, self, 0); }

PyObject* wstring_ucs2(PyObject* self, PyObject* args) {
  return to_bytes(self, args, "|i:ucs2", ucs2_encoder, 0);
}

PyObject* wstring_utf16(PyObject* self, PyObject* args) {
  return to_bytes(self, args, "|i:utf16", ucs2_encoder, kUcs2DoUtf16);
}

PyObject* wstring_ucs4(PyObject* self, PyObject* args) {
  return to_bytes(self, args, "|i:ucs4", ucs4_encoder, 0);
}

PyObject* wstring_utf7(PyObject* self, PyObject* args) {
  return to_bytes(self, args, "|i:utf7", cells_to_utf7, 0);
}

}  // namespace

PyObject* wstrop_L(PyObject*, PyObject* args) { return from_utf8_bytes(args, "O&:L"); }

PyObject* wstrop_from_utf8(PyObject*, PyObject* args) { return from_utf8_bytes(args, "O&:from_utf8"); }

PyObject* wstrop_from_ucs2(PyObject*, PyObject* args) {
  return from_bytes(args, "O&|i:from_ucs2", ucs2_to_cells, 0);
}

PyObject* wstrop_from_utf16(PyObject*, PyObject* args) {
  return from_bytes(args, "O&|i:from_utf16", ucs2_to_cells, kUcs2DoUtf16);
}

PyObject* wstrop_from_ucs4(PyObject*, PyObject* args) {
  return from_bytes(args, "O&|i:from_ucs4", ucs4_to_cells, 0);
}

PyObject* wstrop_from_utf7(PyObject*, PyObject* args) {
  return from_bytes(args, "O&|i:from_utf7", utf7_to_cells, 0);
}

PyObject* wstrop_chr(PyObject*, PyObject* args) {
  long code;
  if (!PyArg_ParseTuple(args, "l:chr", &code)) return nullptr;
  if (code >= 0 && is_surrogate(static_cast<uint32_t>(code))) return raise_convert("zone reserved for UTF-16");
  if (!check_code_point(code)) return nullptr;
  wcell cells[2];
  size_t n = put_code_point(static_cast<uint32_t>(code), cells);
  return wstring_from_cells(cells, n);
}

// The first character: a leading surrogate pair gives its code point, so
// that ord(chr(c)) is c for every c.
PyObject* wstrop_ord(PyObject*, PyObject* args) {
  PyObject* w;
  if (!PyArg_ParseTuple(args, "O!:ord", &wstring_type, &w)) return nullptr;
  size_t n = wstring_length(w);
  size_t i = 0;
  return PyLong_FromUnsignedLong(n ? next_code_point(wstring_cells(w), n, &i) : 0);
}

PyMethodDef wstring_methods[] = {
    {"utf8", wstring_utf8, METH_NOARGS, "utf8() -> bytes: the string in UTF-8."},
    {"ucs2", wstring_ucs2, METH_VARARGS, "ucs2([flags]) -> bytes: each cell as two bytes, high byte first."},
    {"ucs4", wstring_ucs4, METH_VARARGS,
     "ucs4([flags]) -> bytes: each character as four bytes, high byte first."},
    {"utf7", wstring_utf7, METH_VARARGS, "utf7([flags]) -> bytes: the string in UTF-7."},
    {"utf16", wstring_utf16, METH_VARARGS, "utf16([flags]) -> bytes: big-endian UTF-16, as ucs2."},
    {"encode", wstring_encode, METH_VARARGS,
     "encode(name[, flags]) -> bytes: the string in a registered character set."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace vorlane::linguistics
