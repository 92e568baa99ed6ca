// Reader of a tagged lexicon published as public lexical data: the word and
// tag-transition files of Debian's liblingua-en-tagger-perl
// (/usr/share/perl5/Lingua/EN/Tagger/), which were counted from a
// hand-tagged corpus. They are read as data only.
//
// Both files are YAML documents of one mapping per line:
//   words.yml  WORD: { tag: count, tag: count, ... }
//              how often the corpus tagged WORD (case kept) with each tag
//   tags.yml   PREV: { tag: p, tag: p, ... }
//              probability of each tag after the tag PREV; the row of "pp"
//              (a sentence end) is the distribution of sentence starts
// A key is bare or in double quotes; the first line ("--- #YAML:1.0") is a
// header. Tags are lower case ("nn", "det", "ppc"); the reader maps them to
// the model's tag names through a table, merging tags that map to one name
// (counts add up; transition rows are weighed by the tags' counts).
#pragma once

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace vorlane::zopw {

struct TaggedLexicon {
  // Word (Latin-1, case kept) -> model tag -> corpus count.
  std::unordered_map<std::string, std::map<std::string, double>> words;
  // Model tag -> corpus count (the sum over all words).
  std::map<std::string, double> tag_counts;
  // Previous model tag -> next model tag -> probability.
  std::map<std::string, std::map<std::string, double>> transitions;
  // Next model tag -> probability at the start of a sentence.
  std::map<std::string, double> initial;
};

// Reads DIR/words.yml and DIR/tags.yml, naming tags by tag_map (file tag ->
// model tag; a file tag the map lacks is an error). start_tag is the file
// tag whose row gives the sentence starts. False with a reason.
bool read_tagged_lexicon(const std::string& dir, const std::map<std::string, std::string>& tag_map,
                         const std::string& start_tag, TaggedLexicon* out, std::string* error);

// One line "KEY: { a: x, b: y }" split into its key and pairs; false for a
// line of another shape. Exposed for tests.
bool parse_tag_line(const std::string& line, std::string* key, std::vector<std::pair<std::string, double>>* pairs);

}  // namespace vorlane::zopw
