// The language identifier: decides which language and character encoding a
// short text most likely uses, from an init file and a language file
// (lid_language_file.h).
//
// Init file (text; lines of at most 255 bytes; a trailing CR is dropped;
// lines beginning with '/', a newline or '[' are skipped):
//   - the first line of 3 characters or more (newline counted) is the score
//     floor, a negative decimal integer (otherwise -52);
//   - every later line of 2 characters or more declares an encoding:
//       <n 1..23> [L <language codes 1..42, at most 150>] [F0|F1 <table>]
//     The whole line also goes to CharMapper::InitEncoding, which loads a
//     mapping table when the token after the number is F0 or F1.
//
// Codes: -3 memory, -28 null pointer, -29 invalid argument, -42 too many
// languages on a line or too many rows, -51 init file missing, -52 init file
// malformed, -53 language file missing, -54 language file malformed, -55
// encoding out of range, -60 language code out of range, and CharMapper's
// -56..-59.
//
// An engine is immutable after lid_create; identification allocates its
// buffers per call. It is not safe for concurrent identification (the
// service serialises calls).
#pragma once

#include <cstdint>
#include <vector>

#include "linguistics/charmap/char_mapper.h"
#include "linguistics/lid/lid_language_file.h"

namespace vorlane {

// One result row, best first.
struct lid_result {
  int32_t language;  // code 1..42
  int32_t type;      // the model's type
  int32_t encoding;  // CharMapper's encoding number
  int32_t score;     // 0..200
};

struct lid_encoding {
  int number = 0;                  // 1..23
  int linked = 0;                  // 1 once a language entry was attached
  std::vector<int> codes;          // the language codes listed after "L"
  std::vector<int> trigram_models; // language-entry indexes of kind 1, ascending
  std::vector<int> char_models;    // language-entry indexes of kind 2, ascending
};

struct lid_engine {
  int floor = 0;  // score floor, negative
  std::vector<lid_encoding> encodings;
  CharMapper* mapper = nullptr;
  lid_language_data data;
};

inline constexpr int kLidMaxTextLength = 50000;
inline constexpr int kLidMaxCodesPerLine = 150;

// Loads an engine; null on failure with the code in *error (0 on success).
lid_engine* lid_create(const char* init_file, const char* language_file, int* error);

// Identifies text[0..length): writes up to capacity rows best first and
// returns their number, or a negative code. With candidates, only those
// encodings are tried.
int lid_identify(lid_engine* engine, const char* text, int length, lid_result* rows, int capacity,
                 const int* candidates, int candidate_count);

void lid_destroy(lid_engine* engine);

// The steps of identification, exposed for tests.

// Converts text from the encoding into units and prepares them (digits and
// separators to blanks, words in capitals lowered). Returns the number of
// units or a negative code.
int lid_normalise_text(const lid_engine& engine, int encoding, const char* text, int length,
                       std::vector<uint16_t>* units);
// The preparation alone, on units already converted: digits and separators
// become blanks, words in capitals are lowered. The model builder prepares
// its text with it, so that it counts what identification will look up.
void lid_prepare_units(std::vector<uint16_t>* units);
// Turns average scores into 0..200.
void lid_scale_scores(const lid_engine& engine, lid_result* rows, int count);
// Sorts rows by score, highest first, with a fixed tie order.
void lid_sort_rows(lid_result* rows, int lo, int hi);

}  // namespace vorlane
