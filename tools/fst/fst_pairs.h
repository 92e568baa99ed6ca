// The transducer compiler's core: from (surface, analysis) pairs to a net
// that relates each surface form to its analyses.
//
// Both sides are encoded with the file's own encoder (a file with the
// alphabet is written and read first): the surface with the end symbol
// appended, the analysis with its bracketed tags. The coded bytes are
// aligned position by position (x:y), the longer side's rest pairing with
// nothing. The pairs form a trie whose equal subtrees are merged; each trie
// state becomes a net state whose arcs are:
//   - for pairs that consume no input (nothing:y), one diacritic arc followed
//     by a state of output arcs y;
//   - for each input byte x: an arc x to the identity target when x:x is the
//     only pair; otherwise an arc x to a state whose first arc is NID, whose
//     branch holds the output arcs y (a diacritic for x:nothing), and whose
//     further arcs (when x:x is also a pair) are those of the identity target.
// States with at least table_threshold symbol arcs hold them in a table.
#pragma once

#include <string>
#include <vector>

#include "tools/fst/fst_alphabet.h"
#include "tools/fst/fst_writer.h"

namespace vorlane {
struct FSM;
}

namespace vorlane::fstw {

struct Pair {
  std::string surface;
  std::string analysis;
};

struct PairOptions {
  bool end_symbol = true;
  uint8_t coding_flags = 0x80;
  int table_threshold = 0;  // 0: no tables
  bool table_offsets = false;  // tables as offset lists (coding flag 0x20)
  int32_t short_slots = -1;
  int32_t medium_slots = -1;
  bool out_of_line = true;
  bool merge = true;  // merge equal subtrees (false: a plain tree)
  // Tag specifiers allowed in surfaces too (the grouper's tag sequences).
  bool surface_tags = false;
  // A byte of the analyses written as the end symbol (the tokenizer's token
  // boundary); 0 for none.
  char token_separator = 0;
  std::vector<int> functions = {12, 27};
  std::string info = "vorlane transducer";
  uint8_t language = 0;
};

// The alphabet of a pair list: every byte of the surfaces and of the
// analyses outside tag brackets; every bracketed tag name.
bool pair_alphabet(const std::vector<Pair>& pairs, bool end_symbol, Alphabet* alphabet, std::string* error);
// The alphabet of texts, each with whether its brackets are tags, plus
// extra tags; the separator byte is not a character.
bool text_alphabet(const std::vector<std::pair<std::string, bool>>& texts, bool end_symbol, Alphabet* alphabet,
                   std::string* error, const std::vector<std::string>& extra_tags, char separator);

// A complete file description (alphabet, classes, one net serving the
// option's functions).
bool compile_pairs(const std::vector<Pair>& pairs, const PairOptions& options, FileDesc* desc, std::string* error);
// The net of compile_pairs alone, its texts encoded by an FSM that carries
// the alphabet (a file written from the description the net will join).
bool compile_pairs_net(const std::vector<Pair>& pairs, const PairOptions& options, const FSM* fsm, Net* net,
                       std::string* error);

// A class net (functions 60 and 61): each word, its TAGSEP, then each of its
// classes (tag names) as a chain of the class symbol's label byte and ESC
// bytes, the last one final. apply_fst_enum reads it.
struct WordClasses {
  std::string word;
  std::vector<std::string> classes;
};
bool compile_classes(const std::vector<WordClasses>& words, const PairOptions& options, FileDesc* desc,
                     std::string* error);

}  // namespace vorlane::fstw
