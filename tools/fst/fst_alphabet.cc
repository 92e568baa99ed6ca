#include "tools/fst/fst_alphabet.h"

namespace vorlane::fstw {

namespace {

constexpr uint32_t kFirstNumber = (kPlanFirstSymbol - 0x80) / 4;
constexpr uint32_t kLabels = (0x100 - kPlanFirstSymbol) / 4;

}  // namespace

uint16_t Alphabet::next_code() {
  uint32_t n = next_number_++ - kFirstNumber;
  auto label = static_cast<uint8_t>(kPlanFirstSymbol + 4 * (n % kLabels));
  return static_cast<uint16_t>((label << 8) | (n / kLabels));
}

bool Alphabet::add_char(uint8_t ch) {
  if (chars_.count(ch)) return true;
  uint32_t n = next_number_ - kFirstNumber;
  if (n / kLabels > (wide_ ? 0xFFu : 3u)) return false;
  chars_[ch] = next_code();
  return true;
}

void Alphabet::add_tag(const std::string& name) { tags_.emplace_back(name, next_code()); }

uint16_t Alphabet::char_code(uint8_t ch) const {
  auto it = chars_.find(ch);
  return it == chars_.end() ? 0 : it->second;
}

uint16_t Alphabet::tag_code(const std::string& name) const {
  uint16_t code = 0;
  for (auto& [n, c] : tags_) {
    if (n == name) code = c;
  }
  return code;
}

std::vector<uint8_t> Alphabet::symbol_bytes(uint16_t code, uint8_t coding_flags) const {
  std::vector<uint8_t> out;
  auto label = static_cast<uint8_t>(code >> 8);
  if (coding_flags & 0x80) out.push_back(label);
  for (unsigned i = 0; i < (code & 0xFFu); ++i) out.push_back(kPlanEsc);
  if (!(coding_flags & 0x80)) out.push_back(label);
  return out;
}

void Alphabet::apply(FileDesc* desc) const {
  desc->alphabase = 0x80;
  desc->esc = kPlanEsc;
  desc->esc_step = kPlanEscStep;
  desc->table_label = kPlanTableLabel;
  desc->nid_label = kPlanNid;
  desc->eps_label = kPlanEps;
  if (wide_) {
    desc->format_flags |= 2;
  } else {
    desc->format_flags &= static_cast<uint8_t>(~2);
  }

  desc->char_map.clear();
  if (chars_.empty()) {
    desc->char_low = 1;
    desc->char_high = 0;
  } else {
    desc->char_low = chars_.begin()->first;
    desc->char_high = chars_.rbegin()->first;
    for (int ch = desc->char_low; ch <= desc->char_high; ++ch) {
      uint16_t code = char_code(static_cast<uint8_t>(ch));
      if (code == 0) {
        desc->char_map.push_back(0);
      } else if (wide_) {
        desc->char_map.push_back(static_cast<uint16_t>((code & 0xFF00) | (code & 0xFF)));
      } else {
        desc->char_map.push_back(static_cast<uint16_t>((code >> 8) | (code & 3)));
      }
    }
  }

  // Character table: each character's symbol number prints as itself; the
  // specials print as blanks.
  desc->char_table.assign(next_number_, ' ');
  for (auto& [ch, code] : chars_) desc->char_table[fst_symbol_number(*desc, code)] = ch;

  SymbolClass diacritics{"*DIACRITICS*", {}};
  if (with_tagsep) diacritics.members.push_back({"*TAGSEP*", static_cast<uint16_t>(kPlanTagsep << 8)});
  if (with_end) diacritics.members.push_back({"TB", static_cast<uint16_t>(kPlanEnd << 8)});
  if (with_eof) diacritics.members.push_back({"EOF", static_cast<uint16_t>(kPlanEof << 8)});
  SymbolClass tagmode{"TAGMODE", {}};
  for (auto& [name, code] : tags_) tagmode.members.push_back({name, code});
  std::vector<SymbolClass> kept;
  for (SymbolClass& c : desc->classes) {
    if (c.name != "*DIACRITICS*" && c.name != "TAGMODE") kept.push_back(c);
  }
  kept.push_back(diacritics);
  if (!tags_.empty()) kept.push_back(tagmode);
  desc->classes = kept;
}

}  // namespace vorlane::fstw
