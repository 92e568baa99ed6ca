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
//
// A word of at most three letters keeps its own form as its stem: the
// regular endings relate it to another word only when it is no word of its
// own (a lemma, an abbreviation of the word list, a function word: os, us,
// its, gps) and the other word has two letters or more and is no function
// word (ads, ad; dbs, db; not bed, be). The forms of the exception lists
// stay related (is, was, men, did). Abbreviations and acronyms, which the
// word list writes in capitals (API, URL, PC), are stems of their own, and
// their plurals relate to them (apis, api) when the plural has four letters
// or more or the word list holds it (PCs).
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
  // Abbreviations and acronyms of the word list (written in capitals: API,
  // URL), lower-cased, and the plurals of them that the list holds (URLs,
  // PCs), lower-cased.
  std::unordered_set<std::string> acronyms;
  std::unordered_set<std::string> acronym_plurals;
  // Function words (pronouns, determiners, prepositions, auxiliaries).
  std::unordered_set<std::string> function_words;
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
// no ending ends another, so a word gets one stem at most. Every ending has
// three letters or more, so that, with the letter the guesser wants before
// it, no word of three letters or fewer gets a guessed stem: a shorter one
// is written after each of letters (every character the lexicon's words are
// written with, the characters a word the guesser reads may hold).
std::vector<std::pair<std::string, std::string>> english_guess_endings(const std::string& letters);

}  // namespace vorlane::zopw
