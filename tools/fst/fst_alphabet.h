// The writer's label plan (see fst_writer.h) as a helper: assigns symbol
// codes to characters and tags and fills a FileDesc's labels, character map,
// character table and the classes "*DIACRITICS*" and TAGMODE.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/fst/fst_writer.h"

namespace vorlane::fstw {

inline constexpr uint8_t kPlanEps = 0x80;
inline constexpr uint8_t kPlanInstr = 0x84;
inline constexpr uint8_t kPlanDiacritic = 0x88;
inline constexpr uint8_t kPlanEpsilonBound = 0x8C;
inline constexpr uint8_t kPlanTableLabel = 0x8C;
inline constexpr uint8_t kPlanNid = 0x90;
inline constexpr uint8_t kPlanEsc = 0x94;
inline constexpr uint8_t kPlanTagsep = 0x98;
inline constexpr uint8_t kPlanEnd = 0x9C;
inline constexpr uint8_t kPlanEof = 0xA0;
inline constexpr uint8_t kPlanFirstSymbol = 0xA4;
inline constexpr uint8_t kPlanEscStep = 23;

// A flag operand byte (feature 0..7, setting 0..3) under the plan.
inline uint8_t plan_operand(int feature, int setting) {
  return static_cast<uint8_t>(0x80 + (feature << 4) + (setting << 2));
}

class Alphabet {
 public:
  // wide: 16-bit character-map entries (needed beyond 92 characters).
  explicit Alphabet(bool wide = false) : wide_(wide) {}

  // Characters first, then tags; each gets the next symbol number. False
  // when the map cannot hold the character's ESC count.
  bool add_char(uint8_t ch);
  void add_tag(const std::string& name);
  // Whether the specials "TB" (the end symbol), "*TAGSEP*" and "EOF" are
  // written to "*DIACRITICS*" (all three by default).
  bool with_end = true, with_tagsep = true, with_eof = true;

  // Symbol code (label byte << 8 | ESC count) of a character or tag; 0 when
  // unknown.
  uint16_t char_code(uint8_t ch) const;
  uint16_t tag_code(const std::string& name) const;
  // The bytes of a symbol in the coding order of coding_flags.
  std::vector<uint8_t> symbol_bytes(uint16_t code, uint8_t coding_flags) const;

  // Sets labels, ESC, map, character table and the two classes on desc.
  void apply(FileDesc* desc) const;

 private:
  uint16_t next_code();
  bool wide_;
  uint32_t next_number_ = (kPlanFirstSymbol - 0x80) / 4;
  std::map<uint8_t, uint16_t> chars_;
  std::vector<std::pair<std::string, uint16_t>> tags_;
};

}  // namespace vorlane::fstw
