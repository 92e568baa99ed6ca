// index_catalog NEW SOURCE: merges the saved database SOURCE into a new
// database NEW with the store's merge (idbm_merge), which writes NEW's term
// files and its catalog "cat". Tests of indexing use it to get a catalog
// written by the store.
#include <cstdio>

#include "store/db_handle.h"
#include "store/score_tables.h"
#include "store/term_merge.h"

using namespace vorlane;

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: index_catalog NEW SOURCE\n");
    return 2;
  }
  init_percent_table();
  idbm_db* source = idbm_open_plain(argv[2], nullptr);
  if (!source) {
    fprintf(stderr, "index_catalog: cannot open %s\n", argv[2]);
    return 1;
  }
  idbm_db* merged = idbm_newdb(argv[1], source->posting_limit);
  if (!merged) {
    fprintf(stderr, "index_catalog: cannot create %s\n", argv[1]);
    return 1;
  }
  idbm_set_doc_count(merged, source->ndocs);
  const int ok = idbm_merge(1, &source, merged, nullptr);
  const int closed = idbm_close(merged) && idbm_close(source);
  return ok && closed ? 0 : 1;
}
