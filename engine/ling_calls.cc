#include "engine/ling_calls.h"

#include <cstdio>

namespace vorlane {

// The linguistic library's entries. Declared weak while the library is not
// part of every build: an absent one answers as a library without that
// resource would.
int32_t fst_lookup(const char* word, int32_t length, char* output, int32_t size, int32_t mode, const void* fsm,
                   const void* dictionary, int32_t reserved) __attribute__((weak));
int32_t dict_lookup(const char* word, const char* tag_filter, char* output, int32_t size, int32_t flags,
                    int32_t unused, const void* dictionary) __attribute__((weak));
int32_t fst_error_message(int32_t code, char* buffer, int32_t size) __attribute__((weak));
int zop_lang_init(zop_handle* out, const char* path) __attribute__((weak));
char* zop_get_phrases(const char* text, char* out, zop_handle handle) __attribute__((weak));

namespace engine {

namespace {

int lang_init_entry(zop_handle* out, const char* path) { return zop_lang_init ? zop_lang_init(out, path) : 0; }

char* get_phrases_entry(const char* text, char* out, zop_handle handle) {
  return zop_get_phrases ? zop_get_phrases(text, out, handle) : out;
}

int32_t lookup_entry(const char* word, int32_t length, char* output, int32_t size, int32_t mode, const void* fsm,
                     const void* dictionary, int32_t reserved) {
  // -11: no such net.
  return fst_lookup ? fst_lookup(word, length, output, size, mode, fsm, dictionary, reserved) : -11;
}

int32_t dict_lookup_entry(const char* word, const char* tag_filter, char* output, int32_t size, int32_t flags,
                          int32_t unused, const void* dictionary) {
  return dict_lookup ? dict_lookup(word, tag_filter, output, size, flags, unused, dictionary) : 0;
}

int32_t error_message_entry(int32_t code, char* buffer, int32_t size) {
  if (fst_error_message) return fst_error_message(code, buffer, size);
  if (size > 0) snprintf(buffer, static_cast<size_t>(size), "error %d", code);
  return 0;
}

}  // namespace

const LingCalls ling_calls_default = {lang_init_entry, get_phrases_entry, lookup_entry, dict_lookup_entry,
                                      error_message_entry};
LingCalls ling_calls = ling_calls_default;

}  // namespace engine
}  // namespace vorlane
