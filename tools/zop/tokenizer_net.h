// Builder of a general tokenizer transducer file (".tok", function 28) for
// Latin-1 text: the net copies a chunk and writes a blank between its
// tokens. A token is a run of letters and digits, a single punctuation
// character, "'s" or "n't" (split from the word before it: "don't" gives
// "do n't", "man's" gives "man 's").
//
// Written with coding flag 0 (ESC bytes before the label byte) so that no
// character's bytes are a prefix of another's.
#pragma once

#include <string>

#include "tools/fst/fst_writer.h"

namespace vorlane::zopw {

bool tokenizer_desc(fstw::FileDesc* desc, std::string* error);

}  // namespace vorlane::zopw
