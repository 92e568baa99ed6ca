// The default English set's tagger: its tag set, the class lexicon's tags
// for every word, the guesser's suffix classes and the model's scores,
// estimated from a tagged lexicon (tagged_lexicon.h) counted from a
// hand-tagged corpus.
//
// Tags of a word: the corpus tags of the word as written (case kept), less
// the tags the corpus gave it in under 1% of its occurrences; a capitalised
// word whose lower-case form is known keeps its proper-noun reading only
// when that is at least half of its occurrences ("In", "It", "Make" are not
// names, "General" is); a reading the corpus never saw joins when WordNet
// weighs it at least half as much as the word's best ("index" as a verb).
// Words the corpus lacks take the tags their lemmas
// have in WordNet, each weighed by the lemma's sense counts (the fallback),
// pruned the same way; unknown words go to the guesser.
//
// The model is a class model (Cutting et al.): the emission score of tag t
// in class C is the log of P(C | t), the share of the corpus tokens tagged t
// whose word has class C. A capitalised word is counted in the class the
// tagger gives it at a sentence start (its tags and those of its lower-case
// form together), with a tenth of its lower-case form's counts. Classes no corpus word has get one token spread over
// their tags by the tags' frequencies. Transition and initial scores are
// the logs of the corpus's tag-transition probabilities, smoothed. Scores
// are 1000 x the natural log, at most -1.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/fst/fst_pairs.h"
#include "tools/zop/guesser_net.h"
#include "tools/zop/hmm_writer.h"
#include "tools/zop/tagged_lexicon.h"

namespace vorlane::zopw {

// The model's tags, in tag-number order.
const std::vector<std::string>& english_tags();

// The tag names of the tagged-lexicon files mapped to the model's, and the
// file tag of a sentence end (whose row gives the sentence starts).
const std::map<std::string, std::string>& english_corpus_tag_map();
inline constexpr const char* kEnglishCorpusStartTag = "pp";

// The guesser's classes: by suffix for lower-case words, by suffix for
// words that begin with a capital letter, and the defaults of each.
struct EnglishGuesser {
  std::vector<SuffixTags> suffixes, capital_suffixes;
  std::vector<std::string> defaults, capital_defaults;
};
const EnglishGuesser& english_guesser();

using TagWeights = std::map<std::string, double>;

struct EnglishTaggerSources {
  const TaggedLexicon* corpus = nullptr;
  // Words the corpus may lack, with their tags' weights.
  std::map<std::string, TagWeights> fallback;
};

struct EnglishTagger {
  std::vector<fstw::WordClasses> lexicon;  // every word with its tags
  HmmDesc model;                           // tags, classes and scores
};

// False with a reason.
bool build_english_tagger(const EnglishTaggerSources& sources, EnglishTagger* out, std::string* error);

// The tags of one word kept from its weights (share at least min_share of
// the total; the best one always). Exposed for tests.
std::vector<std::string> kept_tags(const TagWeights& weights, double min_share);

}  // namespace vorlane::zopw
