// Loading and releasing a language identifier: the init file, the language
// file and the linking of language entries to encodings.
#include "linguistics/lid/lid_engine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "linguistics/textparse/path_open.h"
#include "linguistics/textparse/text_parse.h"

namespace vorlane {

namespace {

bool skipped_line(const char* line) { return line[0] == '/' || line[0] == '\n' || line[0] == '['; }

// Drops a CR before the newline, so that CRLF files read like LF files.
void drop_cr(char* line) {
  size_t n = std::strlen(line);
  if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') {
    line[n - 2] = '\n';
    line[n - 1] = '\0';
  } else if (n >= 1 && line[n - 1] == '\r') {
    line[n - 1] = '\0';
  }
}

void drop_newline(char* line) {
  size_t n = std::strlen(line);
  if (n > 0 && line[n - 1] == '\n') line[n - 1] = '\0';
}

// A decimal integer after optional blanks, as the C library reads one
// (0 when there is none). Values beyond int are clamped.
long decimal_value(const char* text) {
  long v = std::strtol(text, nullptr, 10);
  return std::clamp<long>(v, -2147483647L - 1, 2147483647L);
}

// One encoding line (newline removed): appends the encoding and hands the
// line to the mapper.
int parse_encoding_line(lid_engine* engine, char* line) {
  char* p = eat_spaces(line);
  long number = decimal_value(p);
  if (number < 1) return -52;
  if (number > 23) return -55;
  for (const lid_encoding& e : engine->encodings)
    if (e.number == number) return -52;

  lid_encoding encoding;
  encoding.number = static_cast<int>(number);
  char* token = find_and_eat_spaces(p);
  if (token && token[0] == 'L') {
    if (token[1] != ' ' && token[1] != '\t') return -52;
    char* q = token + 1;
    for (;;) {
      while (*q == ' ' || *q == '\t' || *q == '\n' || *q == '\v' || *q == '\f' || *q == '\r') ++q;
      if (*q == '\0' || *q == 'F') break;
      long code = 0;
      int used = readnumber(q, &code);
      if (used < 0) return -52;
      if (code < 1 || code > 42) return -60;
      if (static_cast<int>(encoding.codes.size()) >= kLidMaxCodesPerLine) return -42;
      encoding.codes.push_back(static_cast<int>(code));
      q += used;
    }
  }
  engine->encodings.push_back(std::move(encoding));
  return engine->mapper->InitEncoding(line);
}

int read_init_file(lid_engine* engine, const char* path) {
  FILE* f = open_config_path(path, "r");
  if (!f) return -51;
  std::unique_ptr<FILE, int (*)(FILE*)> closer(f, &std::fclose);
  char line[256];
  bool have_floor = false;
  while (std::fgets(line, sizeof line, f)) {
    drop_cr(line);
    size_t length = std::strlen(line);  // newline counted
    if (skipped_line(line)) continue;
    if (!have_floor) {
      if (length < 3) continue;
      drop_newline(line);
      engine->floor = static_cast<int>(decimal_value(line));
      have_floor = true;
      if (engine->floor >= 0) return -52;
      continue;
    }
    if (length < 2) continue;
    drop_newline(line);
    int rc = parse_encoding_line(engine, line);
    if (rc != 0) return rc;
  }
  return have_floor ? 0 : -52;
}

int link_languages(lid_engine* engine) {
  const std::vector<lid_language>& languages = engine->data.languages;
  for (size_t i = 0; i < languages.size(); ++i)
    for (lid_encoding& e : engine->encodings) {
      if (std::find(e.codes.begin(), e.codes.end(), languages[i].code) == e.codes.end()) continue;
      if (languages[i].kind == 1) e.trigram_models.push_back(static_cast<int>(i));
      else if (languages[i].kind == 2) e.char_models.push_back(static_cast<int>(i));
      else return -54;
      e.linked = 1;
    }
  return 0;
}

int load(lid_engine* engine, const char* init_file, const char* language_file) {
  engine->mapper = new CharMapper;
  if (!engine->mapper) return -3;
  int rc = engine->mapper->Init();
  if (rc == 0) rc = read_init_file(engine, init_file);
  if (rc == 0) rc = lid_read_language_file(language_file, &engine->data);
  if (rc == 0) rc = link_languages(engine);
  return rc;
}

}  // namespace

lid_engine* lid_create(const char* init_file, const char* language_file, int* error) {
  int rc = 0;
  lid_engine* engine = nullptr;
  if (!init_file || !language_file) {
    rc = -28;
  } else {
    try {
      engine = new lid_engine;
      rc = load(engine, init_file, language_file);
    } catch (const std::bad_alloc&) {
      rc = -3;
    }
    if (rc != 0) {
      lid_destroy(engine);
      engine = nullptr;
    }
  }
  if (error) *error = rc;
  return engine;
}

void lid_destroy(lid_engine* engine) {
  if (!engine) return;
  delete engine->mapper;
  delete engine;
}

}  // namespace vorlane
