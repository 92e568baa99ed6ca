#include "tools/zop/english_tagger.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace vorlane::zopw {

namespace {

using TagSet = std::vector<std::string>;  // sorted tag names

// A tag the corpus gave a word in fewer of its occurrences is left out of
// the word's class; fallback weights are coarser and pruned harder.
constexpr double kCorpusMinShare = 0.01;
constexpr double kFallbackMinShare = 0.05;
// A WordNet reading joins a corpus word's tags when its weight is at least
// this share of the word's best WordNet reading.
constexpr double kFallbackNearBest = 0.5;
// A capitalised word whose lower-case form is known is a name only when
// the corpus says so at least this often.
constexpr double kNameMinShare = 0.5;
// A capitalised word's sentence-start class also gets this share of its
// lower-case form's counts: few corpus sentences start with a given word.
constexpr double kStartShare = 0.1;
// The emission mass of a word the corpus lacks, and the one token given to
// each class (spread over its tags by their frequencies).
constexpr double kFallbackMass = 0.5;
constexpr double kClassPrior = 1.0;
// Smoothing of the transition probabilities.
constexpr double kTransitionFloor = 1e-5;
constexpr double kScoreScale = 1000.0;

int32_t score(double p) {
  if (!(p > 0)) p = 1e-30;
  const double s = std::round(kScoreScale * std::log(p));
  if (s > -1) return -1;
  if (s < -1e8) return -100000000;
  return static_cast<int32_t>(s);
}

bool capitalised(const std::string& w) { return !w.empty() && w[0] >= 'A' && w[0] <= 'Z'; }

std::string lower_first(std::string w) {
  if (capitalised(w)) w[0] = static_cast<char>(w[0] - 'A' + 'a');
  return w;
}

TagSet join(const TagSet& a, const TagSet& b) {
  TagSet u;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(u));
  return u;
}

TagSet sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

// The surface forms of a corpus key: bracket names become the brackets;
// placeholders of numbers have none.
std::vector<std::string> surfaces(const std::string& key) {
  if (key == "*LRB*") return {"(", "["};
  if (key == "*RRB*") return {")", "]"};
  if (key == "*LCB*") return {"{"};
  if (key == "*RCB*") return {"}"};
  if (key.size() > 2 && key.front() == '*' && key.back() == '*') return {};
  if (key.find(' ') != std::string::npos) return {};
  return {key};
}

}  // namespace

const std::vector<std::string>& english_tags() {
  static const std::vector<std::string> tags = {
      "NN",  "NNS", "NNP", "NNPS", "VB", "VBP",  "VBZ", "VBD", "VBN", "VBG", "JJ",  "JJR", "JJS",   "RB",
      "RBR", "RBS", "RP",  "DT",   "PDT", "PRP", "PRP$", "IN", "TO",  "CC",  "MD",  "WDT", "WP",    "WP$",
      "WRB", "EX",  "POS", "CD",   "FW", "UH",   "SYM", "LS",  "SENT", "COMMA", "COLON", "LPAR", "RPAR", "QUOTE"};
  return tags;
}

const std::map<std::string, std::string>& english_corpus_tag_map() {
  static const std::map<std::string, std::string> map = {
      {"cc", "CC"},    {"cd", "CD"},     {"det", "DT"},   {"ex", "EX"},     {"fw", "FW"},    {"in", "IN"},
      {"jj", "JJ"},    {"jjr", "JJR"},   {"jjs", "JJS"},  {"lrb", "LPAR"},  {"ls", "LS"},    {"md", "MD"},
      {"nn", "NN"},    {"nnp", "NNP"},   {"nnps", "NNPS"}, {"nns", "NNS"},  {"pdt", "PDT"},  {"pos", "POS"},
      {"pp", "SENT"},  {"ppc", "COMMA"}, {"ppd", "SYM"},  {"ppl", "QUOTE"}, {"ppr", "QUOTE"}, {"pps", "COLON"},
      {"prp", "PRP"},  {"prps", "PRP$"}, {"rb", "RB"},    {"rbr", "RBR"},   {"rbs", "RBS"},  {"rp", "RP"},
      {"rrb", "RPAR"}, {"sym", "SYM"},   {"to", "TO"},    {"uh", "UH"},     {"vb", "VB"},    {"vbd", "VBD"},
      {"vbg", "VBG"},  {"vbn", "VBN"},   {"vbp", "VBP"},  {"vbz", "VBZ"},   {"wdt", "WDT"},  {"wp", "WP"},
      {"wps", "WP$"},  {"wrb", "WRB"}};
  return map;
}

const EnglishGuesser& english_guesser() {
  static const EnglishGuesser g = [] {
    EnglishGuesser e;
    e.suffixes = {
        {"s", {"NNS", "VBZ"}}, {"ss", {"NN"}},         {"ing", {"VBG", "NN", "JJ"}}, {"ed", {"VBD", "VBN", "JJ"}},
        {"ly", {"RB", "JJ"}},  {"er", {"NN", "JJR"}},  {"est", {"JJS"}},             {"ion", {"NN"}},
        {"ions", {"NNS"}},     {"ness", {"NN"}},       {"ment", {"NN"}},             {"ments", {"NNS"}},
        {"ity", {"NN"}},       {"able", {"JJ"}},       {"ible", {"JJ"}},             {"al", {"JJ", "NN"}},
        {"ous", {"JJ"}},       {"ive", {"JJ", "NN"}},  {"ful", {"JJ"}},              {"less", {"JJ"}},
        {"ic", {"JJ"}},        {"ize", {"VB", "VBP"}}, {"izes", {"VBZ"}},            {"ized", {"VBD", "VBN"}},
    };
    e.capital_suffixes = {{"s", {"NNP", "NNPS", "NNS"}}};
    for (const char* d : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}) {
      e.suffixes.push_back({d, {"CD"}});
      e.capital_suffixes.push_back({d, {"CD", "NNP"}});
    }
    e.defaults = {"NN", "JJ"};
    e.capital_defaults = {"NNP"};
    return e;
  }();
  return g;
}

std::vector<std::string> kept_tags(const TagWeights& weights, double min_share) {
  double total = 0, best = -1;
  std::string top;
  for (const auto& [t, w] : weights) {
    total += w;
    if (w > best) best = w, top = t;
  }
  std::vector<std::string> kept;
  for (const auto& [t, w] : weights) {
    if (t == top || (total > 0 && w >= min_share * total)) kept.push_back(t);
  }
  return sorted(kept);
}

bool build_english_tagger(const EnglishTaggerSources& sources, EnglishTagger* out, std::string* error) {
  if (sources.corpus == nullptr || sources.corpus->words.empty()) {
    *error = "no tagged lexicon";
    return false;
  }
  const TaggedLexicon& corpus = *sources.corpus;
  const std::vector<std::string>& tags = english_tags();
  std::map<std::string, int32_t> number;
  for (size_t i = 0; i < tags.size(); ++i) number[tags[i]] = static_cast<int32_t>(i);
  for (const auto& [t, n] : corpus.tag_counts) {
    if (number.count(t) == 0) {
      *error = "the corpus tag " + t + " is not a model tag";
      return false;
    }
  }

  // The tags of every word: the corpus's first, the fallback's for the rest.
  std::map<std::string, TagSet> tags_of;
  auto known = [&](const std::string& w) {
    return corpus.words.count(w) != 0 || sources.fallback.count(w) != 0;
  };
  for (const auto& [key, counts] : corpus.words) {
    TagSet kept = kept_tags(counts, kCorpusMinShare);
    if (capitalised(key) && known(lower_first(key))) {
      double total = 0, names = 0;
      for (const auto& [t, c] : counts) {
        total += c;
        if (t == "NNP" || t == "NNPS") names += c;
      }
      if (names < kNameMinShare * total) {
        TagSet rest;
        for (const std::string& t : kept) {
          if (t != "NNP" && t != "NNPS") rest.push_back(t);
        }
        if (!rest.empty()) kept = rest;
      }
    }
    // A reading the corpus never saw but WordNet counts about as often as
    // the word's best one ("index" as a verb).
    if (auto f = sources.fallback.find(key); f != sources.fallback.end()) {
      double best = 0;
      for (const auto& [t, w] : f->second) best = std::max(best, w);
      TagSet extra;
      for (const auto& [t, w] : f->second) {
        if (counts.count(t) == 0 && w >= kFallbackNearBest * best) extra.push_back(t);
      }
      kept = join(kept, sorted(extra));
    }
    for (const std::string& s : surfaces(key)) tags_of[s] = join(tags_of[s], kept);
  }
  for (const auto& [w, weights] : sources.fallback) {
    if (tags_of.count(w) == 0 && !weights.empty()) tags_of[w] = kept_tags(weights, kFallbackMinShare);
  }
  for (const char* d : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}) tags_of[d] = {"CD"};

  // The class a word is counted in: at a sentence start a capitalised word
  // is looked up with its lower-case form too.
  auto class_of = [&](const std::string& w) {
    TagSet c = tags_of[w];
    if (capitalised(w)) {
      auto low = tags_of.find(lower_first(w));
      if (low != tags_of.end()) c = join(c, low->second);
    }
    return c;
  };
  std::map<TagSet, std::map<std::string, double>> emitted;  // class -> tag -> count
  for (const auto& [key, counts] : corpus.words) {
    const std::vector<std::string> forms = surfaces(key);
    TagSet cls = forms.empty() ? TagSet{"CD"} : class_of(forms[0]);
    for (const auto& [t, c] : counts) {
      if (std::binary_search(cls.begin(), cls.end(), t)) emitted[cls][t] += c;
    }
    // A lower-case word seen at a sentence start, capitalised.
    if (forms.empty() || key[0] < 'a' || key[0] > 'z') continue;
    std::string cap = key;
    cap[0] = static_cast<char>(cap[0] - 'a' + 'A');
    const TagSet start = join(tags_of.count(cap) ? tags_of[cap] : TagSet{}, tags_of[key]);
    if (start == tags_of[key]) continue;
    for (const auto& [t, c] : counts) {
      if (std::binary_search(start.begin(), start.end(), t)) emitted[start][t] += kStartShare * c;
    }
  }
  for (const auto& [w, weights] : sources.fallback) {
    if (corpus.words.count(w) != 0) continue;
    const TagSet cls = class_of(w);
    double total = 0;
    for (const auto& [t, x] : weights) {
      if (std::binary_search(cls.begin(), cls.end(), t)) total += x;
    }
    if (total <= 0) continue;
    for (const auto& [t, x] : weights) {
      if (std::binary_search(cls.begin(), cls.end(), t)) emitted[cls][t] += kFallbackMass * x / total;
    }
  }

  // Every class: the words', the sentence-start unions, the guesser's.
  std::set<TagSet> classes;
  for (const auto& [w, t] : tags_of) {
    classes.insert(t);
    classes.insert(class_of(w));
  }
  const EnglishGuesser& g = english_guesser();
  std::vector<TagSet> lower = {sorted(g.defaults)}, upper = {sorted(g.capital_defaults)};
  for (const SuffixTags& s : g.suffixes) lower.push_back(sorted(s.tags));
  for (const SuffixTags& s : g.capital_suffixes) upper.push_back(sorted(s.tags));
  for (const TagSet& a : upper) {
    classes.insert(a);
    for (const TagSet& b : lower) classes.insert(join(a, b));
  }
  for (const TagSet& b : lower) classes.insert(b);

  HmmDesc& m = out->model;
  m = HmmDesc{};
  m.tags = tags;
  m.comment = "vorlane English tagger model";
  double all = 0;
  for (const auto& [t, n] : corpus.tag_counts) all += n;
  auto tag_count = [&](const std::string& t) {
    auto it = corpus.tag_counts.find(t);
    return it == corpus.tag_counts.end() || it->second < 1 ? 1.0 : it->second;
  };
  std::vector<TagSet> order = {{"NN"}};  // class 0: a word without tags
  for (const TagSet& c : classes) {
    if (c != order[0] && !c.empty()) order.push_back(c);
  }
  for (const TagSet& c : order) {
    HmmClassDesc cd;
    for (const std::string& t : c) {
      cd.symbols += "[" + t + "]";
      const double n = tag_count(t);
      const auto e = emitted.find(c);
      const double seen = e == emitted.end() || e->second.count(t) == 0 ? 0.0 : e->second.at(t);
      cd.members.push_back({number[t], score((seen + kClassPrior * n / all) / n)});
    }
    std::sort(cd.members.begin(), cd.members.end());
    m.classes.push_back(cd);
  }
  // Transitions: rows[t][p] is the score of t after p.
  const double floor_norm = 1.0 + kTransitionFloor * static_cast<double>(tags.size());
  auto smoothed = [&](const std::map<std::string, double>* row, const std::string& t) {
    double p = 0;
    if (row != nullptr) {
      auto it = row->find(t);
      if (it != row->end()) p = it->second;
    } else {
      p = tag_count(t) / all;
    }
    return score((p + kTransitionFloor) / floor_norm);
  };
  m.rows.assign(tags.size(), std::vector<int32_t>(tags.size(), 0));
  for (size_t p = 0; p < tags.size(); ++p) {
    auto it = corpus.transitions.find(tags[p]);
    const std::map<std::string, double>* row = it == corpus.transitions.end() ? nullptr : &it->second;
    for (size_t t = 0; t < tags.size(); ++t) m.rows[t][p] = smoothed(row, tags[t]);
  }
  for (const std::string& t : tags) m.initial.push_back(smoothed(&corpus.initial, t));

  out->lexicon.clear();
  for (const auto& [w, t] : tags_of) {
    if (!t.empty()) out->lexicon.push_back({w, t});
  }
  return true;
}

}  // namespace vorlane::zopw
