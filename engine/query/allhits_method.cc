// sorn.query_allhits: every document of one database that matches a query,
// with its title tuple.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/db/get_titles.h"
#include "engine/module/lock_release.h"
#include "engine/db/open_dbs.h"
#include "engine/query/allhits.h"
#include "engine/query/hit_heap.h"
#include "engine/module/sorn_methods.h"
#include "engine/module/sorn_module.h"
#include "engine/db/title_tuple.h"
#include "store/alloc.h"
#include "store/script/script_text.h"
#include "store/title_record.h"

namespace vorlane::engine {

namespace {

// Title records read above this size come from page-granular allocation.
constexpr uint64_t kHeapRecordLimit = 1048576;

// The record buffer of n titles.
struct TitleRecords {
  unsigned char (*records)[kTitleRecordSize] = nullptr;
  bool paged = false;
  ~TitleRecords() {
    if (!records) return;
    if (paged) vfree(records, 0);
    else std::free(records);
  }
  bool allocate(uint64_t n) {
    const uint64_t bytes = n * kTitleRecordSize;
    paged = bytes > kHeapRecordLimit;
    void* block = paged ? valloc(bytes) : std::malloc(bytes);
    records = static_cast<unsigned char (*)[kTitleRecordSize]>(block);
    return records != nullptr;
  }
};

// A title tuple followed by the docid.
PyObject* allhits_tuple(const unsigned char* record, uint32_t docid) {
  PyObject* title = title_tuple(record);
  if (!title) return nullptr;
  PyObject* t = PyTuple_New(kTitleTupleItems + 1);
  if (!t) {
    Py_DECREF(title);
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < kTitleTupleItems; ++i) {
    PyObject* item = PyTuple_GET_ITEM(title, i);
    Py_INCREF(item);
    PyTuple_SET_ITEM(t, i, item);
  }
  Py_DECREF(title);
  PyObject* id = PyLong_FromUnsignedLong(docid);
  if (!id) {
    Py_DECREF(t);
    return nullptr;
  }
  PyTuple_SET_ITEM(t, kTitleTupleItems, id);
  return t;
}

}  // namespace

PyObject* sorn_query_allhits(PyObject*, PyObject* args) {
  script::TextArg language("language"), text("text");
  int id;
  if (!PyArg_ParseTuple(args, "O&O&i:query_allhits", script::text_converter, &language, script::text_converter,
                        &text, &id))
    return nullptr;
  idbm_db* db = checked_db(id);
  if (!db) return nullptr;
  const zop_handle handle = find_language(language.data());
  if (!handle.stemmer) return raise_error("invalid language");

  const uint64_t m = max_hits;
  const uint64_t heap_entries = hit_area_entries(static_cast<uint32_t>(m)) * 3;
  int n = 0;
  bool no_memory = false;
  uint32_t* docids = nullptr;
  TitleRecords titles;
  {
    InterpreterRelease unlocked;
    std::unique_ptr<HitHeap[]> heap(new (std::nothrow) HitHeap[heap_entries]);
    std::unique_ptr<uint32_t[]> list(new (std::nothrow) uint32_t[m * 2 + 10]);
    std::unique_ptr<char[]> copy(new (std::nothrow) char[text.c_length() + 1]);
    if (!heap || !list || !copy) {
      no_memory = true;
    } else {
      std::memcpy(copy.get(), text.data(), text.c_length());
      copy[text.c_length()] = '\0';
      QueryBuffers buffers{};
      buffers.heap = heap.get();
      buffers.heap_left = static_cast<int32_t>(heap_entries);
      buffers.list_base = buffers.list_position = list.get();
      buffers.list_size = buffers.list_room = static_cast<int32_t>(m * 2 + 10);
      n = query_each2(db, copy.get(), &buffers, handle, &docids);
    }
    heap.reset();
    list.reset();
    copy.reset();
    if (n > 0) {
      if (!titles.allocate(static_cast<uint64_t>(n))) {
        no_memory = true;
      } else {
        const std::vector<idbm_db*> dbs(kMaxTitlesPerCall, db);
        for (int done = 0; done < n; done += kMaxTitlesPerCall) {
          const int batch = n - done < kMaxTitlesPerCall ? n - done : kMaxTitlesPerCall;
          get_titles(dbs.data(), reinterpret_cast<const int32_t*>(docids + done), titles.records + done, batch);
        }
      }
    }
  }
  std::unique_ptr<uint32_t, decltype(&std::free)> owned(docids, &std::free);
  if (no_memory) return PyErr_NoMemory();
  if (n < 0) return raise_error("failed: query_each2");
  PyObject* result = PyList_New(n > 0 ? n : 0);
  if (!result) return nullptr;
  for (int i = 0; i < n; ++i) {
    PyObject* t = allhits_tuple(titles.records[i], docids[i]);
    if (!t) {
      Py_DECREF(result);
      return nullptr;
    }
    PyList_SET_ITEM(result, i, t);
  }
  return result;
}

}  // namespace vorlane::engine
