// The sorn methods of the classification rules: classify_build_table,
// classify_doc and classification_stats.
//
// Each copies what it needs out of its arguments with the interpreter lock
// held and works on the table without it: the table's guard is never waited
// for while the lock is held.
#include <memory>
#include <vector>

#include "engine/document/classify_table.h"
#include "engine/module/lock_release.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "store/log.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

using script::text_converter;
using script::TextArg;

namespace {

// The texts of a list of terms; anything but a list gives no terms. False
// with a TypeError set for an item that is not a text.
bool term_texts(PyObject* list, std::vector<std::string>* out) {
  if (!PyList_Check(list)) return true;
  out->reserve(static_cast<size_t>(PyList_GET_SIZE(list)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    TextArg term("term");
    if (!text_converter(PyList_GET_ITEM(list, i), &term)) return false;
    out->emplace_back(term.data());
  }
  return true;
}

// An int of a rule tuple (topic id or rule id); false with the error set.
bool rule_int(PyObject* item, int64_t* out) {
  const long long v = PyLong_AsLongLong(item);
  if (v == -1 && PyErr_Occurred()) return false;
  *out = v;
  return true;
}

bool rule_def(PyObject* item, crule_def* s) {
  if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 4) {
    s->form = crule_def::kWrongSize;
    return true;
  }
  if (!rule_int(PyTuple_GET_ITEM(item, 0), &s->topic) || !rule_int(PyTuple_GET_ITEM(item, 1), &s->rule)) return false;
  if (s->topic < INT32_MIN || s->topic > UINT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "classify_build_table: topic id does not fit in 32 bits");
    return false;
  }
  return term_texts(PyTuple_GET_ITEM(item, 2), &s->positive) && term_texts(PyTuple_GET_ITEM(item, 3), &s->negative);
}

// A field or term tuple's texts, kept alive while the call runs.
struct FieldText {
  FieldText() : text("text"), name("name") {}
  TextArg text;
  TextArg name;
};

}  // namespace

PyObject* sorn_classify_build_table(PyObject*, PyObject* args) {
  PyObject* list;
  int estimate;
  if (!PyArg_ParseTuple(args, "O!i:classify_build_table", &PyList_Type, &list, &estimate)) return nullptr;
  std::vector<crule_def> rules;
  try {
    rules.reserve(static_cast<size_t>(PyList_GET_SIZE(list)));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
      rules.emplace_back();
      if (!rule_def(PyList_GET_ITEM(list, i), &rules.back())) return nullptr;
    }
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  classify_build_result r;
  {
    InterpreterRelease unlocked;
    r = classify_build(rules.data(), rules.size(), estimate);
  }
  if (r.status == kClassifyCreateFailed) return raise_error("create hashtable failed");
  if (r.status == kClassifyInsertFailed) return raise_error("unable to insert term");
  return Py_BuildValue("(iii)", r.loaded, r.counted, r.stored);
}

PyObject* sorn_classify_doc(PyObject*, PyObject* args) {
  TextArg s1("name");
  TextArg s2("language");
  int i1, i2;
  PyObject* fields;
  PyObject* terms;
  if (!PyArg_ParseTuple(args, "O&iO!O!O&i:classify_doc", text_converter, &s1, &i1, &PyList_Type, &fields,
                        &PyList_Type, &terms, text_converter, &s2, &i2))
    return nullptr;
  if (!classify_table_built()) return raise_error("classification hashtable not initialized");

  std::vector<std::unique_ptr<FieldText>> field_texts, term_texts_;
  try {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(fields); ++i) {
      auto f = std::make_unique<FieldText>();
      PyObject* item = PyList_GET_ITEM(fields, i);
      int unused[5];
      if (!PyTuple_Check(item) ||
          !PyArg_ParseTuple(item, "O&O&iiiii:classify_doc", text_converter, &f->text, text_converter, &f->name,
                            &unused[0], &unused[1], &unused[2], &unused[3], &unused[4])) {
        PyErr_Clear();
        log_msg(LOG_ERROR, "%s: error unpacking field %d", "py_classify_doc", static_cast<int>(i));
        return raise_error("error unpacking field");
      }
      field_texts.push_back(std::move(f));
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(terms); ++i) {
      auto t = std::make_unique<FieldText>();
      PyObject* item = PyList_GET_ITEM(terms, i);
      int unused;
      if (!PyTuple_Check(item) || !PyArg_ParseTuple(item, "O&i:classify_doc", text_converter, &t->text, &unused)) {
        PyErr_Clear();
        log_msg(LOG_ERROR, "%s: error unpacking term %d", "py_classify_doc", static_cast<int>(i));
        return raise_error("error unpacking term");
      }
      term_texts_.push_back(std::move(t));
    }
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }

  uint32_t* topics;
  {
    InterpreterRelease unlocked;
    crule_elem* hits = nullptr;
    for (const auto& f : field_texts)
      classify_field(f->name.data(), f->name.size(), f->text.data(), f->text.size(), &hits);
    for (const auto& t : term_texts_) classify_field("", 0, t->text.data(), t->text.size(), &hits);
    topics = crule_topics(hits);
    crule_free_hits(hits);
  }
  if (!topics) return PyErr_NoMemory();
  size_t n = 0;
  while (topics[n]) ++n;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
  for (size_t i = 0; list && i < n; ++i) {
    PyObject* id = PyLong_FromUnsignedLong(topics[i]);
    if (!id) Py_CLEAR(list);
    else PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), id);
  }
  free(topics);
  return list;
}

PyObject* sorn_classification_stats(PyObject*, PyObject*) {
  int64_t s[7];
  bool have;
  {
    InterpreterRelease unlocked;
    have = classify_stats(s);
  }
  if (!have) return Py_BuildValue("(iiiiiii)", -1, 0, 0, 0, 0, 0, 0);
  return Py_BuildValue("(iiiiiii)", static_cast<int>(s[0]), static_cast<int>(s[1]), static_cast<int>(s[2]),
                       static_cast<int>(s[3]), static_cast<int>(s[4]), static_cast<int>(s[5]),
                       static_cast<int>(s[6]));
}

}  // namespace vorlane::engine
