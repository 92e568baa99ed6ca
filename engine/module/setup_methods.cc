// The set-up methods of sorn: cache_init, lang_init, qual_init,
// init_stopword_table and is_stop_word. All keep the interpreter lock and
// change only module globals.
#include <cstring>
#include <deque>
#include <vector>

#include "engine/module/cache_setup.h"
#include "engine/analysis/ling_calls.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "engine/analysis/stopwords.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

namespace {

bool refuse_inner_nul(const script::TextArg& text, const char* method) {
  if (text.c_length() == text.size()) return false;
  PyErr_Format(PyExc_ValueError, "%s: embedded null character in %s", method, text.name());
  return true;
}

}  // namespace

// cache_init(memory, max_hits, pool_limit) -> bytes the arenas were sized for.
PyObject* sorn_cache_init(PyObject*, PyObject* args) {
  unsigned int memory, hits, pool_limit;
  if (!PyArg_ParseTuple(args, "III:cache_init", &memory, &hits, &pool_limit)) return nullptr;
  uint64_t total = 0;
  if (const char* refusal = cache_setup(memory, hits, pool_limit, &total)) return raise_error(refusal);
  return PyLong_FromUnsignedLongLong(total);
}

// lang_init(name, path) -> the language's index 0..31. A name already in the
// table gives its index; the path is then not looked at.
PyObject* sorn_lang_init(PyObject*, PyObject* args) {
  script::TextArg name("name");
  script::PathArg path;
  if (!PyArg_ParseTuple(args, "O&O&:lang_init", script::text_converter, &name, script::path_converter, &path))
    return nullptr;
  const char* path_text = path.c_str();
  PyObject* result = nullptr;
  if (!refuse_inner_nul(name, "lang_init")) {
    int i = 0;
    for (; i < kMaxLanguages; ++i) {
      language_entry& e = language_table[i];
      const char* used = e.name.load(std::memory_order_acquire);
      if (used) {
        if (strcmp(used, name.data()) == 0) {
          result = PyLong_FromLong(i);
          break;
        }
        continue;
      }
      zop_handle handle;
      if (!ling_calls.lang_init(&handle, path_text)) {
        raise_error("Can't open stemmer");
        break;
      }
      e.handle = handle;
      char* copy = static_cast<char*>(PyMem_RawMalloc(name.size() + 1));
      if (!copy) {
        PyErr_NoMemory();
        break;
      }
      memcpy(copy, name.data(), name.size() + 1);
      // Published last: readers without the lock see a free entry or a
      // complete one.
      e.name.store(copy, std::memory_order_release);
      result = PyLong_FromLong(i);
      break;
    }
    if (i == kMaxLanguages) PyErr_Format(sorn_error, "lang_init: no room for another language (%d in use)", i);
  }
  return result;
}

// qual_init(offsets): exactly 8 ints replace the quality offsets.
PyObject* sorn_qual_init(PyObject*, PyObject* args) {
  PyObject* list;
  if (!PyArg_ParseTuple(args, "O!:qual_init", &PyList_Type, &list)) return nullptr;
  if (PyList_GET_SIZE(list) != 8) return raise_error("wrong number of quality offsets");
  int32_t offsets[8];
  for (int i = 0; i < 8; ++i) {
    PyObject* item = PyList_GET_ITEM(list, i);
    if (!PyLong_Check(item)) {
      PyErr_Format(PyExc_TypeError, "qual_init: quality offset %d is not an int", i);
      return nullptr;
    }
    long v = PyLong_AsLong(item);
    if ((v == -1 && PyErr_Occurred()) || v < INT32_MIN || v > INT32_MAX) {
      PyErr_Clear();
      PyErr_Format(PyExc_OverflowError, "qual_init: quality offset %d is out of range", i);
      return nullptr;
    }
    offsets[i] = static_cast<int32_t>(v);
  }
  memcpy(quality_offsets, offsets, sizeof offsets);
  Py_RETURN_NONE;
}

// init_stopword_table(language, words): the language's stop words.
PyObject* sorn_init_stopword_table(PyObject*, PyObject* args) {
  script::TextArg language("language");
  PyObject* list;
  if (!PyArg_ParseTuple(args, "O&O!:init_stopword_table", script::text_converter, &language, &PyList_Type, &list))
    return nullptr;
  zop_handle handle = find_language(language.data());
  if (!handle.stemmer || refuse_inner_nul(language, "init_stopword_table"))
    return PyErr_Occurred() ? nullptr : raise_error("invalid language");

  std::deque<script::TextArg> words;
  std::vector<const char*> pointers;
  Py_ssize_t n = PyList_GET_SIZE(list);
  for (Py_ssize_t i = 0; i < n; ++i) {
    script::TextArg& word = words.emplace_back("stop word");
    if (!script::text_converter(PyList_GET_ITEM(list, i), &word)) return nullptr;
    if (refuse_inner_nul(word, "init_stopword_table")) return nullptr;
    pointers.push_back(word.data());
  }
  pointers.push_back(nullptr);
  BuildStopWordTable(handle, pointers.data());
  Py_RETURN_NONE;
}

// is_stop_word(word, language) -> 1 or 0.
PyObject* sorn_is_stop_word(PyObject*, PyObject* args) {
  script::TextArg word("word");
  script::TextArg language("language");
  if (!PyArg_ParseTuple(args, "O&O&:is_stop_word", script::text_converter, &word, script::text_converter, &language))
    return nullptr;
  zop_handle handle = find_language(language.data());
  if (!handle.stemmer || language.c_length() != language.size()) return raise_error("invalid language");
  return PyLong_FromLong(IsStopWord(word.data(), static_cast<int32_t>(word.size()), handle));
}

}  // namespace vorlane::engine
