#include "host/cmdline.h"

#include <cstdlib>
#include <cstring>

extern "C" char* parseCmdLine(const char* line, int* argc, char** argv, int max_args, int strip_quotes) {
  char* copy = strdup(line);
  if (!copy) return nullptr;
  int count = 0;
  char* p = copy;
  while (*p && count < max_args) {
    while (*p == ' ') ++p;
    if (!*p) break;
    if (*p != '"') {
      argv[count++] = p;
      while (*p && *p != ' ') ++p;
    } else {
      argv[count++] = strip_quotes ? p + 1 : p;
      ++p;
      while (*p && *p != '"') ++p;
      if (*p == '"') {
        if (strip_quotes) {
          *p++ = '\0';
          continue;
        }
        ++p;
        // Whatever follows the closing quote up to the next blank is part of
        // this argument.
        while (*p && *p != ' ') ++p;
      }
    }
    if (*p == ' ') *p++ = '\0';
  }
  *argc = count;
  return copy;
}
