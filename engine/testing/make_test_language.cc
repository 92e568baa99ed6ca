// make_test_language BASE: writes the engine tests' small resource set
// (engine/testing/test_language.h) at BASE.tok, BASE.npr, ... for script tests.
#include <cstdio>
#include <string>

#include "engine/testing/test_language.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_test_language BASE\n");
    return 2;
  }
  std::string error;
  if (!vorlane::engine::write_test_language(argv[1], &error)) {
    std::fprintf(stderr, "make_test_language: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
