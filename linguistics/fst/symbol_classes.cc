#include "linguistics/fst/symbol_classes.h"

#include <cstring>
#include <new>

#include "linguistics/fst/fst_errors.h"

namespace vorlane {

namespace {

// Table-area position of the name at name_index (its length word).
uint32_t name_position(const FSM* fsm, uint32_t name_index) { return fsm->names + 2 * name_index; }

// Compares the name at name_index with bytes: length first, then each byte
// against the whole 16-bit unit.
bool name_equals(const FSM* fsm, uint32_t name_index, const char* name, size_t length) {
  int32_t n = fst_name_length(fsm, name_index);
  if (n < 0 || static_cast<size_t>(n) != length) return false;
  const uint8_t* units = fsm->at(name_position(fsm, name_index) + 2);
  for (size_t i = 0; i < length; ++i) {
    if (be16(units + 2 * i) != static_cast<unsigned char>(name[i])) return false;
  }
  return true;
}

uint8_t special_byte(const FSM* fsm, int32_t c, const char* name, uint8_t absent) {
  uint16_t code = c < 0 ? 0 : fst_member_code(fsm, c, name, std::strlen(name));
  return code == 0 ? absent : static_cast<uint8_t>(code >> 8);
}

}  // namespace

int32_t fst_name_length(const FSM* fsm, uint32_t name_index) {
  uint64_t units = fsm->names_size / 2;
  if (name_index == 0 || name_index >= units) return -1;
  uint32_t n = be16(fsm->at(name_position(fsm, name_index)));
  if (uint64_t{name_index} + 1 + n > units) return -1;
  return static_cast<int32_t>(n);
}

int32_t fst_symbol_name(const FSM* fsm, uint32_t name_index, char* buffer, int32_t size) {
  int32_t n = fst_name_length(fsm, name_index);
  if (n < 0) return kFstDamaged;
  if (size < 0 || n + 1 > size) return kFstTooLong;
  const uint8_t* units = fsm->at(name_position(fsm, name_index) + 2);
  for (int32_t i = 0; i < n; ++i) buffer[i] = static_cast<char>(units[2 * i + 1]);
  buffer[n] = '\0';
  return n;
}

int32_t fst_find_class(const FSM* fsm, const char* name, size_t length) {
  for (uint32_t i = 0; i < fsm->class_count; ++i) {
    if (name_equals(fsm, fsm->classes[i].name_index, name, length)) return static_cast<int32_t>(i);
  }
  return -1;
}

uint16_t fst_member_code(const FSM* fsm, int32_t c, const char* name, size_t length) {
  if (c < 0 || static_cast<uint32_t>(c) >= fsm->class_count) return 0;
  const FstClass& cls = fsm->classes[c];
  for (uint32_t m = 0; m < cls.member_count; ++m) {
    if (name_equals(fsm, be16(fsm->at(cls.member_names + 2 * m)), name, length)) {
      return be16(fsm->at(cls.member_codes + 2 * m));
    }
  }
  return 0;
}

void fst_read_specials(FSM* fsm) {
  int32_t c = fst_find_class(fsm, "*DIACRITICS*", 12);
  fsm->tagsep = special_byte(fsm, c, "*TAGSEP*", 0);
  fsm->tb = special_byte(fsm, c, "TB", 1);
  fsm->end_symbol = special_byte(fsm, c, "EOS", 1);
  if (fsm->end_symbol == 1) fsm->end_symbol = fsm->tb;
  fsm->acccap = special_byte(fsm, c, "*ACCCAP*", 1);
  uint16_t eof = c < 0 ? 0 : fst_member_code(fsm, c, "EOF", 3);
  fsm->eof = eof == 0 ? 1 : static_cast<uint8_t>(eof >> 8);
  fsm->eof_esc = eof == 0 ? 0 : static_cast<uint8_t>(eof);
}

uint32_t fst_tag_name_hash(const char* name, size_t length) {
  uint32_t h = 0;
  for (size_t i = 0; i < length; ++i) {
    h = (h << 4) + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(name[i])));
    uint32_t g = h & 0xF0000000u;
    if (g != 0) h = h ^ (g >> 24) ^ g;
  }
  return h;
}

int32_t fst_build_tag_tables(FSM* fsm) {
  fsm->tagmode = fst_find_class(fsm, "TAGMODE", 7);
  if (fsm->tagmode < 0) return 0;
  const FstClass& cls = fsm->classes[fsm->tagmode];

  // One block holds every name with its NUL.
  size_t total = 0;
  for (uint32_t m = 0; m < cls.member_count; ++m) {
    total += static_cast<size_t>(fst_name_length(fsm, be16(fsm->at(cls.member_names + 2 * m)))) + 1;
  }
  fsm->tag_names.reset(new (std::nothrow) char[total + 1]);
  fsm->tags_by_code.reset(new (std::nothrow) FstTagSlot[kTagSlotsByCode]);
  fsm->tags_by_name.reset(new (std::nothrow) FstTagSlot[kTagSlotsByName]);
  if (!fsm->tag_names || !fsm->tags_by_code || !fsm->tags_by_name) return kFstNoMemory;

  char* next = fsm->tag_names.get();
  for (uint32_t m = 0; m < cls.member_count; ++m) {
    int32_t n = fst_symbol_name(fsm, be16(fsm->at(cls.member_names + 2 * m)), next, static_cast<int32_t>(total + 1));
    uint16_t code = be16(fsm->at(cls.member_codes + 2 * m));
    FstTagSlot tag{code, static_cast<uint16_t>(n), next};
    next += n + 1;

    // By code: a code already present takes the new name; a full table
    // leaves the tag out.
    uint32_t home = ((((code >> 6) & 252u) + (code & 0x3FFu)) % kTagSlotsByCode);
    for (int probe = 0; probe < kTagSlotsByCode; ++probe) {
      FstTagSlot& slot = fsm->tags_by_code[(home + probe) % kTagSlotsByCode];
      if (slot.name == nullptr || slot.code == code) {
        slot = tag;
        break;
      }
    }
    // By name: a name already present takes the new code.
    home = fst_tag_name_hash(tag.name, tag.length) % kTagSlotsByName;
    for (int probe = 0; probe < kTagSlotsByName; ++probe) {
      FstTagSlot& slot = fsm->tags_by_name[(home + probe) % kTagSlotsByName];
      if (slot.name == nullptr ||
          (slot.length == tag.length && std::memcmp(slot.name, tag.name, tag.length) == 0)) {
        slot = tag;
        break;
      }
    }
  }
  return 0;
}

uint16_t fst_tag_code(const FSM* fsm, const char* name, size_t length) {
  if (!fsm->tags_by_name) return 0;
  uint32_t home = fst_tag_name_hash(name, length) % kTagSlotsByName;
  for (int probe = 0; probe < kTagSlotsByName; ++probe) {
    const FstTagSlot& slot = fsm->tags_by_name[(home + probe) % kTagSlotsByName];
    if (slot.name == nullptr) return 0;
    if (slot.length == length && std::memcmp(slot.name, name, length) == 0) return slot.code;
  }
  return 0;
}

const FstTagSlot* fst_tag_name(const FSM* fsm, uint16_t code) {
  if (!fsm->tags_by_code) return nullptr;
  uint32_t home = (((code >> 6) & 252u) + (code & 0x3FFu)) % kTagSlotsByCode;
  for (int probe = 0; probe < kTagSlotsByCode; ++probe) {
    const FstTagSlot& slot = fsm->tags_by_code[(home + probe) % kTagSlotsByCode];
    if (slot.name == nullptr) return nullptr;
    if (slot.code == code) return &slot;
  }
  return nullptr;
}

int32_t fst_tag_count(const FSM* fsm) { return fsm->tagmode < 0 ? 0 : fsm->classes[fsm->tagmode].member_count; }

int32_t fst_tag_list(const FSM* fsm, uint16_t* codes, int32_t code_count, char* names, int32_t names_size) {
  if (fsm->tagmode < 0) return 0;
  if (codes == nullptr || names == nullptr) return kFstNullPointer;
  const FstClass& cls = fsm->classes[fsm->tagmode];
  int32_t used = 0;
  for (uint32_t m = 0; m < cls.member_count; ++m) {
    if (static_cast<int32_t>(m) >= code_count) return kFstTooLong;
    int32_t n = fst_symbol_name(fsm, be16(fsm->at(cls.member_names + 2 * m)), names + used, names_size - used);
    if (n < 0) return n;
    codes[m] = be16(fsm->at(cls.member_codes + 2 * m));
    used += n + 1;
  }
  return static_cast<int32_t>(cls.member_count);
}

}  // namespace vorlane
