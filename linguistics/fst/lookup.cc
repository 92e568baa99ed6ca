#include "linguistics/fst/lookup.h"

#include <cstdlib>
#include <cstring>

#include "linguistics/fst/apply.h"
#include "linguistics/fst/coding.h"
#include "linguistics/fst/dictionary.h"
#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_errors.h"

namespace vorlane {

namespace {

struct Mode {
  int32_t mode;
  int32_t function;
  bool inverse;
  int32_t style;
  int32_t dict_flags;  // 0: no client dictionary
  bool tags;
  bool end;
  bool guess;  // a word the stemmer has no stem for goes to its guesser
};

constexpr Mode kModes[] = {
    {2, 12, false, 2, 6, true, true, false},  {3, 27, false, 2, 2, false, true, true},
    {5, 27, false, 4, 0, false, true, true},  {7, 27, false, 5, 0, false, true, true},
    {8, 23, true, 2, 0, true, false, false},  {9, 27, true, 2, 0, false, false, false},
    {11, 28, false, 4, 0, false, true, false},
};

constexpr size_t kWordCopy = 256;

// A lookup buffer: frames followed by coded bytes, on the heap.
struct Area {
  void* block = nullptr;
  FstFrame* frames = nullptr;
  uint8_t* coded = nullptr;

  bool allocate(int64_t frame_count, int64_t coded_size) {
    std::free(block);
    size_t bytes = static_cast<size_t>(frame_count) * sizeof(FstFrame) + static_cast<size_t>(coded_size);
    block = std::malloc(bytes);
    if (block == nullptr) return false;
    frames = static_cast<FstFrame*>(block);
    coded = reinterpret_cast<uint8_t*>(frames + frame_count);
    return true;
  }
  ~Area() { std::free(block); }
};

}  // namespace

void fst_lookup_area(int32_t length, int64_t* frames, int64_t* coded) {
  if (length > 128 && length < kFstWholeWord) {
    *frames = length < kLookupMaxFrames ? length : kLookupMaxFrames;
    int64_t c = 3 * int64_t{length};
    *coded = c < kLookupMaxCoded ? c : kLookupMaxCoded;
  } else {
    *frames = kLookupFrames;
    *coded = kLookupCoded;
  }
}

namespace {

// Encodes the word and walks the mode's net, growing the lookup buffer until
// the walk fits. *written: the output bytes the walk wrote to.
int32_t walk_word(const char* word, int32_t length, char* output, int32_t size, const Mode* m, const FSM* fsm,
                  int32_t* written) {
  *written = 0;
  int64_t frame_count, coded_size;
  fst_lookup_area(length, &frame_count, &coded_size);
  FstFrame local_frames[kLookupFrames];
  uint8_t local_coded[kLookupCoded];
  Area area;
  FstFrame* frames = local_frames;
  uint8_t* coded = local_coded;
  if (frame_count != kLookupFrames || coded_size != kLookupCoded) {
    if (!area.allocate(frame_count, coded_size)) return kFstNoMemory;
    frames = area.frames;
    coded = area.coded;
  }
  if (m == nullptr) return kFstBadFunction;

  uint8_t net = fst_function(m->function, fsm);
  if (net == 255 && m->mode == 8) net = fst_function(12, fsm);
  const uint8_t guesser = m->guess ? fst_function(kFstStemGuesser, fsm) : 255;

  for (;;) {
    int32_t n = fst_encode(word, length, coded, static_cast<int32_t>(coded_size), m->tags, m->end, false, fsm);
    int32_t result;
    if (n == kFstTooLong) {
      result = kFstTooLong;
    } else if (n < 0) {
      if (n == kFstNotInAlphabet) return m->mode == 11 ? n : 0;
      return n;
    } else if (net == 255) {
      return kFstBadFunction;
    } else {
      uint8_t* coded_out = coded + n + 1;
      int32_t out_size = static_cast<int32_t>(coded_size) - n - 1;
      int32_t decode_arg = (m->mode == 2 || m->mode == 8) ? 1 : 0;
      int32_t reached = 0;
      if (out_size < 1) {
        result = kFstInternalBufferSmall;
      } else if (m->inverse) {
        result = apply_fst_inverse(coded, coded_out, out_size, net, frames, static_cast<int32_t>(frame_count), output,
                                   size, 2, decode_arg, fsm, &reached);
      } else {
        result = apply_fst(coded, coded_out, out_size, net, false, frames, static_cast<int32_t>(frame_count), output,
                           size, nullptr, 0, m->style, decode_arg, fsm, &reached);
        if (result == 0 && guesser != 255) {
          if (reached > *written) *written = reached;
          result = apply_fst(coded, coded_out, out_size, guesser, false, frames, static_cast<int32_t>(frame_count),
                             output, size, nullptr, 0, m->style, decode_arg, fsm, &reached);
        }
      }
      if (reached > *written) *written = reached;
      if (result != kFstStackOverflow && result != kFstInternalBufferSmall) return result;
    }
    // Grow both parts and try again, up to the ceiling.
    if (frame_count >= kLookupMaxFrames && coded_size >= kLookupMaxCoded) return result;
    frame_count = frame_count * 2 < kLookupMaxFrames ? frame_count * 2 : kLookupMaxFrames;
    coded_size = coded_size * 2 < kLookupMaxCoded ? coded_size * 2 : kLookupMaxCoded;
    if (!area.allocate(frame_count, coded_size)) return kFstNoMemory;
    frames = area.frames;
    coded = area.coded;
  }
}

// Words longer than this are walked every time.
constexpr size_t kMemoWord = 64;

}  // namespace

int32_t fst_lookup(const char* word, int32_t length, char* output, int32_t size, int32_t mode, const void* object,
                   const void* dictionary, int32_t) {
  if (word == nullptr || output == nullptr || object == nullptr) return kFstNullPointer;
  if (length < 0 || size < 0) return kFstBadNumber;
  const FSM* fsm;
  int32_t rc = fst_check(object, &fsm);
  if (rc != 0) return rc;
  const Mode* m = nullptr;
  for (const Mode& k : kModes) {
    if (k.mode == mode) m = &k;
  }

  if (m != nullptr && m->dict_flags != 0 && dictionary != nullptr) {
    // The dictionary needs a NUL-terminated word.
    char small[kWordCopy];
    char* copy = nullptr;
    const char* key = word;
    if (length < kFstWholeWord) {
      size_t n = strnlen(word, static_cast<size_t>(length));
      copy = n < kWordCopy ? small : static_cast<char*>(std::malloc(n + 1));
      if (copy == nullptr) return kFstNoMemory;
      std::memcpy(copy, word, n);
      copy[n] = '\0';
      key = copy;
    }
    rc = dict_lookup(key, nullptr, output, size, m->dict_flags, 0, dictionary);
    if (copy != small) std::free(copy);
    if (rc != 0) return rc;
  }

  // The walk depends on the FSM, the mode, the word's bytes and the output
  // size only (for words that take the default lookup buffer), so its
  // results are remembered by those: every byte the walk wrote comes back,
  // which is all a caller can tell apart. The dictionary, which may change,
  // was asked above.
  int32_t written = 0;
  if (m != nullptr && (length == kFstWholeWord || static_cast<size_t>(length) <= kMemoWord) && fsm->memo) {
    size_t n = strnlen(word, length < kFstWholeWord ? static_cast<size_t>(length) : kMemoWord + 1);
    if (n <= kMemoWord) {
      MemoKey key;
      key.add(static_cast<int8_t>(m->mode)).add(size).add_text(word, n);
      int32_t result;
      size_t bytes;
      if (fsm->memo->find(key.view(), &result, output, static_cast<size_t>(size), &bytes)) return result;
      result = walk_word(word, length, output, size, m, fsm, &written);
      if (result >= 0) fsm->memo->store(key.view(), result, output, static_cast<size_t>(written));
      return result;
    }
  }
  return walk_word(word, length, output, size, m, fsm, &written);
}

int32_t fst_lookup_word(const char* word, char* output, int32_t size, int32_t mode, const void* fsm) {
  return fst_lookup(word, kFstWholeWord, output, size, mode, fsm, nullptr, 0);
}

int32_t fst_tokenize(const uint8_t* coded, char* output, int32_t size, int32_t* offsets, int32_t offsets_length,
                     int32_t all, const void* object) {
  const FSM* fsm;
  int32_t rc = fst_check(object, &fsm);
  if (rc != 0) return rc;
  if (coded == nullptr || output == nullptr || offsets == nullptr) return kFstNullPointer;
  if (size < 0 || offsets_length < 0) return kFstBadNumber;
  uint8_t net = fst_function(28, fsm);
  if (net == 255 || (all != 0 && all != 1)) return kFstBadFunction;
  int32_t half = size / 2;
  if (half < 1) return kFstTooLong;
  FstFrame frames[kLookupFrames];
  int32_t result = apply_fst(coded, reinterpret_cast<uint8_t*>(output + (size - half)), half, net, true, frames,
                             kLookupFrames, output, size - half, offsets, offsets_length, all ? 7 : 6, 0, fsm);
  if (result < 0) return result;
  if (result == 0) return kFstUnrecognizedToken;
  if (result == 1 && output[0] == '\0') return 0;
  return result;
}

int32_t fst_char_offsets(const int32_t* offsets, int32_t count, int32_t* output, const uint8_t* coded,
                         const void* object) {
  const FSM* fsm;
  int32_t rc = fst_check(object, &fsm);
  if (rc != 0) return rc;
  if (offsets == nullptr || output == nullptr || coded == nullptr) return kFstNullPointer;
  if (count < 0) return kFstBadNumber;
  int32_t length = static_cast<int32_t>(std::strlen(reinterpret_cast<const char*>(coded)));
  int32_t pos = 0, chars = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t target = offsets[i] < 0 ? 0 : (offsets[i] > length ? length : offsets[i]);
    if (target < pos) pos = 0, chars = 0;  // not ascending: count again
    for (; pos < target; ++pos) chars += coded[pos] != fsm->esc;
    output[i] = chars;
  }
  return count;
}

}  // namespace vorlane
