// The noun-phrase grouper: finds phrases in a tagged sentence.
//
// The sentence's tag sequence is fed to the grouping transducer (function 62
// of the ".npr" file), which copies the tags and inserts bracket symbols
// around phrases. The bracket symbols are the tags of the class TAGMODE whose
// names begin with '(' (opening) or ')' (closing); the rest of the name is the
// group's name (for example np). With regrouping, each "np" group of more
// than one token is run through function 63, which may find smaller phrases
// inside it.
#pragma once

#include <cstdint>
#include <string>

#include "linguistics/fst/fsm.h"

namespace vorlane {

// One phrase group, three signed 32-bit words.
struct PhraseGroup {
  int32_t first;  // index of the group's first token
  int32_t count;  // tokens from first on; -1 while open (or never closed)
  int32_t name;   // offset of the NUL-terminated name in the name buffer
};

inline constexpr int32_t kGroupRegroup = 1;
inline constexpr int32_t kGroupSort = 2;
inline constexpr int32_t kMaxBrackets = 256;
inline constexpr uint32_t kGrouperMagic = 0x47525031;  // "GRP1"

struct BracketEntry {
  uint16_t code = 0;
  bool opening = false;
  std::string name;  // the tag's name without its first character
};

struct Grouper {
  uint32_t magic = kGrouperMagic;
  int32_t count = 0;
  BracketEntry brackets[kMaxBrackets];
  const FSM* fsm = nullptr;
};

// A grouper, or the error handle of -28 (null FSM), the FSM's own code (-5
// for an object that is no FSM), -11 (no function 62), -3 (memory or more
// than 256 bracket tags).
void* grouper_create(const void* fsm);
void grouper_free(void* grouper);

// Groups the count tags (consecutive NUL-terminated names, one per token;
// "__mwt" for a token inside a multi-word token, empty for a blank token).
// Returns the number of groups written, or -28, -8, -5 (no result, or an
// inserted symbol that is no bracket), -10 (a name that is no TAGMODE tag),
// -11 (no function 62, or 63 when regrouping), -12 (groups or names do not
// fit), -3. A closing bracket with no open group is ignored, and a group
// never runs past the last token.
int32_t group_phrases(const char* tags, int32_t count, int32_t flags, PhraseGroup* groups, int32_t capacity,
                      char* names, int32_t names_size, const void* grouper);

}  // namespace vorlane
