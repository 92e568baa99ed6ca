#include "tools/lid/lid_model_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "linguistics/lid/lid_engine.h"
#include "tools/lid/manpage_text.h"

namespace vorlane::tools {

namespace {

constexpr double kScale = 100;               // score = kScale x ln p
// A trigram model's low score: what a trigram gets that its language makes
// less likely than this (its entry is left out) or that no language has.
// Higher floors make shorter runs and faster identification, but cost the
// languages whose model comes from a profile (Latin) their answers.
constexpr double kUnseenTrigram = 1e-5;
// A character model's low score is also what ASCII units and blanks get:
// not much below a typical character, since Japanese text mixes in names and
// options in ASCII.
constexpr double kUnseenCharacter = 1.0 / 2000;
constexpr int16_t kTop = 0;                  // ln 1
constexpr size_t kMaxTextBytes = 4u << 20;   // text read per language
constexpr size_t kMinSentence = 10;          // code points
constexpr uint16_t kBlank = 0x20;

int16_t score_of(double p) {
  double s = std::round(kScale * std::log(p));
  return static_cast<int16_t>(std::max(-32000.0, std::min(0.0, s)));
}
const int16_t kTrigramLow = score_of(kUnseenTrigram);
const int16_t kCharacterLow = score_of(kUnseenCharacter);

// A sentence as ISO 8859-1 units: typographic marks become their ASCII
// forms, zero-width characters go, anything else outside the set a blank.
std::vector<uint16_t> latin1_units(const std::u32string& text) {
  std::vector<uint16_t> u;
  u.reserve(text.size() + 2);
  u.push_back(kBlank);
  for (char32_t c : text) {
    if (c <= 0xFF) u.push_back(static_cast<uint16_t>(c));
    else if (c == 0x2018 || c == 0x2019 || c == 0x201A || c == 0x2032) u.push_back('\'');
    else if (c == 0x201C || c == 0x201D || c == 0x201E || c == 0x2033) u.push_back('"');
    else if ((c >= 0x2010 && c <= 0x2015) || c == 0x2212) u.push_back('-');
    else if (c == 0x2026) u.insert(u.end(), 3, '.');
    else if ((c >= 0x200B && c <= 0x200D) || c == 0xFEFF) continue;
    else u.push_back(kBlank);
  }
  u.push_back(kBlank);
  lid_prepare_units(&u);
  return u;
}

std::vector<uint16_t> bmp_units(const std::u32string& text) {
  std::vector<uint16_t> u;
  for (char32_t c : text)
    if (c <= 0xFFFF) u.push_back(static_cast<uint16_t>(c));
  lid_prepare_units(&u);
  return u;
}

// Counts of one language at the positions identification scores: a
// non-blank unit b between a and c, all below 256.
struct TrigramCounts {
  std::unordered_map<uint32_t, uint64_t> trigrams;  // a b c
  std::vector<uint64_t> context2 = std::vector<uint64_t>(65536);   // a b
  std::vector<uint32_t> distinct2 = std::vector<uint32_t>(65536);  // distinct c after a b
  std::vector<uint64_t> bigrams = std::vector<uint64_t>(65536);    // b c
  std::vector<uint64_t> context1 = std::vector<uint64_t>(256);     // b
  std::vector<uint32_t> distinct1 = std::vector<uint32_t>(256);    // distinct c after b
  std::vector<uint64_t> unigrams = std::vector<uint64_t>(256);     // c
  uint64_t total = 0;

  void add(uint16_t a, uint16_t b, uint16_t c, uint64_t weight) {
    trigrams[lid_trigram_key(a, b, c)] += weight;
    context2[a << 8 | b] += weight;
    bigrams[b << 8 | c] += weight;
    context1[b] += weight;
    unigrams[c] += weight;
    total += weight;
  }
  void add_units(const std::vector<uint16_t>& u) {
    for (size_t p = 1; p + 1 < u.size(); ++p)
      if (u[p] != kBlank && u[p - 1] < 256 && u[p] < 256 && u[p + 1] < 256) add(u[p - 1], u[p], u[p + 1], 1);
  }
  void finish() {
    for (const auto& [key, n] : trigrams) ++distinct2[key >> 8];
    for (uint32_t bc = 0; bc < 65536; ++bc)
      if (bigrams[bc]) ++distinct1[bc >> 8];
  }

  // P(c | a b), Witten-Bell interpolated down to the characters.
  double probability(uint32_t key) const {
    uint32_t a = key >> 16, b = key >> 8 & 0xFF, c = key & 0xFF;
    double p = (static_cast<double>(unigrams[c]) + 1) / (static_cast<double>(total) + 256);
    if (context1[b]) p = (static_cast<double>(bigrams[b << 8 | c]) + distinct1[b] * p) / (context1[b] + distinct1[b]);
    uint32_t ab = a << 8 | b;
    if (context2[ab]) {
      auto it = trigrams.find(key);
      double n = it == trigrams.end() ? 0 : static_cast<double>(it->second);
      p = (n + distinct2[ab] * p) / (context2[ab] + distinct2[ab]);
    }
    return p;
  }
};

struct CharacterCounts {
  std::unordered_map<uint16_t, uint64_t> units;  // outside ASCII
  uint64_t total = 0;
  void add_units(const std::vector<uint16_t>& u) {
    for (uint16_t c : u)
      if (c >= 0x80) {
        ++units[c];
        ++total;
      }
  }
  double probability(uint16_t u) const {
    auto it = units.find(u);
    double n = it == units.end() ? 0 : static_cast<double>(it->second);
    return (n + 0.5) / (static_cast<double>(total) + 0.5 * static_cast<double>(units.size()));
  }
};

// Pseudo-counts from a profile: an n-gram of rank r weighs 2000 / (r + 1);
// the profile's n-grams are lower case, so a word-initial trigram is also
// counted capitalised, at a quarter of the weight.
char32_t latin1_upper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  return c;
}

void add_profile(const std::vector<std::u32string>& ngrams, TrigramCounts* counts) {
  for (size_t rank = 0; rank < ngrams.size(); ++rank) {
    std::u32string g = ngrams[rank];
    for (char32_t& c : g)
      if (c == '_') c = ' ';
    if (std::any_of(g.begin(), g.end(), [](char32_t c) { return c > 0xFF; })) continue;
    uint64_t weight = 2000 / (rank + 1) + 1;
    if (g.size() == 1) {
      counts->unigrams[g[0]] += weight;
      counts->total += weight;
    } else if (g.size() == 2 && g[0] != ' ') {
      counts->bigrams[g[0] << 8 | g[1]] += weight;
      counts->context1[g[0]] += weight;
    }
    for (size_t i = 0; i + 3 <= g.size(); ++i) {
      char32_t a = g[i], b = g[i + 1], c = g[i + 2];
      if (b == ' ') continue;
      counts->trigrams[lid_trigram_key(a, b, c)] += weight;
      counts->context2[a << 8 | b] += weight;
      if (a == ' ' && latin1_upper(b) != b) {
        counts->trigrams[lid_trigram_key(a, latin1_upper(b), c)] += weight / 4 + 1;
        counts->context2[a << 8 | latin1_upper(b)] += weight / 4 + 1;
      }
    }
  }
  counts->finish();
}

// One language during the build.
struct Model {
  LidSource source;
  std::vector<std::vector<uint16_t>> sentences;  // prepared build text
  TrigramCounts trigrams;
  CharacterCounts characters;
};

int16_t model_score(const Model& m, uint32_t key) {
  return score_of(m.trigrams.probability(key));
}

// Average score of a prepared text, as identification computes it.
double text_average(const Model& m, const std::vector<uint16_t>& u,
                    const std::unordered_map<uint32_t, int16_t>& character_scores) {
  int64_t sum = 0;
  int positions = 0;
  for (size_t p = 1; p + 1 < u.size(); ++p) {
    if (u[p] == kBlank) continue;
    ++positions;
    if (m.source.characters) continue;
    bool keyed = u[p - 1] < 256 && u[p] < 256 && u[p + 1] < 256;
    int16_t s = keyed ? model_score(m, lid_trigram_key(u[p - 1], u[p], u[p + 1])) : kTrigramLow;
    sum += std::max(s, kTrigramLow);
  }
  if (m.source.characters)
    for (uint16_t c : u) {
      auto it = character_scores.find(lid_unit_key(c));
      sum += it == character_scores.end() ? kCharacterLow : it->second;
    }
  return positions ? static_cast<double>(sum) / positions : 0;
}

int16_t median_average(const Model& m, const std::unordered_map<uint32_t, int16_t>& character_scores) {
  std::vector<double> averages;
  for (size_t i = 0; i < m.sentences.size(); i += 1 + m.sentences.size() / 2000)
    if (m.sentences[i].size() >= 40) averages.push_back(text_average(m, m.sentences[i], character_scores));
  if (averages.empty()) return static_cast<int16_t>((m.source.characters ? kCharacterLow : kTrigramLow) / 4);
  std::nth_element(averages.begin(), averages.begin() + averages.size() / 2, averages.end());
  return static_cast<int16_t>(std::lround(averages[averages.size() / 2]));
}

}  // namespace

std::vector<LidSource> default_lid_sources() {
  return {
      {1, "en.lm", "manpages"},      {3, "fr.lm", "manpages-fr"},  {4, "es.lm", "manpages-es"},
      {5, "de.lm", "manpages-de"},   {6, "it.lm", "manpages-it"},  {7, "nl.lm", "manpages-nl"},
      {8, "fi.lm", "manpages-fi"},   {9, "nb.lm", "manpages-nb"},  {10, "sv.lm", "manpages-sv"},
      {11, "pt.lm", "manpages-pt-br"}, {13, "da.lm", "manpages-da"}, {42, "la.lm", ""},
      {12, "ja.lm", "manpages-ja", true},
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
    std::u32string g = code_points(token);
    if (!g.empty()) ngrams->push_back(g);
  }
  return true;
}

bool build_lid_model(const std::string& profile_dir, const std::vector<LidSource>& sources, size_t min_text_bytes,
                     lid_language_data* data, std::vector<LidSourceReport>* report, std::string* error) {
  std::vector<Model> models(sources.size());
  report->assign(sources.size(), {});
  for (size_t i = 0; i < sources.size(); ++i) {
    Model& m = models[i];
    m.source = sources[i];
    LidSourceReport& r = (*report)[i];
    r.code = m.source.code;
    std::vector<std::string> text;
    if (!m.source.package.empty()) {
      script_kind kind = m.source.characters ? script_kind::japanese : script_kind::latin;
      text = man_sentences(m.source.package, false, kind, m.source.code == 1, kMinSentence, kMaxTextBytes);
      for (const std::string& s : text) r.bytes += s.size();
    }
    if (r.bytes >= min_text_bytes) {
      r.from_text = true;
      r.sentences = text.size();
      for (const std::string& s : text) {
        std::u32string cps = code_points(s);
        m.sentences.push_back(m.source.characters ? bmp_units(cps) : latin1_units(cps));
        if (m.source.characters) m.characters.add_units(m.sentences.back());
        else m.trigrams.add_units(m.sentences.back());
      }
      m.trigrams.finish();
      continue;
    }
    std::vector<std::u32string> ngrams;
    if (!read_profile(profile_dir + "/" + m.source.profile, &ngrams)) {
      *error = profile_dir + "/" + m.source.profile + ": cannot be read";
      return false;
    }
    r.bytes = r.sentences = 0;
    if (m.source.characters) {
      for (size_t rank = 0; rank < ngrams.size(); ++rank)
        for (char32_t c : ngrams[rank])
          if (c >= 0x80 && c <= 0xFFFF) {
            m.characters.units[static_cast<uint16_t>(c)] += 2000 / (rank + 1) + 1;
            m.characters.total += 2000 / (rank + 1) + 1;
          }
    } else {
      add_profile(ngrams, &m.trigrams);
    }
  }

  // Every key some model has seen; each trigram model scores it unless it
  // would score no better than the low score.
  struct Entry {
    uint32_t key;
    int16_t index;
    int16_t score;
  };
  std::vector<Entry> entries;
  std::vector<uint32_t> trigram_keys;
  for (const Model& m : models)
    for (const auto& [key, n] : m.trigrams.trigrams) trigram_keys.push_back(key);
  std::sort(trigram_keys.begin(), trigram_keys.end());
  trigram_keys.erase(std::unique(trigram_keys.begin(), trigram_keys.end()), trigram_keys.end());
  std::unordered_map<uint32_t, int16_t> character_scores;
  for (size_t i = 0; i < models.size(); ++i) {
    const Model& m = models[i];
    if (m.source.characters) {
      character_scores.clear();
      for (const auto& [unit, n] : m.characters.units) {
        int16_t s = score_of(m.characters.probability(unit));
        if (s <= kCharacterLow) continue;  // rarer than an unseen character scores
        character_scores[lid_unit_key(unit)] = s;
        entries.push_back({lid_unit_key(unit), static_cast<int16_t>(i), s});
      }
      // The character pass also runs over blanks, which are no positions of
      // the average: a blank scores nothing, so the spaces around a word in
      // ASCII cost no more than the word itself.
      character_scores[lid_unit_key(kBlank)] = kTop;
      entries.push_back({lid_unit_key(kBlank), static_cast<int16_t>(i), kTop});
      continue;
    }
    for (uint32_t key : trigram_keys) {
      int16_t s = model_score(m, key);
      if (s > kTrigramLow) entries.push_back({key, static_cast<int16_t>(i), s});
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.key != b.key ? a.key < b.key : a.index < b.index; });

  // One mid score for all trigram models (the median of their languages'
  // medians), one for each character model.
  std::vector<int16_t> trigram_mids;
  std::vector<int16_t> mids(models.size());
  for (size_t i = 0; i < models.size(); ++i) {
    mids[i] = median_average(models[i], character_scores);
    if (!models[i].source.characters && (*report)[i].from_text) trigram_mids.push_back(mids[i]);
  }
  int16_t trigram_mid = kTrigramLow / 4;
  if (!trigram_mids.empty()) {
    std::sort(trigram_mids.begin(), trigram_mids.end());
    trigram_mid = trigram_mids[trigram_mids.size() / 2];
  }

  data->languages.clear();
  for (size_t i = 0; i < models.size(); ++i) {
    const Model& m = models[i];
    if (m.source.characters)
      data->languages.push_back({2u, kCharacterLow, kTop, mids[i], static_cast<uint8_t>(m.source.code), 1});
    else
      data->languages.push_back({1u, kTrigramLow, kTop, trigram_mid, static_cast<uint8_t>(m.source.code), 1});
  }
  lid_ngram_table& t = data->ngrams;
  t = {};
  for (const Entry& e : entries) {
    if (t.keys.empty() || t.keys.back() != e.key) {
      t.keys.push_back(e.key);
      t.run_length.push_back(0);
      t.run_start.push_back(static_cast<uint32_t>(t.entries.size()));
    }
    ++t.run_length.back();
    t.entries.push_back({e.score, e.index});
  }
  return true;
}

bool write_lid_files(const std::string& profile_dir, const std::string& out_dir, const std::string& table_dir,
                     std::string* error) {
  std::vector<LidSource> sources = default_lid_sources();
  lid_language_data data;
  std::vector<LidSourceReport> report;
  if (!build_lid_model(profile_dir, sources, 20000, &data, &report, error)) return false;
  for (const LidSourceReport& r : report)
    if (r.from_text) std::printf("language %d: %zu sentences, %zu bytes of man pages\n", r.code, r.sentences, r.bytes);
    else std::printf("language %d: n-gram profile\n", r.code);
  std::printf("%zu keys, %zu scores\n", data.ngrams.keys.size(), data.ngrams.entries.size());
  std::string lng = out_dir + "/vorlane.lng";
  if (!lid_write_language_file(lng.c_str(), data)) {
    *error = lng + ": cannot be written";
    return false;
  }
  std::string western;
  for (const LidSource& s : sources)
    if (!s.characters) western += " " + std::to_string(s.code);
  std::string ini = out_dir + "/vorlane.ini";
  std::ofstream out(ini, std::ios::binary);
  out << "/ Language identification set-up: score floor, then encodings with their languages\n"
      << kLidScoreFloor << "\n"
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
