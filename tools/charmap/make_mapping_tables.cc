// make_mapping_tables DIR: writes CharMapper's mapping tables and a
// configuration file naming them into DIR (which must exist).
#include <cstdio>
#include <string>

#include "tools/charmap/mapping_table_gen.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  std::string error;
  if (!vorlane::tools::write_mapping_tables(argv[1], &error)) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  return 0;
}
