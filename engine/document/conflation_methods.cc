// The sorn methods conflate_text and ctp_process. Both run their engine work
// without the interpreter lock, on areas of their own, and return the type
// they were given (str in, str out; bytes in, bytes out).
#include <cstdlib>

#include "engine/document/conflate.h"
#include "engine/document/double_byte.h"
#include "engine/module/lock_release.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "store/log.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

using script::text_converter;
using script::TextArg;

PyObject* sorn_conflate_text(PyObject*, PyObject* args) {
  TextArg text("text");
  TextArg language("language");
  ConflateFlags f{};
  if (!PyArg_ParseTuple(args, "O&iiiiiiO&:conflate_text", text_converter, &text, &f.phrases, &f.words,
                        &f.stopwords, &f.stems, &f.conflated, &f.lowered, text_converter, &language))
    return nullptr;
  enum { kOk, kNoLanguage, kNoMemory } status = kOk;
  char* out = nullptr;
  size_t n = 0;
  {
    InterpreterRelease unlocked;
    const zop_handle handle = find_language(language.data());
    if (!handle.stemmer) {
      status = kNoLanguage;
    } else {
      const size_t size = conflate_text_output_size(text.size());
      out = static_cast<char*>(malloc(size));
      char* list = static_cast<char*>(malloc(kConflateListSize));
      if (!out || !list) {
        log_msg(LOG_ERROR, "py_conflate_text: malloc for %d bytes failed",
                static_cast<int>(out ? kConflateListSize : size));
        status = kNoMemory;
      } else {
        n = conflate_text_write(text.data(), text.size(), f, handle, out, size, list, kConflateListSize);
      }
      free(list);
    }
  }
  if (status == kNoLanguage) return raise_error("invalid language");
  if (status == kNoMemory) {
    free(out);
    return PyErr_NoMemory();
  }
  PyObject* result = script::text_like(text, out, n);
  free(out);
  return result;
}

PyObject* sorn_ctp_process(PyObject*, PyObject* args) {
  TextArg text("text");
  if (!PyArg_ParseTuple(args, "O&:ctp_process", text_converter, &text)) return nullptr;
  char* out = static_cast<char*>(malloc(kCtpProcessSize));
  if (!out) return PyErr_NoMemory();
  size_t n;
  {
    InterpreterRelease unlocked;
    n = ctp_expand(text.data(), text.size(), out, kCtpProcessSize);
  }
  PyObject* result = script::text_like(text, out, n);
  free(out);
  return result;
}

}  // namespace vorlane::engine
