#include "tools/lid/lid_model_builder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace vorlane::tools {

namespace {

constexpr int kMaxRank = 400;        // profiles hold 400 n-grams
constexpr int16_t kScoreBase = 100;  // score of a found n-gram: base + (400 - rank)
constexpr int16_t kLow = 0;
constexpr int16_t kMid = 150;
constexpr int16_t kTop = kScoreBase + kMaxRank;

// Decodes UTF-8; false on a malformed sequence.
bool decode_utf8(const std::string& in, std::u32string* out) {
  out->clear();
  for (size_t i = 0; i < in.size();) {
    unsigned char b = static_cast<unsigned char>(in[i]);
    int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    if (extra < 0 || i + extra >= in.size()) return false;
    char32_t cp = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) cp = cp << 6 | (static_cast<unsigned char>(in[i + k]) & 0x3F);
    out->push_back(cp);
    i += extra + 1;
  }
  return true;
}

char32_t latin1_upper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  return c;
}

int16_t rank_score(int rank) { return static_cast<int16_t>(kScoreBase + std::max(0, kMaxRank - rank)); }

using Scores = std::map<uint32_t, std::map<int, int16_t>>;  // key -> entry index -> score

void add_score(Scores& scores, uint32_t key, int index, int16_t score) {
  int16_t& s = scores[key][index];
  s = std::max(s, score);
}

void add_trigrams(Scores& scores, int index, const std::vector<std::u32string>& ngrams) {
  for (size_t rank = 0; rank < ngrams.size(); ++rank) {
    std::u32string g = ngrams[rank];
    for (char32_t& c : g)
      if (c == '_') c = ' ';
    for (size_t i = 0; i + 3 <= g.size(); ++i) {
      char32_t a = g[i], b = g[i + 1], c = g[i + 2];
      if (a > 0xFF || b > 0xFF || c > 0xFF || b == ' ') continue;  // not a scored position
      int16_t score = rank_score(static_cast<int>(rank));
      add_score(scores, lid_trigram_key(a, b, c), index, score);
      // The same trigram at the start of a capitalised word.
      if (a == ' ' && latin1_upper(b) != b) add_score(scores, lid_trigram_key(a, latin1_upper(b), c), index, score);
      if (a != ' ' && latin1_upper(a) != a && i == 0 && g[0] != ' ')
        add_score(scores, lid_trigram_key(latin1_upper(a), b, c), index, static_cast<int16_t>(score / 2));
    }
  }
}

void add_characters(Scores& scores, int index, const std::vector<std::u32string>& ngrams) {
  for (size_t rank = 0; rank < ngrams.size(); ++rank)
    for (char32_t c : ngrams[rank]) {
      if (c < 0x80 || c > 0xFFFF) continue;
      add_score(scores, lid_unit_key(static_cast<uint16_t>(c)), index, rank_score(static_cast<int>(rank)));
    }
}

}  // namespace

std::vector<LidProfile> default_lid_profiles() {
  return {
      {1, "en.lm"},  {3, "fr.lm"},  {4, "es.lm"},  {5, "de.lm"},  {6, "it.lm"},
      {7, "nl.lm"},  {8, "fi.lm"},  {9, "nb.lm"},  {10, "sv.lm"}, {11, "pt.lm"},
      {13, "da.lm"}, {42, "la.lm"}, {12, "ja.lm", true},
  };
}

bool read_profile(const std::string& path, std::vector<std::u32string>* ngrams) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  ngrams->clear();
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string token;
    if (!(fields >> token)) continue;
    std::u32string g;
    if (decode_utf8(token, &g) && !g.empty()) ngrams->push_back(g);
  }
  return true;
}

bool build_lid_model(const std::string& dir, const std::vector<LidProfile>& profiles, lid_language_data* data,
                     std::string* error) {
  Scores scores;
  data->languages.clear();
  for (const LidProfile& p : profiles) {
    std::vector<std::u32string> ngrams;
    if (!read_profile(dir + "/" + p.file, &ngrams)) {
      *error = dir + "/" + p.file + ": cannot be read";
      return false;
    }
    int index = static_cast<int>(data->languages.size());
    data->languages.push_back({p.characters ? 2u : 1u, kLow, kTop, kMid, static_cast<uint8_t>(p.code), 1});
    if (p.characters) add_characters(scores, index, ngrams);
    else add_trigrams(scores, index, ngrams);
  }
  lid_ngram_table& t = data->ngrams;
  t = {};
  for (const auto& [key, run] : scores) {
    t.keys.push_back(key);
    t.run_length.push_back(static_cast<uint16_t>(run.size()));
    t.run_start.push_back(static_cast<uint32_t>(t.entries.size()));
    for (const auto& [index, score] : run) t.entries.push_back({score, static_cast<int16_t>(index)});
  }
  return true;
}

bool write_lid_files(const std::string& profile_dir, const std::string& out_dir, const std::string& table_dir,
                     std::string* error) {
  std::vector<LidProfile> profiles = default_lid_profiles();
  lid_language_data data;
  if (!build_lid_model(profile_dir, profiles, &data, error)) return false;
  std::string lng = out_dir + "/vorlane.lng";
  if (!lid_write_language_file(lng.c_str(), data)) {
    *error = lng + ": cannot be written";
    return false;
  }
  std::string western;
  for (const LidProfile& p : profiles)
    if (!p.characters) western += " " + std::to_string(p.code);
  std::string ini = out_dir + "/vorlane.ini";
  std::ofstream out(ini, std::ios::binary);
  out << "/ Language identification set-up: score floor, then encodings with their languages\n"
      << "-300\n"
      << "15 F0 " << table_dir << "/jis0208.tbl\n"
      << "16 F0 " << table_dir << "/jis0212.tbl\n"
      << "5 L" << western << "\n"
      << "18 L 12\n"
      << "19 L 12\n"
      << "20 L 12\n";
  out.close();
  if (!out) {
    *error = ini + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace vorlane::tools
