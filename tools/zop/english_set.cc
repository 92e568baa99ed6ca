// english-set: builds the default English resource set from public lexical
// data: a word list (wamerican's /usr/share/dict/american-english, UTF-8),
// WordNet's lemma indexes, exception lists and sense counts (wordnet-base,
// /usr/share/wordnet) and a tagged lexicon counted from a hand-tagged corpus
// (liblingua-en-tagger-perl's words.yml and tags.yml, read as data).
// Writes OUTDIR/english.{tok,npr,clg,is,hmm,usr}.
//
//   english-set WORDLIST WORDNET_DIR TAGGED_LEXICON_DIR OUTDIR
//
// The stemmer relates words to their WordNet base forms (english_stems.h):
// the word itself when it is a lemma, the bases of the exception lists
// (mice, mouse) and the regular inflections of every lemma (running, run),
// weighed by WordNet's sense counts (cntlist.rev), and the abbreviations the
// word list writes in capitals (API, URL) with their plurals; words of four
// letters or more outside the lexicon get their stems from the guesser net
// the file carries beside it (stem_guesser.h), by the regular endings of
// English. The class lexicon and
// the tagger model come from the tagged lexicon (english_tagger.h); words it
// lacks take the tags of their WordNet relations (NN, NNS, VB, VBZ, VBD,
// VBN, VBG, JJ, JJR, JJS, RB, NNP for capitalised words) or, for function
// words and punctuation, the tags of the table below, weighed by the sense
// counts; unknown words get tags from their endings (the guesser).
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
#include "tools/zop/english_tagger.h"
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

// The number of capital letters A to Z the word begins with.
size_t capitals(const std::string& w) {
  size_t n = 0;
  while (n < w.size() && w[n] >= 'A' && w[n] <= 'Z') ++n;
  return n;
}

std::string lower(std::string w) {
  for (char& c : w) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return w;
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
    add("COLON", {"-", "--"});
    return t;
  }();
  return table;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: english-set WORDLIST WORDNET_DIR TAGGED_LEXICON_DIR OUTDIR\n";
    return 2;
  }
  const auto started = std::chrono::steady_clock::now();
  const std::string wordlist = argv[1], wn = argv[2], tagged_dir = argv[3], outdir = argv[4];
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
  // Tags of the words the tagged lexicon may lack, each weighed by the
  // sense counts of its lemma in that part of speech (plus one).
  zopw::EnglishTaggerSources tagger_sources;
  auto& fallback = tagger_sources.fallback;
  zopw::StemSources stem_sources;
  stem_sources.lemmas = {nouns, verbs, adjs, advs};
  stem_sources.exceptions = {noun_exc, verb_exc, adj_exc, read_exceptions(wn + "/adv.exc")};
  if (!zopw::read_sense_counts(wn + "/cntlist.rev", &stem_sources)) {
    std::cerr << "english-set: no sense counts in " << wn << "\n";
    return 1;
  }
  auto weigh = [&](const std::string& w, const char* tag, const std::string& lemma, int pos) {
    double weight = 1;
    auto it = stem_sources.counts.find(lemma);
    if (it != stem_sources.counts.end() && pos >= 0) weight += it->second[static_cast<size_t>(pos)];
    double& have = fallback[w][tag];
    have = std::max(have, weight);
  };
  std::string line, word;
  auto apply_rules = [&](const std::string& w, const Rule* rules, size_t count, const Set& lemmas, bool doubled,
                         int pos) {
    for (size_t r = 0; r < count; ++r) {
      const std::string suffix = rules[r].suffix;
      if (w.size() <= suffix.size() + 1 || w.compare(w.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
      std::string stem = w.substr(0, w.size() - suffix.size()) + rules[r].replace;
      if (lemmas.count(stem)) {
        weigh(w, rules[r].tag, stem, pos);
        if (std::string(rules[r].tag) == "VBD") weigh(w, "VBN", stem, pos);
      }
      // A doubled final consonant: running, bigger.
      if (doubled && *rules[r].replace == 0 && stem.size() >= 3 && stem[stem.size() - 1] == stem[stem.size() - 2] &&
          std::string("aeiou").find(stem.back()) == std::string::npos) {
        std::string single = stem.substr(0, stem.size() - 1);
        if (lemmas.count(single)) {
          weigh(w, rules[r].tag, single, pos);
          if (std::string(rules[r].tag) == "VBD") weigh(w, "VBN", single, pos);
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
      weigh(word, "NNP", word, -1);
      // Abbreviations and acronyms (API, URL) and their plurals (URLs).
      const size_t caps = capitals(word);
      if (caps == word.size() && caps >= 2) stem_sources.acronyms.insert(lower(word));
      if (caps + 1 == word.size() && caps >= 2 && word.back() == 's') stem_sources.acronym_plurals.insert(lower(word));
      continue;
    }
    if (!lemma_word(word)) continue;
    stem_sources.words.insert(word);
    if (nouns.count(word)) weigh(word, "NN", word, 0);
    if (verbs.count(word)) weigh(word, "VB", word, 1), weigh(word, "VBP", word, 1);
    if (adjs.count(word)) weigh(word, "JJ", word, 2);
    if (advs.count(word)) weigh(word, "RB", word, 3);
    if (auto e = noun_exc.find(word); e != noun_exc.end()) weigh(word, "NNS", e->second[0], 0);
    if (auto e = verb_exc.find(word); e != verb_exc.end()) {
      weigh(word, "VBD", e->second[0], 1);
      weigh(word, "VBN", e->second[0], 1);
    }
    if (auto e = adj_exc.find(word); e != adj_exc.end()) {
      weigh(word, word.size() > 3 && word.substr(word.size() - 3) == "est" ? "JJS" : "JJR", e->second[0], 2);
    }
    apply_rules(word, kNounRules, std::size(kNounRules), nouns, false, 0);
    apply_rules(word, kVerbRules, std::size(kVerbRules), verbs, true, 1);
    apply_rules(word, kAdjRules, std::size(kAdjRules), adjs, true, 2);
  }
  // The irregular forms of the exception lists, also when the word list
  // lacks them.
  for (const Multi* exc : {&noun_exc, &verb_exc}) {
    for (const auto& [w, bases] : *exc) {
      if (w.find_first_of("-'") != std::string::npos || fallback.count(w)) continue;
      if (exc == &noun_exc) {
        weigh(w, "NNS", bases[0], 0);
      } else {
        weigh(w, "VBD", bases[0], 1);
        weigh(w, "VBN", bases[0], 1);
      }
    }
  }
  for (const auto& [w, tags] : closed_words()) {
    fallback[w].clear();
    for (const std::string& t : tags) fallback[w][t] = 1;
    stem_sources.function_words.insert(w);
  }

  std::string error;
  // Stemmer.
  const auto stems_of = zopw::build_stems(stem_sources);
  std::vector<fstw::Pair> pairs;
  std::set<char> letters;
  for (const auto& [w, stems] : stems_of) {
    letters.insert(w.begin(), w.end());
    for (const std::string& s : stems) pairs.push_back({w, s});
  }
  fstw::PairOptions stem_options;
  stem_options.functions = {12, 27};
  stem_options.table_threshold = 16;
  stem_options.info = "vorlane English stemmer";
  fstw::FileDesc desc;
  std::vector<fstw::Pair> endings;
  for (const auto& [ending, stem] : zopw::english_guess_endings({letters.begin(), letters.end()})) {
    endings.push_back({ending, stem});
  }
  if (!fstw::compile_pairs(pairs, stem_options, &desc, &error) || !zopw::add_stem_guesser(&desc, endings, &error) ||
      !fstw::fst_write_file(base + ".is", desc, &error)) {
    std::cerr << "english-set: stemmer: " << error << "\n";
    return 1;
  }

  // Class lexicon, guesser and tagger model, from the tagged lexicon.
  zopw::TaggedLexicon corpus;
  if (!zopw::read_tagged_lexicon(tagged_dir, zopw::english_corpus_tag_map(), zopw::kEnglishCorpusStartTag, &corpus,
                                 &error)) {
    std::cerr << "english-set: tagged lexicon: " << error << "\n";
    return 1;
  }
  tagger_sources.corpus = &corpus;
  zopw::EnglishTagger tagger;
  if (!zopw::build_english_tagger(tagger_sources, &tagger, &error)) {
    std::cerr << "english-set: tagger: " << error << "\n";
    return 1;
  }
  const std::vector<std::string>& tags = zopw::english_tags();
  std::vector<fstw::WordClasses>& lexicon = tagger.lexicon;
  // Every tag must be in the file's TAGMODE: a word that names them all.
  lexicon.push_back({"\x01", tags});
  const zopw::EnglishGuesser& guesser = zopw::english_guesser();
  fstw::PairOptions clg_options;
  clg_options.functions = {60, 61};
  clg_options.info = "vorlane English class lexicon";
  if (!fstw::compile_classes(lexicon, clg_options, &desc, &error) ||
      !zopw::add_guesser(&desc, guesser.suffixes, guesser.defaults, guesser.capital_suffixes,
                         guesser.capital_defaults, &error) ||
      !fstw::fst_write_file(base + ".clg", desc, &error)) {
    std::cerr << "english-set: class lexicon: " << error << "\n";
    return 1;
  }
  if (!zopw::hmm_write_file(base + ".hmm", tagger.model, &error)) {
    std::cerr << "english-set: model: " << error << "\n";
    return 1;
  }

  // Phrase grouper: determiners and modifiers ending in nouns; participles
  // modify inside a phrase ("the following example"), and numbers may close
  // one ("version 3.6").
  zopw::NpGrammar outer, inner;
  outer.nouns = inner.nouns = {"NN", "NNS", "NNP", "NNPS"};
  outer.pre = {"DT", "PDT", "PRP$", "WP$", "JJ", "JJR", "JJS", "CD"};
  outer.possessive = {"POS"};
  outer.inside = {"VBN", "VBG"};
  outer.numbers = {"CD"};
  for (const std::string& t : tags) {
    const bool noun = std::find(outer.nouns.begin(), outer.nouns.end(), t) != outer.nouns.end();
    const bool pre = std::find(outer.pre.begin(), outer.pre.end(), t) != outer.pre.end();
    const bool inside = std::find(outer.inside.begin(), outer.inside.end(), t) != outer.inside.end();
    if (!noun && !pre && !inside && t != "POS") outer.other.push_back(t);
    if (!noun) inner.other.push_back(t);
  }
  if (!zopw::grouper_desc(outer, inner, tags, &desc, &error) || !fstw::fst_write_file(base + ".npr", desc, &error)) {
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
              pairs.size(), lexicon.size(), tagger.model.classes.size(), seconds);
  return 0;
}
