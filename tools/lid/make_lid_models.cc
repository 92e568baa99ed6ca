// make_lid_models PROFILE_DIR OUT_DIR [TABLE_DIR]: writes the language file
// "vorlane.lng" and the init file "vorlane.ini" built from the n-gram
// language profiles in PROFILE_DIR into OUT_DIR. The init file names the
// mapping tables in TABLE_DIR (default OUT_DIR), made by make_mapping_tables.
#include <cstdio>
#include <string>

#include "tools/lid/lid_model_builder.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s PROFILE_DIR OUT_DIR [TABLE_DIR]\n", argv[0]);
    return 2;
  }
  std::string error;
  if (!vorlane::tools::write_lid_files(argv[1], argv[2], argc == 4 ? argv[3] : argv[2], &error)) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  return 0;
}
