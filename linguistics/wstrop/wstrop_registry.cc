// Conversions through the registries: decode(name, bytes[, flags]) and the
// wstring method encode(name[, flags]). A name is first looked up in
// aliases; then "ISO_8859-1:1987" is built in, a table in decodings /
// encodings comes next, a function in decoding_functions /
// encoding_functions after it, and any other name is an unknown set.
#include <climits>

#include "linguistics/wstrop/wstring_type.h"
#include "linguistics/wstrop/wstrop_module.h"
#include "store/script/script_text.h"

namespace vorlane::linguistics {

using script::TextArg;
using script::text_converter;

Registries registries;

int registries_ready() {
  PyObject** dicts[] = {&registries.encodings, &registries.decodings, &registries.encoding_functions,
                        &registries.decoding_functions, &registries.aliases};
  for (PyObject** d : dicts)
    if (!*d && !(*d = PyDict_New())) return -1;
  static const char* const latin1_aliases[] = {"ISO-IR-100", "ISO_8859-1", "LATIN1", "L1", "IBM819", "CP819"};
  for (const char* alias : latin1_aliases) {
    PyObject* name = PyUnicode_FromString(kLatin1Name);
    int rc = name ? PyDict_SetItemString(registries.aliases, alias, name) : -1;
    Py_XDECREF(name);
    if (rc != 0) return -1;
  }
  return 0;
}

namespace {

// The character set a script names, after aliases (a new reference to a
// str; nullptr with an exception).
PyObject* resolve_name(const TextArg& given) {
  PyObject* name = script::latin1_str(given.data(), given.size());
  if (!name) return nullptr;
  PyObject* alias = PyDict_GetItemWithError(registries.aliases, name);
  if (!alias) {
    if (PyErr_Occurred()) Py_CLEAR(name);
    return name;
  }
  PyObject* target = nullptr;
  if (PyUnicode_Check(alias)) {
    target = Py_NewRef(alias);
  } else if (PyBytes_Check(alias)) {
    target = script::latin1_str(PyBytes_AS_STRING(alias), static_cast<size_t>(PyBytes_GET_SIZE(alias)));
  } else {
    return name;  // not a string: no alias
  }
  Py_DECREF(name);
  return target;
}

bool is_latin1(PyObject* name) { return PyUnicode_CompareWithASCIIString(name, kLatin1Name) == 0; }

// The entry under name in a registry when it passes the check (a new
// reference), or nullptr (an exception set when the lookup failed).
PyObject* registered(PyObject* registry, PyObject* name, int (*check)(PyObject*)) {
  PyObject* entry = PyDict_GetItemWithError(registry, name);
  if (!entry || !check(entry)) return nullptr;
  return Py_NewRef(entry);  // held: a lookup may run script code that changes the registry
}

int dict_check(PyObject* o) { return PyDict_Check(o); }

// After the built-in set: a table under the name in tables is applied by
// from_table(table); else a function under it in functions is run by
// call(function) and its result must pass result_ok (else TypeError
// wrong_result); else the set is unknown.
template <typename FromTable, typename Call>
PyObject* convert_registered(PyObject* tables, PyObject* functions, PyObject* name, FromTable from_table,
                             Call call, int (*result_ok)(PyObject*), const char* wrong_result) {
  if (PyObject* table = registered(tables, name, dict_check)) {
    PyObject* result = from_table(table);
    Py_DECREF(table);
    return result;
  }
  if (PyErr_Occurred()) return nullptr;
  PyObject* function = registered(functions, name, PyCallable_Check);
  if (!function) return PyErr_Occurred() ? nullptr : raise_convert("Unknown character set");
  PyObject* result = call(function);
  Py_DECREF(function);
  if (result && !result_ok(result)) {
    Py_DECREF(result);
    PyErr_SetString(PyExc_TypeError, wrong_result);
    return nullptr;
  }
  return result;
}

// The value a conversion table holds under an integer key: 1 when found
// (*value set; an integer beyond a long long is clamped, so it stays out of
// every range), 0 when the table has no entry, -1 with an exception (a value
// that is not an integer is a TypeError; kind names the table in it).
int table_value(PyObject* table, unsigned long key, const char* kind, long long* value) {
  PyObject* k = PyLong_FromUnsignedLong(key);
  if (!k) return -1;
  PyObject* v = PyDict_GetItemWithError(table, k);
  Py_DECREF(k);
  if (!v) return PyErr_Occurred() ? -1 : 0;
  if (!PyLong_Check(v)) {
    PyErr_Format(PyExc_TypeError, "%s table maps %lu to %.200s, not an integer", kind, key, Py_TYPE(v)->tp_name);
    return -1;
  }
  int overflow = 0;
  *value = PyLong_AsLongLongAndOverflow(v, &overflow);
  if (overflow) *value = overflow < 0 ? LLONG_MIN : LLONG_MAX;
  return *value == -1 && PyErr_Occurred() ? -1 : 1;
}

// ---- decoding ----

// The cell value a decoding table gives each byte, looked up once per byte
// value: kUnresolved until looked up, kMissing when the table has no entry.
class DecodingTable {
 public:
  static constexpr int32_t kUnresolved = -2;
  static constexpr int32_t kMissing = -1;

  explicit DecodingTable(PyObject* table) : table_(table) {
    for (int32_t& v : value_) v = kUnresolved;
  }

  // The code point of byte b, kMissing, or kUnresolved with an exception.
  int32_t lookup(unsigned char b) {
    if (value_[b] == kUnresolved) value_[b] = resolve(b);
    return value_[b];
  }

 private:
  int32_t resolve(unsigned char b) {
    long long cp;
    int found = table_value(table_, b, "decoding", &cp);
    if (found <= 0) return found < 0 ? kUnresolved : kMissing;
    return check_code_point(cp) ? static_cast<int32_t>(cp) : kUnresolved;
  }

  PyObject* table_;
  int32_t value_[256];
};

PyObject* decode_latin1(const TextArg& text) {
  PyObject* w = wstring_new(text.size());
  if (!w) return nullptr;
  const auto* src = reinterpret_cast<const unsigned char*>(text.data());
  wcell* cells = wstring_cells(w);
  for (size_t i = 0; i < text.size(); ++i) cells[i] = src[i];
  return w;
}

PyObject* decode_table(PyObject* table, const TextArg& text, int flags) {
  DecodingTable map(table);
  const auto* src = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) {
    int32_t cp = map.lookup(src[i]);
    if (cp == DecodingTable::kUnresolved) return nullptr;
    if (cp == DecodingTable::kMissing) {
      if (!(flags & kSkipInvalid)) return raise_convert("Invalid character in source");
      cp = src[i];
    }
    count += put_code_point(static_cast<uint32_t>(cp), nullptr);
  }
  PyObject* w = wstring_new(count);
  if (!w) return nullptr;
  wcell* out = wstring_cells(w);
  for (size_t i = 0; i < n; ++i) {
    int32_t cp = map.lookup(src[i]);  // all resolved by the counting pass
    out += put_code_point(static_cast<uint32_t>(cp == DecodingTable::kMissing ? src[i] : cp), out);
  }
  return w;
}

PyObject* decode_named(PyObject* name, const TextArg& text, int flags) {
  if (is_latin1(name)) return decode_latin1(text);
  return convert_registered(
      registries.decodings, registries.decoding_functions, name,
      [&](PyObject* table) { return decode_table(table, text, flags); },
      [&](PyObject* function) {
        return PyObject_CallFunction(function, "y#i", text.data(), static_cast<Py_ssize_t>(text.size()), flags);
      },
      [](PyObject* result) -> int { return wstring_check(result); },
      "conversion function did not return a wide string");
}

// ---- encoding ----

// The byte a encoding table gives each character, remembered in a small
// direct-mapped cache so that a repeated character is looked up once.
class EncodingTable {
 public:
  static constexpr int kMissing = -1;
  static constexpr int kFailed = -2;  // an exception is set

  explicit EncodingTable(PyObject* table) : table_(table) {
    for (Slot& s : cache_) s.cp = UINT32_MAX;
  }

  int lookup(uint32_t cp) {
    Slot& s = cache_[cp & 0xFF];
    if (s.cp != cp) {
      int byte = resolve(cp);
      if (byte == kFailed) return kFailed;
      s = Slot{cp, byte};
    }
    return s.byte;
  }

 private:
  struct Slot {
    uint32_t cp;
    int byte;
  };

  int resolve(uint32_t cp) {
    long long byte;
    int found = table_value(table_, cp, "encoding", &byte);
    if (found <= 0) return found < 0 ? kFailed : kMissing;
    if (byte < 0 || byte > 255) {
      PyErr_Format(PyExc_ValueError, "encoding table maps %u to %lld, not a byte value 0..255",
                   static_cast<unsigned>(cp), byte);
      return kFailed;
    }
    return static_cast<int>(byte);
  }

  PyObject* table_;
  Slot cache_[256];
};

// One byte at most per character: fills a bytes object of n bytes, then
// trims it. byte_of(cp) gives the byte, kMissing or kFailed.
template <typename ByteOf>
PyObject* encode_characters(PyObject* self, int flags, ByteOf byte_of) {
  const wcell* cells = wstring_cells(self);
  size_t n = wstring_length(self);
  PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n));
  if (!bytes) return nullptr;
  auto* out = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes));
  size_t written = 0;
  for (size_t i = 0; i < n;) {
    int byte = byte_of(next_code_point(cells, n, &i));
    if (byte == EncodingTable::kFailed) {
      Py_DECREF(bytes);
      return nullptr;
    }
    if (byte == EncodingTable::kMissing) {
      if (flags & kSkipInvalid) continue;
      Py_DECREF(bytes);
      return raise_convert("Unconvertible wide character");
    }
    out[written++] = static_cast<unsigned char>(byte);
  }
  if (written != n && _PyBytes_Resize(&bytes, static_cast<Py_ssize_t>(written)) != 0) return nullptr;
  return bytes;
}

PyObject* encode_named(PyObject* self, PyObject* name, int flags) {
  if (is_latin1(name)) {
    return encode_characters(self, flags, [](uint32_t cp) {
      return cp < 256 ? static_cast<int>(cp) : EncodingTable::kMissing;
    });
  }
  return convert_registered(
      registries.encodings, registries.encoding_functions, name,
      [&](PyObject* table) {
        EncodingTable map(table);
        return encode_characters(self, flags, [&map](uint32_t cp) { return map.lookup(cp); });
      },
      [&](PyObject* function) { return PyObject_CallFunction(function, "Oi", self, flags); },
      [](PyObject* result) -> int { return PyBytes_Check(result); },
      "conversion function did not return a string");
}

}  // namespace

PyObject* wstrop_decode(PyObject*, PyObject* args) {
  TextArg given("name");
  TextArg text("bytes");
  int flags = 0;
  if (!PyArg_ParseTuple(args, "O&O&|i:decode", text_converter, &given, text_converter, &text, &flags))
    return nullptr;
  PyObject* name = resolve_name(given);
  if (!name) return nullptr;
  PyObject* w = decode_named(name, text, flags);
  Py_DECREF(name);
  return w;
}

PyObject* wstring_encode(PyObject* self, PyObject* args) {
  TextArg given("name");
  int flags = 0;
  if (!PyArg_ParseTuple(args, "O&|i:encode", text_converter, &given, &flags)) return nullptr;
  PyObject* name = resolve_name(given);
  if (!name) return nullptr;
  PyObject* bytes = encode_named(self, name, flags);
  Py_DECREF(name);
  return bytes;
}

}  // namespace vorlane::linguistics
