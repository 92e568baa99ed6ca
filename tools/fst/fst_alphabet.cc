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

void Alphabet::apply(FileSpec* spec) const {
  spec->alphabase = 0x80;
  spec->esc = kPlanEsc;
  spec->esc_step = kPlanEscStep;
  spec->table_label = kPlanTableLabel;
  spec->nid_label = kPlanNid;
  spec->eps_label = kPlanEps;
  if (wide_) {
    spec->format_flags |= 2;
  } else {
    spec->format_flags &= static_cast<uint8_t>(~2);
  }

  spec->char_map.clear();
  if (chars_.empty()) {
    spec->char_low = 1;
    spec->char_high = 0;
  } else {
    spec->char_low = chars_.begin()->first;
    spec->char_high = chars_.rbegin()->first;
    for (int ch = spec->char_low; ch <= spec->char_high; ++ch) {
      uint16_t code = char_code(static_cast<uint8_t>(ch));
      if (code == 0) {
        spec->char_map.push_back(0);
      } else if (wide_) {
        spec->char_map.push_back(static_cast<uint16_t>((code & 0xFF00) | (code & 0xFF)));
      } else {
        spec->char_map.push_back(static_cast<uint16_t>((code >> 8) | (code & 3)));
      }
    }
  }

  // Character table: each character's symbol number prints as itself; the
  // specials print as blanks.
  spec->char_table.assign(next_number_, ' ');
  for (auto& [ch, code] : chars_) spec->char_table[fst_symbol_number(*spec, code)] = ch;

  SymbolClass diacritics{"*DIACRITICS*", {}};
  if (with_tagsep) diacritics.members.push_back({"*TAGSEP*", static_cast<uint16_t>(kPlanTagsep << 8)});
  if (with_end) diacritics.members.push_back({"TB", static_cast<uint16_t>(kPlanEnd << 8)});
  if (with_eof) diacritics.members.push_back({"EOF", static_cast<uint16_t>(kPlanEof << 8)});
  SymbolClass tagmode{"TAGMODE", {}};
  for (auto& [name, code] : tags_) tagmode.members.push_back({name, code});
  std::vector<SymbolClass> kept;
  for (SymbolClass& c : spec->classes) {
    if (c.name != "*DIACRITICS*" && c.name != "TAGMODE") kept.push_back(c);
  }
  kept.push_back(diacritics);
  if (!tags_.empty()) kept.push_back(tagmode);
  spec->classes = kept;
}

}  // namespace vorlane::fstw
