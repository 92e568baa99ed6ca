#include "engine/query/hit_tuple.h"

#include "engine/db/title_tuple.h"
#include "store/title_record.h"

namespace vorlane::engine {

PyObject* hit_tuple(int32_t score, const unsigned char* record, uint32_t id, uint32_t docid, PyObject* details,
                    int32_t quality) {
  PyObject* title = title_tuple(record);
  if (!title) {
    Py_XDECREF(details);
    return nullptr;
  }
  title_host host;
  title_unpack(record, &host);
  PyObject* t = Py_BuildValue("(iOOOOOOOOOO[kkkk]kkNi)", score, PyTuple_GET_ITEM(title, 0), PyTuple_GET_ITEM(title, 1),
                              PyTuple_GET_ITEM(title, 2), PyTuple_GET_ITEM(title, 3), PyTuple_GET_ITEM(title, 4),
                              PyTuple_GET_ITEM(title, 5), PyTuple_GET_ITEM(title, 6), PyTuple_GET_ITEM(title, 7),
                              PyTuple_GET_ITEM(title, 8), PyTuple_GET_ITEM(title, 9),
                              static_cast<unsigned long>(host.classifications[0]),
                              static_cast<unsigned long>(host.classifications[1]),
                              static_cast<unsigned long>(host.classifications[2]),
                              static_cast<unsigned long>(host.classifications[3]), static_cast<unsigned long>(id),
                              static_cast<unsigned long>(docid), details, static_cast<int>(quality));
  Py_DECREF(title);
  return t;
}

}  // namespace vorlane::engine
