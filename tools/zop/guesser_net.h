// Builder of a class guesser net (function 61) for a class-lexicon file:
// the tags of an unknown word come from its ending. The net reads any coded
// word, then the TAGSEP, and offers the class symbols of the longest listed
// suffix the word ends with, or the default tags when none fits.
//
// The net is an Aho-Corasick automaton (one per case of the first letter) over the coded bytes of the suffixes
// (a label byte always begins a symbol, so matches fall on symbol
// boundaries); after the TAGSEP each tag is a chain of its label byte and
// ESC bytes, final where the symbol ends, as the enumeration walk reads it.
#pragma once

#include <string>
#include <vector>

#include "tools/fst/fst_writer.h"

namespace vorlane::zopw {

struct SuffixTags {
  std::string suffix;
  std::vector<std::string> tags;
};

// Adds the guesser net to desc (a class lexicon written with label-first
// coding) and points function 61 at it. A word that begins with a capital
// letter (A-Z, Latin-1 192-222 but 215) takes the capital suffixes and
// defaults; the first form uses one list for both.
bool add_guesser(fstw::FileDesc* desc, const std::vector<SuffixTags>& suffixes,
                 const std::vector<std::string>& default_tags, std::string* error);
bool add_guesser(fstw::FileDesc* desc, const std::vector<SuffixTags>& suffixes,
                 const std::vector<std::string>& default_tags, const std::vector<SuffixTags>& capital_suffixes,
                 const std::vector<std::string>& capital_defaults, std::string* error);

}  // namespace vorlane::zopw
