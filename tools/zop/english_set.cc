// english-set: builds the default English resource set from public word
// lists: a word list (wamerican's /usr/share/dict/american-english, UTF-8)
// and WordNet's lemma indexes and exception lists (wordnet-base,
// /usr/share/wordnet). Writes OUTDIR/english.{tok,npr,clg,is,hmm,usr}.
//
//   english-set WORDLIST WORDNET_DIR OUTDIR
//
// The stemmer relates words to their WordNet base forms (english_stems.h):
// the word itself when it is a lemma, the bases of the exception lists
// (mice, mouse) and the regular inflections of every lemma (running, run),
// weighed by WordNet's sense counts (cntlist.rev); words outside the lexicon
// get their stems from the guesser net the file carries beside it
// (stem_guesser.h), by the regular endings of English. The class
// lexicon gives each word the tags of those relations (NN, NNS, VB, VBZ,
// VBD, VBN, VBG, JJ, JJR, JJS, RB, NNP for capitalised words) or, for
// function words and punctuation, the tags of the table below; unknown words
// get tags from their endings (the guesser). The tagger model's scores are
// set by hand from the usual order of English word classes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tools/fst/fst_pairs.h"
#include "tools/fst/fst_writer.h"
#include "tools/zop/grouper_net.h"
#include "tools/zop/english_stems.h"
#include "tools/zop/guesser_net.h"
#include "tools/zop/hmm_writer.h"
#include "tools/zop/stem_guesser.h"
#include "tools/zop/tokenizer_net.h"

namespace {

using namespace vorlane;
using Set = std::unordered_set<std::string>;
using Multi = std::unordered_map<std::string, std::vector<std::string>>;

// UTF-8 to Latin-1; false for a character beyond 255.
bool to_latin1(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    auto c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < in.size()) {
      out->push_back(static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(in[++i]) & 0x3F)));
    } else {
      return false;
    }
  }
  return true;
}

bool lemma_word(const std::string& w) {
  if (w.empty()) return false;
  for (unsigned char c : w) {
    if (!((c >= 'a' && c <= 'z') || c == '-' || c == '\'' || c >= 0xC0)) return false;
  }
  return true;
}

Set read_index(const std::string& path) {
  Set lemmas;
  std::ifstream f(path);
  std::string line;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == ' ') continue;
    std::string lemma = line.substr(0, line.find(' '));
    if (lemma_word(lemma)) lemmas.insert(lemma);
  }
  return lemmas;
}

Multi read_exceptions(const std::string& path) {
  Multi exc;
  std::ifstream f(path);
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream in(line);
    std::string word, base;
    in >> word;
    while (in >> base) {
      if (lemma_word(word) && lemma_word(base)) exc[word].push_back(base);
    }
  }
  return exc;
}

struct Rule {
  const char* suffix;
  const char* replace;
  const char* tag;
};

const Rule kNounRules[] = {{"s", "", "NNS"},     {"ses", "s", "NNS"},   {"xes", "x", "NNS"}, {"zes", "z", "NNS"},
                           {"ches", "ch", "NNS"}, {"shes", "sh", "NNS"}, {"men", "man", "NNS"}, {"ies", "y", "NNS"}};
const Rule kVerbRules[] = {{"s", "", "VBZ"},   {"ies", "y", "VBZ"}, {"es", "e", "VBZ"},  {"es", "", "VBZ"},
                           {"ed", "e", "VBD"}, {"ed", "", "VBD"},   {"ing", "e", "VBG"}, {"ing", "", "VBG"},
                           {"ied", "y", "VBD"}};
const Rule kAdjRules[] = {{"er", "", "JJR"},  {"est", "", "JJS"},  {"er", "e", "JJR"},
                          {"est", "e", "JJS"}, {"ier", "y", "JJR"}, {"iest", "y", "JJS"}};

// Function words and punctuation with their tags.
const std::map<std::string, std::vector<std::string>>& closed_words() {
  static const std::map<std::string, std::vector<std::string>> table = [] {
    std::map<std::string, std::vector<std::string>> t;
    auto add = [&t](const char* tag, std::initializer_list<const char*> words) {
      for (const char* w : words) t[w].push_back(tag);
    };
    add("DT", {"the", "a", "an", "this", "that", "these", "those", "every", "each", "some", "any", "no", "all",
               "both", "either", "neither", "another"});
    add("PRP", {"i", "you", "he", "she", "it", "we", "they", "me", "him", "her", "us", "them", "myself",
                "yourself", "himself", "herself", "itself", "ourselves", "themselves"});
    add("PRP$", {"my", "your", "his", "her", "its", "our", "their"});
    add("IN", {"of", "in", "on", "at", "by", "for", "with", "from", "about", "into", "over", "under", "after",
               "before", "between", "through", "during", "without", "within", "against", "among", "above", "below",
               "since", "until", "upon", "near", "across", "behind", "beyond", "like", "than", "as", "because", "if",
               "while", "although", "though", "whether", "that", "onto", "toward", "towards", "per", "via"});
    add("TO", {"to"});
    add("CC", {"and", "or", "but", "nor", "yet", "so"});
    add("MD", {"can", "could", "will", "would", "shall", "should", "may", "might", "must", "ca", "wo"});
    add("VBZ", {"is", "has", "does", "'s"});
    add("VBP", {"are", "have", "do", "am", "'re", "'ve", "'m"});
    add("VBD", {"was", "were", "had", "did"});
    add("VBN", {"been", "done", "had"});
    add("VB", {"be", "have", "do"});
    add("VBG", {"being", "having", "doing"});
    add("WDT", {"which", "whatever", "whichever"});
    add("WP", {"who", "whom", "what", "whoever"});
    add("WP$", {"whose"});
    add("WRB", {"when", "where", "why", "how"});
    add("EX", {"there"});
    add("RB", {"not", "n't", "very", "also", "too", "so", "just", "only", "then", "here", "now", "never",
               "always", "often", "there", "still", "already", "soon"});
    add("POS", {"'s", "'"});
    add("CD", {"one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten", "eleven", "twelve",
               "twenty", "thirty", "forty", "fifty", "hundred", "thousand", "million", "billion"});
    add("SENT", {".", "?", "!"});
    add("COMMA", {","});
    add("COLON", {";", ":"});
    add("LPAR", {"(", "[", "{"});
    add("RPAR", {")", "]", "}"});
    add("QUOTE", {"\"", "``", "''"});
    add("DASH", {"-", "--"});
    return t;
  }();
  return table;
}

const std::vector<std::string> kTags = {"NN",  "NNS",  "NNP", "VB",  "VBP", "VBZ",   "VBD",  "VBN",   "VBG",
                                        "JJ",  "JJR",  "JJS", "RB",  "DT",  "PRP",   "PRP$", "IN",    "TO",
                                        "CC",  "MD",   "WDT", "WP",  "WP$", "WRB",   "EX",   "POS",   "CD",
                                        "SENT", "COMMA", "COLON", "LPAR", "RPAR", "QUOTE", "DASH"};

int tag_index(const std::string& t) {
  return static_cast<int>(std::find(kTags.begin(), kTags.end(), t) - kTags.begin());
}

// Transition score from previous tag p to tag t (both names).
int32_t transition(const std::string& p, const std::string& t) {
  auto in = [](const std::string& x, std::initializer_list<const char*> set) {
    for (const char* s : set) {
      if (x == s) return true;
    }
    return false;
  };
  const bool tn = in(t, {"NN", "NNS", "NNP"}), tj = in(t, {"JJ", "JJR", "JJS"});
  const bool tv = in(t, {"VBZ", "VBP", "VBD"});
  if (in(p, {"DT", "PRP$", "WP$", "POS"})) {
    if (tn) return -1;
    if (tj) return -2;
    if (in(t, {"CD", "VBG", "VBN"})) return -4;
    if (t == "RB") return -5;
  } else if (tj) {
    // p is handled below; fall through.
  }
  if (in(p, {"JJ", "JJR", "JJS", "CD"})) {
    if (tn) return -1;
    if (tj) return -3;
    if (in(t, {"COMMA", "CC", "IN", "TO", "SENT"})) return -4;
  }
  if (in(p, {"NN", "NNS", "NNP"})) {
    if (tn) return -3;
    if (t == "VBZ" && p != "NNS") return -2;
    if (t == "VBP" && p == "NNS") return -2;
    if (in(t, {"VBD", "IN", "SENT"})) return -2;
    if (in(t, {"COMMA", "POS", "CC", "MD"})) return -3;
    if (in(t, {"WDT", "WP", "TO", "VBN"})) return -4;
    if (t == "RB") return -5;
  }
  if (in(p, {"VB", "VBZ", "VBP", "VBD"})) {
    if (t == "DT") return -1;
    if (in(t, {"RB", "VBN", "VBG", "PRP", "PRP$", "IN"}) || tj) return -3;
    if (tn || in(t, {"TO", "SENT"})) return -4;
  }
  if (in(p, {"VBN", "VBG"})) {
    if (in(t, {"IN", "DT"})) return -2;
    if (tn || in(t, {"RB", "TO"})) return -3;
    if (tj || t == "SENT") return -4;
  }
  if (p == "IN") {
    if (t == "DT") return -1;
    if (tn || in(t, {"PRP", "PRP$"})) return -2;
    if (tj || in(t, {"CD", "VBG"})) return -3;
  }
  if (p == "TO") {
    if (t == "VB") return -1;
    if (t == "DT") return -3;
    if (tn) return -4;
  }
  if (p == "MD") {
    if (t == "VB") return -1;
    if (t == "RB") return -3;
  }
  if (in(p, {"PRP", "EX", "WDT", "WP"})) {
    if (tv) return -1;
    if (t == "MD") return -2;
    if (in(t, {"RB", "SENT", "DT"})) return -4;
  }
  if (p == "RB") {
    if (tj) return -2;
    if (tv || in(t, {"VBN", "DT", "IN", "VB"})) return -3;
    if (in(t, {"RB", "SENT", "COMMA"})) return -4;
  }
  if (in(p, {"CC", "COMMA", "COLON", "QUOTE", "LPAR", "DASH", "WRB"})) {
    if (in(t, {"DT", "PRP"}) || tn) return -2;
    if (tj || tv || in(t, {"IN", "RB", "CC"})) return -3;
  }
  if (p == "SENT") return -3;
  return -9;
}

int32_t initial(const std::string& t) {
  static const std::map<std::string, int32_t> scores = {
      {"DT", -1},  {"PRP", -1}, {"NNP", -2}, {"IN", -2},  {"EX", -2},   {"WP", -2},    {"WRB", -2},
      {"NN", -3},  {"NNS", -3}, {"RB", -3},  {"JJ", -3},  {"VB", -3},   {"WDT", -3},   {"QUOTE", -3},
      {"LPAR", -3}, {"CD", -3}, {"CC", -4},  {"PRP$", -2}, {"VBG", -4}};
  auto it = scores.find(t);
  return it == scores.end() ? -8 : it->second;
}

int32_t emission(const std::string& t) {
  if (t == "NNP" || t == "VB" || t == "VBP" || t == "VBN") return -2;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: english-set WORDLIST WORDNET_DIR OUTDIR\n";
    return 2;
  }
  const auto started = std::chrono::steady_clock::now();
  const std::string wordlist = argv[1], wn = argv[2], outdir = argv[3];
  std::filesystem::create_directories(outdir);
  const std::string base = outdir + "/english";

  const Set nouns = read_index(wn + "/index.noun"), verbs = read_index(wn + "/index.verb"),
            adjs = read_index(wn + "/index.adj"), advs = read_index(wn + "/index.adv");
  const Multi noun_exc = read_exceptions(wn + "/noun.exc"), verb_exc = read_exceptions(wn + "/verb.exc"),
              adj_exc = read_exceptions(wn + "/adj.exc");
  if (nouns.empty() || verbs.empty()) {
    std::cerr << "english-set: no WordNet indexes in " << wn << "\n";
    return 1;
  }

  std::ifstream list(wordlist);
  if (!list) {
    std::cerr << "english-set: cannot read " << wordlist << "\n";
    return 1;
  }
  std::map<std::string, std::set<std::string>> tags_of;
  zopw::StemSources stem_sources;
  stem_sources.lemmas = {nouns, verbs, adjs, advs};
  stem_sources.exceptions = {noun_exc, verb_exc, adj_exc, read_exceptions(wn + "/adv.exc")};
  if (!zopw::read_sense_counts(wn + "/cntlist.rev", &stem_sources)) {
    std::cerr << "english-set: no sense counts in " << wn << "\n";
    return 1;
  }
  std::string line, word;
  auto apply_rules = [&](const std::string& w, const Rule* rules, size_t count, const Set& lemmas, bool doubled) {
    for (size_t r = 0; r < count; ++r) {
      const std::string suffix = rules[r].suffix;
      if (w.size() <= suffix.size() + 1 || w.compare(w.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
      std::string stem = w.substr(0, w.size() - suffix.size()) + rules[r].replace;
      if (lemmas.count(stem)) {
        tags_of[w].insert(rules[r].tag);
        if (std::string(rules[r].tag) == "VBD") tags_of[w].insert("VBN");
      }
      // A doubled final consonant: running, bigger.
      if (doubled && *rules[r].replace == 0 && stem.size() >= 3 && stem[stem.size() - 1] == stem[stem.size() - 2] &&
          std::string("aeiou").find(stem.back()) == std::string::npos) {
        std::string single = stem.substr(0, stem.size() - 1);
        if (lemmas.count(single)) {
          tags_of[w].insert(rules[r].tag);
          if (std::string(rules[r].tag) == "VBD") tags_of[w].insert("VBN");
        }
      }
    }
  };
  size_t words = 0;
  while (std::getline(list, line)) {
    if (!to_latin1(line, &word) || word.empty() || word.find("'s") != std::string::npos) continue;
    ++words;
    const auto c0 = static_cast<unsigned char>(word[0]);
    if ((c0 >= 'A' && c0 <= 'Z') || (c0 >= 0xC0 && c0 <= 0xDE)) {
      tags_of[word].insert("NNP");
      continue;
    }
    if (!lemma_word(word)) continue;
    stem_sources.words.insert(word);
    if (nouns.count(word)) tags_of[word].insert("NN");
    if (verbs.count(word)) tags_of[word].insert({"VB", "VBP"});
    if (adjs.count(word)) tags_of[word].insert("JJ");
    if (advs.count(word)) tags_of[word].insert("RB");
    if (noun_exc.count(word)) tags_of[word].insert("NNS");
    if (verb_exc.count(word)) tags_of[word].insert({"VBD", "VBN"});
    if (adj_exc.count(word)) {
      tags_of[word].insert(word.size() > 3 && word.substr(word.size() - 3) == "est" ? "JJS" : "JJR");
    }
    apply_rules(word, kNounRules, std::size(kNounRules), nouns, false);
    apply_rules(word, kVerbRules, std::size(kVerbRules), verbs, true);
    apply_rules(word, kAdjRules, std::size(kAdjRules), adjs, true);
  }
  // The irregular forms of the exception lists, also when the word list
  // lacks them.
  for (const Multi* exc : {&noun_exc, &verb_exc}) {
    for (const auto& [w, bases] : *exc) {
      if (w.find_first_of("-'") != std::string::npos || tags_of.count(w)) continue;
      if (exc == &noun_exc) {
        tags_of[w].insert("NNS");
      } else {
        tags_of[w].insert({"VBD", "VBN"});
      }
    }
  }
  for (const auto& [w, tags] : closed_words()) tags_of[w] = std::set<std::string>(tags.begin(), tags.end());

  std::string error;
  // Stemmer.
  const auto stems_of = zopw::build_stems(stem_sources);
  std::vector<fstw::Pair> pairs;
  for (const auto& [w, stems] : stems_of) {
    for (const std::string& s : stems) pairs.push_back({w, s});
  }
  fstw::PairOptions stem_options;
  stem_options.functions = {12, 27};
  stem_options.table_threshold = 16;
  stem_options.info = "vorlane English stemmer";
  fstw::FileDesc desc;
  std::vector<fstw::Pair> endings;
  for (const auto& [ending, stem] : zopw::english_guess_endings()) endings.push_back({ending, stem});
  if (!fstw::compile_pairs(pairs, stem_options, &desc, &error) || !zopw::add_stem_guesser(&desc, endings, &error) ||
      !fstw::fst_write_file(base + ".is", desc, &error)) {
    std::cerr << "english-set: stemmer: " << error << "\n";
    return 1;
  }

  // Class lexicon and guesser.
  std::vector<fstw::WordClasses> lexicon;
  std::set<std::vector<std::string>> class_sets;
  for (const auto& [w, tags] : tags_of) {
    lexicon.push_back({w, std::vector<std::string>(tags.begin(), tags.end())});
    class_sets.insert(lexicon.back().classes);
  }
  // Every tag must be in the file's TAGMODE: a word that names them all.
  lexicon.push_back({"\x01", kTags});
  const std::vector<zopw::SuffixTags> suffixes = {
      {"s", {"NNS", "VBZ"}},  {"ss", {"NN"}},           {"ing", {"VBG", "NN", "JJ"}}, {"ed", {"VBD", "VBN", "JJ"}},
      {"ly", {"RB"}},         {"er", {"NN", "JJR"}},    {"est", {"JJS"}},             {"ion", {"NN"}},
      {"ness", {"NN"}},       {"ment", {"NN"}},         {"ity", {"NN"}},              {"able", {"JJ"}},
      {"ible", {"JJ"}},       {"al", {"JJ", "NN"}},     {"ous", {"JJ"}},              {"ive", {"JJ"}},
      {"ful", {"JJ"}},        {"less", {"JJ"}},         {"ic", {"JJ"}},               {"0", {"CD"}},
      {"1", {"CD"}},          {"2", {"CD"}},            {"3", {"CD"}},                {"4", {"CD"}},
      {"5", {"CD"}},          {"6", {"CD"}},            {"7", {"CD"}},                {"8", {"CD"}},
      {"9", {"CD"}},
  };
  const std::vector<std::string> default_tags = {"NN", "NNP", "JJ"};
  for (const auto& s : suffixes) {
    std::vector<std::string> t = s.tags;
    std::sort(t.begin(), t.end());
    class_sets.insert(t);
  }
  {
    std::vector<std::string> t = default_tags;
    std::sort(t.begin(), t.end());
    class_sets.insert(t);
  }
  fstw::PairOptions clg_options;
  clg_options.functions = {60, 61};
  clg_options.info = "vorlane English class lexicon";
  if (!fstw::compile_classes(lexicon, clg_options, &desc, &error) ||
      !zopw::add_guesser(&desc, suffixes, default_tags, &error) || !fstw::fst_write_file(base + ".clg", desc, &error)) {
    std::cerr << "english-set: class lexicon: " << error << "\n";
    return 1;
  }

  // Tagger model: class 0 is [NN] (a word without tags).
  zopw::HmmDesc model;
  model.tags = kTags;
  model.comment = "vorlane English tagger model";
  std::vector<std::vector<std::string>> classes = {{"NN"}};
  for (const auto& c : class_sets) {
    if (c != classes[0]) classes.push_back(c);
  }
  for (const auto& c : classes) {
    zopw::HmmClassDesc cs;
    std::vector<std::pair<int32_t, int32_t>> members;
    for (const std::string& t : c) {
      cs.symbols += "[" + t + "]";
      members.push_back({tag_index(t), emission(t)});
    }
    std::sort(members.begin(), members.end());
    cs.members = members;
    model.classes.push_back(cs);
  }
  for (const std::string& t : kTags) {
    model.initial.push_back(initial(t));
    std::vector<int32_t> row;
    for (const std::string& p : kTags) row.push_back(transition(p, t));
    model.rows.push_back(row);
  }
  if (!zopw::hmm_write_file(base + ".hmm", model, &error)) {
    std::cerr << "english-set: model: " << error << "\n";
    return 1;
  }

  // Phrase grouper and tokenizer.
  zopw::NpGrammar outer, inner;
  outer.nouns = inner.nouns = {"NN", "NNS", "NNP"};
  outer.pre = {"DT", "PRP$", "JJ", "JJR", "JJS", "CD"};
  outer.possessive = {"POS"};
  for (const std::string& t : kTags) {
    const bool noun = t == "NN" || t == "NNS" || t == "NNP";
    const bool pre = std::find(outer.pre.begin(), outer.pre.end(), t) != outer.pre.end();
    if (!noun && !pre && t != "POS") outer.other.push_back(t);
    if (!noun) inner.other.push_back(t);
  }
  if (!zopw::grouper_desc(outer, inner, kTags, &desc, &error) || !fstw::fst_write_file(base + ".npr", desc, &error)) {
    std::cerr << "english-set: grouper: " << error << "\n";
    return 1;
  }
  if (!zopw::tokenizer_desc(&desc, &error) || !fstw::fst_write_file(base + ".tok", desc, &error)) {
    std::cerr << "english-set: tokenizer: " << error << "\n";
    return 1;
  }
  std::ofstream(base + ".usr") << "; vorlane English user dictionary\n";
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("english-set: %zu words, %zu stem pairs, %zu lexicon words, %zu classes in %.1f s\n", words,
              pairs.size(), lexicon.size(), classes.size(), seconds);
  return 0;
}
