#include "tools/zop/tagged_lexicon.h"

#include <cstdlib>
#include <fstream>

namespace vorlane::zopw {

namespace {

void trim(std::string* s) {
  size_t b = 0, e = s->size();
  while (b < e && ((*s)[b] == ' ' || (*s)[b] == '\t')) ++b;
  while (e > b && ((*s)[e - 1] == ' ' || (*s)[e - 1] == '\t' || (*s)[e - 1] == '\r')) --e;
  *s = s->substr(b, e - b);
}

template <typename Fn>
bool each_line(const std::string& path, std::string* error, Fn fn) {
  std::ifstream f(path);
  if (!f) {
    *error = "cannot read " + path;
    return false;
  }
  std::string line, key;
  std::vector<std::pair<std::string, double>> pairs;
  size_t number = 0;
  while (std::getline(f, line)) {
    ++number;
    if (line.rfind("---", 0) == 0 || line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (!parse_tag_line(line, &key, &pairs)) {
      *error = path + ":" + std::to_string(number) + ": not a tag line";
      return false;
    }
    if (!fn(key, pairs)) {
      *error = path + ":" + std::to_string(number) + ": " + *error;
      return false;
    }
  }
  return true;
}

}  // namespace

bool parse_tag_line(const std::string& line, std::string* key, std::vector<std::pair<std::string, double>>* pairs) {
  pairs->clear();
  size_t pos = 0;
  if (!line.empty() && line[0] == '"') {
    const size_t close = line.find("\":", 1);
    if (close == std::string::npos) return false;
    *key = line.substr(1, close - 1);
    pos = close + 2;
  } else {
    const size_t colon = line.find(": {");
    if (colon == std::string::npos || colon == 0) return false;
    *key = line.substr(0, colon);
    pos = colon + 1;
  }
  const size_t open = line.find('{', pos), close = line.rfind('}');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  std::string body = line.substr(open + 1, close - open - 1);
  size_t at = 0;
  while (at < body.size()) {
    size_t comma = body.find(',', at);
    if (comma == std::string::npos) comma = body.size();
    std::string item = body.substr(at, comma - at);
    at = comma + 1;
    const size_t colon = item.find(':');
    if (colon == std::string::npos) return false;
    std::string tag = item.substr(0, colon), value = item.substr(colon + 1);
    trim(&tag);
    trim(&value);
    if (tag.empty() || value.empty()) return false;
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    if (end == value.c_str() || *end != 0 || v < 0) return false;
    pairs->emplace_back(tag, v);
  }
  return !pairs->empty();
}

bool read_tagged_lexicon(const std::string& dir, const std::map<std::string, std::string>& tag_map,
                         const std::string& start_tag, TaggedLexicon* out, std::string* error) {
  *out = TaggedLexicon{};
  auto mapped = [&](const std::string& tag, std::string* name) {
    auto it = tag_map.find(tag);
    if (it == tag_map.end()) {
      *error = "unknown tag " + tag;
      return false;
    }
    *name = it->second;
    return true;
  };
  // Counts per file tag, to weigh the rows of merged tags.
  std::map<std::string, double> file_counts;
  std::string name;
  bool ok = each_line(dir + "/words.yml", error, [&](const std::string& word, const auto& pairs) {
    auto& tags = out->words[word];
    for (const auto& [tag, count] : pairs) {
      if (!mapped(tag, &name)) return false;
      tags[name] += count;
      out->tag_counts[name] += count;
      file_counts[tag] += count;
    }
    return true;
  });
  if (!ok) return false;
  std::map<std::string, std::map<std::string, double>> rows;  // file tag -> model tag -> p
  ok = each_line(dir + "/tags.yml", error, [&](const std::string& prev, const auto& pairs) {
    auto& row = rows[prev];
    for (const auto& [tag, p] : pairs) {
      if (!mapped(tag, &name)) return false;
      row[name] += p;
    }
    return true;
  });
  if (!ok) return false;
  if (rows.count(start_tag) == 0) {
    *error = "no row for the sentence start tag " + start_tag;
    return false;
  }
  out->initial = rows[start_tag];
  // A merged tag's row: the rows of its file tags weighed by their counts.
  std::map<std::string, double> weight;
  for (const auto& [prev, row] : rows) {
    if (!mapped(prev, &name)) return false;
    const double w = file_counts.count(prev) ? file_counts[prev] : 0.0;
    if (w <= 0) continue;
    weight[name] += w;
    for (const auto& [next, p] : row) out->transitions[name][next] += w * p;
  }
  for (auto& [prev, row] : out->transitions) {
    double sum = 0;
    for (const auto& [next, p] : row) sum += p;
    if (sum <= 0) continue;
    for (auto& [next, p] : row) p /= sum;
  }
  if (out->words.empty() || out->transitions.empty()) {
    *error = "no tagged words in " + dir;
    return false;
  }
  return true;
}

}  // namespace vorlane::zopw
