#include "linguistics/fst/coding.h"

#include <cstring>

#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/symbol_classes.h"

namespace vorlane {

namespace {

constexpr int kMaxTagName = 61;
// Room a decoded tag needs beyond its name.
constexpr int32_t kDecodeTagRoom = 68;

// Writes a symbol (label byte and esc_count ESC bytes) in the FSM's order.
int32_t write_symbol(const FSM* fsm, uint8_t label, uint32_t esc_count, uint8_t* output, int32_t length) {
  if (fsm->coding_flags & kFstCodingLabelFirst) output[length++] = label;
  for (uint32_t i = 0; i < esc_count; ++i) output[length++] = fsm->esc;
  if (!(fsm->coding_flags & kFstCodingLabelFirst)) output[length++] = label;
  return length;
}

// The map code of a character, 0 when it is outside the alphabet.
uint16_t char_code(const FSM* fsm, uint8_t ch) {
  if (ch < fsm->char_low || ch > fsm->char_high) return 0;
  uint32_t i = ch - fsm->char_low;
  return fsm->wide_map ? be16(fsm->at(fsm->char_map + 2 * i)) : fsm->at(fsm->char_map)[i];
}

void split_map_code(const FSM* fsm, uint16_t code, uint8_t* label, uint32_t* esc_count) {
  if (fsm->wide_map) {
    *label = static_cast<uint8_t>((code >> 8) & 0xFC);
    *esc_count = code & 0x3FF;
  } else {
    *label = static_cast<uint8_t>(code & 0xFC);
    *esc_count = code & 3;
  }
}

// Appends the end marks; the room test covers them and the NUL.
int32_t finish(const FSM* fsm, uint8_t* output, int32_t length, int32_t size, bool append_end, bool append_tagsep) {
  bool end = append_end && fsm->end_symbol != 1;
  if (int64_t{length} + end + append_tagsep + 1 > size) return kFstTooLong;
  if (end) output[length++] = fsm->end_symbol;
  if (append_tagsep) output[length++] = fsm->tagsep;
  output[length] = 0;
  return length;
}

// Walks the symbols of a coded string, calling visit(label, count) for each
// complete symbol, count being its ESC bytes times the ESC step. visit
// returns 0 to go on, 1 to stop, or a negative code.
template <typename Visit>
int32_t scan_symbols(const uint8_t* coded, const FSM* fsm, Visit visit) {
  uint32_t count = 0;
  if (fsm->coding_flags & kFstCodingLabelFirst) {
    if (coded[0] == 0) return 0;
    uint8_t pending = coded[0];
    for (size_t i = 1;; ++i) {
      uint8_t b = coded[i];
      if (b != 0 && b == fsm->esc) {
        count += fsm->esc_step;
        continue;
      }
      int32_t rc = visit(pending, count);
      if (rc != 0) return rc < 0 ? rc : 0;
      if (b == 0) return 0;
      count = 0;
      pending = b;
    }
  }
  for (size_t i = 0; coded[i] != 0; ++i) {
    uint8_t b = coded[i];
    if (b == fsm->esc) {
      count += fsm->esc_step;
      continue;
    }
    int32_t rc = visit(b, count);
    if (rc != 0) return rc < 0 ? rc : 0;
    count = 0;
  }
  return 0;
}

// Character-table index of a symbol, or -1 when the table does not hold it.
int64_t symbol_number(const FSM* fsm, uint8_t label, uint32_t count) {
  if (label < fsm->alphabase) return -1;
  return (label - fsm->alphabase) / 4 + int64_t{count};
}

}  // namespace

int32_t fst_encode(const char* word, int32_t length, uint8_t* output, int32_t size, bool tags_allowed,
                   bool append_end, bool append_tagsep, const FSM* fsm) {
  int32_t out = 0;
  bool tag_mode = false;
  for (int32_t i = 0; i < length && word[i] != '\0'; ++i) {
    unsigned char ch = static_cast<unsigned char>(word[i]);
    uint16_t code;
    uint8_t label;
    uint32_t esc_count;
    if (ch == '[' && tags_allowed) {
      if (!tag_mode) {
        if (int64_t{out} + 4 >= size) return kFstTooLong;
        output[out++] = fsm->tagsep;
        tag_mode = true;
      }
      int32_t name = i + 1;
      int32_t n = 0;
      while (true) {
        if (name + n >= length || word[name + n] == '\0' || n > kMaxTagName) return kFstIncompleteTag;
        if (word[name + n] == ']') break;
        ++n;
      }
      code = fst_tag_code(fsm, word + name, static_cast<size_t>(n));
      label = static_cast<uint8_t>(code >> 8);
      esc_count = code & 0xFF;
      i = name + n;
    } else {
      if (tag_mode) {
        if (int64_t{out} + 3 >= size) return kFstTooLong;
        output[out++] = fsm->tagsep;
        tag_mode = false;
      }
      code = char_code(fsm, ch);
      split_map_code(fsm, code, &label, &esc_count);
    }
    if (code == 0) return kFstNotInAlphabet;
    if (int64_t{out} + esc_count + 3 >= size) return kFstTooLong;
    out = write_symbol(fsm, label, esc_count, output, out);
  }
  return finish(fsm, output, out, size, append_end, append_tagsep);
}

int32_t fst_encode_tokens(const char* names, int32_t count, int32_t start, uint8_t* output, int32_t size,
                          uint8_t* flags_a, uint8_t* flags_b, const FSM* fsm) {
  const char* s = names;
  for (int32_t k = 0; k < start; ++k) s += std::strlen(s) + 1;
  int32_t out = 0;
  bool opened = false;
  for (int32_t k = 0; k < count; ++k, s += std::strlen(s) + 1) {
    size_t n = std::strlen(s);
    if (s[0] == '_' || n == 0) {
      if (flags_a != nullptr) flags_a[start + k] = 1;
      if (s[0] == '_' && flags_b != nullptr) flags_b[start + k] = 1;
      continue;
    }
    if (!opened) {
      if (int64_t{out} + 3 >= size) return kFstTooLong;
      output[out++] = fsm->tagsep;
      opened = true;
    }
    uint16_t code = fst_tag_code(fsm, s, n);
    if (code == 0) return kFstNotInAlphabet;
    uint32_t esc_count = code & 0xFF;
    if (int64_t{out} + esc_count + 3 >= size) return kFstTooLong;
    out = write_symbol(fsm, static_cast<uint8_t>(code >> 8), esc_count, output, out);
  }
  return finish(fsm, output, out, size, true, false);
}

int32_t fst_decode(const uint8_t* coded, char* output, int32_t size, int32_t, bool stop_at_end, const FSM* fsm) {
  if (size <= 0) return kFstTooLong;
  int32_t out = 0;
  bool tag_mode = false;
  bool tags = fsm->tags_by_code != nullptr;
  int32_t rc = scan_symbols(coded, fsm, [&](uint8_t s, uint32_t count) -> int32_t {
    if (s == fsm->end_symbol && count == 0 && fsm->end_symbol != 1) {
      if (stop_at_end) return 1;
      if (out + 1 >= size) return kFstTooLong;
      output[out++] = '\0';
    } else if (s == fsm->tagsep && count == 0) {
      tag_mode = !tag_mode;
      return 0;
    } else if (tag_mode && tags) {
      uint16_t key = static_cast<uint16_t>(((s & 0xFC) << 8) + count / fsm->esc_step);
      const FstTagSlot* tag = fst_tag_name(fsm, key);
      const char* name = tag ? tag->name : "???";
      int32_t n = tag ? tag->length : 3;
      if (size - out <= kDecodeTagRoom || int64_t{out} + n + 2 >= size) return kFstTooLong;
      output[out++] = '[';
      std::memcpy(output + out, name, static_cast<size_t>(n));
      out += n;
      output[out++] = ']';
    } else {
      int64_t number = symbol_number(fsm, s, count);
      if (number < 0 || number >= fsm->char_table_count) return kFstDamaged;
      if (out + 1 >= size) return kFstTooLong;
      output[out++] = static_cast<char>(fsm->at(fsm->char_table)[2 * number + 1]);
    }
    return 0;
  });
  if (rc < 0) return rc;
  output[out] = '\0';
  return out;
}

int32_t fst_decoded_length(const uint8_t* coded, const FSM* fsm) {
  int32_t length = 0;
  bool tag_mode = false;
  const FstClass* tagmode = fsm->tagmode >= 0 ? &fsm->classes[fsm->tagmode] : nullptr;
  scan_symbols(coded, fsm, [&](uint8_t s, uint32_t count) -> int32_t {
    if (s == fsm->end_symbol && count == 0 && fsm->end_symbol != 1) {
      length += 1;
    } else if (s == fsm->tagsep && count == 0) {
      tag_mode = !tag_mode;
    } else if (tag_mode && tagmode != nullptr) {
      int64_t number = symbol_number(fsm, s, count);
      int32_t n = -1;
      if (number >= 0 && number < tagmode->symbol_count) {
        n = fst_name_length(fsm, be16(fsm->at(tagmode->symbols + 2 * static_cast<uint32_t>(number))));
      }
      length += (n < 0 ? 3 : n) + 2;
    } else {
      length += 1;
    }
    return 0;
  });
  return length;
}

}  // namespace vorlane
