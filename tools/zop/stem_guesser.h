// Builder of a stemmer's guesser net (function kFstStemGuesser of
// linguistics/fst/lookup.h): stems for words outside the stemmer's lexicon,
// from their endings. The lookup walks it only when the lexicon's net has no
// stem for a word.
//
// Each ending is a pair (ending, replacement), both plain text, such as
// ("ies", "y") or ("pped", "p"): a word that ends in the ending, with at
// least one character before it, has the stem made of that character and
// the rest before the ending, then the replacement. The net reads any first
// symbol, then loops over any symbols (identity), and at every position
// may branch, consuming nothing, into a trie of the endings, each ending
// followed by the end symbol. A list in which no ending ends another gives
// every word one stem at most.
#pragma once

#include <string>
#include <vector>

#include "tools/fst/fst_pairs.h"
#include "tools/fst/fst_writer.h"

namespace vorlane::zopw {

// Adds the guesser net to desc (a stemmer written by compile_pairs, whose
// alphabet holds every character of the endings) and points the guesser
// function at it.
bool add_stem_guesser(fstw::FileDesc* desc, const std::vector<fstw::Pair>& endings, std::string* error);

}  // namespace vorlane::zopw
