// The language identification service: the one language identifier of the
// process, loaded once and used under a mutex, with the language-name and
// error-text tables. Problems are logged at the warning level (2) and
// reported as 0.
//
// lid_init and lid_free must not run concurrently with each other; an
// identification running while lid_free is called finishes first (both take
// the mutex) and later ones find no engine.
#pragma once

#include <atomic>

#include "linguistics/lid/lid_engine.h"

namespace vorlane {

inline constexpr int kLidTextLimit = 298;  // bytes of a text that are looked at

extern std::atomic<lid_engine*> the_lid_handle;

// 1 when an engine is loaded (or already was: the paths are then ignored), 0
// on failure (logged).
int lid_init(const char* init_file, const char* language_file);

// Identifies the first 298 bytes of the text: the number of rows written
// (0..capacity); 0 for a null text or rows, a length below 3, no engine
// (logged) or an error (logged).
int lid_top_languages(const char* text, int length, lid_result* rows, int capacity);

// As lid_top_languages with two rows, into the four outputs.
int lid_top_two(const char* text, int length, int* first_code, int* first_score, int* second_code,
                int* second_score);

// Frees the engine; a later lid_init loads again. Returns 1.
int lid_free();

const char* lid_language_name(int code);
const char* lid_error_text(int code);
// Logs "lid error %d (%s)" for a negative code; returns 0.
int lid_report_error(int code);

}  // namespace vorlane
