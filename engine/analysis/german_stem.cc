#include "engine/analysis/german_stem.h"

#include <cstring>

#include "engine/analysis/ling_calls.h"
#include "store/cclass.h"

namespace vorlane::engine {

int32_t german_stem(const char* word, char* out, size_t size, const zop_handle& handle, int32_t option,
                    const char* language) {
  if (size == 0) return 0;
  const bool german = strcmp(language, "german") == 0;
  const bool capital = german && c_isupper(static_cast<unsigned char>(word[0]));
  char lowered[kGermanStemPrefix + 1];
  const char* text = word;
  if (german) {
    size_t n = 0;
    for (; n < kGermanStemPrefix && word[n]; ++n) lowered[n] = static_cast<char>(c_tolower(static_cast<unsigned char>(word[n])));
    lowered[n] = '\0';
    text = lowered;
  }
  out[0] = '\0';
  const int32_t room = static_cast<int32_t>(size > INT32_MAX ? INT32_MAX : size);
  const int32_t n = ling_calls.lookup(text, kWholeWord, out, room, option, handle.stemmer, handle.dictionary, 0);
  out[size - 1] = '\0';
  if (capital) out[0] = static_cast<char>(c_toupper(static_cast<unsigned char>(out[0])));
  if (n <= 0 || out[0] == '\0') {
    const size_t length = strnlen(word, size - 1);
    memcpy(out, word, length);
    out[length] = '\0';
  }
  return n;
}

}  // namespace vorlane::engine
