// Language resource sets (the zop wrapper): loads, once per resource path,
// a tokenizer, a phrase grouper, a class lexicon with its tagger model, a
// stemmer and an optional client dictionary, and hands the engine a small
// by-value zop_handle for stemming and phrase extraction.
//
// Files of a set, for a resource path ".../name": name.tok (tokenizer),
// name.npr (phrase grouper), name.clg (class lexicon and guesser), name.hmm
// (tagger model), name.usr (client dictionary, optional) and the stemmer:
// $STEMMER when set, else name.is, else name.ds. The base names "german2"
// and "germans1" take the files of "german", except the ".is" stemmer. The
// stem option (lookup mode 3, 5 or 7) comes from $STEMOPT, default 3.
//
// Up to 32 sets exist per process, found again by the path passed in; they
// live until the process ends. Failures are logged as warning lines
// "label: text".
#pragma once

#include <cstddef>
#include <cstdint>

#include "linguistics/zop_handle.h"
#include "store/sthread.h"

namespace vorlane {

inline constexpr int32_t MAX_ZOP = 32;
inline constexpr size_t kZopPathSize = 1024;
inline constexpr int32_t kZopMaxTokens = 2048;
inline constexpr int32_t kZopTagArea = 65088;
inline constexpr int32_t kZopMaxGroups = 256;
inline constexpr int32_t kZopTaggerTokens = 32544;
inline constexpr int32_t kZopTaggerChars = 1024;

struct zop_struct {
  char path[kZopPathSize] = {};  // working path (after the german rewrite); empty while free
  char key[kZopPathSize] = {};   // the path the set was loaded for
  void* hmm = nullptr;
  void* tagger_buffer = nullptr;  // the working copy's own; null in the table
  void* tokenizer_fsm = nullptr;
  void* tokenizer = nullptr;
  void* grouper_fsm = nullptr;
  void* tagger_clg = nullptr;
  void* grouper = nullptr;
  void* dictionary = nullptr;
  void* lexicon_fsm = nullptr;
  void* stemmer_fsm = nullptr;
  intptr_t user1 = 0, user2 = 0;
  int32_t free_me = 0;
  int32_t slot = -1;
  zop_handle handle;
};

// 1 on success (out, when given, receives the set's handle), 0 on failure.
int zop_lang_init(zop_handle* out, const char* path);
// Writes the noun phrases of text as NUL-terminated strings into out (at most
// out_size bytes; a phrase that does not fit ends the output) and returns
// the position after the last NUL written.
char* zop_get_phrases(const char* text, char* out, size_t out_size, zop_handle handle);
int zop_load_resources(zop_handle* out, zop_struct* set, const char* path);
void zop_report_error(const char* label, int32_t code);
zop_struct* zop_local_init(zop_handle handle, zop_struct* copy);
int zop_local_free(zop_struct* copy);
int zop_set_user1(zop_struct* set, intptr_t value);
int zop_set_user2(zop_struct* set, intptr_t value);
intptr_t zop_get_user1(const zop_struct* set);
intptr_t zop_get_user2(const zop_struct* set);

// The number of slots in use (for tests).
int32_t zop_slots_used();

}  // namespace vorlane
