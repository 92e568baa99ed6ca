#include "engine/query/hit_tuple.h"

#include "engine/db/title_tuple.h"
#include "store/title_record.h"

namespace vorlane::engine {

PyObject* hit_tuple(int32_t score, const unsigned char* record, uint32_t id, uint32_t docid, PyObject* details,
                    int32_t quality) {
  PyObject* t = details ? PyTuple_New(kHitTupleItems) : nullptr;
  if (!t) {
    Py_XDECREF(details);
    if (!PyErr_Occurred()) PyErr_NoMemory();
    return nullptr;
  }
  PyTuple_SET_ITEM(t, 14, details);  // released with the tuple from here on
  title_host host;
  title_unpack(record, &host);
  bool ok = set_title_items(host, t, 1);
  PyObject* classifications = PyList_New(4);
  if (classifications) {
    for (Py_ssize_t i = 0; i < 4; ++i) {
      PyObject* c = PyLong_FromUnsignedLong(host.classifications[i]);
      if (!c) {
        Py_CLEAR(classifications);
        break;
      }
      PyList_SET_ITEM(classifications, i, c);
    }
  }
  PyObject* rest[] = {PyLong_FromLong(score), classifications, PyLong_FromUnsignedLong(id),
                      PyLong_FromUnsignedLong(docid), PyLong_FromLong(quality)};
  const Py_ssize_t at[] = {0, 11, 12, 13, 15};
  for (int i = 0; i < 5; ++i) {
    ok = ok && rest[i] != nullptr;
    if (rest[i]) PyTuple_SET_ITEM(t, at[i], rest[i]);
  }
  if (!ok) Py_CLEAR(t);
  return t;
}

}  // namespace vorlane::engine
