#include "engine/text/plain_text.h"

#include <cstdlib>
#include <cstring>

#include "store/cclass.h"

namespace vorlane::engine {

namespace {

void release_body(ParseResult* result) {
  free(const_cast<char*>(result->body));
  result->body = nullptr;
}

struct PlainOutput {
  char* data;
  size_t used;
  size_t capacity;
};

void put(PlainOutput* out, unsigned char c) {
  if (c == ' ' && out->used == 0) return;
  if ((c_iscntrl(c) || c_ispunct(c) || c_isspace(c)) && out->used >= 2 &&
      out->data[out->used - 1] == static_cast<char>(c) &&
      out->data[out->used - 2] == static_cast<char>(c))
    return;
  if (out->used < out->capacity) out->data[out->used++] = static_cast<char>(c);
}

}  // namespace

bool parse_plain_text(const char* text, ParseResult* result) {
  memset(result, 0, sizeof *result);
  if (!text) text = "";
  size_t length = strlen(text);
  PlainOutput out{static_cast<char*>(malloc(length + 1)), 0, length};
  if (!out.data) return false;
  out.data[length] = 0;
  bool space = false;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c; ++c) {
    if (*c == '\t' || *c == '\n' || *c == '\r' || *c == ' ' || *c == 0xA0) {
      space = true;
      continue;
    }
    if (space) {
      space = false;
      put(&out, ' ');
    }
    put(&out, *c);
  }
  out.data[out.used] = 0;
  result->body = out.data;
  result->release = release_body;
  return true;
}

}  // namespace vorlane::engine
