// The set-up methods of sorn: cache_init, lang_init, qual_init,
// init_stopword_table and is_stop_word. All keep the interpreter lock and
// change only module globals.
#include "engine/cache_setup.h"
#include "engine/sorn_methods.h"
#include "engine/sorn_module.h"

namespace vorlane::engine {

// cache_init(memory, max_hits, pool_limit) -> bytes the arenas were sized for.
PyObject* sorn_cache_init(PyObject*, PyObject* args) {
  unsigned int memory, hits, pool_limit;
  if (!PyArg_ParseTuple(args, "III:cache_init", &memory, &hits, &pool_limit)) return nullptr;
  uint64_t total = 0;
  if (const char* refusal = cache_setup(memory, hits, pool_limit, &total)) return raise_error(refusal);
  return PyLong_FromUnsignedLongLong(total);
}

}  // namespace vorlane::engine
