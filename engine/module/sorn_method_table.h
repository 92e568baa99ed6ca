// The method table of sorn: {name, function, calling convention}, 57 entries
// in the module's published order.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorlane::engine {

struct SornMethod {
  const char* name;
  PyCFunction function;
  int flags;
};

inline constexpr int kSornMethodCount = 57;
extern const SornMethod sorn_method_table[kSornMethodCount];

}  // namespace vorlane::engine
