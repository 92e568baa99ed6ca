// The small sorn methods: process and thread helpers (gethostid, sync,
// getprio, setprio, datasize) and the string helpers that expose the index
// store's hashing to scripts (checksum, hash1, hash2, dirdepth).
#include <cstring>

#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "engine/module/string_hashes.h"
#include "store/checksum.h"
#include "store/heap.h"
#include "store/script/script_text.h"
#include "store/services.h"
#include "store/sthread.h"
#include "store/term_hash.h"

namespace vorlane::engine {

namespace {

// A pair as 8 bytes: the first word, then the second, each little-endian.
PyObject* pair_bytes(uint64_t pair) {
  unsigned char out[8];
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(pair >> (8 * i));
  return script::bytes_result(out, sizeof out);
}

// "<what>(): <text for e>", or the number when the runtime has no text.
PyObject* raise_errno(const char* what, int e) {
  char buf[256];
  const char* text = strerror_r(e, buf, sizeof buf);
  if (text && *text) PyErr_Format(sorn_error, "%s(): %s", what, text);
  else PyErr_Format(sorn_error, "%s(): %d", what, e);
  return nullptr;
}

}  // namespace

PyObject* sorn_gethostid(PyObject*, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":gethostid")) return nullptr;
  return PyLong_FromLong(get_host_id());
}

PyObject* sorn_sync(PyObject*, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":sync")) return nullptr;
  sync_files();
  Py_RETURN_NONE;
}

PyObject* sorn_getprio(PyObject*, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":getprio")) return nullptr;
  return PyLong_FromLong(sthread_getprio(sthread_self()));
}

PyObject* sorn_setprio(PyObject*, PyObject* args) {
  int level;
  if (!PyArg_ParseTuple(args, "i:setprio", &level)) return nullptr;
  if (int e = sthread_setprio(sthread_self(), level); e != 0) return raise_errno("setprio", e);
  Py_RETURN_NONE;
}

PyObject* sorn_datasize(PyObject*, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":datasize")) return nullptr;
  return PyLong_FromUnsignedLong(heap_growth());
}

PyObject* sorn_checksum(PyObject*, PyObject* args) {
  script::TextArg text("text");
  if (!PyArg_ParseTuple(args, "O&:checksum", script::text_converter, &text)) return nullptr;
  return pair_bytes(text_checksum(text.data(), text.size()));
}

PyObject* sorn_hash1(PyObject*, PyObject* args) {
  script::TextArg text("text");
  if (!PyArg_ParseTuple(args, "O&:hash1", script::text_converter, &text)) return nullptr;
  // Up to the first NUL, as the store hashes its C strings.
  return PyLong_FromUnsignedLong(term_hash1(text.data()));
}

PyObject* sorn_hash2(PyObject*, PyObject* args) {
  script::TextArg text("text");
  if (!PyArg_ParseTuple(args, "O&:hash2", script::text_converter, &text)) return nullptr;
  return pair_bytes(hash2_string(text.data(), text.size()));
}

PyObject* sorn_dirdepth(PyObject*, PyObject* args) {
  script::TextArg url("url");
  if (!PyArg_ParseTuple(args, "O&:dirdepth", script::text_converter, &url)) return nullptr;
  return PyLong_FromLong(dir_depth(url.data()));
}

}  // namespace vorlane::engine
