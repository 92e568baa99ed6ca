// The sorn methods that give scripts the language identifier (init_lid,
// determine_top_lang, get_language_name, free_lid), the stem of one word
// (get_stem) and a disk's free space (get_disk_free).
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "engine/analysis/german_stem.h"
#include "engine/module/lock_release.h"
#include "engine/analysis/parse_state.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "engine/analysis/stem_output.h"
#include "engine/analysis/token_passes.h"
#include "linguistics/lid/lid_service.h"
#include "store/script/script_text.h"

namespace vorlane::engine {

namespace {

inline constexpr int kTopLanguageRows = 20;
inline constexpr size_t kStemArea = 1024;
inline constexpr size_t kStemTokensCopy = 81919;
inline constexpr size_t kStemTokensArea = 163840;

// The stemming a get_stem method name asks for.
enum class stem_method { language_default, shortest, all, stem_tokens };

bool stem_method_of(const char* name, stem_method* out) {
  static const struct {
    const char* name;
    stem_method method;
  } methods[] = {{"default", stem_method::language_default},
                 {"zop_shortest_stem", stem_method::shortest},
                 {"zop_all_stems", stem_method::all},
                 {"StemTokens", stem_method::stem_tokens}};
  for (const auto& m : methods)
    if (strcmp(name, m.name) == 0) {
      *out = m.method;
      return true;
    }
  return false;
}

// The first stem of the first word through the token pipeline.
void stem_through_tokens(const char* word, size_t length, char* out, size_t size, const zop_handle& handle) {
  ParseState state = TokenizeTextCopy(word, std::min(length, kStemTokensCopy), 1, handle);
  std::unique_ptr<char[]> area(new (std::nothrow) char[kStemTokensArea]());
  if (area) {
    StemTokensDefault(state, area.get(), kStemTokensArea, handle);
    const size_t n = strnlen(area.get(), size - 1);
    memcpy(out, area.get(), n);
    out[n] = '\0';
  }
  FreeParseState(state);
}

PyObject* raise_errno(int error) {
  char buf[256];
  const char* text = strerror_r(error, buf, sizeof buf);
  if (text && *text) return raise_error(text);
  PyErr_Format(sorn_error, "%d", error);
  return nullptr;
}

}  // namespace

PyObject* sorn_init_lid(PyObject*, PyObject* args) {
  script::PathArg init_file, language_file;
  if (!PyArg_ParseTuple(args, "O&O&:init_lid", script::path_converter, &init_file, script::path_converter,
                        &language_file))
    return nullptr;
  const int ok = lid_init(init_file.c_str(), language_file.c_str());
  if (!ok) return raise_error("language id lib initialization failed");
  Py_RETURN_NONE;
}

PyObject* sorn_determine_top_lang(PyObject*, PyObject* args) {
  script::TextArg text("text");
  if (!PyArg_ParseTuple(args, "O&:determine_top_lang", script::text_converter, &text)) return nullptr;
  lid_result rows[kTopLanguageRows];
  int n;
  {
    InterpreterRelease unlocked;
    const int length = static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
    n = lid_top_languages(text.data(), length, rows, kTopLanguageRows);
  }
  if (n < 0) n = 0;
  PyObject* list = PyList_New(0);
  if (!list) return nullptr;
  for (int i = 0; i < n; ++i) {
    PyObject* row = Py_BuildValue("(si)", lid_language_name(rows[i].language), rows[i].score);
    if (!row || PyList_Append(list, row) != 0) {
      Py_XDECREF(row);
      Py_DECREF(list);
      return nullptr;
    }
    Py_DECREF(row);
  }
  return list;
}

PyObject* sorn_get_language_name(PyObject*, PyObject* args) {
  int code;
  if (!PyArg_ParseTuple(args, "i:get_language_name", &code)) return nullptr;
  const char* name;
  {
    InterpreterRelease unlocked;
    name = lid_language_name(code);
  }
  return PyUnicode_FromString(name);
}

PyObject* sorn_free_lid(PyObject*, PyObject*) {
  lid_free();
  Py_RETURN_NONE;
}

PyObject* sorn_get_stem(PyObject*, PyObject* args) {
  script::TextArg word("word"), language("language"), fallback("fallback"), method_name("method");
  if (!PyArg_ParseTuple(args, "O&O&O&|O&:get_stem", script::text_converter, &word, script::text_converter, &language,
                        script::text_converter, &fallback, script::text_converter, &method_name))
    return nullptr;
  stem_method method = stem_method::language_default;
  if (method_name.given() && !stem_method_of(method_name.data(), &method)) {
    PyObject* name = script::latin1_str(method_name.data(), method_name.size());
    if (name) PyErr_Format(sorn_error, "Unknown stem method: %U", name);
    Py_XDECREF(name);
    return nullptr;
  }
  char out[kStemArea];
  out[0] = '\0';
  {
    InterpreterRelease unlocked;
    zop_handle handle = find_language(language.data());
    if (!handle.stemmer) handle = find_language(fallback.data());
    if (method == stem_method::stem_tokens) {
      stem_through_tokens(word.data(), word.c_length(), out, sizeof out, handle);
    } else {
      const int32_t option = method == stem_method::shortest ? kStemShortest
                             : method == stem_method::all     ? kStemAll
                                                              : handle.stem_option;
      german_stem(word.data(), out, sizeof out, handle, option, language.data());
    }
  }
  return script::text_like(word, out, strlen(out));
}

PyObject* sorn_get_disk_free(PyObject*, PyObject* args) {
  script::PathArg path_arg;
  if (!PyArg_ParseTuple(args, "O&:get_disk_free", script::path_converter, &path_arg)) return nullptr;
  const std::string path(path_arg.c_str(), path_arg.size());
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return raise_errno(errno);
  if (!S_ISDIR(st.st_mode)) {
    PyObject* shown = script::path_result(path.c_str());
    if (shown) PyErr_Format(sorn_error, "\"%U\" is not a directory", shown);
    Py_XDECREF(shown);
    return nullptr;
  }
  struct statvfs fs;
  if (statvfs(path.c_str(), &fs) != 0) return raise_errno(errno);
  const double free_bytes = static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
  const int drive = path.size() > 1 && path[1] == ':' ? static_cast<signed char>(path[0]) : -1;
  return Py_BuildValue("(id)", drive, free_bytes);
}

}  // namespace vorlane::engine
