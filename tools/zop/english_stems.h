// The English stemmer's (surface, stem) relation, built from WordNet's lemma
// indexes, exception lists and sense counts and from a word list.
//
// Regular inflections are generated from every lemma by the spelling rules
// of English (plural and third person -s/-es/-ies, past -ed/-ied with a
// doubled final consonant or a silent e, -ing, comparative and superlative
// -er/-est), so that words the word list lacks are related to their lemmas
// too; irregular forms come from the exception lists of every part of
// speech. Readings that real text would hardly intend are left out: each
// reading is weighed by how often its lemma occurs in that part of speech
// (WordNet's sense counts), and a reading far rarer than the best one of
// the same word is dropped, as is an adjective's comparative reading of a
// word that is mainly a noun or a verb ("number" is not "more numb").
#pragma once

#include <array>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vorlane::zopw {

struct StemSources {
  // WordNet lemmas per part of speech: noun, verb, adjective, adverb.
  std::array<std::unordered_set<std::string>, 4> lemmas;
  // Exception lists per part of speech: form -> bases.
  std::array<std::unordered_map<std::string, std::vector<std::string>>, 4> exceptions;
  // Tagged-sense counts per lemma and part of speech.
  std::unordered_map<std::string, std::array<int, 4>> counts;
  // Lower-case words of the word list (Latin-1).
  std::unordered_set<std::string> words;
};

// Reads WordNet's cntlist.rev into sources->counts; false when missing.
bool read_sense_counts(const std::string& path, StemSources* sources);

// Every surface form with its stems.
std::map<std::string, std::set<std::string>> build_stems(const StemSources& sources);

// The endings of the stemmer's guesser (stem_guesser.h) for words outside
// the lexicon, by the regular inflections of English: plural and third
// person -s, -es, -ies; -ed, -ied and -ing with a doubled final consonant
// undone or a silent e put back; comparative and superlative of adjectives
// in -y. Each pair is (the word's last letters, the stem's last letters);
// no ending ends another, so a word gets one stem at most.
std::vector<std::pair<std::string, std::string>> english_guess_endings();

}  // namespace vorlane::zopw
