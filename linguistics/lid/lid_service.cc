#include "linguistics/lid/lid_service.h"

#include <algorithm>
#include <cstring>

#include "store/log.h"
#include "store/sthread.h"

namespace vorlane {

std::atomic<lid_engine*> the_lid_handle{nullptr};

namespace {

// Created once, at the first successful lid_init (which never runs beside
// another lid_init or lid_free), and never destroyed. Identifications read it
// only after finding the handle, which is stored after it.
sthread_mutex lid_mutex = nullptr;

}  // namespace

int lid_init(const char* init_file, const char* language_file) {
  if (the_lid_handle.load()) return 1;
  int error = 0;
  lid_engine* engine = lid_create(init_file, language_file, &error);
  if (!engine) {
    lid_report_error(error);
    return 0;
  }
  if (!lid_mutex) sthread_mutex_init(&lid_mutex, nullptr);
  if (!lid_mutex) {
    lid_destroy(engine);
    lid_report_error(-3);
    return 0;
  }
  the_lid_handle.store(engine);
  return 1;
}

int lid_top_languages(const char* text, int length, lid_result* rows, int capacity) {
  if (!text || !rows || length < 3) return 0;
  const int n = std::min(length, kLidTextLimit);
  char copy[kLidTextLimit + 2];
  std::memcpy(copy, text, n);
  copy[n] = '\0';
  if (!the_lid_handle.load()) {
    log_msg(LOG_WARNING, "the_lid_handle not initialized\n");
    return 0;
  }
  sthread_mutex_lock(&lid_mutex);
  lid_engine* engine = the_lid_handle.load();  // freed meanwhile?
  int result = 0;
  if (engine) result = lid_identify(engine, copy, n, rows, capacity, nullptr, 0);
  sthread_mutex_unlock(&lid_mutex);
  if (!engine) {
    log_msg(LOG_WARNING, "the_lid_handle not initialized\n");
    return 0;
  }
  if (result < 1) {
    lid_report_error(result);
    return 0;
  }
  return result;
}

int lid_top_two(const char* text, int length, int* first_code, int* first_score, int* second_code,
                int* second_score) {
  lid_result rows[2];
  int n = lid_top_languages(text, length, rows, 2);
  if (n >= 1) {
    if (first_code) *first_code = rows[0].language;
    if (first_score) *first_score = rows[0].score;
  }
  if (n >= 2) {
    if (second_code) *second_code = rows[1].language;
    if (second_score) *second_score = rows[1].score;
  }
  return n;
}

int lid_free() {
  if (!the_lid_handle.load()) return 1;
  sthread_mutex_lock(&lid_mutex);
  lid_engine* engine = the_lid_handle.exchange(nullptr);
  sthread_mutex_unlock(&lid_mutex);
  lid_destroy(engine);
  return 1;
}

const char* lid_language_name(int code) {
  switch (code) {
    case 1: case 2: case 41: return "english";
    case 3: case 15: return "french";
    case 4: case 17: case 18: case 19: return "spanish";
    case 5: case 14: return "german";
    case 6: return "italian";
    case 7: return "dutch";
    case 8: return "finnish";
    case 9: return "bokmal";
    case 10: return "swedish";
    case 11: case 37: return "portuguese";
    case 12: return "japanese";
    case 13: return "danish";
    case 36: return "chinese";
    case 42: return "latin";
    default: return "unknown";
  }
}

const char* lid_error_text(int code) {
  switch (code) {
    case 0: return "no error";
    case -3: return "out of memory";
    case -28: return "null pointer";
    case -29: return "invalid argument";
    case -42: return "internal buffer overflow";
    case -51: return "init file not found";
    case -52: return "init file error";
    case -53: return "language file not found";
    case -54: return "language file error";
    case -55: return "encoding not recognized";
    case -56: return "mapping file not found";
    case -57: return "mapping file error";
    case -58: return "mapper_not_initialized";
    case -59: return "character_encoding_error";
    case -60: return "language code not recognized";
    default: return "unknown error code";
  }
}

int lid_report_error(int code) {
  if (code < 0) log_msg(LOG_WARNING, "lid error %d (%s)\n", code, lid_error_text(code));
  return 0;
}

}  // namespace vorlane
