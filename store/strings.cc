#include "store/strings.h"

#include <cstring>

#include "store/alloc.h"
#include "store/cclass.h"

namespace vorlane {

char* str_dup(const char* text) {
  size_t n = strlen(text);
  char* copy = static_cast<char*>(s_malloc(n + 1));
  memcpy(copy, text, n + 1);
  return copy;
}

char* span_dup(const char* start, const char* end) {
  size_t n = end > start ? static_cast<size_t>(end - start) : 0;
  char* copy = static_cast<char*>(s_malloc(n + 1));
  memcpy(copy, start, n);
  copy[n] = '\0';
  return copy;
}

static const char* skip_space(const char* p) {
  while (*p && c_isspace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

static const char* word_end(const char* p) {
  while (*p && !c_isspace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

char* first_word_dup(const char* text) {
  const char* start = skip_space(text);
  if (!*start) return nullptr;
  return span_dup(start, word_end(start));
}

char* first_word_copy(char* destination, const char* text) {
  const char* start = skip_space(text);
  const char* end = word_end(start);
  memcpy(destination, start, static_cast<size_t>(end - start));
  destination[end - start] = '\0';
  return destination;
}

char* trim_comment(char* line) {
  if (!*line) return line;
  if (char* hash = strchr(line, '#')) *hash = '\0';
  size_t n = strlen(line);
  while (n > 0 && c_isspace(static_cast<unsigned char>(line[n - 1]))) line[--n] = '\0';
  char* start = line;
  while (*start && c_isspace(static_cast<unsigned char>(*start))) ++start;
  if (start != line) memmove(line, start, strlen(start) + 1);
  return line;
}

char* str_lower(char* text) {
  for (char* p = text; *p; ++p)
    if (c_isupper(static_cast<unsigned char>(*p))) *p = static_cast<char>(*p + 32);
  return text;
}

}  // namespace vorlane
