// Builder of the language identifier's files.
//
// A language whose running text Debian ships (its translated manual pages,
// manpage_text.h) gets a model counted from that text, build pages only; a
// language without such text gets its model from an n-gram language profile
// (the libexttextcat-data format: one n-gram of 1 to 5 characters per line,
// UTF-8, most frequent first, '_' marking a word boundary, optionally followed
// by white space and a count), whose ranks stand in for counts.
//
// Western languages become trigram models (kind 1) for ISO 8859-1 text
// (encoding 5). The text is prepared as identification prepares it
// (lid_prepare_units), and the score of a trigram a b c is 100 ln P(c | a b),
// the probability of c after a b in that language, estimated from the counts
// of the trigram, its last two characters and its last character (Witten-Bell
// interpolation), so that the sum over a text is the text's log-likelihood.
// A trigram a language has too little evidence for scores the model's low
// score; every model has the same low, mid and top scores, so the order of
// the rows is the order of the likelihoods.
//
// Japanese becomes a character model (kind 2) for ISO-2022-JP, Shift-JIS and
// EUC-JP (encodings 18, 19, 20): 100 ln P(u) for every character outside
// ASCII that its text holds.
//
// Mid scores are the median average score of the build text in its own
// model, so that typical text of the language scales to 100.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "linguistics/lid/lid_language_file.h"

namespace vorlane::tools {

struct LidSource {
  int code;                 // language code 1..42
  std::string profile;      // profile file name, e.g. "en.lm"
  std::string package;      // Debian package of its manual pages, "" when none
  bool characters = false;  // character model (Japanese) instead of trigrams
};

// The languages of the models, with their codes, profiles and man pages.
std::vector<LidSource> default_lid_sources();

// Reads the n-grams of a profile as code points, most frequent first.
bool read_profile(const std::string& path, std::vector<std::u32string>* ngrams);

// Where one language's model came from, for the build's report.
struct LidSourceReport {
  int code = 0;
  bool from_text = false;  // man pages, else the profile
  size_t sentences = 0;
  size_t bytes = 0;
};

// Builds the language data: from the man pages of each source's package
// where they hold at least min_text_bytes of prose, else from the profile in
// profile_dir. False with a message when a needed profile cannot be read.
bool build_lid_model(const std::string& profile_dir, const std::vector<LidSource>& sources, size_t min_text_bytes,
                     lid_language_data* data, std::vector<LidSourceReport>* report, std::string* error);

// The score floor the init file declares: below every model's low score, so
// a text without scored positions gets no answer.
inline constexpr int kLidScoreFloor = -3000;

// Writes "vorlane.lng" and "vorlane.ini" into out_dir; the init file names
// the mapping tables "jis0208.tbl" and "jis0212.tbl" in table_dir.
bool write_lid_files(const std::string& profile_dir, const std::string& out_dir, const std::string& table_dir,
                     std::string* error);

}  // namespace vorlane::tools
