// The script type idoc: sorn.idoc() makes an empty document; update adds
// fields and terms, iterms and get_topics read it, insert stores it.
//
// Every method converts its arguments with the interpreter lock held (lists
// from a snapshot, so that a conversion that changes the script's list
// cannot pull items away under it), then does its engine work without the
// lock.
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "engine/document/classify_table.h"
#include "engine/document/crule.h"
#include "engine/document/idoc.h"
#include "engine/document/index_terms.h"
#include "engine/module/lock_release.h"
#include "engine/db/open_dbs.h"
#include "engine/module/sorn_init_hooks.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "store/mapfile.h"
#include "store/title_record.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

using script::text_converter;
using script::TextArg;

namespace {

// The parser takes only tuples; anything else is a TypeError of the caller.
bool is_tuple(PyObject* item, const char* what, Py_ssize_t i) {
  if (PyTuple_Check(item)) return true;
  PyErr_Format(PyExc_TypeError, "update: %s %zd must be a tuple, not %.100s", what, i, Py_TYPE(item)->tp_name);
  return false;
}

struct idoc_object {
  PyObject_HEAD
  idoc_doc doc;
};

idoc_doc& doc_of(PyObject* self) { return reinterpret_cast<idoc_object*>(self)->doc; }

void idoc_dealloc(PyObject* self) {
  idoc_doc_release(&doc_of(self));
  PyObject_Free(self);
}

// A new reference to a copy of a list, which later conversions may not
// change.
PyObject* snapshot(PyObject* list) { return PyList_GetSlice(list, 0, PyList_GET_SIZE(list)); }

// The converted arguments of update. The TextArgs keep the texts alive
// until the call ends.
struct update_args {
  std::deque<TextArg> texts;
  std::vector<idoc_field_arg> fields;
  std::vector<idoc_term_arg> terms;

  bool convert_fields(PyObject* list) {
    const Py_ssize_t n = PyList_GET_SIZE(list);
    fields.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      TextArg& text = texts.emplace_back("text");
      TextArg& name = texts.emplace_back("field name");
      idoc_field_arg f{};
      PyObject* item = PyList_GET_ITEM(list, i);
      if (!is_tuple(item, "field", i)) return false;
      if (!PyArg_ParseTuple(item, "O&O&iiiii:idoc", text_converter, &text, text_converter,
                            &name, &f.a, &f.b, &f.c, &f.d, &f.e))
        return false;
      f.text = text.data();
      f.length = text.size();
      f.name = name.data();
      fields.push_back(f);
    }
    return true;
  }

  bool convert_terms(PyObject* list) {
    const Py_ssize_t n = PyList_GET_SIZE(list);
    terms.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      TextArg& text = texts.emplace_back("term");
      idoc_term_arg t{};
      PyObject* item = PyList_GET_ITEM(list, i);
      if (!is_tuple(item, "term", i)) return false;
      if (!PyArg_ParseTuple(item, "O&i:idoc", text_converter, &text, &t.weight)) return false;
      t.text = text.data();
      terms.push_back(t);
    }
    return true;
  }
};

PyObject* idoc_update_method(PyObject* self, PyObject* args) {
  PyObject *fields, *terms;
  TextArg language("language");
  if (!PyArg_ParseTuple(args, "O!O!O&:update", &PyList_Type, &fields, &PyList_Type, &terms, text_converter,
                        &language))
    return nullptr;
  const zop_handle handle = find_language(language.data());
  if (!handle.stemmer || language.c_length() != language.size()) return raise_error("invalid language");
  idoc_doc& doc = doc_of(self);
  if (doc.state != IDOC_OPEN) return raise_error("update after insert");

  int full;
  try {
    update_args converted;
    PyObject* field_items = snapshot(fields);
    if (!field_items) return nullptr;
    const bool fields_ok = converted.convert_fields(field_items);
    Py_DECREF(field_items);
    if (!fields_ok) return nullptr;
    PyObject* term_items = snapshot(terms);
    if (!term_items) return nullptr;
    const bool terms_ok = converted.convert_terms(term_items);
    Py_DECREF(term_items);
    if (!terms_ok) return nullptr;

    idoc_areas areas;
    if (!idoc_areas_alloc(&areas)) return PyErr_NoMemory();
    {
      InterpreterRelease unlocked;
      full = idoc_update(&doc, converted.terms.data(), converted.terms.size(), converted.fields.data(),
                         converted.fields.size(), handle, areas);
    }
    idoc_areas_free(&areas);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  if (full) return raise_limit("idoc hashtable full");
  Py_RETURN_NONE;
}

// A writable heap copy of a text argument (up to its first NUL).
char* heap_copy(const TextArg& text) { return strdup(text.data()); }

PyObject* idoc_insert_method(PyObject* self, PyObject* args) {
  int id, extra, date, download_date, flags, doctype, deletion, normalise;
  TextArg title("title"), summary("summary"), publisher("publisher"), url("url"), index_terms("index terms"),
      checksum("checksum");
  PyObject* classifications;
  if (!PyArg_ParseTuple(args, "iO&O&O&O&O&iiiiiO&iiO!:insert", &id, text_converter, &title, text_converter,
                        &summary, text_converter, &publisher, text_converter, &url, text_converter, &index_terms,
                        &extra, &date, &download_date, &flags, &doctype, text_converter, &checksum, &deletion,
                        &normalise, &PyList_Type, &classifications))
    return nullptr;
  idoc_doc& doc = doc_of(self);
  if (doc.state == IDOC_INSERTED) return raise_error("document already inserted");
  idbm_db* db = checked_db(id);
  if (!db) return nullptr;
  if (url.c_length() > kTitleMaxUrl) return raise_error("URL too long");
  if (checksum.size() < 8) {
    PyErr_SetString(PyExc_ValueError, "insert: the checksum must hold 8 bytes");
    return nullptr;
  }

  idoc_record_args a{};
  PyObject* items = PyList_GetSlice(classifications, 0, 4);
  if (!items) return nullptr;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items); ++i) {
    PyObject* item = PyList_GET_ITEM(items, i);
    if (!PyLong_Check(item)) {
      Py_DECREF(items);
      PyErr_Format(PyExc_TypeError, "insert: classification %zd must be an int", i);
      return nullptr;
    }
    a.classifications[i] = static_cast<uint32_t>(PyLong_AsUnsignedLongMask(item));
  }
  Py_DECREF(items);
  const std::string checksum_bytes(checksum.data(), checksum.size());
  memcpy(a.checksum, checksum_bytes.data(), sizeof a.checksum);
  a.extra = static_cast<uint32_t>(extra);
  a.date = date;
  a.download_date = static_cast<uint32_t>(download_date);
  a.flags = static_cast<uint16_t>(flags);
  a.doctype = static_cast<uint16_t>(doctype);
  a.deletion = static_cast<uint8_t>(deletion);
  a.normalise = normalise;

  int result = 0;
  bool copied;
  clear_file_failure();
  {
    InterpreterRelease unlocked;
    a.title = heap_copy(title);
    a.summary = heap_copy(summary);
    a.publisher = heap_copy(publisher);
    a.url = heap_copy(url);
    a.index_terms = heap_copy(index_terms);
    copied = a.title && a.summary && a.publisher && a.url && a.index_terms;
    if (copied) result = idoc_insert(db, &doc, &a);
  }
  PyObject* out = nullptr;
  if (!copied)
    PyErr_NoMemory();
  else if (result == 0)
    raise_store_error("Failed: idbm_index_and_log");
  else if (result < 0)
    raise_error("Too many docs");
  else
    out = Py_BuildValue("(INNNNN)", doc.terms.docid, script::latin1_str(a.title), script::latin1_str(a.summary),
                        script::latin1_str(a.publisher), script::latin1_str(a.url),
                        script::latin1_str(a.index_terms));
  free(a.title);
  free(a.summary);
  free(a.publisher);
  free(a.url);
  free(a.index_terms);
  return out;
}

PyObject* idoc_iterms_method(PyObject* self, PyObject* args) {
  int id, number;
  TextArg name("name"), language("language");
  if (!PyArg_ParseTuple(args, "iO&iO&:iterms", &id, text_converter, &name, &number, text_converter, &language))
    return nullptr;
  idbm_db* db = checked_db(id);
  if (!db) return nullptr;
  const zop_handle handle = find_language(language.data());
  if (!handle.stemmer || language.c_length() != language.size()) return raise_error("invalid language");
  char* terms = nullptr;
  {
    InterpreterRelease unlocked;
    if (db->catalog)
      terms = extract_index_terms(name.data(), number, db->catalog, &doc_of(self).terms, handle, "tf.idf");
  }
  PyObject* out = script::latin1_str(terms ? terms : "");
  free(terms);
  return out;
}

PyObject* idoc_get_topics_method(PyObject* self, PyObject*) {
  if (!classify_table_built()) return raise_error("classification hashtable not initialized");
  idoc_doc& doc = doc_of(self);
  {
    InterpreterRelease unlocked;
    free(doc.topics);
    doc.topics = doc.rule_hits ? crule_topics(doc.rule_hits) : nullptr;
  }
  if (doc.rule_hits && !doc.topics) return PyErr_NoMemory();
  PyObject* list = PyList_New(0);
  for (const uint32_t* t = doc.topics; list && t && *t; ++t) {
    PyObject* id = PyLong_FromUnsignedLong(*t);
    if (!id || PyList_Append(list, id) != 0) Py_CLEAR(list);
    Py_XDECREF(id);
  }
  return list;
}

PyMethodDef idoc_methods[] = {
    {"insert", idoc_insert_method, METH_VARARGS, nullptr},
    {"iterms", idoc_iterms_method, METH_VARARGS, nullptr},
    {"get_topics", idoc_get_topics_method, METH_VARARGS, nullptr},
    {"update", idoc_update_method, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject idoc_type{};

}  // namespace

int idoc_type_ready() {
  static bool ready = false;
  if (ready) return 0;
  PyTypeObject& t = idoc_type;
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&t), 1);  // a static type is never freed
  Py_SET_TYPE(&t, &PyType_Type);
  t.tp_name = "idoc";
  t.tp_basicsize = sizeof(idoc_object);
  t.tp_dealloc = idoc_dealloc;
  t.tp_flags = Py_TPFLAGS_DEFAULT;
  t.tp_methods = idoc_methods;
  if (PyType_Ready(&t) != 0) return -1;
  ready = true;
  return 0;
}

PyObject* sorn_idoc(PyObject*, PyObject*) {
  idoc_object* self = PyObject_New(idoc_object, &idoc_type);
  if (!self) return nullptr;
  self->doc = idoc_doc{};
  bool made;
  {
    InterpreterRelease unlocked;
    made = idoc_doc_init(&self->doc);
  }
  if (!made) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  return reinterpret_cast<PyObject*>(self);
}

}  // namespace vorlane::engine
