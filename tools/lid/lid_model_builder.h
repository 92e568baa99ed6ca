// Builder of the language identifier's files from n-gram language profiles
// (the libexttextcat-data format: one n-gram of 1 to 5 characters per line,
// UTF-8, most frequent first, '_' marking a word boundary, optionally
// followed by white space and a count).
//
// Western languages become trigram models (kind 1) for ISO 8859-1 text
// (encoding 5): every trigram of the profile and of its longer n-grams, with
// a score that falls with the n-gram's rank, and the same trigram with its
// word-initial letter in capitals. Japanese becomes a character model (kind
// 2) for ISO-2022-JP, Shift-JIS and EUC-JP (encodings 18, 19, 20): every
// character of its profile outside ASCII.
#pragma once

#include <string>
#include <vector>

#include "linguistics/lid/lid_language_file.h"

namespace vorlane::tools {

struct LidProfile {
  int code;                // language code 1..42
  std::string file;        // profile file name, e.g. "en.lm"
  bool characters = false; // character model (Japanese) instead of trigrams
};

// The languages the public profiles cover, with their codes.
std::vector<LidProfile> default_lid_profiles();

// Reads the n-grams of a profile as code points, most frequent first.
bool read_profile(const std::string& path, std::vector<std::u32string>* ngrams);

// Builds the language data from the profiles in dir; false with a message
// when a profile cannot be read.
bool build_lid_model(const std::string& dir, const std::vector<LidProfile>& profiles, lid_language_data* data,
                     std::string* error);

// Writes "vorlane.lng" and "vorlane.ini" into out_dir; the init file names
// the mapping tables "jis0208.tbl" and "jis0212.tbl" in table_dir.
bool write_lid_files(const std::string& profile_dir, const std::string& out_dir, const std::string& table_dir,
                     std::string* error);

}  // namespace vorlane::tools
