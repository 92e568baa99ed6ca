// Builder of phrase-grouper transducer files (".npr"): nets over coded tag
// sequences (TAGSEP, tag symbols, end symbol) that copy the tags and insert
// bracket tags such as "(np" and ")np" around phrases.
//
// Files are written with coding flag 0 (ESC bytes before the label byte), so
// no tag's bytes are a prefix of another's and a tag is a plain chain of
// arcs. An inserted symbol is a chain of (diacritic, byte) pairs, each pair
// consuming no input and writing one byte.
#pragma once

#include <string>
#include <vector>

#include "tools/fst/fst_alphabet.h"
#include "tools/fst/fst_writer.h"

namespace vorlane::zopw {

// Arcs of one net, built from states of the grammar.
class GrouperNetBuilder {
 public:
  // States with at least table_threshold symbol arcs (0: none) hold them in
  // a table, after their insertions, so that a walk finds a tag's arc at
  // once.
  explicit GrouperNetBuilder(const fstw::Alphabet* alphabet, int table_threshold = 0)
      : alphabet_(alphabet), table_threshold_(table_threshold) {
    net_.states.resize(1);
  }

  int32_t state(bool final = false);
  // from --tag--> to (identity); false for a tag the alphabet lacks.
  bool tag(int32_t from, const std::string& name, int32_t to);
  // from --TAGSEP--> to and from --end symbol--> to.
  void tagsep(int32_t from, int32_t to);
  void end(int32_t from, int32_t to);
  // from writes the tag name (a bracket) without input and goes to to. A
  // state takes at most one insertion.
  bool insert(int32_t from, const std::string& name, int32_t to);
  // The net with every state's arcs in ascending label order.
  fstw::Net finish();

 private:
  void arc(int32_t from, uint8_t label, int32_t to);
  int32_t step(int32_t from, uint8_t label);
  const fstw::Alphabet* alphabet_;
  int table_threshold_;
  fstw::Net net_;
};

// Tag categories of a noun-phrase grammar. A phrase is a run of
// determiners and modifiers (pre) ending in nouns; a possessive after nouns
// continues the phrase when more modifiers and nouns follow. Tags of
// `inside` (participles: "the following example") modify only after a
// modifier of the phrase; tags of `numbers` may follow its nouns and close
// it ("version 3.6") unless a phrase follows at once ("files 2 large
// folders" splits before the number). Phrases are maximal, so each tag
// sequence has exactly one bracketing.
struct NpGrammar {
  std::vector<std::string> nouns, pre, possessive, other;
  std::vector<std::string> inside{}, numbers{};
};

// An alphabet of the given tags plus "(np" and ")np".
fstw::Alphabet grouper_alphabet(const std::vector<std::string>& tags);

// The grammar's net over the alphabet (tags not in any category are
// refused); false with a reason.
bool np_grammar_net(const NpGrammar& grammar, const fstw::Alphabet& alphabet, fstw::Net* net, std::string* error);

// A whole ".npr" description: function 62 from outer, function 63 from inner.
bool grouper_desc(const NpGrammar& outer, const NpGrammar& inner, const std::vector<std::string>& tags,
                  fstw::FileDesc* desc, std::string* error);

}  // namespace vorlane::zopw
