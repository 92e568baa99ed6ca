// The sorn methods for page and text preparation: parse_html, parse_plain,
// urlquote, urlunquote, htmlquote and xmlquote.
//
// Texts come in as str (Latin-1) or bytes and go back as the type given.
#include <cstring>

#include "engine/text/html_extract.h"
#include "engine/module/lock_release.h"
#include "engine/text/plain_text.h"
#include "engine/text/quoting.h"
#include "engine/module/sorn_methods.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

using script::text_converter;
using script::TextArg;

namespace {

// A result string of the argument's type, None for null.
PyObject* text_or_none(const TextArg& like, const char* s) {
  if (!s) Py_RETURN_NONE;
  return script::text_like(like, s, strlen(s));
}

// A list of tuples built by `item(i)` (a new reference, or null on error).
template <typename Item>
PyObject* tuple_list(int count, Item item) {
  PyObject* list = PyList_New(count);
  if (!list) return nullptr;
  for (int i = 0; i < count; ++i) {
    PyObject* entry = item(i);
    if (!entry) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, i, entry);
  }
  return list;
}

PyObject* html_result(const TextArg& like, const ParseResult& r) {
  auto s = [&](const char* text) { return text_or_none(like, text); };
  return Py_BuildValue(
      "(NNNNNNN)", s(r.title), s(r.summary), s(r.body),
      tuple_list(r.text_count,
                 [&](int i) { return Py_BuildValue("(NN)", s(r.texts[i]), s(r.labels[i])); }),
      tuple_list(r.link_count,
                 [&](int i) {
                   return Py_BuildValue("(NNN)", s(r.link_urls[i]), s(r.link_texts[i]),
                                        s(r.link_thirds[i]));
                 }),
      tuple_list(r.image_count,
                 [&](int i) {
                   return Py_BuildValue("(NNiiN)", s(r.image_urls[i]), s(r.image_alts[i]),
                                        r.image_widths[i], r.image_heights[i],
                                        s(r.image_fifths[i]));
                 }),
      tuple_list(r.header_count, [&](int i) {
        return Py_BuildValue("(NN)", s(r.header_names[i]), s(r.header_contents[i]));
      }));
}

// Parses (string) or (string, mode); mode defaults to 1.
bool parse_text_and_mode(PyObject* args, TextArg* text, int* mode, const char* one_format,
                         const char* two_format) {
  *mode = 1;
  if (PyTuple_GET_SIZE(args) <= 1) return PyArg_ParseTuple(args, one_format, text_converter, text);
  return PyArg_ParseTuple(args, two_format, text_converter, text, mode);
}

// An output area for a quoting function; the interpreter's memory error
// when it cannot be had.
class Area {
 public:
  explicit Area(size_t size) : size_(size), data_(static_cast<char*>(PyMem_Malloc(size))) {
    if (!data_) PyErr_NoMemory();
  }
  ~Area() { PyMem_Free(data_); }
  Area(const Area&) = delete;
  Area& operator=(const Area&) = delete;
  char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  size_t size_;
  char* data_;
};

// The argument itself when the output is the same text, else a new string.
PyObject* same_or_new(const TextArg& text, const char* out) {
  size_t n = strlen(out);
  PyObject* original = text.original();
  if (n == text.size() && memcmp(out, text.data(), n) == 0 &&
      (PyUnicode_CheckExact(original) || PyBytes_CheckExact(original)))
    return Py_NewRef(original);
  return script::text_like(text, out, n);
}

bool area_size(size_t n, size_t factor, size_t* size) {
  if (n > (PY_SSIZE_T_MAX - 1) / factor) {
    PyErr_NoMemory();
    return false;
  }
  *size = factor * n + 1;
  return true;
}

using EntityQuote = char* (*)(const char*, char*, size_t, int*);

PyObject* entity_quote_method(PyObject* args, const char* format, EntityQuote quote) {
  TextArg text("string");
  if (!PyArg_ParseTuple(args, format, text_converter, &text)) return nullptr;
  size_t size;
  // Every replacement is at most six bytes, so the output always fits.
  if (!area_size(text.c_length(), 6, &size)) return nullptr;
  Area area(size);
  if (!area.data()) return nullptr;
  quote(text.data(), area.data(), area.size(), nullptr);
  return same_or_new(text, area.data());
}

}  // namespace

PyObject* sorn_parse_html(PyObject*, PyObject* args) {
  TextArg text("text");
  TextArg base("base");
  if (!PyArg_ParseTuple(args, "O&O&:parse_html", text_converter, &text, text_converter, &base))
    return nullptr;
  ParseResult r;
  bool ok;
  {
    InterpreterRelease unlocked;
    ok = parse_html_text(text.data(), base.data(), &r);
  }
  if (!ok) return PyErr_NoMemory();
  PyObject* result = html_result(text, r);
  r.release(&r);
  return result;
}

PyObject* sorn_parse_plain(PyObject*, PyObject* args) {
  TextArg text("text");
  if (!PyArg_ParseTuple(args, "O&:parse_plain", text_converter, &text)) return nullptr;
  ParseResult r;
  bool ok;
  {
    InterpreterRelease unlocked;
    ok = parse_plain_text(text.data(), &r);
  }
  if (!ok) return PyErr_NoMemory();
  PyObject* result = script::text_like(text, r.body, strlen(r.body));
  r.release(&r);
  return result;
}

PyObject* sorn_urlquote(PyObject*, PyObject* args) {
  TextArg text("string");
  int mode;
  if (!parse_text_and_mode(args, &text, &mode, "O&:urlquote", "O&i:urlquote")) return nullptr;
  size_t size;
  if (!area_size(text.c_length(), 3, &size)) return nullptr;
  Area area(size);
  if (!area.data()) return nullptr;
  url_quote(text.data(), mode, area.data(), area.size(), nullptr);
  return same_or_new(text, area.data());
}

PyObject* sorn_urlunquote(PyObject*, PyObject* args) {
  TextArg text("string");
  int mode;
  if (!parse_text_and_mode(args, &text, &mode, "O&:urlunquote", "O&i:urlunquote")) return nullptr;
  size_t size;
  if (!area_size(text.c_length(), 1, &size)) return nullptr;
  Area area(size);
  if (!area.data()) return nullptr;
  size_t n = url_unquote(text.data(), mode, area.data(), area.size(), nullptr);
  return script::text_like(text, area.data(), n);
}

PyObject* sorn_htmlquote(PyObject*, PyObject* args) {
  return entity_quote_method(args, "O&:htmlquote", html_quote);
}

PyObject* sorn_xmlquote(PyObject*, PyObject* args) {
  return entity_quote_method(args, "O&:xmlquote", xml_quote);
}

}  // namespace vorlane::engine
