// index_lookup DB: for each line of standard input (a term's bytes), prints
// one line with the docids of the term's postings in the saved database DB,
// found through the store's own lookup (idbm_find), blank-separated; an
// empty line when the term is absent. Tests of indexing use it to check what
// a saved database holds.
#include <cstdio>
#include <cstring>
#include <string>

#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/score_tables.h"
#include "store/slot_arena.h"
#include "store/term_cache.h"
#include "store/term_hash.h"

using namespace vorlane;

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: index_lookup DB < terms\n");
    return 2;
  }
  init_percent_table();
  cache_init_default(kDefaultPostingLimit);
  idbm_db* db = idbm_open(argv[1], kDefaultPostingLimit, 0, 1, nullptr);
  if (!db || (!db->cache_table && !idbm_cache(db, 4 * cache_total_slots()))) {
    fprintf(stderr, "index_lookup: cannot open %s\n", argv[1]);
    return 1;
  }
  std::string line;
  int c;
  while ((c = getchar()) != EOF) {
    if (c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    const hash_pair p = pair_from_u64(term_hash_pair(line.c_str()));
    std::string out;
    if (const uint32_t* rec = idbm_find(db, p.hash1, p.hash2)) {
      const uint32_t count = rec_full_count(rec);
      const uint32_t* postings = rec_full_postings(rec);
      for (uint32_t i = 0; i < count; ++i) {
        if (i) out += ' ';
        out += std::to_string(posting_docid(postings[i]));
      }
      unpin_record(rec);
    }
    printf("%s\n", out.c_str());
    line.clear();
  }
  idbm_close(db);
  return 0;
}
